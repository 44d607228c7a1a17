// Which backup set of a file a restore takes, and the free name a proposed
// backup file takes when its name exists.

#include "backup/mdlOVSqlBackup.h"
#include "backup/mdlOVSqlRestore.h"

#include <QSet>

#include <gtest/gtest.h>

namespace {

ov::BackupHeader set(int position, int type, const char* database)
{
    ov::BackupHeader h;
    h.position = position;
    h.backupType = type;
    h.databaseName = QString::fromUtf8(database);
    return h;
}

// The last full database backup of the database written into the file;
// differential and log backups are never restored alone; a backup of another
// database is taken only when the file holds none of this one (a copy
// restored under a new name).
TEST(BackupSetChoice, TheNewestFullBackupOfTheDatabase)
{
    const int full = ov::BackupHeader::FullDatabase;
    const int log = ov::BackupHeader::TransactionLog;
    const int diff = ov::BackupHeader::DifferentialDatabase;
    const struct
    {
        const char* database;
        QList<ov::BackupHeader> sets;
        int position; // 0: none
    } cases[] = {
        {"crm", {set(1, full, "crm")}, 1},
        {"crm", {set(1, full, "crm"), set(2, full, "crm")}, 2},
        {"crm", {set(1, full, "crm"), set(2, full, "crm"), set(3, full, "crm")}, 3},
        {"crm", {set(1, full, "crm"), set(2, diff, "crm"), set(3, log, "crm")}, 1},
        {"crm", {set(1, full, "crm"), set(2, full, "other")}, 1},
        {"\"CRM\"", {set(1, full, "other"), set(2, full, "crm"), set(3, full, "other")}, 2},
        {" Crm ", {set(1, full, "crm"), set(2, full, "other")}, 1},
        {"crm_copy", {set(1, full, "crm"), set(2, full, "crm"), set(3, log, "crm")}, 2},
        {"", {set(1, full, "a"), set(2, full, "b"), set(3, diff, "b")}, 2},
        {"crm", {set(3, full, "crm"), set(1, full, "crm")}, 3},
        {"crm", {set(1, log, "crm"), set(2, diff, "crm")}, 0},
        {"crm", {set(0, full, "")}, 0}, // a set another program wrote
        {"crm", {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.database) + " " + std::to_string(c.sets.size()));
        const int chosen = mdlOVSqlRestore::ChooseBackupSet(c.sets, QString::fromUtf8(c.database));
        EXPECT_EQ(chosen < 0 ? 0 : c.sets.at(chosen).position, c.position);
    }
}

// The proposal itself when it is free; otherwise a suffix before the
// extension, the first free one; nothing when the server cannot tell.
TEST(BackupSetChoice, AFreeNameForAProposedBackupFile)
{
    const struct
    {
        const char* proposed;
        QSet<QString> taken;
        const char* free;
    } cases[] = {
        {"D:\\bak\\crm-202612041533.dat", {}, "D:\\bak\\crm-202612041533.dat"},
        {"D:\\bak\\crm-202612041533.dat",
         {"D:\\bak\\crm-202612041533.dat"},
         "D:\\bak\\crm-202612041533-2.dat"},
        {"D:\\bak\\crm-202612041533.dat",
         {"D:\\bak\\crm-202612041533.dat", "D:\\bak\\crm-202612041533-2.dat"},
         "D:\\bak\\crm-202612041533-3.dat"},
        {"/srv/a.b/crm-1", {"/srv/a.b/crm-1"}, "/srv/a.b/crm-1-2"},
        {"C:\\x.y\\crm", {"C:\\x.y\\crm"}, "C:\\x.y\\crm-2"},
        {"crm-202612041533.dat", {"crm-202612041533.dat"}, "crm-202612041533-2.dat"},
        {"/srv/o'neil.x.dat", {"/srv/o'neil.x.dat"}, "/srv/o'neil.x-2.dat"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.proposed);
        QStringList asked;
        const QString free = mdlOVSqlBackup::FreeBackupPathFile(QString::fromUtf8(c.proposed),
                                                                [&](const QString& path, bool& exists) {
                                                                    asked << path;
                                                                    exists = c.taken.contains(path);
                                                                    return true;
                                                                });
        EXPECT_EQ(free.toStdString(), c.free);
        EXPECT_EQ(asked.size(), c.taken.size() + 1);
    }
    // A server that cannot say gives no name; a name is never guessed.
    int asked = 0;
    EXPECT_TRUE(
        mdlOVSqlBackup::FreeBackupPathFile(QStringLiteral("D:\\a.dat"), [&](const QString&, bool& exists) {
            ++asked;
            exists = false;
            return false;
        }).isEmpty());
    EXPECT_EQ(asked, 1);
    // Every name taken: nothing.
    EXPECT_TRUE(
        mdlOVSqlBackup::FreeBackupPathFile(QStringLiteral("D:\\a.dat"), [](const QString&, bool& exists) {
            exists = true;
            return true;
        }).isEmpty());
}

} // namespace
