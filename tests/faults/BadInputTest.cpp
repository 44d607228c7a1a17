// Bad input: scripts with NUL bytes, invalid code page 936 sequences or one
// line of 50 MB; data files with rows of the wrong width; a list naming a
// thousand missing tables; single-user files that are no Jet file.

#include "FaultSupport.h"
#include "common/Cp936.h"
#include "common/clsError.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "config/ConfigFiles.h"
#include "config/mdlOVSqlServerAccess.h"
#include "convert/mdlDBConvert.h"
#include "create/DataImport.h"
#include "data/ServerAdmin.h"
#include "jet/writer/Writer.h"
#include "update/UpdateScript.h"

using namespace ovtest;

namespace {

class BadInput : public FaultFixture
{
protected:
    void SetUp() override
    {
        FaultFixture::SetUp();
        auto admin = ov::ServerAdmin::create(m_server, true, QString(), QString());
        ASSERT_TRUE(admin->createDatabase(QStringLiteral("crm")));
        ASSERT_TRUE(
            connect(QStringLiteral("crm"))
                ->Execute(QStringLiteral(
                    "CREATE TABLE t ([id] INT NOT NULL, [name] NVARCHAR(20), [amount] DECIMAL(10,2))")));
    }

    bool runScript(const QByteArray& bytes)
    {
        const QString script = path(QStringLiteral("script.txt"));
        writeBytes(script, bytes);
        RecordingStatus status;
        RecordingProgress progress;
        return mdlOVSqlUpdateDB::RunUpdateScript(m_server, QStringLiteral("crm"), true, QString(), QString(),
                                                 script, status, progress);
    }

    QStringList table() { return rows(QStringLiteral("crm"), QStringLiteral("SELECT * FROM t ORDER BY id")); }

    ScriptedUi m_ui;
};

} // namespace

// Byte sequences that are no code page 936 text would become replacement
// characters in a statement: the script is refused naming the line, and
// nothing of it runs. A NUL byte anywhere makes the file no text at all (the
// engines would cut a statement short at it): refused alike.
TEST_F(BadInput, ScriptWithNulAndInvalidCodePageBytes)
{
    const QByteArray script =
        QByteArrayLiteral("INSERT INTO t VALUES (1, 'a', 1)\r\nGO\r\n"
                          "INSERT INTO t VALUES (3, '\x81\x20\xff\xfe\x80', 3)\r\nGO\r\n"
                          "--<REM>\xfe\xff\r\n"
                          "INSERT INTO t VALUES (4, '\xbf\xcd\xbb\xa7', 4)\r\nGO\r\n");
    EXPECT_FALSE(runScript(script));
    EXPECT_EQ(table(), QStringList());
    ASSERT_EQ(m_ui.texts().size(), 1);
    EXPECT_TRUE(m_ui.texts()[0].contains(QStringLiteral("第 3 行"))) << m_ui.texts()[0].toStdString();

    ASSERT_TRUE(connect(QStringLiteral("crm"))->Execute(QStringLiteral("DELETE FROM t")));
    const QByteArray withNul[] = {
        QByteArrayLiteral(
            "INSERT INTO t VALUES (1, 'a', 1)\r\nGO\r\nINSERT INTO t VALUES (2, 'x\0y', 2)\r\nGO\r\n"),
        QByteArrayLiteral("INSERT INTO t VALUES (1, 'a', 1)\r\nGO\r\n\0\0\0\r\nGO\r\n"),
        QByteArrayLiteral("INSERT INTO t VALUES (1, 'a', 1)\r\nGO\r\n--<REM>\xfe\xff\0\r\n"),
    };
    for (const QByteArray& bytes : withNul) {
        m_ui.clear();
        EXPECT_FALSE(runScript(bytes));
        EXPECT_EQ(table(), QStringList());
        ASSERT_EQ(m_ui.texts().size(), 1);
        EXPECT_TRUE(m_ui.texts()[0].contains(QLatin1String("NUL"))) << m_ui.texts()[0].toStdString();
    }
}

// One line of 50 MB is one statement like any other.
TEST_F(BadInput, ScriptOfOneFiftyMegabyteLine)
{
    QByteArray script = "INSERT INTO t VALUES (1, '";
    script += QByteArray(50 * 1024 * 1024, 'x');
    script += "', 1)\r\nGO\r\nINSERT INTO t VALUES (2, 'after', 2)\r\nGO\r\n";
    EXPECT_TRUE(runScript(script));
    script.clear();
    EXPECT_EQ(rows(QStringLiteral("crm"), QStringLiteral("SELECT id, length(name) FROM t ORDER BY id")),
              (QStringList{QStringLiteral("1|52428800"), QStringLiteral("2|5")}));
}

// Rows with too many or too few fields are rejected into the error file with
// their row number; every good row is loaded.
TEST_F(BadInput, DataFileRowsOfTheWrongWidth)
{
    const QString dat = path(QStringLiteral("t.dat"));
    writeBytes(dat, "1\tone\t1.5\r\n"
                    "2\ttwo\r\n"
                    "3\tthree\t3\textra\r\n"
                    "4\r\n"
                    "\t\t\t\t\t\t\r\n"
                    "5\tfive\t5\r\n");
    auto admin = ov::ServerAdmin::create(m_server, true, QString(), QString());
    ov::BulkLoadResult result;
    ASSERT_TRUE(admin->bulkLoad(QStringLiteral("crm"), QStringLiteral("t"), dat,
                                path(QStringLiteral("t.log")), path(QStringLiteral("t.err")), &result))
        << admin->lastError().description.toStdString();
    EXPECT_EQ(result.rowsCopied, 2);
    EXPECT_EQ(result.rowsRejected, 4);
    EXPECT_EQ(table(), (QStringList{QStringLiteral("1|one|1.5"), QStringLiteral("5|five|5")}));
    const QByteArray errors = readBytes(path(QStringLiteral("t.err")));
    for (const char* row : {"Row 2:", "Row 3:", "Row 4:", "Row 5:"})
        EXPECT_TRUE(errors.contains(row)) << row;
    EXPECT_TRUE(errors.contains("3\tthree\t3\textra\r\n"));
}

// A list naming a thousand tables whose data files are missing: the user is
// told of the first two, the log names them all, and the import fails with
// one message that names the first twenty and the place of the whole list.
TEST_F(BadInput, ThousandMissingTablesGiveTwoBoxes)
{
    const QString folder = path(QStringLiteral("set/"));
    ASSERT_TRUE(QDir().mkpath(folder));
    QByteArray list;
    for (int i = 0; i < 1000; ++i)
        list += "tblMissing" + QByteArray::number(i) + "\r\n";
    writeBytes(folder + QStringLiteral("tables.txt"), list);
    RecordingStatus status;
    RecordingProgress progress;
    EXPECT_FALSE(mdlOVSqlUpdateDB::ImportTableData(m_server, QStringLiteral("crm"), true, QString(),
                                                   QString(), folder, status, progress));
    ASSERT_EQ(m_ui.messages().size(), 3);
    EXPECT_TRUE(m_ui.texts().at(1).contains(QStringLiteral("tblMissing1.dat")));
    const QStringList summary = m_ui.texts().at(2).split(QStringLiteral("\r\n"));
    ASSERT_EQ(summary.size(), 22);
    EXPECT_TRUE(summary.at(1).startsWith(QStringLiteral("tblMissing0：")));
    EXPECT_TRUE(summary.at(20).startsWith(QStringLiteral("tblMissing19：")));
    EXPECT_EQ(summary.at(21), QStringLiteral("……共 1000 个数据表，全部记录在 %1 中。")
                                  .arg(mdlOVSqlUpdateDB::gstrAppPath + QStringLiteral("UpdateDBSqlLog.Txt")));
    const QByteArray log = readBytes(mdlOVSqlUpdateDB::gstrAppPath + QStringLiteral("UpdateDBSqlLog.Txt"));
    EXPECT_TRUE(log.contains("tblMissing999.dat"));
    EXPECT_TRUE(log.contains(ov::cp936::encode(QStringLiteral("\r\ntblMissing999："))));
    EXPECT_EQ(status.caption(), QStringLiteral("导入数据错误"));
}

// A single-user file that is no Jet file cannot be opened: the error record
// says so, and the conversion check warns naming the file.
TEST_F(BadInput, SingleUserFileThatIsNoJetFile)
{
    const QString good = path(QStringLiteral("good.cdb"));
    {
        jet::Writer w(good);
        w.addTable(QStringLiteral("tblVarible"), {{QStringLiteral("Module"), jet::ColumnType::Text, 50}});
        ASSERT_TRUE(w.save(nullptr));
    }
    const QByteArray jet = readBytes(good);
    QByteArray noHeader = jet;
    noHeader.replace(0, 32, QByteArray(32, '\0'));
    struct Case
    {
        const char* name;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"empty", QByteArray()},
        {"text", QByteArrayLiteral("[MAIN]\r\nDBServer=x\r\n")},
        {"first page only", jet.left(4096)},
        {"cut in a page", jet.left(jet.size() - 100)},
        {"header wiped", noHeader},
        {"random", QByteArray(8192, '\x5a')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = path(QStringLiteral("bad.cdb"));
        writeBytes(file, c.bytes);
        m_ui.clear();
        EXPECT_EQ(mdlOVSqlServer::ConnectToDBAccess(file), nullptr);
        EXPECT_TRUE(mdlCommon::GetErrorText(true).contains(QStringLiteral("连接数据库失败！")));
        EXPECT_FALSE(mdlDBConvert::CheckConvertFile(file, QStringLiteral("1.0")));
        ASSERT_EQ(m_ui.messages().size(), 1);
        EXPECT_TRUE(m_ui.texts().first().contains(file));
    }
}
