#include "data/odbc/DbLibrary.h"

#include <sybdb.h>

#include <dlfcn.h>
#include <mutex>

// Every function of DB-Library that this program calls.
#define OV_DBLIB_FUNCTIONS(X)                                                                                \
    X(bcp_colfmt)                                                                                            \
    X(bcp_columns)                                                                                           \
    X(bcp_control)                                                                                           \
    X(bcp_exec)                                                                                              \
    X(bcp_init)                                                                                              \
    X(dbbind)                                                                                                \
    X(dbclose)                                                                                               \
    X(dbcmd)                                                                                                 \
    X(dberrhandle)                                                                                           \
    X(dbinit)                                                                                                \
    X(dblogin)                                                                                               \
    X(dbloginfree)                                                                                           \
    X(dbmsghandle)                                                                                           \
    X(dbnextrow)                                                                                             \
    X(dbresults)                                                                                             \
    X(dbsetlbool)                                                                                            \
    X(dbsetlname)                                                                                            \
    X(dbsetlogintime)                                                                                        \
    X(dbsetlversion)                                                                                         \
    X(dbsqlexec)                                                                                             \
    X(tdsdbopen)

namespace {

struct Functions
{
#define OV_DBLIB_POINTER(name) decltype(&::name) name = nullptr;
    OV_DBLIB_FUNCTIONS(OV_DBLIB_POINTER)
#undef OV_DBLIB_POINTER
};

Functions g_dblib;

} // namespace

namespace ov::mssql {

bool loadDbLibrary(QString& error)
{
    static std::once_flag once;
    static QString failure;
    std::call_once(once, [] {
        // The library stays loaded until the program ends.
        void* library = dlopen("libsybdb.so.5", RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            failure = QStringLiteral("DB-Library (libsybdb.so.5) cannot be loaded: %1")
                          .arg(QString::fromLocal8Bit(dlerror()));
            return;
        }
        Functions found;
#define OV_DBLIB_RESOLVE(name)                                                                               \
    found.name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name));                                 \
    if (!found.name) {                                                                                       \
        failure =                                                                                            \
            QStringLiteral("DB-Library (libsybdb.so.5) has no function %1.").arg(QLatin1String(#name));      \
        return;                                                                                              \
    }
        OV_DBLIB_FUNCTIONS(OV_DBLIB_RESOLVE)
#undef OV_DBLIB_RESOLVE
        g_dblib = found;
    });
    error = failure;
    return failure.isEmpty();
}

} // namespace ov::mssql

// The library's functions, called only after loadDbLibrary succeeded.
extern "C" {

RETCODE bcp_colfmt(DBPROCESS* dbproc, int host_column, int host_type, int host_prefixlen, DBINT host_collen,
                   const BYTE* host_term, int host_termlen, int colnum)
{
    return g_dblib.bcp_colfmt(dbproc, host_column, host_type, host_prefixlen, host_collen, host_term,
                              host_termlen, colnum);
}
RETCODE bcp_columns(DBPROCESS* dbproc, int host_colcount)
{
    return g_dblib.bcp_columns(dbproc, host_colcount);
}
RETCODE bcp_control(DBPROCESS* dbproc, int field, DBINT value)
{
    return g_dblib.bcp_control(dbproc, field, value);
}
RETCODE bcp_exec(DBPROCESS* dbproc, DBINT* rows_copied)
{
    return g_dblib.bcp_exec(dbproc, rows_copied);
}
RETCODE bcp_init(DBPROCESS* dbproc, const char* tblname, const char* hfile, const char* errfile,
                 int direction)
{
    return g_dblib.bcp_init(dbproc, tblname, hfile, errfile, direction);
}
RETCODE dbbind(DBPROCESS* dbproc, int column, int vartype, DBINT varlen, BYTE* varaddr)
{
    return g_dblib.dbbind(dbproc, column, vartype, varlen, varaddr);
}
void dbclose(DBPROCESS* dbproc)
{
    g_dblib.dbclose(dbproc);
}
RETCODE dbcmd(DBPROCESS* dbproc, const char cmdstring[])
{
    return g_dblib.dbcmd(dbproc, cmdstring);
}
EHANDLEFUNC dberrhandle(EHANDLEFUNC handler)
{
    return g_dblib.dberrhandle(handler);
}
RETCODE dbinit(void)
{
    return g_dblib.dbinit();
}
LOGINREC* dblogin(void)
{
    return g_dblib.dblogin();
}
void dbloginfree(LOGINREC* login)
{
    g_dblib.dbloginfree(login);
}
MHANDLEFUNC dbmsghandle(MHANDLEFUNC handler)
{
    return g_dblib.dbmsghandle(handler);
}
STATUS dbnextrow(DBPROCESS* dbproc)
{
    return g_dblib.dbnextrow(dbproc);
}
RETCODE dbresults(DBPROCESS* dbproc)
{
    return g_dblib.dbresults(dbproc);
}
RETCODE dbsetlbool(LOGINREC* login, int value, int which)
{
    return g_dblib.dbsetlbool(login, value, which);
}
RETCODE dbsetlname(LOGINREC* login, const char* value, int which)
{
    return g_dblib.dbsetlname(login, value, which);
}
RETCODE dbsetlogintime(int seconds)
{
    return g_dblib.dbsetlogintime(seconds);
}
RETCODE dbsetlversion(LOGINREC* login, BYTE version)
{
    return g_dblib.dbsetlversion(login, version);
}
RETCODE dbsqlexec(DBPROCESS* dbproc)
{
    return g_dblib.dbsqlexec(dbproc);
}
DBPROCESS* tdsdbopen(LOGINREC* login, const char* server, int msdblib)
{
    return g_dblib.tdsdbopen(login, server, msdblib);
}

} // extern "C"
