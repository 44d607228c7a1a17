#include "data/odbc/MssqlBulkCopy.h"

#include "common/Cp936.h"
#include "data/Connection.h"
#include "data/ConnectionString.h"
#include "data/DataBackend.h"
#include "data/Identifiers.h"
#include "data/odbc/DbLibrary.h"
#include "data/odbc/MssqlStatements.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <sybfront.h>
// sybfront.h first, as DB-Library wants.
#include <sybdb.h>

namespace ov::mssql {

namespace {

// Where the DB-Library callbacks put what they are told; set for the
// duration of one copy (the program runs one at a time, on one thread).
struct Sink
{
    DataError* error = nullptr;
    QStringList* messages = nullptr;
    // The session's client character set: every text sent is encoded in it
    // and every message received decoded in it.
    bool utf8 = false;
};
Sink* g_sink = nullptr;

QByteArray encode(const QString& s)
{
    return g_sink && g_sink->utf8 ? s.toUtf8() : cp936::encode(s);
}

QString text(const char* s)
{
    if (!s)
        return QString();
    const QByteArray bytes(s);
    return (g_sink && g_sink->utf8 ? QString::fromUtf8(bytes) : cp936::decode(bytes)).trimmed();
}

int errorHandler(DBPROCESS*, int, int dberr, int oserr, char* dberrstr, char* oserrstr)
{
    if (g_sink) {
        QString message = text(dberrstr);
        if (oserr != DBNOERR && oserrstr)
            message += QStringLiteral(" (%1)").arg(text(oserrstr));
        if (!g_sink->error->isSet())
            setDataError(*g_sink->error, dberr, message, QStringLiteral("DB-Library"));
        g_sink->messages->append(message);
    }
    return INT_CANCEL;
}

int messageHandler(DBPROCESS*, DBINT msgno, int, int severity, char* msgtext, char*, char*, int)
{
    if (g_sink) {
        const QString message = text(msgtext);
        // Severity 10 and below are information ("Changed database context").
        if (severity > 10 && !g_sink->error->isSet())
            setDataError(*g_sink->error, msgno, message, QStringLiteral("SQL Server"));
        g_sink->messages->append(message);
    }
    return 0;
}

class SinkScope
{
public:
    SinkScope(DataError& error, QStringList& messages)
    {
        m_sink.error = &error;
        m_sink.messages = &messages;
        g_sink = &m_sink;
    }
    ~SinkScope() { g_sink = nullptr; }
    void setUtf8(bool utf8) { m_sink.utf8 = utf8; }
    SinkScope(const SinkScope&) = delete;
    SinkScope& operator=(const SinkScope&) = delete;

private:
    Sink m_sink;
};

bool initLibrary(DataError& error)
{
    QString unloaded;
    if (!loadDbLibrary(unloaded)) {
        setDataError(error, DataErr::ProviderFailure, unloaded, QStringLiteral("DB-Library"));
        return false;
    }
    static const bool ok = [] {
        if (dbinit() == FAIL)
            return false;
        dberrhandle(errorHandler);
        dbmsghandle(messageHandler);
        return true;
    }();
    if (!ok)
        setDataError(error, DataErr::ProviderFailure, QStringLiteral("DB-Library cannot be initialised."),
                     QStringLiteral("DB-Library"));
    return ok;
}

// The number of columns of table in the current database; 0 when there is no
// such table.
int columnCount(DBPROCESS* dbproc, const QString& table)
{
    const QString sql = QStringLiteral("SELECT COUNT(*) FROM sys.columns WHERE object_id = OBJECT_ID(%1)")
                            .arg(unicodeLiteral(bracketQuoted(table)));
    if (dbcmd(dbproc, encode(sql).constData()) == FAIL || dbsqlexec(dbproc) == FAIL)
        return -1;
    DBINT count = 0;
    RETCODE rc;
    while ((rc = dbresults(dbproc)) != NO_MORE_RESULTS) {
        if (rc == FAIL)
            return -1;
        dbbind(dbproc, 1, INTBIND, 0, reinterpret_cast<BYTE*>(&count));
        while (dbnextrow(dbproc) != NO_MORE_ROWS) {
        }
    }
    return int(count);
}

// Makes database the current database of the session.
bool useDatabase(DBPROCESS* dbproc, const QString& database)
{
    const QByteArray sql = encode(useStatement(database));
    if (dbcmd(dbproc, sql.constData()) == FAIL || dbsqlexec(dbproc) == FAIL)
        return false;
    RETCODE rc;
    while ((rc = dbresults(dbproc)) != NO_MORE_RESULTS) {
        if (rc == FAIL)
            return false;
    }
    return true;
}

} // namespace

QString dblibServerName(const QString& server)
{
    QString s = connstr::odbcServerName(server);
    const int comma = s.lastIndexOf(QLatin1Char(','));
    if (comma > 0 && !s.contains(QLatin1Char('\\')))
        s = s.left(comma).trimmed() + QLatin1Char(':') + s.mid(comma + 1).trimmed();
    return s;
}

bool bulkCopyIn(const ConnectionSettings& settings, const QString& table, const QString& dataFile,
                const QString& errorFile, qint64& rowsCopied, QStringList& messages, DataError& error)
{
    rowsCopied = 0;
    if (!initLibrary(error))
        return false;
    SinkScope scope(error, messages);

    // A file that begins with a UTF-8 byte-order mark is read as UTF-8; the
    // mark itself must not reach the first field, so such a file is copied
    // without it first.
    QString source = dataFile;
    QByteArray charset = "CP936";
    QTemporaryFile withoutMark(QDir::tempPath() + QStringLiteral("/ovbcp-XXXXXX.dat"));
    {
        QFile in(dataFile);
        if (!in.open(QIODevice::ReadOnly)) {
            setDataError(
                error, 4860,
                QStringLiteral("Cannot bulk load. The file \"%1\" does not exist or you don't have file "
                               "access rights.")
                    .arg(dataFile),
                QStringLiteral("DB-Library"));
            return false;
        }
        if (cp936::hasUtf8Bom(in.peek(3))) {
            in.read(3);
            if (!withoutMark.open()) {
                setDataError(error, 4860,
                             QStringLiteral("Cannot make a temporary copy of \"%1\".").arg(dataFile),
                             QStringLiteral("DB-Library"));
                return false;
            }
            while (!in.atEnd())
                withoutMark.write(in.read(1 << 20));
            withoutMark.flush();
            source = withoutMark.fileName();
            charset = "UTF-8";
        }
    }
    scope.setUtf8(charset == "UTF-8");

    LOGINREC* loginRec = dblogin();
    if (!loginRec)
        return false;
    if (!settings.trusted) {
        // Login names travel in the client character set, like the data.
        DBSETLUSER(loginRec, encode(settings.user).constData());
        DBSETLPWD(loginRec, encode(settings.password).constData());
    }
    DBSETLAPP(loginRec, "OVSqlUpdateDB");
    DBSETLCHARSET(loginRec, charset.constData());
    BCP_SETL(loginRec, TRUE);
    // Protocol 7.4, named as on the ODBC connections: the server's login
    // acknowledgement lowers it for SQL Server 2005 and 2008, and without a
    // version FreeTDS falls back to a login that waits for ever on a server
    // that never answers.
    DBSETLVERSION(loginRec, DBVERSION_74);
    const int cap = loginTimeoutCap();
    dbsetlogintime(cap > 0 && cap < 15 ? cap : 15);
    DBPROCESS* dbproc = dbopen(loginRec, dblibServerName(settings.server).toUtf8().constData());
    dbloginfree(loginRec);
    if (!dbproc) {
        if (!error.isSet())
            setDataError(error, DataErr::ProviderFailure,
                         QStringLiteral("Cannot connect to %1.").arg(settings.server),
                         QStringLiteral("DB-Library"));
        return false;
    }
    // DB-Library's dbuse sends a name written [like this] unquoted; the
    // database is chosen with a statement that quotes every name.
    bool ok = useDatabase(dbproc, settings.database);
    int columns = ok ? columnCount(dbproc, table) : -1;
    if (ok && columns == 0) {
        setDataError(error, 208, QStringLiteral("Invalid object name '%1'.").arg(table),
                     QStringLiteral("SQL Server"));
        ok = false;
    }
    ok = ok && columns > 0;
    ok = ok &&
         bcp_init(dbproc, encode(bracketQuoted(table)).constData(), QFile::encodeName(source).constData(),
                  QFile::encodeName(errorFile).constData(), DB_IN) == SUCCEED;
    // Rows the server cannot take go to the error file; the load goes on.
    ok = ok && bcp_control(dbproc, BCPMAXERRS, 1000000) == SUCCEED;
    ok = ok && bcp_columns(dbproc, columns) == SUCCEED;
    for (int i = 1; ok && i <= columns; ++i) {
        const bool last = i == columns;
        ok = bcp_colfmt(dbproc, i, SYBCHAR, 0, -1, reinterpret_cast<const BYTE*>(last ? "\r\n" : "\t"),
                        last ? 2 : 1, i) == SUCCEED;
    }
    DBINT copied = 0;
    ok = ok && bcp_exec(dbproc, &copied) == SUCCEED;
    rowsCopied = copied;
    dbclose(dbproc);
    if (!ok && !error.isSet())
        setDataError(error, DataErr::ProviderFailure,
                     QStringLiteral("The bulk copy into %1 failed.").arg(table),
                     QStringLiteral("DB-Library"));
    return ok;
}

} // namespace ov::mssql
