#include "data/odbc/MssqlAdmin.h"

#include "common/Clock.h"
#include "common/Cp936.h"
#include "data/Connection.h"
#include "data/ConnectionString.h"
#include "data/FieldValue.h"
#include "data/Identifiers.h"
#include "data/Recordset.h"
#include "data/odbc/MssqlBulkCopy.h"
#include "data/odbc/MssqlStatements.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <algorithm>
#include <cstring>
#include <vector>

namespace ov {

namespace {

QString textOf(const QVariant& v)
{
    return v.isValid() ? v.toString() : QString();
}

void sortByName(QList<FolderEntry>& entries)
{
    std::stable_sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
}

qint64 countRows(const QString& dataFile)
{
    QFile f(dataFile);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    qint64 rows = 0;
    char last = '\n';
    while (!f.atEnd()) {
        const QByteArray chunk = f.read(1 << 20);
        rows += chunk.count('\n');
        if (!chunk.isEmpty())
            last = chunk.back();
    }
    return rows + (last != '\n' ? 1 : 0);
}

// The lines of a data file that fit the columns, for the bulk copy: DB-Library
// reads fields loosely (a date that does not exist becomes another day), so
// each field is checked as the embedded engine's loader checks it
// (FieldTextCheck). A line that does not fit goes to rejects with its reason,
// in the loader's form; the others go to kept, after the byte-order mark when
// the file has one. False when a file cannot be read or written.
bool checkDataFile(const QString& dataFile, const QVector<ColumnInfo>& columns, QFile& kept, QFile& rejects)
{
    QFile in(dataFile);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray all = in.readAll();
    if (in.error() != QFileDevice::NoError)
        return false;
    const char* p = all.constData();
    const char* const end = p + all.size();
    const bool utf8 = all.size() >= 3 && cp936::hasUtf8Bom(all.left(3));
    if (utf8) {
        kept.write(p, 3);
        p += 3;
    }
    std::vector<FieldTextCheck> checks;
    for (const ColumnInfo& column : columns)
        checks.emplace_back(column, utf8);
    const int count = int(columns.size());
    qint64 row = 0;
    DataError fieldError;
    const char* line = nullptr;
    qsizetype length = 0;
    while (nextDataLine(p, end, line, length)) {
        ++row;
        QString reason;
        int fields = 0;
        for (const char* f = line;; ++fields) {
            const char* tab = static_cast<const char*>(std::memchr(f, '\t', size_t(line + length - f)));
            const char* fieldEnd = tab ? tab : line + length;
            if (fields < count && reason.isEmpty() &&
                !checks[size_t(fields)].check(f, fieldEnd - f, fieldError))
                reason = fieldError.description;
            if (!tab) {
                ++fields;
                break;
            }
            f = tab + 1;
        }
        if (fields != count)
            reason = QStringLiteral("the row has %1 fields, the table has %2 columns").arg(fields).arg(count);
        if (reason.isEmpty()) {
            kept.write(line, length);
            kept.write("\r\n", 2);
        } else {
            rejects.write(cp936::encode(QStringLiteral("#@ Row %1: %2 @#\r\n").arg(row).arg(reason)));
            rejects.write(line, length);
            rejects.write("\r\n", 2);
        }
    }
    return kept.flush() && rejects.flush() && kept.error() == QFileDevice::NoError &&
           rejects.error() == QFileDevice::NoError;
}

// A task's hold on a database: an application lock owned by the session of
// a connection to master that is kept for nothing else. Closing the
// connection, or the end of the process, gives it back too.
class SessionLock : public DatabaseLock
{
public:
    SessionLock(std::unique_ptr<Connection> cn, QString database)
        : m_cn(std::move(cn)), m_database(std::move(database))
    {}
    ~SessionLock() override
    {
        m_cn->Execute(mssql::taskUnlockStatement(m_database));
        m_cn->Close();
    }

private:
    std::unique_ptr<Connection> m_cn;
    QString m_database;
};

} // namespace

MssqlAdmin::MssqlAdmin(Server server) : m_server(std::move(server)) {}

bool MssqlAdmin::openOn(Connection& cn, const QString& database)
{
    // Creating a database, a backup or a restore can take long; no limit
    // unless the caller set one. The login waits 30 seconds, as the server
    // management component does.
    if (m_server.open(cn, database.isEmpty() ? QStringLiteral("master") : database, m_commandTimeout, 30))
        return true;
    return fail(cn.lastError());
}

bool MssqlAdmin::run(Connection& cn, const QString& statement)
{
    return cn.Execute(statement) || fail(cn.lastError());
}

QString MssqlAdmin::lockKey(const QString& database) const
{
    return m_server.settings().server.trimmed().toCaseFolded() + QLatin1Char('\n') +
           mssql::taskLockResource(database);
}

std::unique_ptr<DatabaseLock> MssqlAdmin::takeLock(const QString& database)
{
    // On master, so that every task on the database meets the same lock
    // whichever database its own connections use.
    auto cn = std::make_unique<Connection>();
    if (!openMaster(*cn))
        return nullptr;
    Recordset rs;
    if (!rs.Open(mssql::taskLockStatement(database), *cn)) {
        fail(rs.lastError());
        return nullptr;
    }
    // Only a whole number the server returned grants the lock: no row, NULL,
    // text, a fraction, or a batch that goes on to fail counts as
    // sp_getapplock's "other error" (-999). A lock the session got in a
    // batch that failed is given back with the connection.
    int result = -999;
    if (!rs.Eof()) {
        const QVariant value = rs.Fields(0).Value();
        const int type = value.isValid() && !value.isNull() ? value.typeId() : QMetaType::UnknownType;
        bool isNumber = false;
        const int number = type == QMetaType::Int || type == QMetaType::Short || type == QMetaType::UChar ||
                                   type == QMetaType::SChar || type == QMetaType::LongLong
                               ? value.toInt(&isNumber)
                               : 0;
        if (isNumber)
            result = number;
        while (!rs.Eof() && rs.MoveNext()) {
        }
        if (rs.lastError().isSet())
            result = -999;
    }
    rs.Close();
    if (result >= 0)
        return std::make_unique<SessionLock>(std::move(cn), database);
    if (result == -1)
        fail(DataErr::LockTimeout,
             QStringLiteral("Database '%1' is taken by another task (an update, a creation or a restore).")
                 .arg(database.trimmed()),
             QStringLiteral("Microsoft OLE DB Provider for SQL Server"));
    else
        fail(DataErr::ProviderFailure,
             QStringLiteral("sp_getapplock refused the lock on database '%1' (result %2).")
                 .arg(database.trimmed())
                 .arg(result),
             QStringLiteral("Microsoft OLE DB Provider for SQL Server"));
    return nullptr;
}

bool MssqlAdmin::probe()
{
    m_error.clear();
    Connection cn;
    return openMaster(cn);
}

bool MssqlAdmin::listDatabases(QStringList& names)
{
    m_error.clear();
    names.clear();
    Connection cn;
    if (!openMaster(cn))
        return false;
    Recordset rs;
    if (!rs.Open(mssql::listDatabasesStatement(), cn))
        return fail(rs.lastError());
    for (; !rs.Eof(); rs.MoveNext())
        names.append(textOf(rs.Fields(0).Value()));
    return !rs.lastError().isSet() || fail(rs.lastError());
}

bool MssqlAdmin::createDatabase(const QString& name)
{
    m_error.clear();
    Connection cn;
    if (!openMaster(cn))
        return false;
    for (const QString& statement : mssql::createDatabaseStatements(name)) {
        if (!run(cn, statement))
            return false;
    }
    return true;
}

bool MssqlAdmin::dropDatabase(const QString& name)
{
    m_error.clear();
    Connection cn;
    return openMaster(cn) && run(cn, mssql::dropDatabaseStatement(name));
}

bool MssqlAdmin::checkedBulkCopy(const QString& database, const QString& table, const QString& dataFile,
                                 const QString& errorFile, qint64& copied, QStringList& messages)
{
    // The table's columns as the server describes them to the bulk copy.
    Connection cn;
    if (!m_server.open(cn, database, 0, 30))
        return fail(cn.lastError());
    QVector<ColumnInfo> columns;
    {
        Recordset rs;
        if (!rs.Open(
                QStringLiteral("SET FMTONLY ON select * from %1 SET FMTONLY OFF").arg(bracketQuoted(table)),
                cn))
            return fail(rs.lastError());
        columns = rs.columns();
    }
    cn.Close();
    if (columns.isEmpty())
        return fail(208, QStringLiteral("Invalid object name '%1'.").arg(table),
                    QStringLiteral("SQL Server"));

    QFile rejects(errorFile);
    QTemporaryFile kept(QDir::tempPath() + QStringLiteral("/ovbcp-XXXXXX.dat"));
    QTemporaryFile serverRejects(QDir::tempPath() + QStringLiteral("/ovbcp-XXXXXX.err"));
    if (!rejects.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(4861, QStringLiteral("无法写入错误文件 %1：%2").arg(errorFile, rejects.errorString()),
                    QStringLiteral("Orvane"));
    if (!kept.open() || !serverRejects.open() || !checkDataFile(dataFile, columns, kept, rejects)) {
        if (!QFile::exists(dataFile))
            return fail(
                4860,
                QStringLiteral("Cannot bulk load. The file \"%1\" does not exist or you don't have file "
                               "access rights.")
                    .arg(dataFile),
                QStringLiteral("DB-Library"));
        return fail(4861, QStringLiteral("无法写入错误文件 %1：%2").arg(errorFile, rejects.errorString()),
                    QStringLiteral("Orvane"));
    }
    kept.close();
    serverRejects.close();
    ConnectionSettings settings = m_server.settings();
    settings.database = database;
    if (!mssql::bulkCopyIn(settings, table, kept.fileName(), serverRejects.fileName(), copied, messages,
                           m_error))
        return false;
    // The rows the server refused follow those refused here; a rejected row
    // that did not reach the error file would be lost without a trace, so the
    // load fails instead.
    QFile fromServer(serverRejects.fileName());
    if (fromServer.open(QIODevice::ReadOnly))
        rejects.write(fromServer.readAll());
    if (!rejects.flush() || rejects.error() != QFileDevice::NoError) {
        copied = 0;
        return fail(4861, QStringLiteral("无法写入错误文件 %1：%2").arg(errorFile, rejects.errorString()),
                    QStringLiteral("Orvane"));
    }
    return true;
}

bool MssqlAdmin::bulkLoad(const QString& database, const QString& table, const QString& dataFile,
                          const QString& logFile, const QString& errorFile, BulkLoadResult* result)
{
    m_error.clear();
    const QString started = Clock::now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    qint64 copied = 0;
    QStringList messages;
    const bool ok = checkedBulkCopy(database, table, dataFile, errorFile, copied, messages);
    const qint64 rows = countRows(dataFile);
    const qint64 rejected = ok ? qMax<qint64>(0, rows - copied) : 0;
    if (result)
        *result = {ok ? copied : 0, rejected};

    QStringList log;
    log << QStringLiteral("Bulk load of \"%1\" into table \"%2\" of database \"%3\"")
               .arg(dataFile, table, database);
    log << QStringLiteral("Started: %1").arg(started);
    for (const QString& m : messages)
        log << m;
    if (ok) {
        log << QStringLiteral("%1 rows read, %2 rows copied, %3 rows rejected.")
                   .arg(rows)
                   .arg(copied)
                   .arg(rejected);
        if (rejected > 0)
            log << QStringLiteral("Rejected rows are in \"%1\".").arg(errorFile);
    } else {
        log << QStringLiteral("Failed: %1").arg(m_error.description);
    }
    log << QStringLiteral("Finished: %1").arg(Clock::now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    QFile out(logFile);
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        out.write(cp936::encode(log.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")));
    return ok;
}

bool MssqlAdmin::backupDatabase(const QString& database, const QString& pathFile, bool replace)
{
    m_error.clear();
    // On the database itself, by the name the statement denotes: a database
    // the server does not have fails at the login, before anything is sent.
    Connection cn;
    if (!openOn(cn, unquotedName(database)))
        return false;
    // Without INIT the server adds the backup to the sets of an existing
    // file, where a restore that names no set never finds it. So a backup
    // that is not to replace the file goes only into a file that is not
    // there; when the server cannot say, nothing is sent.
    if (!replace) {
        bool exists = false;
        if (!fileExists(cn, pathFile, exists)) {
            const DataError refused = m_error;
            return fail(refused.number,
                        QStringLiteral("无法确认备份文件 %1 是否已存在，为免把备份追加到已有的备份文件中，"
                                       "没有进行备份。服务器的回答：%2")
                            .arg(pathFile, refused.description),
                        refused.source);
        }
        if (exists)
            return fail(3201,
                        QStringLiteral("备份文件 %1 已存在。只有要求替换时才会替换已有的文件，否则备份会被"
                                       "追加到其中，因此没有进行备份。")
                            .arg(pathFile),
                        QStringLiteral("Orvane"));
    }
    return run(cn, mssql::backupStatement(database, pathFile, replace));
}

bool MssqlAdmin::backupFileExists(const QString& pathFile, bool& exists)
{
    m_error.clear();
    exists = false;
    Connection cn;
    return openMaster(cn) && fileExists(cn, pathFile, exists);
}

bool MssqlAdmin::fileExists(Connection& cn, const QString& pathFile, bool& exists)
{
    exists = false;
    // RESTORE HEADERONLY opens the file as a backup would: an answer, even
    // one without a row, means the file is there; "Cannot open backup
    // device" for a file or folder that is not found means it is not. It is
    // SQL Server's documented statement for the question (xp_fileexist is
    // undocumented and answers "no file" for a login it cannot impersonate).
    Recordset rs;
    if (rs.Open(mssql::headerStatement(pathFile), cn)) {
        exists = true;
        return true;
    }
    const DataError& error = rs.lastError();
    if (mssql::isMissingBackupDevice(error.number, error.description, pathFile))
        return true;
    return fail(error);
}

bool MssqlAdmin::requireBackupSet(int backupSet)
{
    if (backupSet >= 1)
        return true;
    return fail(DataErr::InvalidArgument,
                QStringLiteral("Backup set %1 does not exist; the sets of a backup file are numbered from 1.")
                    .arg(backupSet),
                QStringLiteral("Orvane data access"));
}

bool MssqlAdmin::readBackupFileList(const QString& pathFile, QList<BackupFileInfo>& files, int backupSet)
{
    m_error.clear();
    files.clear();
    Connection cn;
    if (!requireBackupSet(backupSet) || !openMaster(cn))
        return false;
    Recordset rs;
    if (!rs.Open(mssql::fileListStatement(pathFile, backupSet), cn))
        return fail(rs.lastError());
    for (; !rs.Eof(); rs.MoveNext()) {
        files.append({textOf(rs.Fields(QStringLiteral("LogicalName")).Value()),
                      textOf(rs.Fields(QStringLiteral("PhysicalName")).Value()),
                      textOf(rs.Fields(QStringLiteral("Type")).Value())});
    }
    return !rs.lastError().isSet() || fail(rs.lastError());
}

bool MssqlAdmin::readBackupHeader(const QString& pathFile, BackupHeader& header)
{
    header = BackupHeader();
    QList<BackupHeader> sets;
    if (!readBackupSets(pathFile, sets))
        return false;
    if (!sets.isEmpty())
        header = sets.first();
    return true;
}

bool MssqlAdmin::readBackupSets(const QString& pathFile, QList<BackupHeader>& sets)
{
    m_error.clear();
    sets.clear();
    Connection cn;
    if (!openMaster(cn))
        return false;
    Recordset rs;
    if (!rs.Open(mssql::headerStatement(pathFile), cn))
        return fail(rs.lastError());
    for (; !rs.Eof(); rs.MoveNext()) {
        BackupHeader h;
        h.databaseName = textOf(rs.Fields(QStringLiteral("DatabaseName")).Value());
        h.backupStartDate = rs.Fields(QStringLiteral("BackupStartDate")).Value().toDateTime();
        h.backupFinishDate = rs.Fields(QStringLiteral("BackupFinishDate")).Value().toDateTime();
        // A set written by another program has no number of ours to use.
        const QVariant position = rs.Fields(QStringLiteral("Position")).Value();
        h.position = position.isValid() ? position.toInt() : 0;
        const QVariant type = rs.Fields(QStringLiteral("BackupType")).Value();
        h.backupType = type.isValid() ? type.toInt() : 0;
        sets.append(h);
    }
    return !rs.lastError().isSet() || fail(rs.lastError());
}

bool MssqlAdmin::restoreDatabase(const QString& database, const QString& pathFile,
                                 const QList<QPair<QString, QString>>& moves, bool replace, int backupSet)
{
    m_error.clear();
    // On master, which holds no product database, so that nothing of this
    // connection holds the database being restored.
    Connection cn;
    if (!requireBackupSet(backupSet) || !openMaster(cn))
        return false;
    for (const QString& statement : mssql::restoreStatements(database, pathFile, backupSet, moves, replace)) {
        if (!run(cn, statement))
            return false;
    }
    return true;
}

bool MssqlAdmin::listFolder(Connection& cn, const QString& folder, QList<FolderEntry>& entries)
{
    m_error.clear();
    entries.clear();
    if (!requireEngine(cn, engine()))
        return false;

    // xp_dirtree needs no shell and is there where xp_cmdshell is switched
    // off (the server's default).
    {
        Recordset rs;
        if (rs.Open(mssql::dirTreeStatement(folder), cn)) {
            QList<FolderEntry> folders;
            QList<FolderEntry> files;
            for (; !rs.Eof(); rs.MoveNext()) {
                const QVariant name = rs.Fields(0).Value();
                if (!name.isValid() || name.toString().isEmpty())
                    continue;
                const bool isFile = rs.Fields(QStringLiteral("file")).Value().toInt() == 1;
                (isFile ? files : folders).append({name.toString(), !isFile});
            }
            if (!rs.lastError().isSet()) {
                sortByName(folders);
                sortByName(files);
                entries = folders + files;
                return true;
            }
        }
    }

    // The command shell's listing: every entry (folders first), then the
    // folders alone to tell them apart. Lines that are messages, not names,
    // are left out. Nothing the user typed reaches the shell as a command: a
    // folder that holds one of its command characters is not sent.
    if (!mssql::isShellSafeFolder(folder))
        return fail(
            DataErr::InvalidArgument,
            QStringLiteral("The folder '%1' holds a character that the server's command shell would read as "
                           "part of a command (\" % or a line break); it is not listed.")
                .arg(folder),
            QStringLiteral("Orvane data access"));
    QStringList names;
    QStringList folderNames;
    for (const bool foldersOnly : {false, true}) {
        Recordset rs;
        if (!rs.Open(mssql::shellListingStatement(folder, foldersOnly), cn))
            return fail(rs.lastError());
        for (; !rs.Eof(); rs.MoveNext()) {
            const QVariant line = rs.Fields(0).Value();
            if (!line.isValid() || mssql::isShellNoise(line.toString()))
                continue;
            (foldersOnly ? folderNames : names).append(line.toString());
        }
        if (rs.lastError().isSet())
            return fail(rs.lastError());
    }
    for (const QString& name : names)
        entries.append({name, folderNames.contains(name, Qt::CaseInsensitive)});
    return true;
}

PathStyle MssqlAdmin::pathStyle(Connection& cn)
{
    m_error.clear();
    if (!requireEngine(cn, engine()))
        return PathStyle::Windows;
    Recordset rs;
    if (!rs.Open(mssql::pathSeparatorStatement(), cn) || rs.Eof())
        return PathStyle::Windows;
    return textOf(rs.Fields(0).Value()) == QLatin1String("/") ? PathStyle::Posix : PathStyle::Windows;
}

} // namespace ov
