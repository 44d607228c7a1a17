#include "update/UpdateScript.h"
#include "update/UpdateFixture.h"

#include "common/clsError.h"

#include <QFileInfo>
#include <QStringEncoder>

using namespace mdlOVSqlUpdateDB;
using K = mdlOVSqlUpdateDB::ScriptLineKind;

namespace {

TEST(ScriptLineTest, EachLineIsClassifiedByTheFirstRuleThatMatches)
{
    struct Case
    {
        const char* line;
        K kind;
    };
    const Case cases[] = {
        {"--<V:1.0>", K::VersionStart},
        {"   --<V:1.0>   ", K::VersionStart}, // indented with spaces
        {"--<v:1.0>", K::VersionStart},       // any letter case
        {"--<VT:1.0>", K::TransactionalVersionStart},
        {"--<vt:3.0>", K::TransactionalVersionStart},
        {"--<T:move>", K::TransferStart},
        {"--</V:1.0>", K::VersionEnd},
        {"--</v:whatever>", K::VersionEnd},
        {"--</T:move>", K::TransferEnd},
        {"--<REM>正在升级", K::StatusText},
        {"--<rem>", K::StatusText},
        {"--<SHOW ERR>", K::ShowErrors},
        {"--<show err>", K::ShowErrors},
        {"--<HIDE ERR>", K::HideErrors},
        {"--<SHOWERR>", K::Comment}, // not the marker: an ordinary comment
        {"--<V 1.0>", K::Comment},
        {"-- a comment", K::Comment},
        {"  --", K::Comment},
        {"\t--<V:1.0>", K::Statement}, // a tab is no blank: not a marker
        {"\t-- comment", K::Statement},
        {"GO", K::BatchEnd},
        {"go", K::BatchEnd},
        {"  Go  ", K::BatchEnd},
        {"\tGO\t", K::BatchEnd}, // tabs count as blanks for GO
        {" \t go \t ", K::BatchEnd},
        {"G\tO", K::Statement},
        {"GO;", K::Statement},
        {"GO 5", K::Statement},
        {"GOTO", K::Statement},
        {"INSERT INTO t VALUES (1)", K::Statement},
        {"", K::Statement},
        {"   ", K::Statement},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ClassifyScriptLine(QString::fromUtf8(c.line)), c.kind) << '"' << c.line << '"';
}

TEST(ScriptLineTest, TheMarkerNameLiesBetweenTheFirstTwoColonsOrAngles)
{
    const std::pair<const char*, const char*> cases[] = {
        {"--<V:2.5.1>", "2.5.1"},
        {"--<T:AddIndexes>", "AddIndexes"},
        {"--<V:2.5.1> behind the marker", "2.5.1"},
        {"--<V:1:2>", "1"},          // a name holds no ":"
        {"--<V:", ""},               // a start line without a name
        {"--<V:>", ""},              //
        {"  --<VT: 3.0 >", " 3.0 "}, // blanks inside stay
        {"--<V:1.0", "1.0"},         // no closing ">": the rest of the line
        {"no marker", ""},
    };
    for (const auto& [line, name] : cases)
        EXPECT_EQ(GetMarkerName(QString::fromUtf8(line)), QString::fromUtf8(name)) << line;
}

class UpdateScriptTest : public ovtest::UpdateFixture
{
protected:
    bool run(const QString& script, const QString& database = QStringLiteral("crm"))
    {
        return RunUpdateScript(m_server, database, true, QStringLiteral("sa"), QString(), script, m_status,
                               m_progress);
    }
};

QString insert(int id)
{
    return QStringLiteral("INSERT INTO t VALUES (%1);").arg(id);
}
const QString kBad = QStringLiteral("INSERT INTO nosuch VALUES (0)");

TEST_F(UpdateScriptTest, BlocksBatchesAndTransactions)
{
    struct Case
    {
        const char* what;
        const char* version; // the database's version; nullptr: no version row
        QStringList script;
        QList<int> ids;       // rows of t after the run
        QStringList recorded; // versions recorded as applied
        bool complete = true; // the run's result
    };
    QStringList longBatch{QStringLiteral("--<VT:1.1>")};
    QList<int> longIds;
    for (int i = 1; i <= 150; ++i) {
        longBatch.append(insert(i));
        longIds.append(i);
    }
    longBatch << QStringLiteral("GO") << QStringLiteral("--</V:1.1>");

    const QList<Case> cases = {
        {"a statement is sent only at GO; lines after the last GO never",
         "1.0",
         {insert(1), "GO", insert(2)},
         {1},
         {}},
        {"GO in any case and with blanks or tabs around it ends a batch",
         "1.0",
         {insert(1), "go", insert(2), "  Go  ", insert(3), "\tGO\t"},
         {1, 2, 3},
         {}},
        {"a version block the database has is passed over whatever it holds",
         "2.0",
         {"--<V:1.5>", insert(1), "GO", "--<T:x>", insert(2), "GO", "--</T:x>", kBad, "GO", "--</V:1.5>",
          insert(3), "GO"},
         {3},
         {}},
        {"a newer version block runs and is recorded",
         "9.0",
         {"--<V:10.0>", insert(1), "GO", "--</V:10.0>"},
         {1},
         {"10.0"}},
        {"without a version row every version block is passed over",
         nullptr,
         {"--<V:1.1>", insert(1), "GO", "--</V:1.1>", insert(2), "GO"},
         {2},
         {}},
        {"a failing batch outside a transaction leaves the others and the record",
         "1.0",
         {"--<V:1.1>", insert(1), "GO", kBad, "GO", insert(3), "GO", "--</V:1.1>"},
         {1, 3},
         {"1.1"}},
        {"a failing batch in a --<VT: block rolls back the whole block, unrecorded, and no later "
         "version block runs",
         "1.0",
         {"--<VT:1.1>", insert(1), "GO", kBad, "GO", insert(3), "GO", "--</V:1.1>", insert(4), "GO",
          "--<V:1.2>", insert(5), "GO", "--</V:1.2>", "--<VT:1.3>", insert(6), "GO", "--</V:1.3>"},
         {4},
         {},
         false},
        {"a lower-case --<vt: block is transactional too",
         "1.0",
         {"--<vt:1.1>", insert(1), "GO", kBad, "GO", "--</v:1.1>"},
         {},
         {},
         false},
        {"a failing batch in a transfer inside a --<VT: block rolls back the version block",
         "1.0",
         {"--<VT:1.1>", insert(1), "GO", "--<T:x>", kBad, "GO", "--</T:x>", insert(2), "GO", "--</V:1.1>",
          "--<V:1.2>", insert(3), "GO", "--</V:1.2>"},
         {},
         {},
         false},
        {"a transfer inside a --<VT: block runs in the block's transaction: a later failing batch "
         "rolls back the transfer's rows too",
         "1.0",
         {"--<VT:1.1>", insert(1), "GO", "--<T:x>", insert(2), "GO", "--</T:x>", kBad, "GO", "--</V:1.1>"},
         {},
         {},
         false},
        {"a transfer rolled back with its --<VT: block leaves nothing open: a failing batch after "
         "the block skips no later statement",
         "1.0",
         {"--<VT:1.1>", "--<T:x>", kBad, "GO", "--</T:x>", "--</V:1.1>", kBad, "GO", insert(1), "GO"},
         {1},
         {},
         false},
        {"a transfer without its end marker ends at its version block's end, before the record",
         "1.0",
         {"--<V:1.1>", "--<T:x>", insert(1), "GO", "--</V:1.1>", "--<V:1.2>", kBad, "GO", insert(2), "GO",
          "--</V:1.2>", "--<VT:1.3>", insert(3), "GO", "--</V:1.3>"},
         {1, 2, 3},
         {"1.1", "1.2", "1.3"}},
        {"blocks before the rolled back one stay applied",
         "1.0",
         {"--<V:1.1>", insert(1), "GO", "--</V:1.1>", "--<VT:1.2>", kBad, "GO", "--</V:1.2>"},
         {1},
         {"1.1"},
         false},
        {"a committed --<VT: block",
         "1.0",
         {"--<VT:1.1>", insert(1), "GO", insert(2), "GO", "--</V:1.1>"},
         {1, 2},
         {"1.1"}},
        {"a failing transfer inside a --<V: block rolls back only the transfer",
         "1.0",
         {"--<V:1.1>", insert(1), "GO", "--<T:move>", insert(2), "GO", kBad, "GO", insert(5), "GO",
          "--</T:move>", insert(3), "GO", "--</V:1.1>"},
         {1, 3},
         {"1.1"}},
        {"a transfer block outside any version block commits at its end",
         "1.0",
         {"--<T:a>", insert(1), "GO", insert(2), "GO", "--</T:a>", insert(3), "GO"},
         {1, 2, 3},
         {}},
        {"a transaction still open at the end of the file is rolled back: the block is not complete",
         "1.0",
         {"--<VT:1.1>", insert(1), "GO"},
         {},
         {},
         false},
        {"statements not yet sent are dropped at a block start",
         "1.0",
         {insert(1), "--<V:1.1>", insert(2), "GO", "--</V:1.1>"},
         {2},
         {"1.1"}},
        {"statements after a block's last GO travel with the next batch",
         "1.0",
         {"--<V:1.1>", insert(1), "GO", insert(2), "--</V:1.1>", insert(3), "GO"},
         {1, 2, 3},
         {"1.1"}},
        {"a marker indented with a tab is a statement line",
         "1.0",
         {"\t--<V:1.1>", insert(1), "GO", "\t--</V:1.1>"},
         {1},
         {}},
        {"a batch of more than 100 lines is sent whole", "1.0", longBatch, longIds, {"1.1"}},
        {"a version name with a quote is recorded",
         "1.0",
         {"--<V:1.1 'rc'>", insert(1), "GO", "--</V:1.1 'rc'>"},
         {1},
         {"1.1 'rc'"}},
    };
    int n = 0;
    for (const Case& c : cases) {
        const QString db = QStringLiteral("case%1").arg(++n);
        makeDatabase(db);
        {
            auto cn = connect(db);
            ASSERT_TRUE(cn->Execute(QStringLiteral(
                "CREATE TABLE t (id INT); CREATE TABLE tblVarible ([Module] NVARCHAR(50), "
                "VaribleName NVARCHAR(100), VaribleValue NVARCHAR(255), UserID NVARCHAR(50))")));
            if (c.version) {
                ASSERT_TRUE(
                    cn->Execute(QStringLiteral("INSERT INTO tblVarible VALUES ('DB', 'Version', '%1', '')")
                                    .arg(QString::fromUtf8(c.version))));
            }
        }
        const QString script = writeScript(c.script);
        m_ui.clear();
        EXPECT_EQ(run(script, db), c.complete) << c.what;
        // A run that did not complete says so; a complete one says nothing.
        EXPECT_EQ(m_ui.messages().size(), c.complete ? 0 : 1) << c.what;

        auto cn = connect(db);
        QList<int> ids;
        ov::Recordset rs;
        ASSERT_TRUE(rs.Open(QStringLiteral("SELECT id FROM t ORDER BY id"), *cn));
        for (; !rs.Eof(); rs.MoveNext())
            ids.append(rs.Fields(0).Value().toInt());
        rs.Close();
        QStringList recorded;
        ASSERT_TRUE(rs.Open(QStringLiteral("SELECT VaribleName FROM tblVarible WHERE [Module] = 'UpdateDB' "
                                           "ORDER BY VaribleName"),
                            *cn));
        for (; !rs.Eof(); rs.MoveNext())
            recorded.append(rs.Fields(0).Value().toString());
        EXPECT_EQ(ids, c.ids) << c.what;
        EXPECT_EQ(recorded, c.recorded) << c.what;
    }
}

// Transactions do not nest: a transfer block inside a --<VT: block runs in
// the version block's transaction, and its end commits nothing, so the
// version block stays all or nothing. The block is logged and recorded as
// completed at its own end.
TEST_F(UpdateScriptTest, ATransferInsideATransactionalBlockRunsInItsTransaction)
{
    makeVersionTable(QStringLiteral("1.0"));
    exec(QStringLiteral("CREATE TABLE t (id INT)"));
    const QString script = writeScript({"--<VT:1.1>", insert(1), "GO", "--<T:x>", insert(2), "GO", "--</T:x>",
                                        insert(3), "GO", "--</V:1.1>"});
    ASSERT_TRUE(run(script));
    EXPECT_EQ(rows(QStringLiteral("SELECT id FROM t ORDER BY id")),
              (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    EXPECT_EQ(rows(QStringLiteral("SELECT VaribleName FROM tblVarible WHERE [Module] = 'UpdateDB'")),
              QStringList{QStringLiteral("1.1")});
    EXPECT_TRUE(logText().contains(QStringLiteral("VVVVV Ver:<1.1> Completed And COMMITED. VVVVV")))
        << logText().toStdString();
    EXPECT_FALSE(logText().contains(QStringLiteral("ROOLBACK"))) << logText().toStdString();
}

// Each block raises the database's version, as the shipped script's blocks
// do. A rolled-back block stops the run there: the later blocks would raise
// the version past it, and no later run would ever try it again.
TEST_F(UpdateScriptTest, ARolledBackBlockStopsTheRunAndTheNextRunStartsThere)
{
    makeVersionTable(QStringLiteral("1.0"));
    exec(QStringLiteral("CREATE TABLE t (id INT)"));
    const auto block = [](const char* kind, const QString& version, const QString& sql) {
        return QStringList{
            QStringLiteral("--<%1:%2>").arg(QLatin1String(kind), version),
            sql,
            "GO",
            QStringLiteral("UPDATE tblVarible SET VaribleValue = '%1' WHERE [Module] = 'DB'").arg(version),
            "GO",
            QStringLiteral("--</V:%1>").arg(version)};
    };
    const QString script =
        writeScript(block("VT", "1.1", insert(1)) + block("VT", "1.2", "INSERT INTO later VALUES (2)") +
                    block("V", "1.3", insert(3)) + block("VT", "1.4", insert(4)));
    const QString version = QStringLiteral("SELECT VaribleValue FROM tblVarible WHERE [Module] = 'DB'");
    const QString recorded =
        QStringLiteral("SELECT VaribleName FROM tblVarible WHERE [Module] = 'UpdateDB' ORDER BY VaribleName");

    EXPECT_FALSE(run(script));
    ASSERT_EQ(m_ui.messages().size(), 1);
    EXPECT_EQ(
        m_ui.messages()[0].text,
        QStringLiteral("版本 1.2 的升级未能完成，该版本的修改已全部撤销，其后的版本均未执行。\r\n\r\n"
                       "错误描述:对象名 later 无效：数据库中没有这个表。\r\n\r\n详细记录见日志文件 %1\r\n"
                       "排除原因后请重新运行，将从版本 1.2 继续。")
            .arg(UpdateLogPath()));
    EXPECT_EQ(m_ui.messages()[0].style, ov::MsgStyle::Exclamation);
    EXPECT_EQ(rows(version), QStringList{QStringLiteral("1.1")});
    EXPECT_EQ(rows(recorded), QStringList{QStringLiteral("1.1")});
    EXPECT_EQ(rows(QStringLiteral("SELECT id FROM t")), QStringList{QStringLiteral("1")});
    const QString log = logText();
    EXPECT_TRUE(log.contains(QStringLiteral("XXXXXX ROOLBACK Ver:<1.2>   XXXXXX"))) << log.toStdString();
    for (const char* later : {"1.3", "1.4"}) {
        EXPECT_TRUE(log.contains(
            QStringLiteral("XXXXXX VER:<%1> Not run: Ver:<1.2> was rolled back XXXXXX").arg(later)))
            << later;
    }
    EXPECT_TRUE(log.contains(
        QStringLiteral("!!! Ver:<1.2> was rolled back: 对象名 later 无效：数据库中没有这个表。")));

    // The cause is mended; the next run takes up the failed block and the
    // ones after it.
    exec(QStringLiteral("CREATE TABLE later (id INT)"));
    m_ui.clear();
    EXPECT_TRUE(run(script));
    EXPECT_TRUE(m_ui.messages().isEmpty());
    EXPECT_EQ(rows(version), QStringList{QStringLiteral("1.4")});
    EXPECT_EQ(rows(recorded), (QStringList{QStringLiteral("1.1"), QStringLiteral("1.2"),
                                           QStringLiteral("1.3"), QStringLiteral("1.4")}));
    EXPECT_EQ(rows(QStringLiteral("SELECT id FROM t ORDER BY id")),
              (QStringList{QStringLiteral("1"), QStringLiteral("3"), QStringLiteral("4")}));
    EXPECT_EQ(rows(QStringLiteral("SELECT id FROM later")), QStringList{QStringLiteral("2")});
}

// A line ends at CR LF, LF or a lone CR: scripts saved by any editor run the
// same, an editor's doubled CR included.
TEST_F(UpdateScriptTest, EveryKindOfLineEndEndsALine)
{
    const QStringList lines = {"--<VT:1.1>", "CREATE TABLE t (id INT)",
                               "GO",         insert(1),
                               "GO",         "--</V:1.1>",
                               "--<V:1.2>",  insert(2),
                               "GO",         "--</V:1.2>"};
    const std::pair<const char*, QByteArray> endings[] = {
        {"CR LF", "\r\n"}, {"LF", "\n"}, {"CR", "\r"}, {"CR CR LF", "\r\r\n"}, {"LF CR", "\n\r"}};
    int n = 0;
    for (const auto& [name, ending] : endings) {
        SCOPED_TRACE(name);
        const QString db = QStringLiteral("ends%1").arg(++n);
        makeDatabase(db);
        ASSERT_TRUE(connect(db)->Execute(
            QStringLiteral("CREATE TABLE tblVarible ([Module] NVARCHAR(50), VaribleName NVARCHAR(100), "
                           "VaribleValue NVARCHAR(255), UserID NVARCHAR(50)); "
                           "INSERT INTO tblVarible VALUES ('DB', 'Version', '1.0', '')")));
        const QString path = m_dir.filePath(QStringLiteral("ends.txt"));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        for (const QString& line : lines)
            f.write(line.toLatin1() + ending);
        f.close();
        EXPECT_TRUE(run(path, db));
        auto cn = connect(db);
        ov::Recordset rs;
        ASSERT_TRUE(rs.Open(QStringLiteral("SELECT id FROM t ORDER BY id"), *cn));
        EXPECT_EQ(ovtest::RowTexts(rs), (QStringList{QStringLiteral("1"), QStringLiteral("2")}));
        rs.Close();
        ASSERT_TRUE(rs.Open(QStringLiteral("SELECT VaribleName FROM tblVarible WHERE [Module] = 'UpdateDB' "
                                           "ORDER BY VaribleName"),
                            *cn));
        EXPECT_EQ(ovtest::RowTexts(rs), (QStringList{QStringLiteral("1.1"), QStringLiteral("1.2")}));
    }
}

// A script saved as UTF-16 ("Unicode"), or holding NUL bytes for any other
// reason, is not text the runner can read: no marker or GO line would be
// found in it, nothing would be sent and the run would call itself complete;
// a NUL inside a statement would cut it short. Such a file is refused before
// anything of it runs.
TEST_F(UpdateScriptTest, AScriptWithNulBytesIsRefusedBeforeAnythingRuns)
{
    const QString text = QStringLiteral("CREATE TABLE made (x INT)\r\nGO\r\n--<VT:1.1>\r\n") + insert(1) +
                         QStringLiteral("\r\nGO\r\n--</V:1.1>\r\n");
    const auto utf16 = [&](QStringConverter::Encoding encoding, bool bom) -> QByteArray {
        QStringEncoder encoder(encoding,
                               bom ? QStringConverter::Flag::WriteBom : QStringConverter::Flag::Default);
        return encoder.encode(text);
    };
    const struct
    {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"UTF-16 little-endian with its byte-order mark", utf16(QStringConverter::Utf16LE, true)},
        {"UTF-16 big-endian with its byte-order mark", utf16(QStringConverter::Utf16BE, true)},
        {"UTF-16 without a byte-order mark", utf16(QStringConverter::Utf16LE, false)},
        {"a NUL byte inside a statement",
         QByteArrayLiteral(
             "CREATE TABLE made (x INT)\r\nGO\r\nUPDATE t SET id = 9\0 WHERE id = 2\r\nGO\r\n")},
    };
    makeVersionTable(QStringLiteral("1.0"));
    exec(QStringLiteral("CREATE TABLE t (id INT); INSERT INTO t VALUES (2)"));
    const QString path = m_dir.filePath(QStringLiteral("nul.txt"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(c.bytes);
        f.close();
        m_ui.clear();
        EXPECT_FALSE(run(path));
        ASSERT_EQ(m_ui.messages().size(), 1);
        EXPECT_TRUE(m_ui.messages()[0].text.contains(QLatin1String("NUL")))
            << m_ui.messages()[0].text.toStdString();
        EXPECT_EQ(rows(QStringLiteral("SELECT id FROM t")), QStringList{QStringLiteral("2")});
        EXPECT_EQ(rows(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE name = 'made'")),
                  QStringList{QStringLiteral("0")});
        EXPECT_EQ(rows(QStringLiteral("SELECT COUNT(*) FROM tblVarible WHERE [Module] = 'UpdateDB'")),
                  QStringList{QStringLiteral("0")});
    }
}

// A script the runner would have to guess at is refused before anything is
// sent, with the line that is wrong: bytes that are not text of the script's
// encoding (code page 936, or UTF-8 after its byte-order mark), which would
// become replacement characters in a statement, and a block started inside
// another that has not ended, which the runner would take as having ended.
// The dry run's plan and transcript refuse it as well.
TEST_F(UpdateScriptTest, AScriptItWouldHaveToGuessAtIsRefusedNamingTheLine)
{
    const QByteArray head =
        "CREATE TABLE made (x INT)\r\nGO\r\n--<V:1.1>\r\nINSERT INTO t VALUES (1)\r\nGO\r\n";
    const struct
    {
        const char* what;
        QByteArray bytes;
        int line;
    } cases[] = {
        {"a byte that begins no character of code page 936",
         head + "UPDATE t SET id = 2 -- \xFF\r\nGO\r\n--</V:1.1>\r\n", 6},
        {"a lead byte of code page 936 followed by no trail byte",
         head + "INSERT INTO t VALUES (3) -- \xB0\x20\xA1\r\nGO\r\n--</V:1.1>\r\n", 6},
        {"a lead byte at the end of a line", head + "-- \xD6\xD0\xB9\r\nGO\r\n--</V:1.1>\r\n", 6},
        {"a character cut short at the end of the file", head + "--</V:1.1>\r\n-- \xB0", 7},
        {"bytes that are not UTF-8 after the UTF-8 byte-order mark",
         "\xEF\xBB\xBF" + head + "--<REM>\xE5\x8D\x87\xE7\xBA\r\nGO\r\n--</V:1.1>\r\n", 6},
        {"a --<VT: block inside an unclosed --<VT: block",
         "--<VT:1.1>\r\nINSERT INTO t VALUES (1)\r\nGO\r\n--<VT:1.2>\r\nINSERT INTO t VALUES (2)\r\nGO\r\n"
         "--</V:1.2>\r\n--</V:1.1>\r\n",
         4},
        {"a --<VT: block inside an unclosed --<V: block",
         "--<V:1.1>\r\nINSERT INTO t VALUES (1)\r\nGO\r\n--<REM>x\r\n  --<vt:1.2>\r\nGO\r\n--</V:1.2>\r\n",
         5},
        {"a --<V: block inside an unclosed --<VT: block",
         "--<VT:1.1>\r\nINSERT INTO t VALUES (1)\r\nGO\r\n--<V:1.2 %1{2}{CRLF}>\r\nGO\r\n--</V:1.2>\r\n", 4},
        {"a version block inside an unclosed transfer block",
         "--<T:a>\r\nINSERT INTO t VALUES (1)\r\nGO\r\n--<V:1.2>\r\nGO\r\n--</V:1.2>\r\n", 4},
        {"a transfer block inside an unclosed transfer block",
         "--<V:1.1>\r\n--<T:a>\r\nINSERT INTO t VALUES "
         "(1)\r\nGO\r\n--<T:b>\r\nGO\r\n--</T:b>\r\n--</V:1.1>\r\n",
         5},
    };
    makeVersionTable(QStringLiteral("1.0"));
    exec(QStringLiteral("CREATE TABLE t (id INT); INSERT INTO t VALUES (2)"));
    const QString path = m_dir.filePath(QStringLiteral("guess.txt"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(c.bytes);
        f.close();
        m_ui.clear();
        QFile::remove(UpdateLogPath());
        EXPECT_FALSE(run(path));
        ASSERT_EQ(m_ui.messages().size(), 1);
        const QString said = m_ui.messages()[0].text;
        EXPECT_TRUE(said.contains(QStringLiteral("第 %1 行").arg(c.line))) << said.toStdString();
        EXPECT_TRUE(said.contains(path)) << said.toStdString();
        // Names go into the message as they are written.
        if (c.bytes.contains("%1{2}")) {
            EXPECT_TRUE(said.contains(QStringLiteral("1.2 %1{2}{CRLF}"))) << said.toStdString();
        }
        EXPECT_EQ(rows(QStringLiteral("SELECT id FROM t")), QStringList{QStringLiteral("2")});
        EXPECT_EQ(rows(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE name = 'made'")),
                  QStringList{QStringLiteral("0")});
        EXPECT_EQ(rows(QStringLiteral("SELECT COUNT(*) FROM tblVarible WHERE [Module] = 'UpdateDB'")),
                  QStringList{QStringLiteral("0")});
        // What a dry run would send and do is refused alike.
        auto cn = connect();
        QList<VersionBlockPlan> plan;
        EXPECT_FALSE(PlanUpdateScript(path, cn.get(), plan));
        ScriptFile file;
        EXPECT_FALSE(file.open(path));
        EXPECT_TRUE(file.errorString().contains(QStringLiteral("第 %1 行").arg(c.line)))
            << file.errorString().toStdString();
    }
}

// The reader hands back the same lines whatever the size of the pieces it
// reads the file in: a CR LF split over two pieces is one line end.
TEST_F(UpdateScriptTest, ALineEndAcrossTheReadersPiecesIsOneLineEnd)
{
    const QString path = m_dir.filePath(QStringLiteral("long.txt"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    // The CR of the first line end is the last byte of the first 64 KiB.
    const QByteArray first(64 * 1024 - 1, 'a');
    f.write(first + "\r\nb\rc\r");
    f.close();
    ScriptFile file;
    ASSERT_TRUE(file.open(path));
    QStringList read;
    while (!file.atEnd())
        read.append(file.readLine());
    EXPECT_EQ(read, (QStringList{QString::fromLatin1(first), QStringLiteral("b"), QStringLiteral("c")}));
}

// Lines that start, end or have their line end at any place around the
// reader's pieces read as they would from one piece: reading them one by
// one, passing over a block to its end marker, and the look at every line
// when the file is opened (a block started inside another is refused).
TEST_F(UpdateScriptTest, LinesAcrossTheReadersPiecesReadAsFromOnePiece)
{
    const qsizetype piece = 64 * 1024;
    const QString path = m_dir.filePath(QStringLiteral("pieces.txt"));
    const auto write = [&path](const QByteArray& bytes) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    };
    for (const QByteArray& end : {QByteArray("\r\n"), QByteArray("\n"), QByteArray("\r")}) {
        for (const qsizetype pad :
             {piece - 13, piece - 12, piece - 11, piece - 2, piece - 1, piece, piece + 1, 2 * piece + 7}) {
            SCOPED_TRACE(QStringLiteral("%1 bytes, line end of %2").arg(pad).arg(end.size()).toStdString());
            const QByteArray padding(pad, 'a');
            ASSERT_TRUE(write("--<V:1.0>" + end + padding + end + "  --</v:1.0>" + end + "next" + end +
                              "\r\r\nlast"));
            const QStringList lines = {QStringLiteral("--<V:1.0>"),
                                       QString::fromLatin1(padding),
                                       QStringLiteral("  --</v:1.0>"),
                                       QStringLiteral("next"),
                                       QString(),
                                       QString(),
                                       QStringLiteral("last")};
            ScriptFile file;
            ASSERT_TRUE(file.open(path)) << file.errorString().toStdString();
            QStringList read;
            while (!file.atEnd())
                read.append(file.readLine());
            EXPECT_EQ(read, lines);

            ASSERT_TRUE(file.open(path));
            EXPECT_EQ(file.readLine(), lines[0]);
            SkipToVersionEnd(file);
            EXPECT_EQ(file.readLine(), QStringLiteral("next"));

            // The same block with another one begun inside it, past the padding.
            ASSERT_TRUE(write("--<V:1.0>" + end + padding + end + " --<VT:1.1>" + end + "--</V:1.1>" + end));
            EXPECT_FALSE(file.open(path));
            EXPECT_TRUE(file.errorString().contains(QStringLiteral("第 3 行")))
                << file.errorString().toStdString();
        }
    }
}

TEST_F(UpdateScriptTest, TheLogRecordsEveryStepByteForByte)
{
    makeVersionTable(QStringLiteral("1.0"));
    const QString script = writeScript({
        "--<REM>准备",
        "CREATE TABLE t (id INT)",
        "GO",
        "--<V:1.0>",
        insert(100),
        "GO",
        "--</V:1.0>",
        "--<V:1.1>",
        insert(1),
        "GO",
        "--<T:迁移>",
        insert(2),
        "GO",
        "--</T:迁移>",
        "--<SHOW ERR>",
        "--<T:坏>",
        "INSERT INTO nosuch VALUES (3)",
        "-- a comment is never sent",
        "\t",
        "   ",
        "GO",
        "--</T:坏>",
        "--</V:1.1>",
        "--<VT:1.2>",
        insert(4),
        "GO",
        "--</V:1.2>",
        "--<VT:1.3>",
        "  INSERT INTO nosuch VALUES (5)",
        "GO",
        insert(6),
        "GO",
        "--</V:1.3>",
        "--<HIDE ERR>",
        "INSERT INTO nosuch VALUES (7)",
        "GO",
        "--<V:",
        insert(8),
        "GO",
        "--</V:>",
    });
    // Block 1.3 is rolled back, so the run is not complete.
    EXPECT_FALSE(run(script));

    QByteArray expected = ovtest::UpdateFixture::readFixture(QStringLiteral("update/runner-log.txt"));
    expected.replace("{SERVER}", ov::cp936::encode(m_server));
    expected.replace("{SCRIPT}", ov::cp936::encode(script));
    EXPECT_EQ(logBytes(), expected) << logText().toStdString();
    EXPECT_EQ(rows(QStringLiteral("SELECT id FROM t ORDER BY id")),
              (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("4")}));

    // A second run appends below the first.
    ASSERT_TRUE(run(writeScript({})));
    EXPECT_TRUE(logBytes().startsWith(expected));
    EXPECT_GT(logBytes().size(), expected.size());
}

// The log as it stands at points of a run: work that is stored (a batch
// outside any transaction, or a block about to be committed) has its entries
// in the log already, so a process killed right after leaves its trail.
TEST_F(UpdateScriptTest, StoredWorkHasItsEntriesInTheLogAlready)
{
    makeVersionTable(QStringLiteral("1.0"));
    QList<QByteArray> seen;
    class ProbeStatus : public ovtest::RecordingStatus
    {
    public:
        explicit ProbeStatus(std::function<void()> probe) : m_probe(std::move(probe)) {}
        void setCaption(const QString& text) override
        {
            RecordingStatus::setCaption(text);
            if (text == QLatin1String("probe"))
                m_probe();
        }

    private:
        std::function<void()> m_probe;
    } status([&] { seen.append(logBytes()); });
    UpdateRunSteps steps;
    steps.hooks.blockEnding = [&](const QString&) {
        seen.append(logBytes());
        return true;
    };
    const QString script =
        writeScript({"--<SHOW ERR>", "CREATE TABLE t (id INT)", "GO", "--<V:1.1>", kBad, "GO", "--<REM>probe",
                     insert(1), "GO", "--</V:1.1>", "--<VT:1.2>", insert(2), "GO", "--</V:1.2>", "--<T:x>",
                     "INSERT INTO nosuch VALUES (3)", "GO", "--</T:x>", "--<REM>probe"});
    EXPECT_TRUE(RunUpdateScript(m_server, QStringLiteral("crm"), true, QStringLiteral("sa"), QString(),
                                script, status, m_progress, steps));
    const struct
    {
        const char* where;
        const char* entry;
    } expected[] = {
        {"after a failed batch of a block without a transaction", "INSERT INTO nosuch VALUES (0)"},
        {"at the end of block 1.1, before it is recorded", "SSSSS Ver:<1.1> Start"},
        {"at the end of block 1.2, before its commit", "SSSSS Ver:<1.2> Start And BEGIN"},
        {"after a transfer block was rolled back", "INSERT INTO nosuch VALUES (3)"},
    };
    ASSERT_EQ(seen.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i)
        EXPECT_TRUE(seen[int(i)].contains(expected[i].entry)) << expected[i].where;
    EXPECT_EQ(rows(QStringLiteral("SELECT id FROM t ORDER BY id")),
              (QStringList{QStringLiteral("1"), QStringLiteral("2")}));
}

TEST_F(UpdateScriptTest, AnEmptyScriptLogsTheHeaderAndSendsNothing)
{
    const QString script = writeScript({});
    ASSERT_TRUE(run(script));
    const QString rule(72, QLatin1Char('#'));
    EXPECT_EQ(logText(), QStringLiteral("\r\n\r\n\r\n\r\n"
                                        "\r\n%1\r\n"
                                        "03/07/2024 09:05:01\r\n\r\n"
                                        "Server:%2, DB:crm, Script File:%3\r\n\r\n"
                                        "%1\r\n\r\n")
                             .arg(rule, m_server, script));
    EXPECT_EQ(m_ui.pumps(), 1);
    EXPECT_TRUE(m_ui.messages().isEmpty());
}

TEST_F(UpdateScriptTest, StatusProgressAndEventsFollowTheLinesRead)
{
    const QStringList lines = {
        "--<REM>第一步", "CREATE TABLE t (id INT)", "GO", "--<REM>  second step  ", insert(1), "GO",
        "--<REM>"};
    const QString script = writeScript(lines);
    ASSERT_TRUE(run(script));

    EXPECT_EQ(m_status.history(),
              (QStringList{QStringLiteral("第一步"), QStringLiteral("  second step"), QString()}));
    EXPECT_EQ(m_progress.maximum(), int(QFileInfo(script).size()));
    QList<int> expected{0};
    int sum = 0;
    for (const QString& line : lines)
        expected.append(sum += int(line.size()));
    expected.append(0);
    EXPECT_EQ(m_progress.values(), expected);
    EXPECT_EQ(m_ui.pumps(), lines.size());
}

TEST_F(UpdateScriptTest, AUtf8ScriptWithAByteOrderMarkIsReadAsUtf8)
{
    makeVersionTable(QStringLiteral("1.0"));
    const QString path = m_dir.filePath(QStringLiteral("utf8.txt"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("\xEF\xBB\xBF--<REM>" + QStringLiteral("升级").toUtf8() + "\r\n--<V:1.1>\r\n--</V:1.1>\r\n");
    f.close();
    ASSERT_TRUE(run(path));
    EXPECT_EQ(m_status.history(), QStringList{QStringLiteral("升级")});
    EXPECT_EQ(rows(QStringLiteral("SELECT VaribleName FROM tblVarible WHERE [Module] = 'UpdateDB'")),
              QStringList{QStringLiteral("1.1")});
}

TEST_F(UpdateScriptTest, AMissingScriptIsReportedWithoutConnecting)
{
    const QString dir = m_dir.path();
    const QString missing = m_dir.filePath(QStringLiteral("nosuch.txt"));
    for (const QString& path : {QString(), QStringLiteral("   "), missing, dir}) {
        m_ui.clear();
        EXPECT_FALSE(RunUpdateScript(m_server, QStringLiteral("nosuchdb"), true, QString(), QString(), path,
                                     m_status, m_progress));
        ASSERT_EQ(m_ui.messages().size(), 1) << path.toStdString();
        EXPECT_EQ(m_ui.messages()[0].text, QStringLiteral("文件 %1 不存在！").arg(path));
        EXPECT_EQ(m_ui.messages()[0].style, ov::MsgStyle::Information);
    }
    EXPECT_FALSE(QFileInfo::exists(UpdateLogPath()));
}

TEST_F(UpdateScriptTest, ARefusedConnectionShowsTheErrorRecordOnce)
{
    const QString script = writeScript({insert(1), "GO"});
    EXPECT_FALSE(run(script, QStringLiteral("nosuchdb")));
    ASSERT_EQ(m_ui.messages().size(), 1);
    EXPECT_TRUE(m_ui.messages()[0].text.startsWith(QStringLiteral(
        "连接数据库失败！\r\n\r\n错误编号:4060\r\n错误描述:无法打开登录请求的数据库 nosuchdb，登录失败")))
        << m_ui.messages()[0].text.toStdString();
    EXPECT_EQ(m_ui.messages()[0].style, ov::MsgStyle::Information);
    EXPECT_EQ(mdlCommon::GetErrorText(false), QString()); // shown, so cleared
    EXPECT_FALSE(QFileInfo::exists(UpdateLogPath()));
}

TEST_F(UpdateScriptTest, ALogThatCannotBeWrittenDoesNotStopTheRun)
{
    exec(QStringLiteral("CREATE TABLE t (id INT)"));
    const QString script = writeScript({insert(1), "GO"});
    // The log's place is taken by a folder.
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("UpdateDBSqlLog.Txt")));
    EXPECT_TRUE(run(script));
    EXPECT_EQ(rows(QStringLiteral("SELECT id FROM t")), QStringList{QStringLiteral("1")});
    EXPECT_TRUE(m_ui.messages().isEmpty());
}

TEST_F(UpdateScriptTest, ThePlanTellsWhichBlocksWouldRunWithoutChangingAnything)
{
    makeVersionTable(QStringLiteral("9.0"));
    const QString script =
        writeScript({"--<V:9.0>", "DROP TABLE tblVarible", "GO", "--</V:9.0>", "--<VT:10.0>", "--<T:x>",
                     "--</T:x>", "--</V:10.0>", "--<V:10.1>", "--</V:10.1>"});
    auto cn = connect();
    QList<VersionBlockPlan> plan;
    ASSERT_TRUE(PlanUpdateScript(script, cn.get(), plan));
    ASSERT_EQ(plan.size(), 3);
    EXPECT_EQ(plan[0].name, QStringLiteral("9.0"));
    EXPECT_TRUE(plan[0].passOver);
    EXPECT_EQ(plan[1].name, QStringLiteral("10.0"));
    EXPECT_TRUE(plan[1].transactional);
    EXPECT_FALSE(plan[1].passOver);
    EXPECT_EQ(plan[2].name, QStringLiteral("10.1"));
    EXPECT_FALSE(plan[2].transactional);
    EXPECT_FALSE(plan[2].passOver);
    EXPECT_EQ(rows(QStringLiteral("SELECT COUNT(*) FROM tblVarible")), QStringList{QStringLiteral("1")});
    EXPECT_FALSE(PlanUpdateScript(m_dir.filePath(QStringLiteral("nosuch.txt")), cn.get(), plan));
}

} // namespace
