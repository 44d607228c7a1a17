// The update log's sections while another run folds the sections that
// killed runs left: a section that is being made is never taken for one
// that was left, so its entries stay one whole section.

#include "support/ScopedProgramFolder.h"
#include "update/UpdateLog.h"

#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

TEST(LogSectionRace, ASectionBeingMadeIsNeverFoldedAsOneLeftBehind)
{
    ovtest::ScopedProgramFolder folder;
    ASSERT_TRUE(folder.isValid());
    std::atomic<bool> done{false};
    // Another run starting again and again: each start folds what it finds.
    std::thread other([&] {
        while (!done)
            mdlOVSqlUpdateDB::FoldLeftLogSections();
    });
    int lost = 0;
    for (int i = 0; i < 4000; ++i) {
        mdlOVSqlUpdateDB::UpdateLogSection section;
        mdlOVSqlUpdateDB::WriteUpdateLog(QStringLiteral("entry %1").arg(i));
        if (section.commit() == 0)
            ++lost;
    }
    done = true;
    other.join();
    EXPECT_EQ(lost, 0);
    QFile log(mdlOVSqlUpdateDB::UpdateLogPath());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    // Nothing was folded: no section was left by a killed run.
    EXPECT_FALSE(log.readAll().contains("!!!"));
}

} // namespace
