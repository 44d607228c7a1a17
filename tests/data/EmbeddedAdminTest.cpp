// The embedded engine's server operations: bulk load, backup, the backup's
// file list and header, restore, folder listing.

#include "DataTestSupport.h"

#include "common/Clock.h"
#include "common/Cp936.h"
#include "data/DataError.h"
#include "data/sqlite/SqliteAdmin.h"

#include <QDateTime>
#include <QFileInfo>

#include <functional>

#include <sqlite3.h>

using namespace ov;
using ovtest::readFile;
using ovtest::str;
using ovtest::writeFile;

namespace {

class EmbeddedAdmin : public ovtest::EmbeddedServerTest
{
protected:
    void TearDown() override { Clock::reset(); }

    void makeContacts()
    {
        makeDatabase(
            QStringLiteral("Crm"),
            QStringLiteral("CREATE TABLE tblContact (ID INT NOT NULL PRIMARY KEY, Name NVARCHAR(50), "
                           "Amount DECIMAL(10,2), Note NVARCHAR(50));"));
    }

    bool load(const QString& table, const QByteArray& bytes, BulkLoadResult& counts)
    {
        writeFile(m_dir.filePath(table + QStringLiteral(".dat")), bytes);
        return m_admin->bulkLoad(QStringLiteral("Crm"), table, m_dir.filePath(table + QStringLiteral(".dat")),
                                 m_dir.filePath(table + QStringLiteral(".log")),
                                 m_dir.filePath(table + QStringLiteral(".err")), &counts);
    }

    // A connection on the server's Tempdb, as the backup and restore windows open.
    void openTempdb(Connection& cn)
    {
        cn.setCommandTimeout(0);
        ASSERT_TRUE(open(cn, QStringLiteral("Tempdb")));
    }
};

TEST_F(EmbeddedAdmin, BulkLoadTakesGoodRowsAndWritesRejectedOnesToTheErrorFile)
{
    makeContacts();
    const QByteArray good1 = cp936::encode(QStringLiteral("1\t张三\t12.50\t北京"));
    const QByteArray good2 = "2\t\t-3\tx";           // empty field: NULL
    const QByteArray duplicate = "1\tagain\t1\tdup"; // primary key
    const QByteArray notNumber = "3\tbad\tabc\tx";   // Amount
    const QByteArray tooShort = "4\tshort\t1";       // three fields
    const QByteArray good3 = cp936::encode(QStringLiteral("5\t王五\t1e2\t"));
    const QByteArray file = good1 + "\r\n" + good2 + "\r\n" + duplicate + "\r\n" + notNumber + "\r\n" +
                            tooShort + "\r\n" + good3 + "\r\n";
    BulkLoadResult counts;
    ASSERT_TRUE(load(QStringLiteral("tblContact"), file, counts)) << str(m_admin->lastError().description);
    EXPECT_EQ(counts.rowsCopied, 3);
    EXPECT_EQ(counts.rowsRejected, 3);

    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("Crm")));
    EXPECT_EQ(
        column(cn, QStringLiteral("SELECT ID || '|' || ifnull(Name, '<null>') || '|' || Amount || '|' || "
                                  "ifnull(Note, '<null>') FROM tblContact ORDER BY ID")),
        QStringList({QStringLiteral("1|张三|12.5|北京"), QStringLiteral("2|<null>|-3|x"),
                     QStringLiteral("5|王五|100|<null>")}));

    const QByteArray errors = readFile(m_dir.filePath(QStringLiteral("tblContact.err")));
    for (const QByteArray& row : {duplicate, notNumber, tooShort})
        EXPECT_TRUE(errors.contains("\r\n" + row + "\r\n")) << row.constData();
    EXPECT_FALSE(errors.contains(good2));
    EXPECT_TRUE(errors.contains("Row 3:"));
    EXPECT_TRUE(errors.contains("(column Amount)"));
    EXPECT_TRUE(errors.contains("the row has 3 fields, the table has 4 columns"));

    const QString log = cp936::decode(readFile(m_dir.filePath(QStringLiteral("tblContact.log"))));
    EXPECT_TRUE(log.contains(QLatin1String("6 rows read, 3 rows copied, 3 rows rejected."))) << str(log);
}

TEST_F(EmbeddedAdmin, BulkLoadReadsUtf8AfterAByteOrderMarkAndRestoresThePragmas)
{
    makeContacts();
    const QByteArray file = QByteArray("\xEF\xBB\xBF") + QStringLiteral("7\t赵六\t1\t€").toUtf8() + "\r\n";
    BulkLoadResult counts;
    ASSERT_TRUE(load(QStringLiteral("tblContact"), file, counts));
    EXPECT_EQ(counts.rowsCopied, 1);

    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("Crm")));
    EXPECT_EQ(column(cn, QStringLiteral("SELECT ID || Name || Note FROM tblContact")),
              QStringList({QStringLiteral("7赵六€")}));
    EXPECT_EQ(column(cn, QStringLiteral("PRAGMA journal_mode")), QStringList({QStringLiteral("delete")}));
    EXPECT_EQ(column(cn, QStringLiteral("PRAGMA synchronous")), QStringList({QStringLiteral("2")}));
}

// Integer fields are bound as numbers where that is safe; whatever their
// spelling, the stored value and type must be what the engine makes of the
// same text in an INSERT.
TEST_F(EmbeddedAdmin, BulkLoadStoresIntegerFieldsAsTheEngineWouldStoreTheirText)
{
    const QStringList values = {
        QStringLiteral("42"),
        QStringLiteral("-7"),
        QStringLiteral("007"),
        QStringLiteral("+5"),
        QStringLiteral(" 9 "),
        QStringLiteral("-0"),
        QStringLiteral("0"),
        QStringLiteral("123456789012345678"),
        QStringLiteral("-999999999999999999"),
        QStringLiteral("9223372036854775807"),
        QStringLiteral("-9223372036854775808"),
        QStringLiteral("99999999999999999999"),
    };
    makeDatabase(QStringLiteral("Crm"), QStringLiteral("CREATE TABLE tblLoaded (Seq INT, V INT, B BIT); "
                                                       "CREATE TABLE tblInserted (Seq INT, V INT, B BIT);"));
    QByteArray file;
    Connection cn;
    ASSERT_TRUE(open(cn, QStringLiteral("Crm")));
    for (int i = 0; i < values.size(); ++i) {
        file += QByteArray::number(i) + '\t' + values[i].toLatin1() + '\t' + values[i].toLatin1() + "\r\n";
        const QString text = QLatin1Char('\'') + values[i] + QLatin1Char('\'');
        ASSERT_TRUE(
            cn.Execute(QStringLiteral("INSERT INTO tblInserted VALUES (%1, %2, %2)").arg(i).arg(text)));
    }
    BulkLoadResult counts;
    ASSERT_TRUE(load(QStringLiteral("tblLoaded"), file, counts)) << str(m_admin->lastError().description);
    EXPECT_EQ(counts.rowsCopied, values.size());
    const QString query = QStringLiteral(
        "SELECT Seq || ':' || typeof(V) || ':' || V || ':' || typeof(B) || ':' || B FROM %1 ORDER BY Seq");
    EXPECT_EQ(column(cn, query.arg(QStringLiteral("tblLoaded"))),
              column(cn, query.arg(QStringLiteral("tblInserted"))));
}

TEST_F(EmbeddedAdmin, BulkLoadIntoAMissingTableFailsAndSaysSoInTheLog)
{
    makeContacts();
    BulkLoadResult counts;
    EXPECT_FALSE(load(QStringLiteral("tblNothing"), "1\t2\r\n", counts));
    EXPECT_EQ(m_admin->lastError().number, 208);
    const QString log = cp936::decode(readFile(m_dir.filePath(QStringLiteral("tblNothing.log"))));
    EXPECT_TRUE(log.contains(QLatin1String("Invalid object name 'tblNothing'."))) << str(log);
}

TEST_F(EmbeddedAdmin, BackupCarriesItsFileListAndHeader)
{
    makeContacts();
    Clock::setFixed(QDateTime(QDate(2026, 12, 4), QTime(15, 33, 0)));
    Connection cn;
    openTempdb(cn);
    const QString backup = m_dir.filePath(QStringLiteral("Crm-202612041533.dat"));
    ASSERT_TRUE(m_admin->backupDatabase(cn, QStringLiteral("\"crm\""), backup))
        << str(m_admin->lastError().description);
    EXPECT_FALSE(QFileInfo::exists(backup + QStringLiteral(".part")));

    QList<BackupFileInfo> files;
    ASSERT_TRUE(m_admin->readBackupFileList(cn, backup, files)) << str(m_admin->lastError().description);
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(files[0].logicalName, QStringLiteral("Crm"));
    EXPECT_EQ(files[0].physicalName, QFileInfo(m_folder + QStringLiteral("/Crm.sqlite")).absoluteFilePath());
    EXPECT_EQ(files[0].type, QStringLiteral("D"));

    BackupHeader header;
    ASSERT_TRUE(m_admin->readBackupHeader(cn, backup, header));
    EXPECT_EQ(header.databaseName, QStringLiteral("Crm"));
    EXPECT_EQ(header.backupFinishDate, QDateTime(QDate(2026, 12, 4), QTime(15, 33, 0)));

    const struct
    {
        const char* database;
        QString path;
        qint32 number;
    } failures[] = {
        {"nosuch", m_dir.filePath(QStringLiteral("x.dat")), 911},
        {"Crm", m_dir.filePath(QStringLiteral("missing/x.dat")), 3201},
        {"tempdb", m_dir.filePath(QStringLiteral("x.dat")), 3147},
    };
    for (const auto& f : failures) {
        EXPECT_FALSE(m_admin->backupDatabase(cn, QLatin1String(f.database), f.path)) << f.database;
        EXPECT_EQ(m_admin->lastError().number, f.number) << f.database;
    }

    // A file that is no backup.
    writeFile(m_dir.filePath(QStringLiteral("plain.txt")), "not a backup");
    EXPECT_FALSE(m_admin->readBackupFileList(cn, m_dir.filePath(QStringLiteral("plain.txt")), files));
    EXPECT_EQ(m_admin->lastError().number, 3241);
    EXPECT_FALSE(m_admin->readBackupHeader(cn, m_dir.filePath(QStringLiteral("none.dat")), header));
    EXPECT_EQ(m_admin->lastError().number, 3201);
}

TEST_F(EmbeddedAdmin, RestoreMovesTheFileAndOverwritesOnlyWhenForced)
{
    makeContacts();
    {
        Connection crm;
        ASSERT_TRUE(open(crm, QStringLiteral("Crm")));
        ASSERT_TRUE(crm.Execute(QStringLiteral("INSERT INTO tblContact VALUES (1, 'kept', 1, NULL)")));
    }
    Connection cn;
    openTempdb(cn);
    const QString backup = m_dir.filePath(QStringLiteral("crm.dat"));
    ASSERT_TRUE(m_admin->backupDatabase(cn, QStringLiteral("Crm"), backup));
    {
        Connection crm;
        ASSERT_TRUE(open(crm, QStringLiteral("Crm")));
        ASSERT_TRUE(crm.Execute(QStringLiteral("UPDATE tblContact SET Name = 'changed'; "
                                               "INSERT INTO tblContact VALUES (2, 'new', 2, NULL)")));
    }

    // Over the existing database: refused without the replace flag.
    EXPECT_FALSE(m_admin->restoreDatabase(cn, QStringLiteral("crm"), backup, {}, false));
    EXPECT_EQ(m_admin->lastError().number, 3154);
    ASSERT_TRUE(m_admin->restoreDatabase(cn, QStringLiteral("crm"), backup, {}, true))
        << str(m_admin->lastError().description);

    // As a new database with its file moved to that database's place.
    const QString copyFile = m_folder + QStringLiteral("/CrmCopy.sqlite");
    ASSERT_TRUE(m_admin->restoreDatabase(cn, QStringLiteral("CrmCopy"), backup,
                                         {{QStringLiteral("crm"), copyFile}}, false))
        << str(m_admin->lastError().description);

    for (const char* db : {"Crm", "CrmCopy"}) {
        Connection check;
        ASSERT_TRUE(open(check, QLatin1String(db)));
        EXPECT_EQ(column(check, QStringLiteral("SELECT ID || Name FROM tblContact ORDER BY ID")),
                  QStringList({QStringLiteral("1kept")}))
            << db;
        // The backup's own description does not come back with the data.
        EXPECT_EQ(column(check, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = '") +
                                    SqliteAdmin::backupSetTable() + QLatin1Char('\'')),
                  QStringList({QStringLiteral("0")}));
    }
    QStringList names;
    ASSERT_TRUE(m_admin->listDatabases(names));
    EXPECT_EQ(names, QStringList({QStringLiteral("Crm"), QStringLiteral("CrmCopy")}));

    // Targets that are not the database's own file, and unknown logical names.
    const struct
    {
        const char* database;
        QList<QPair<QString, QString>> moves;
        qint32 number;
    } refused[] = {
        {"Other", {}, 3156}, // the recorded place belongs to Crm
        {"Other", {{QStringLiteral("Crm"), m_dir.filePath(QStringLiteral("Other.sqlite"))}}, 3156},
        {"Other", {{QStringLiteral("NoSuchFile"), m_folder + QStringLiteral("/Other.sqlite")}}, 3234},
        {"tempdb", {}, 3147},
        {"a/b", {}, DataErr::InvalidArgument},
    };
    for (const auto& r : refused) {
        EXPECT_FALSE(m_admin->restoreDatabase(cn, QLatin1String(r.database), backup, r.moves, true))
            << r.database;
        EXPECT_EQ(m_admin->lastError().number, r.number) << r.database;
    }
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(QStringLiteral("Other.sqlite"))));
    EXPECT_FALSE(QFileInfo::exists(m_folder + QStringLiteral("/Other.sqlite")));
}

TEST_F(EmbeddedAdmin, RestoreOverADatabaseInUseIsRefused)
{
    makeContacts();
    Connection cn;
    openTempdb(cn);
    const QString backup = m_dir.filePath(QStringLiteral("crm.dat"));
    ASSERT_TRUE(m_admin->backupDatabase(cn, QStringLiteral("Crm"), backup));
    Connection user;
    ASSERT_TRUE(open(user, QStringLiteral("Crm")));
    ASSERT_TRUE(user.BeginTrans());
    ASSERT_TRUE(user.Execute(QStringLiteral("INSERT INTO tblContact VALUES (9, 'busy', 1, NULL)")));

    EXPECT_FALSE(m_admin->restoreDatabase(cn, QStringLiteral("Crm"), backup, {}, true));
    EXPECT_EQ(m_admin->lastError().number, 3101);
    ASSERT_TRUE(user.CommitTrans());
    EXPECT_EQ(column(user, QStringLiteral("SELECT Name FROM tblContact")),
              QStringList({QStringLiteral("busy")}));
}

// A name already taken by a link to a file that is not there is taken: a
// backup without the replace option and a restore to a new database neither
// write through the link nor replace it.
TEST_F(EmbeddedAdmin, NamesTakenByALinkToNothingAreNotWrittenThrough)
{
    makeContacts();
    Connection cn;
    openTempdb(cn);
    const QString backup = m_dir.filePath(QStringLiteral("crm.dat"));
    ASSERT_TRUE(m_admin->backupDatabase(cn, QStringLiteral("Crm"), backup));

    const QString nowhere = m_dir.filePath(QStringLiteral("nowhere.dat"));
    const struct
    {
        const char* what;
        QString link;
        std::function<bool()> run;
        qint32 number;
    } cases[] = {
        {"backup", m_dir.filePath(QStringLiteral("link.dat")),
         [&] {
             return m_admin->backupDatabase(cn, QStringLiteral("Crm"),
                                            m_dir.filePath(QStringLiteral("link.dat")));
         },
         3201},
        {"restore to a new database", m_folder + QStringLiteral("/Linked.sqlite"),
         [&] {
             return m_admin->restoreDatabase(
                 cn, QStringLiteral("Linked"), backup,
                 {{QStringLiteral("Crm"), m_folder + QStringLiteral("/Linked.sqlite")}}, false);
         },
         1801},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(QFile::link(nowhere, c.link));
        EXPECT_FALSE(c.run());
        EXPECT_EQ(m_admin->lastError().number, c.number);
        EXPECT_TRUE(m_admin->lastError().description.contains(QLatin1String("already exists")))
            << str(m_admin->lastError().description);
        EXPECT_FALSE(QFileInfo::exists(nowhere));
        EXPECT_EQ(QFileInfo(c.link).symLinkTarget(), nowhere);
        EXPECT_EQ(QDir(QFileInfo(c.link).absolutePath())
                      .entryList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden),
                  QStringList());
        ASSERT_TRUE(QFile::remove(c.link));
        QFile::remove(nowhere);
    }
}

// A file whose description is no table (a view of that name) is no backup:
// a restore refuses it before it replaces anything, instead of replacing the
// database and then failing to remove the description.
TEST_F(EmbeddedAdmin, ABackupWhoseDescriptionIsNoTableIsRefused)
{
    makeContacts();
    {
        Connection crm;
        ASSERT_TRUE(open(crm, QStringLiteral("Crm")));
        ASSERT_TRUE(crm.Execute(QStringLiteral("INSERT INTO tblContact VALUES (1, 'kept', 1, NULL)")));
    }
    Connection cn;
    openTempdb(cn);
    const QString crafted = m_dir.filePath(QStringLiteral("crafted.dat"));
    ASSERT_TRUE(m_admin->backupDatabase(cn, QStringLiteral("Crm"), crafted));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(crafted).constData(), &db), SQLITE_OK);
    const QByteArray sql =
        "UPDATE tblContact SET Name = 'crafted'; CREATE TABLE described AS SELECT * FROM " +
        SqliteAdmin::backupSetTable().toUtf8() + "; DROP TABLE " + SqliteAdmin::backupSetTable().toUtf8() +
        "; CREATE VIEW " + SqliteAdmin::backupSetTable().toUtf8() + " AS SELECT * FROM described";
    EXPECT_EQ(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    EXPECT_FALSE(m_admin->restoreDatabase(cn, QStringLiteral("Crm"), crafted, {}, true));
    EXPECT_EQ(m_admin->lastError().number, 3241) << str(m_admin->lastError().description);
    Connection check;
    ASSERT_TRUE(open(check, QStringLiteral("Crm")));
    EXPECT_EQ(column(check, QStringLiteral("SELECT Name FROM tblContact")),
              QStringList({QStringLiteral("kept")}));
}

TEST_F(EmbeddedAdmin, FolderListingGivesFoldersFirstThenFilesByName)
{
    const QString root = m_dir.filePath(QStringLiteral("browse"));
    for (const char* sub : {"b", "A", "c.dir"})
        ASSERT_TRUE(QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub)));
    for (const char* file : {"z.txt", "C.dat", ".hidden", "a b.bak"})
        writeFile(root + QLatin1Char('/') + QLatin1String(file), "x");

    Connection cn;
    openTempdb(cn);
    QList<FolderEntry> entries;
    ASSERT_TRUE(m_admin->listFolder(cn, root + QLatin1Char('/'), entries))
        << str(m_admin->lastError().description);
    QStringList shown;
    for (const FolderEntry& e : entries)
        shown << (e.isFolder ? QStringLiteral("[%1]") : QStringLiteral("%1")).arg(e.name);
    EXPECT_EQ(shown, QStringList({QStringLiteral("[A]"), QStringLiteral("[b]"), QStringLiteral("[c.dir]"),
                                  QStringLiteral(".hidden"), QStringLiteral("a b.bak"),
                                  QStringLiteral("C.dat"), QStringLiteral("z.txt")}));

    EXPECT_FALSE(m_admin->listFolder(cn, root + QStringLiteral("/missing/"), entries));
    EXPECT_EQ(m_admin->lastError().number, 3);
    EXPECT_EQ(m_admin->pathStyle(cn), PathStyle::Posix);
}

TEST_F(EmbeddedAdmin, ServerSideOperationsNeedAConnectionToTheSameKindOfServer)
{
    Connection closed;
    QList<FolderEntry> entries;
    EXPECT_FALSE(m_admin->listFolder(closed, m_folder, entries));
    EXPECT_EQ(m_admin->lastError().number, DataErr::InvalidConnection);

    const QString odbcFile = m_dir.filePath(QStringLiteral("odbc.db"));
    Connection odbc;
    ASSERT_TRUE(odbc.Open(QStringLiteral("Driver=SQLite3;Database=") + odbcFile))
        << str(odbc.lastError().description);
    EXPECT_FALSE(
        m_admin->backupDatabase(odbc, QStringLiteral("Crm"), m_dir.filePath(QStringLiteral("x.dat"))));
    EXPECT_EQ(m_admin->lastError().number, DataErr::InvalidConnection);
}

// A server folder that does not exist is a server that cannot be reached:
// the probe says so, as every other call does, and makes no folder.
TEST_F(EmbeddedAdmin, ProbeFindsNoServerWithoutItsFolder)
{
    auto admin = ServerAdmin::create(QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("new/server")),
                                     false, QStringLiteral("sa"), QStringLiteral("pw"));
    QStringList names;
    EXPECT_FALSE(admin->listDatabases(names));
    EXPECT_EQ(admin->lastError().number, 17);
    EXPECT_FALSE(admin->probe());
    EXPECT_EQ(admin->lastError().number, 17);
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(QStringLiteral("new"))));
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath(QStringLiteral("new/server"))));
    EXPECT_TRUE(admin->probe());
    EXPECT_TRUE(admin->listDatabases(names));
    EXPECT_TRUE(names.isEmpty());
}

} // namespace
