// The data import on the embedded engine: the list file, missing and
// unsafe data files, the status texts and the progress bar, rejected rows.

#include "create/DataImport.h"
#include "CreateTestSupport.h"

namespace {

class DataImport : public ovtest::CreateFixture
{
protected:
    void SetUp() override
    {
        ovtest::CreateFixture::SetUp();
        ASSERT_TRUE(QFile(path(QStringLiteral("data/crm.sqlite"))).open(QIODevice::WriteOnly));
        exec(QStringLiteral("crm"), QStringLiteral("CREATE TABLE a (id INT NOT NULL PRIMARY KEY, name "
                                                   "NVARCHAR(20)); CREATE TABLE b (id INT NOT NULL, note "
                                                   "NVARCHAR(20))"));
    }
    // Runs the import of the data set folder "set" into crm.
    bool import(const QString& folder)
    {
        return mdlOVSqlUpdateDB::ImportTableData(m_server, QStringLiteral("crm"), true, QString(), QString(),
                                                 folder, m_status, m_progress);
    }
    QString setFolder() const { return QDir::toNativeSeparators(path(QStringLiteral("set"))); }
    QString dat(const QString& table) const { return setFolder() + QDir::separator() + table + ".dat"; }
    QString missing(const QString& table) const { return QStringLiteral("文件 %1 不存在！").arg(dat(table)); }
};

TEST_F(DataImport, ReadListFileKeepsTheTrimmedNonBlankLines)
{
    const struct
    {
        QByteArray bytes;
        QStringList list;
    } cases[] = {
        {"  a  \r\n\r\n   \r\nb\r\n", {"", "a", "b"}},
        {"a\r\nb", {"", "a", "b"}}, // no line end after the last line
        {"\xEF\xBB\xBF"
         "a\r\n",
         {"", "a"}},
        {"\tc \r\n", {"", "\tc"}}, // only blanks are padding
        {ov::cp936::encode(QStringLiteral(" 客户表 \r\n")), {"", "客户表"}},
        {"", {""}},
        {"\r\n  \r\n", {""}},
        // A line ends at CR LF, LF or a lone CR; an editor's doubled CR
        // leaves no CR in a name.
        {"a\r\r\nb\r\r\n", {"", "a", "b"}},
        {"a\rb\r", {"", "a", "b"}},
        {"a\nb\n", {"", "a", "b"}},
        {"a\n\rb", {"", "a", "b"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.toStdString());
        writeFile(QStringLiteral("list.txt"), c.bytes);
        QStringList list{QStringLiteral("left over")};
        EXPECT_TRUE(mdlOVSqlUpdateDB::ReadListFile(path(QStringLiteral("list.txt")), list));
        EXPECT_EQ(list, c.list);
    }
    EXPECT_TRUE(m_ui.messages().isEmpty());

    QStringList list;
    EXPECT_FALSE(mdlOVSqlUpdateDB::ReadListFile(path(QStringLiteral("none.txt")), list));
    ASSERT_EQ(m_ui.messages().size(), 1);
    EXPECT_TRUE(m_ui.messages()[0].text.startsWith(path(QStringLiteral("none.txt")) + QStringLiteral(", ")));
    EXPECT_GT(m_ui.messages()[0].text.size(), path(QStringLiteral("none.txt")).size() + 2);
    EXPECT_EQ(m_ui.messages()[0].style, ov::MsgStyle::Information);
}

// Blank lines and padded names in tables.txt, with and without the folder's
// trailing separator: both tables load, the label and the bar move in step.
TEST_F(DataImport, LoadsEveryListedTableWithStatusAndProgress)
{
    for (const bool trailing : {true, false}) {
        SCOPED_TRACE(trailing);
        exec(QStringLiteral("crm"), QStringLiteral("DELETE FROM a; DELETE FROM b"));
        m_status = ovtest::RecordingStatus();
        m_progress = ovtest::RecordingProgress();
        m_ui.clear();
        writeFile(QStringLiteral("set/tables.txt"), "\r\n  a \r\n   \r\n\r\nb\r\n");
        writeFile(QStringLiteral("set/a.dat"), ov::cp936::encode(QStringLiteral("1\t张三\r\n2\t李四\r\n")));
        writeFile(QStringLiteral("set/b.dat"), "7\tseven\r\n");
        ASSERT_TRUE(import(setFolder() + (trailing ? QString(QDir::separator()) : QString())));

        EXPECT_TRUE(m_ui.messages().isEmpty());
        EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT id, name FROM a ORDER BY id")),
                  QStringList({"1|张三", "2|李四"}));
        EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT id, note FROM b")),
                  QStringList({"7|seven"}));
        EXPECT_EQ(m_progress.maximum(), 2);
        EXPECT_EQ(m_progress.values(), QList<int>({1, 2, 0}));
        EXPECT_EQ(m_status.history(), QStringList({"向数据库 crm 中导入数据，请等待...", "正在导入 a",
                                                   "正在导入 b", "完成数据导入"}));
        EXPECT_EQ(m_ui.pumps(), 2);
        // The pointer shows busy while each table loads and normal after it.
        EXPECT_EQ(m_ui.busyChanges(), QList<bool>({true, false, true, false}));
        for (const char* file : {"set/a.log", "set/a.err", "set/b.log", "set/b.err"})
            EXPECT_TRUE(QFileInfo::exists(path(QLatin1String(file)))) << file;
    }
}

TEST_F(DataImport, AnEmptyListLoadsNothing)
{
    writeFile(QStringLiteral("set/tables.txt"), "  \r\n");
    EXPECT_TRUE(import(setFolder()));
    EXPECT_EQ(m_progress.maximum(), 0);
    EXPECT_EQ(m_status.history(), QStringList({"向数据库 crm 中导入数据，请等待...", "完成数据导入"}));
    EXPECT_TRUE(m_ui.messages().isEmpty());
    EXPECT_EQ(QDir(path(QStringLiteral("set"))).entryList(QDir::Files), QStringList({"tables.txt"}));
}

// Three tables without data files: a box for the first two only, a log entry
// for each, and the tables around them still load; the import then fails,
// naming the three tables.
TEST_F(DataImport, MissingDataFilesAreToldTwiceAndLoggedEachTime)
{
    ov::setApplicationTitle(QStringLiteral("Orvane -- 创建数据库"));
    writeFile(QStringLiteral("set/tables.txt"), "x1\r\na\r\nx2\r\nx3\r\nb\r\n");
    writeFile(QStringLiteral("set/a.dat"), "1\tone\r\n");
    writeFile(QStringLiteral("set/b.dat"), "2\ttwo\r\n");
    EXPECT_FALSE(import(setFolder()));

    ASSERT_EQ(m_ui.messages().size(), 3);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(m_ui.messages()[i].text, missing(i == 0 ? QStringLiteral("x1") : QStringLiteral("x2")));
        EXPECT_EQ(m_ui.messages()[i].style, ov::MsgStyle::Exclamation);
        EXPECT_EQ(m_ui.messages()[i].caption, QStringLiteral("Import Data"));
    }
    QStringList lines;
    for (const char* table : {"x1", "x2", "x3"})
        lines
            << QStringLiteral("%1：数据文件 %2 不存在").arg(QLatin1String(table), dat(QLatin1String(table)));
    const QString summary =
        QStringLiteral("以下数据表的数据没有完整导入数据库 crm：\r\n") + lines.join(QStringLiteral("\r\n"));
    EXPECT_EQ(m_ui.messages()[2].text, summary);
    EXPECT_EQ(m_ui.messages()[2].style, ov::MsgStyle::Exclamation);
    EXPECT_EQ(m_ui.messages()[2].caption, QStringLiteral("Orvane -- 创建数据库"));
    EXPECT_EQ(ov::applicationTitle(), QStringLiteral("Orvane -- 创建数据库"));
    EXPECT_EQ(logText(), missing(QStringLiteral("x1")) + "\r\n" + missing(QStringLiteral("x2")) + "\r\n" +
                             missing(QStringLiteral("x3")) + "\r\n" + summary + "\r\n");
    EXPECT_EQ(m_status.history().last(), QStringLiteral("导入数据错误"));
    EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT id FROM a UNION ALL SELECT id FROM b")),
              QStringList({"1", "2"}));
    EXPECT_EQ(m_progress.values(), QList<int>({1, 2, 3, 4, 5, 0}));
    ov::setApplicationTitle(QString());
}

// A name from tables.txt that would lead out of the data set's folder is
// neither read nor written beside: it is told and logged like a missing file.
TEST_F(DataImport, ATableNameThatLeavesTheFolderIsTreatedAsMissing)
{
    // Files that a joined path would reach, outside the data set.
    writeFile(QStringLiteral("outside.dat"), "9\tnine\r\n");
    writeFile(QStringLiteral("set/sub/inner.dat"), "8\teight\r\n");
    const QStringList names = {"../outside", "..\\outside", "sub/inner", "sub\\inner", "C:outside", "a..b"};
    writeFile(QStringLiteral("set/tables.txt"), names.join(QStringLiteral("\r\n")).toLatin1() + "\r\na\r\n");
    writeFile(QStringLiteral("set/a.dat"), "1\tone\r\n");
    EXPECT_FALSE(import(setFolder()));

    ASSERT_EQ(m_ui.texts().size(), 3);
    EXPECT_EQ(m_ui.texts().mid(0, 2), QStringList({missing(names[0]), missing(names[1])}));
    QStringList logged;
    for (const QString& n : names)
        logged << missing(n);
    logged << m_ui.texts().at(2);
    EXPECT_EQ(logText(), logged.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
    for (const QString& n : names)
        EXPECT_TRUE(m_ui.texts().at(2).contains(QStringLiteral("\r\n%1：").arg(n))) << n.toStdString();
    EXPECT_EQ(m_status.history(),
              QStringList({"向数据库 crm 中导入数据，请等待...", "正在导入 a", "导入数据错误"}));
    EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT id FROM a")), QStringList({"1"}));
    // Nothing was written outside the folder or into its subfolder.
    EXPECT_EQ(QDir(m_dir.path()).entryList({"*.log", "*.err"}, QDir::Files), QStringList());
    EXPECT_EQ(QDir(path(QStringLiteral("set/sub"))).entryList(QDir::Files), QStringList({"inner.dat"}));
}

// A row the table refuses goes to the table's .err file; the other rows of
// the table and the tables after it load. The import then fails with one
// message that names the tables that did not load completely and where
// their .err and .log files are.
TEST_F(DataImport, RejectedRowsLandInTheErrorFile)
{
    writeFile(QStringLiteral("set/tables.txt"), "a\r\nnosuchtable\r\nb\r\n");
    writeFile(QStringLiteral("set/a.dat"), "1\tone\r\n1\tsame key\r\nx\tnot a number\r\n3\tthree\r\n");
    writeFile(QStringLiteral("set/nosuchtable.dat"), "1\tone\r\n");
    writeFile(QStringLiteral("set/b.dat"), "5\tfive\r\n");
    EXPECT_FALSE(import(setFolder()));

    const QString folder = setFolder() + QDir::separator();
    ASSERT_EQ(m_ui.messages().size(), 1);
    EXPECT_EQ(m_ui.messages()[0].text,
              QStringLiteral("以下数据表的数据没有完整导入数据库 crm：\r\n"
                             "a：见 %1a.err 和 %1a.log\r\n"
                             "nosuchtable：见 %1nosuchtable.err 和 %1nosuchtable.log")
                  .arg(folder));
    EXPECT_EQ(m_ui.messages()[0].style, ov::MsgStyle::Exclamation);
    EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT id, name FROM a ORDER BY id")),
              QStringList({"1|one", "3|three"}));
    EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT id FROM b")), QStringList({"5"}));
    const QByteArray err = readFile(QStringLiteral("set/a.err"));
    EXPECT_TRUE(err.contains("1\tsame key\r\n")) << err.toStdString();
    EXPECT_TRUE(err.contains("x\tnot a number\r\n")) << err.toStdString();
    EXPECT_FALSE(err.contains("three"));
    // The failed table's reason is in its log.
    EXPECT_TRUE(readFile(QStringLiteral("set/nosuchtable.log")).contains("nosuchtable"));
    EXPECT_EQ(m_status.history().last(), QStringLiteral("导入数据错误"));
}

// Values SQL Server's bulk copy refuses are refused here too, each row on
// its own: a key too large for INT, a date that does not exist, a NUL inside
// a text. The rows after them load, and the import fails naming the table.
TEST_F(DataImport, ValuesTheColumnCannotHoldAreRejectedRows)
{
    exec(QStringLiteral("crm"), QStringLiteral("CREATE TABLE c (id INT NOT NULL PRIMARY KEY, at DATETIME, "
                                               "note NVARCHAR(20))"));
    writeFile(QStringLiteral("set/tables.txt"), "c\r\n");
    const QByteArray bad[] = {
        "99999999999999999999999\t2026-01-01 00:00:00\tbig key\r\n",
        "2147483648\t2026-01-01 00:00:00\tone past\r\n",
        "2\t2026-02-30 25:61:00\tno such time\r\n",
        QByteArrayLiteral("3\t2026-01-01 00:00:00\tcut\0short\r\n"),
    };
    writeFile(QStringLiteral("set/c.dat"), "1\t2026-01-01 00:00:00\tfirst\r\n" + bad[0] + bad[1] + bad[2] +
                                               bad[3] + "4\t2026-12-31 23:59:59\tlast\r\n");
    EXPECT_FALSE(import(setFolder()));

    const QString folder = setFolder() + QDir::separator();
    ASSERT_EQ(m_ui.messages().size(), 1);
    EXPECT_EQ(m_ui.messages()[0].text, QStringLiteral("以下数据表的数据没有完整导入数据库 crm：\r\n"
                                                      "c：见 %1c.err 和 %1c.log")
                                           .arg(folder));
    EXPECT_EQ(rows(QStringLiteral("crm"),
                   QStringLiteral("SELECT id, typeof(id), at || '', note FROM c ORDER BY id")),
              QStringList({"1|integer|2026-01-01 00:00:00|first", "4|integer|2026-12-31 23:59:59|last"}));
    const QByteArray err = readFile(QStringLiteral("set/c.err"));
    for (const QByteArray& row : bad)
        EXPECT_TRUE(err.contains("@#\r\n" + row)) << row.constData();
    EXPECT_TRUE(
        readFile(QStringLiteral("set/c.log")).contains("6 rows read, 2 rows copied, 4 rows rejected."));
}

// Before the first table: no list, no server, no database. Nothing loads.
TEST_F(DataImport, FailuresBeforeTheFirstTableStopTheImport)
{
    writeFile(QStringLiteral("set/tables.txt"), "a\r\n");
    writeFile(QStringLiteral("set/a.dat"), "1\tone\r\n");
    writeFile(QStringLiteral("afile"), "");
    const struct
    {
        const char* server; // relative to the program folder
        const char* database;
        const char* folder;
        ov::MsgStyle style;
        const char* status; // nullptr: the label is not touched
    } cases[] = {
        {"data", "crm", "noset", ov::MsgStyle::Information, nullptr},
        {"data", "nothing", "set", ov::MsgStyle::Exclamation, "导入数据错误"},
        {"afile", "crm", "set", ov::MsgStyle::Exclamation, "导入数据错误"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.database);
        m_ui.clear();
        m_status = ovtest::RecordingStatus();
        EXPECT_FALSE(mdlOVSqlUpdateDB::ImportTableData(
            QStringLiteral("sqlite:") + path(QLatin1String(c.server)), QLatin1String(c.database), true,
            QString(), QString(), path(QLatin1String(c.folder)), m_status, m_progress));
        ASSERT_EQ(m_ui.messages().size(), 1);
        EXPECT_EQ(m_ui.messages()[0].style, c.style);
        EXPECT_FALSE(m_ui.messages()[0].text.isEmpty());
        EXPECT_EQ(m_status.history(), c.status ? QStringList({QString::fromUtf8(c.status)}) : QStringList());
    }
    EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT id FROM a")), QStringList());
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("set/a.log"))));
}

} // namespace
