// The statement transcript of a dry run: the runner of a real run on a
// connection that writes down what it would change, on the embedded engine.

#include "UpdateFixture.h"

#include "data/StatementTranscript.h"
#include "update/UpdateScript.h"

#include <sys/stat.h>

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class UpdateTranscript : public ovtest::UpdateFixture
{};

TEST_F(UpdateTranscript, ListsEveryStatementInOrderAndChangesNothing)
{
    makeVersionTable(QStringLiteral("2.0"));
    const QString script = writeScript({
        QStringLiteral("--<V:1.9>"),
        QStringLiteral("CREATE TABLE tOld (a INT)"),
        QStringLiteral("GO"),
        QStringLiteral("--</V:1.9>"),
        QStringLiteral("--<VT:2.1>"),
        QStringLiteral("--<REM>添加联系人表"),
        QStringLiteral("CREATE TABLE tContact (ID INT, Name NVARCHAR(50))"),
        QStringLiteral("GO"),
        QStringLiteral("INSERT INTO tContact VALUES (1, '张三')"),
        QStringLiteral("   "),
        QStringLiteral("INSERT INTO tContact VALUES (2, 'O''Brien')"),
        QStringLiteral("go"),
        QStringLiteral("--</V:2.1>"),
        QStringLiteral("--<V:2.2>"),
        QStringLiteral("--<T:Move>"),
        QStringLiteral("UPDATE tContact SET Name = Name"),
        QStringLiteral("GO"),
        QStringLiteral("--</T:Move>"),
        QStringLiteral("-- a comment, never sent"),
        QStringLiteral("DELETE FROM tContact WHERE ID = 2"),
        QStringLiteral("GO"),
        QStringLiteral("--</V:2.2>"),
        QStringLiteral("SELECT 1 -- after the last GO: never sent"),
    });
    const QByteArray before = fileBytes(m_dir.filePath(QStringLiteral("data/crm.sqlite")));

    ov::StatementTranscript transcript;
    ASSERT_TRUE(mdlOVSqlUpdateDB::TranscribeUpdateScript(m_server, QStringLiteral("crm"), true, QString(),
                                                         QString(), script, transcript));

    const QString version = QStringLiteral("SELECT * FROM tblVarible WHERE [Module] ='DB' AND VaribleName = "
                                           "'Version'\r\nGO\r\n");
    const auto record = [](const char* v) {
        return QStringLiteral(
                   "DELETE FROM tblVarible WHERE [Module] = 'UpdateDB' AND [VaribleName] = '%1'\r\n"
                   "GO\r\n"
                   "INSERT INTO tblVarible ([Module] , [VaribleName] , [VaribleValue] , [UserID]) "
                   "VALUES ('UpdateDB' , '%1', '03/07/2024 09:05:01' , '1')\r\nGO\r\n")
            .arg(QLatin1String(v));
    };
    EXPECT_EQ(transcript.text(),
              version + version + QStringLiteral("BEGIN TRANSACTION\r\nGO\r\n") +
                  QStringLiteral("CREATE TABLE tContact (ID INT, Name NVARCHAR(50))\r\nGO\r\n"
                                 "INSERT INTO tContact VALUES (1, '张三')\r\n"
                                 "INSERT INTO tContact VALUES (2, 'O''Brien')\r\nGO\r\n") +
                  record("2.1") + QStringLiteral("COMMIT TRANSACTION\r\nGO\r\n") + version +
                  QStringLiteral("BEGIN TRANSACTION\r\nGO\r\n"
                                 "UPDATE tContact SET Name = Name\r\nGO\r\n"
                                 "COMMIT TRANSACTION\r\nGO\r\n"
                                 "DELETE FROM tContact WHERE ID = 2\r\nGO\r\n") +
                  record("2.2"));

    // Nothing was sent that changes the database, and no run was logged.
    EXPECT_EQ(fileBytes(m_dir.filePath(QStringLiteral("data/crm.sqlite"))), before);
    EXPECT_TRUE(logBytes().isEmpty());
    EXPECT_TRUE(m_ui.messages().isEmpty());
}

TEST_F(UpdateTranscript, WritesANewFileOnlyAndWhole)
{
    ov::StatementTranscript transcript;
    transcript.addComment(QStringLiteral("two\nlines"));
    transcript.addBatch(QStringLiteral("SELECT N'数据'\r\n"));
    const QString path = m_dir.filePath(QStringLiteral("out.sql"));
    QString error;
    ASSERT_TRUE(transcript.writeNew(path, &error)) << error.toStdString();
    EXPECT_EQ(fileBytes(path), QByteArray("\xEF\xBB\xBF-- two\r\n-- lines\r\nSELECT N'") +
                                   QStringLiteral("数据").toUtf8() + QByteArray("'\r\nGO\r\n"));

    // Readable as any new file of the process is, not for its owner alone.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st = {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);

    // An existing file, or a link in its place, stays as it was.
    ov::StatementTranscript other;
    other.addBatch(QStringLiteral("DROP TABLE t"));
    EXPECT_FALSE(other.writeNew(path, &error));
    EXPECT_TRUE(error.contains(QLatin1String("exists")));
    EXPECT_TRUE(fileBytes(path).endsWith("GO\r\n"));
    const QString link = m_dir.filePath(QStringLiteral("dangling.sql"));
    ASSERT_TRUE(QFile::link(m_dir.filePath(QStringLiteral("nowhere.sql")), link));
    EXPECT_FALSE(other.writeNew(link, &error));
    EXPECT_FALSE(QFile::exists(m_dir.filePath(QStringLiteral("nowhere.sql"))));
    // No part file is left behind.
    EXPECT_EQ(QDir(m_dir.path()).entryList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden),
              QStringList());
}

// A query window ends a batch at a line whose first word is GO (and runs
// it n times at "GO n"): a batch holding such a line, in a name, a path or a
// script's "GO 5", would be cut there and run otherwise than the tool runs
// it, so no transcript of it is written. Line ends inside a batch stay as
// they are, so a name keeps its exact characters.
TEST_F(UpdateTranscript, BatchesAQueryWindowWouldCutAreRefused)
{
    const struct
    {
        const char* batch;
        bool written;
    } cases[] = {
        {"CREATE DATABASE [a\r\nGO\r\nDROP DATABASE x]", false},
        {"CREATE DATABASE [a\nGO\nb]", false},
        {"CREATE DATABASE [a\rgo\rb]", false},
        {"SELECT 1\r\n\tGo 5\r\n", false},
        {"SELECT 1\r\nGO -- done", false},
        {"SELECT 1\r\n  GO", false},
        {"SELECT 'GO'\r\nGOTO x\r\nGO;\r\nGOOD", true},
        {"CREATE DATABASE [a\nb]", true},
    };
    int n = 0;
    for (const auto& c : cases) {
        ov::StatementTranscript transcript;
        transcript.addBatch(QString::fromUtf8(c.batch));
        const QString path = m_dir.filePath(QStringLiteral("t%1.sql").arg(++n));
        QString error;
        EXPECT_EQ(transcript.writeNew(path, &error), c.written) << c.batch;
        EXPECT_EQ(QFile::exists(path), c.written) << c.batch;
        if (c.written)
            EXPECT_EQ(fileBytes(path), QByteArray("\xEF\xBB\xBF") + QByteArray(c.batch) + "\r\nGO\r\n");
        else
            EXPECT_TRUE(error.contains(QLatin1String("GO"))) << error.toStdString();
    }
}

} // namespace
