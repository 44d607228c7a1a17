// The helpers the other tests stand on: a program folder that comes back, and
// an answerer of modal dialogs that fails the test when the dialog it waits
// for never comes, or when one comes that must not.

#include "common/Clock.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "data/ServerAdmin.h"
#include "support/ModalDialog.h"
#include "support/ScopedProgramFolder.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QPushButton>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

// A dialog with the title and a button "cmdOK" that accepts it.
std::unique_ptr<QDialog> MakeDialog(const QString& title)
{
    auto dialog = std::make_unique<QDialog>();
    dialog->setWindowTitle(title);
    auto* ok = new QPushButton(QStringLiteral("OK"), dialog.get());
    ok->setObjectName(QStringLiteral("cmdOK"));
    QObject::connect(ok, &QPushButton::clicked, dialog.get(), &QDialog::accept);
    return dialog;
}

} // namespace

// Every value the folder sets comes back when it ends, also after a folder
// inside it pointed the values elsewhere; a relative embedded server lies in
// it.
TEST(ScopedProgramFolder, SetsTheProgramFolderAndRestoresEveryValue)
{
    mdlOVSqlUpdateDB::gstrAppPath = QStringLiteral("/before/app/");
    mdlOVSqlUpdateDB::gstrUserPath = QStringLiteral("/before/user/");
    ov::ServerAdmin::setProgramFolder(QStringLiteral("/before/engine/"));
    const QDateTime fixed(QDate(2001, 2, 3), QTime(4, 5, 6));
    {
        ovtest::ScopedProgramFolder folder;
        ASSERT_TRUE(folder.isValid());
        EXPECT_EQ(mdlOVSqlUpdateDB::gstrAppPath, folder.path() + QLatin1Char('/'));
        EXPECT_EQ(folder.makeServer(), QStringLiteral("sqlite:") + folder.filePath(QStringLiteral("data")));
        EXPECT_EQ(ov::ServerAdmin::localFolder(QStringLiteral("sqlite:data")),
                  folder.filePath(QStringLiteral("data")));
        EXPECT_EQ(folder.makeUserFolder(), folder.filePath(QStringLiteral("user")));
        EXPECT_EQ(mdlOVSqlUpdateDB::gstrUserPath, folder.filePath(QStringLiteral("user/")));
        folder.fixClock(fixed);
        EXPECT_TRUE(folder.copyDist());
        EXPECT_TRUE(QFile::exists(folder.filePath(QStringLiteral("DBDataFiles/Demo/tables.txt"))));
        {
            ovtest::ScopedProgramFolder inner;
            inner.pointAt(inner.filePath(QStringLiteral("missing")));
            EXPECT_EQ(mdlOVSqlUpdateDB::gstrAppPath, inner.filePath(QStringLiteral("missing/")));
            EXPECT_EQ(ov::ServerAdmin::localFolder(QStringLiteral("sqlite:data")),
                      inner.filePath(QStringLiteral("missing/data")));
        }
        EXPECT_EQ(mdlOVSqlUpdateDB::gstrAppPath, folder.path() + QLatin1Char('/'));
        EXPECT_EQ(mdlOVSqlUpdateDB::gstrUserPath, folder.filePath(QStringLiteral("user/")));
        EXPECT_EQ(ov::Clock::now(), fixed);
    }
    EXPECT_EQ(mdlOVSqlUpdateDB::gstrAppPath, QStringLiteral("/before/app/"));
    EXPECT_EQ(mdlOVSqlUpdateDB::gstrUserPath, QStringLiteral("/before/user/"));
    EXPECT_EQ(ov::ServerAdmin::programFolder(), QStringLiteral("/before/engine/"));
    EXPECT_NE(ov::Clock::now(), fixed);
    mdlOVSqlUpdateDB::gstrAppPath.clear();
    mdlOVSqlUpdateDB::gstrUserPath.clear();
    ov::ServerAdmin::setProgramFolder(QString());
}

// The awaited dialog, found by class and title, is answered from its own
// event loop; a dialog of another title is not taken.
TEST(ModalDialogHelper, AnswersTheDialogOfItsClassAndTitle)
{
    auto other = MakeDialog(QStringLiteral("Other"));
    auto awaited = MakeDialog(QStringLiteral("Awaited"));
    QDialog* taken = nullptr;
    ovtest::NextDialog<QDialog> watch(
        [&](QDialog* d) {
            taken = d;
            d->accept();
        },
        QStringLiteral("Awaited"));
    {
        ovtest::NextDialog<QDialog> closer(ovtest::Press("cmdOK"), QStringLiteral("Other"));
        EXPECT_EQ(other->exec(), QDialog::Accepted);
        EXPECT_TRUE(closer.came());
    }
    EXPECT_FALSE(watch.came());
    EXPECT_EQ(awaited->exec(), QDialog::Accepted);
    EXPECT_TRUE(watch.came());
    EXPECT_EQ(taken, awaited.get());
}

// A dialog that never comes fails the test: when the helper ends, or at the
// deadline while another dialog holds the test, which is then closed.
TEST(ModalDialogHelper, FailsWhenTheDialogNeverComes)
{
    EXPECT_NONFATAL_FAILURE({ ovtest::NextDialog<QDialog> watch([](QDialog*) {}); },
                            "no QDialog dialog came");
    auto other = MakeDialog(QStringLiteral("Other"));
    EXPECT_NONFATAL_FAILURE(
        {
            ovtest::NextDialog<QDialog> watch([](QDialog*) {}, QStringLiteral("Awaited"));
            watch.setDeadline(200);
            EXPECT_EQ(other->exec(), QDialog::Rejected);
        },
        "no QDialog dialog \"Awaited\" came within 200 ms, while QDialog \"Other\" held the test");
}

// A dialog that must not come fails the test and is closed.
TEST(ModalDialogHelper, NoDialogFailsForAnyDialogAndClosesIt)
{
    auto dialog = MakeDialog(QStringLiteral("Unexpected"));
    EXPECT_NONFATAL_FAILURE(
        {
            ovtest::NoDialog none;
            EXPECT_EQ(dialog->exec(), QDialog::Rejected);
        },
        "a dialog came: QDialog \"Unexpected\"");
}

// A modal dialog that nobody answers fails the test and is closed, also where
// no watch lives, and so is one that an answer opened and left unanswered,
// after which the dialog the answer left open is closed too: a test never
// waits for ever on a dialog.
TEST(ModalDialogHelper, AnUnansweredDialogFailsTheTestAndIsClosed)
{
    ovtest::ScopedGuardDeadline shortened(300);
    auto lone = MakeDialog(QStringLiteral("Lone"));
    EXPECT_NONFATAL_FAILURE(EXPECT_EQ(lone->exec(), QDialog::Rejected),
                            "a modal dialog waited 300 ms for an answer (closed): QDialog \"Lone\"");

    auto outer = MakeDialog(QStringLiteral("Outer"));
    auto inner = MakeDialog(QStringLiteral("Inner"));
    int innerResult = -1;
    ::testing::TestPartResultArray failures;
    {
        ::testing::ScopedFakeTestPartResultReporter reporter(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
        ovtest::NextDialog<QDialog> watch([&](QDialog*) { innerResult = inner->exec(); },
                                          QStringLiteral("Outer"));
        EXPECT_EQ(outer->exec(), QDialog::Rejected);
        EXPECT_TRUE(watch.came());
    }
    EXPECT_EQ(innerResult, QDialog::Rejected);
    ASSERT_EQ(failures.size(), 2);
    EXPECT_NE(std::string(failures.GetTestPartResult(0).message()).find("(closed): QDialog \"Inner\""),
              std::string::npos);
    EXPECT_NE(std::string(failures.GetTestPartResult(1).message()).find("(closed): QDialog \"Outer\""),
              std::string::npos);
}
