#include "data/odbc/MssqlStatements.h"

#include "data/Identifiers.h"

#include <QRegularExpression>
#include <QStringList>

namespace ov::mssql {

QString stringLiteral(const QString& text)
{
    QString t = text;
    t.replace(QLatin1String("'"), QLatin1String("''"));
    return QLatin1Char('\'') + t + QLatin1Char('\'');
}

QString unicodeLiteral(const QString& text)
{
    return QLatin1Char('N') + stringLiteral(text);
}

namespace {

// A database's name in brackets: the name inside a quoted identifier, as the
// backup and the restore name it, or the name as typed.
QString bracketDatabaseName(const QString& database)
{
    return bracketQuoted(unquotedName(database));
}

} // namespace

QString quotedDatabaseName(const QString& name)
{
    return isQuotedIdentifier(name) ? name : doubleQuoted(name);
}

QString backupStatement(const QString& database, const QString& pathFile, bool replace)
{
    return QStringLiteral("BackUp Database ") + quotedDatabaseName(database) + QStringLiteral(" to disk=") +
           unicodeLiteral(pathFile) + (replace ? QStringLiteral(" WITH INIT") : QString());
}

namespace {

QString moveClauses(const QList<QPair<QString, QString>>& moves)
{
    QString sql;
    for (const auto& move : moves)
        sql += QStringLiteral(",move ") + unicodeLiteral(move.first) + QStringLiteral(" to ") +
               unicodeLiteral(move.second);
    return sql;
}

QString fileClause(int backupSet)
{
    return QStringLiteral("FILE = ") + QString::number(backupSet);
}

} // namespace

QString restoreStatement(const QString& database, const QString& pathFile, int backupSet,
                         const QList<QPair<QString, QString>>& moves, bool replace)
{
    QString sql = QStringLiteral("RESTORE DATABASE ") + quotedDatabaseName(database) +
                  QStringLiteral(" FROM DISK = ") + unicodeLiteral(pathFile) +
                  QStringLiteral(" WITH RECOVERY");
    if (replace)
        sql += QStringLiteral(",REPLACE");
    return sql + moveClauses(moves) + QLatin1Char(',') + fileClause(backupSet);
}

QList<QString> restoreStatements(const QString& database, const QString& pathFile, int backupSet,
                                 const QList<QPair<QString, QString>>& moves, bool replace)
{
    // The server reads the whole backup set first; a damaged or cut-off one,
    // or a target that cannot take its file, is refused with its own message
    // before the database is touched.
    return {verifyStatement(pathFile, backupSet, moves),
            restoreStatement(database, pathFile, backupSet, moves, replace)};
}

QString verifyStatement(const QString& pathFile, int backupSet, const QList<QPair<QString, QString>>& moves)
{
    return QStringLiteral("RESTORE VERIFYONLY FROM DISK = ") + unicodeLiteral(pathFile) +
           QStringLiteral(" WITH ") + fileClause(backupSet) + moveClauses(moves);
}

QString fileListStatement(const QString& pathFile, int backupSet)
{
    return QStringLiteral("RESTORE FILELISTONLY FROM DISK = ") + unicodeLiteral(pathFile) +
           QStringLiteral(" WITH ") + fileClause(backupSet);
}

QString headerStatement(const QString& pathFile)
{
    return QStringLiteral("RESTORE HEADERONLY From DISK = ") + unicodeLiteral(pathFile);
}

bool isMissingBackupDevice(qint32 number, const QString& message, const QString& pathFile)
{
    if (number != 3201)
        return false;
    // The first message is the server's 3201, after the driver's "[…]"
    // prefixes: "Cannot open backup device 'PATH'. Operating system error
    // 2(The system cannot find the file specified.)." in the server's
    // language. The error number is the first number before a "(" after the
    // device name; the name is taken out first, so that a folder such as
    // "bak 2(old)" is never read as the error.
    QString line = message.section(QLatin1Char('\n'), 0, 0);
    if (!pathFile.isEmpty())
        line.remove(pathFile);
    const qsizetype lastQuote = line.lastIndexOf(QLatin1Char('\''));
    if (lastQuote >= 0)
        line = line.mid(lastQuote + 1);
    static const QRegularExpression osError(QStringLiteral("(\\d+)\\s*\\("));
    const QRegularExpressionMatch m = osError.match(line);
    if (!m.hasMatch())
        return false;
    const QString code = m.captured(1);
    return code == QLatin1String("2") || code == QLatin1String("3");
}

QString useStatement(const QString& database)
{
    return QStringLiteral("USE ") + bracketDatabaseName(database);
}

QString shellListingStatement(const QString& folder, bool foldersOnly)
{
    // The whole command is one Unicode string literal of the procedure call;
    // the folder inside it is enclosed in double quotes for the shell.
    const QString command = QStringLiteral("dir \"") + folder +
                            (foldersOnly ? QStringLiteral("\" /ON /ad /B") : QStringLiteral("\" /OGN /A /B"));
    return QStringLiteral("master.dbo.xp_cmdshell ") + unicodeLiteral(command);
}

QString dirTreeStatement(const QString& folder)
{
    return QStringLiteral("EXEC master.sys.xp_dirtree ") + unicodeLiteral(folder) + QStringLiteral(", 1, 1");
}

bool isShellSafeFolder(const QString& folder)
{
    // Inside double quotes the shell reads & | < > ^ as plain characters; a
    // quote would end them, % expands a variable even there, and a line
    // break (or any other control character) ends the command.
    for (QChar c : folder) {
        if (c == QLatin1Char('"') || c == QLatin1Char('%') || c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    }
    return true;
}

bool isShellNoise(const QString& line)
{
    static const QStringList noise = {
        QStringLiteral("File Not Found"),
        QStringLiteral("The system cannot find the file specified."),
        QStringLiteral("The system cannot find the path specified."),
        QStringLiteral("Access is denied."),
        QStringLiteral("The network path was not found."),
        QStringLiteral("The device is not ready."),
        QStringLiteral("The filename, directory name, or volume label syntax is incorrect."),
        QStringLiteral("找不到文件"),
        QStringLiteral("系统找不到指定的文件。"),
        QStringLiteral("系统找不到指定的路径。"),
        QStringLiteral("拒绝访问。"),
        QStringLiteral("找不到网络路径。"),
        QStringLiteral("设备未就绪。"),
        QStringLiteral("文件名、目录名或卷标语法不正确。"),
    };
    const QString t = line.trimmed();
    if (t.isEmpty())
        return true;
    for (const QString& n : noise) {
        if (t.compare(n, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString createDatabaseStatement(const QString& database)
{
    return QStringLiteral("CREATE DATABASE ") + bracketDatabaseName(database);
}

QList<QString> databaseOptionStatements(const QString& database)
{
    // The two options that a new product database gets:
    // - the simple recovery model: bulk loads are minimally logged and the log
    //   is truncated at checkpoints, so loading the data sets and running the
    //   update scripts does not fill the transaction log;
    // - auto-close off: the create procedure, the import and the update runner
    //   connect one after the other, and a database that closes after each
    //   connection (the default of the Express editions) makes every one of
    //   them wait for it to open again.
    const QString name = bracketDatabaseName(database);
    return {QStringLiteral("ALTER DATABASE %1 SET RECOVERY SIMPLE").arg(name),
            QStringLiteral("ALTER DATABASE %1 SET AUTO_CLOSE OFF").arg(name)};
}

QList<QString> createDatabaseStatements(const QString& database)
{
    return QList<QString>{createDatabaseStatement(database)} + databaseOptionStatements(database);
}

QString dropDatabaseStatement(const QString& database)
{
    return QStringLiteral("DROP DATABASE ") + bracketDatabaseName(database);
}

QString taskLockResource(const QString& database)
{
    // The database the statements name: a name the user typed as one quoted
    // identifier names the database inside the quotes.
    return QStringLiteral("OrvaneSqlUpdateDB:") + unquotedName(database.trimmed()).toCaseFolded();
}

QString taskLockStatement(const QString& database)
{
    return QStringLiteral("SET NOCOUNT ON; DECLARE @result int; EXEC @result = sp_getapplock @Resource = ") +
           unicodeLiteral(taskLockResource(database)) +
           QStringLiteral(", @LockMode = 'Exclusive', @LockOwner = 'Session', @LockTimeout = 0; "
                          "SELECT @result AS result");
}

QString taskUnlockStatement(const QString& database)
{
    return QStringLiteral("EXEC sp_releaseapplock @Resource = ") +
           unicodeLiteral(taskLockResource(database)) + QStringLiteral(", @LockOwner = 'Session'");
}

QString beginTransactionStatement()
{
    return QStringLiteral("BEGIN TRANSACTION");
}

QString commitTransactionStatement()
{
    return QStringLiteral("COMMIT TRANSACTION");
}

QString rollbackTransactionStatement()
{
    return QStringLiteral("ROLLBACK TRANSACTION");
}

QString listDatabasesStatement()
{
    return QStringLiteral("SELECT name FROM master.sys.databases ORDER BY database_id");
}

QString pathSeparatorStatement()
{
    return QStringLiteral("SELECT SERVERPROPERTY('PathSeparator')");
}

QString columnsCatalogStatement()
{
    return QStringLiteral("SELECT c.TABLE_NAME, c.COLUMN_NAME, c.DATA_TYPE, c.CHARACTER_MAXIMUM_LENGTH, "
                          "c.NUMERIC_PRECISION, c.NUMERIC_SCALE, c.IS_NULLABLE "
                          "FROM INFORMATION_SCHEMA.COLUMNS AS c JOIN INFORMATION_SCHEMA.TABLES AS t "
                          "ON t.TABLE_SCHEMA = c.TABLE_SCHEMA AND t.TABLE_NAME = c.TABLE_NAME "
                          "WHERE t.TABLE_TYPE = 'BASE TABLE' AND c.TABLE_SCHEMA = SCHEMA_NAME() "
                          "ORDER BY c.TABLE_NAME, c.ORDINAL_POSITION");
}

} // namespace ov::mssql
