#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Connection strings in the two forms the program meets: the OLE DB form in
// which the program builds its strings ("Provider=SQLOLEDB.1;Data Source=…"),
// and the ODBC form that the driver manager and the drivers take. Values are
// quoted by each form's own rules, so a password, user or database name holding
// ";", "=", quotes or braces stays one value and never adds keys.
namespace ov::connstr {

struct Pair
{
    QString key;
    QString value;
};
using Pairs = QList<Pair>;

// OLE DB form: "key=value" pairs separated by ";". A value may be enclosed in
// double or single quotes, the enclosing quote doubled inside; unquoted values
// lose their surrounding blanks; "==" in a key is a literal "=". Returns false
// and sets *error for a quoted value that is not closed or is followed by text.
bool parseOleDb(const QString& text, Pairs& out, QString* error = nullptr);
// The value as it must be written after "key=" in an OLE DB string: unchanged
// when it is plain, otherwise enclosed in double quotes with inner double
// quotes doubled.
QString oleDbValue(const QString& value);
// The value always enclosed in double quotes, inner double quotes doubled.
QString oleDbQuoted(const QString& value);
// The value of key (compared without case) in an OLE DB list: the last
// occurrence counts, as in OLE DB. *found tells whether the key was there.
QString oleDbFind(const Pairs& pairs, const QString& key, bool* found = nullptr);

// ODBC form: a value enclosed in braces runs to the first "}" that is not
// doubled; "}}" inside is one "}".
bool parseOdbc(const QString& text, Pairs& out, QString* error = nullptr);
// The value as it must be written after "key=" in an ODBC string: plain when
// it holds nothing the syntax treats specially, otherwise in braces.
QString odbcValue(const QString& value);
QString joinOdbc(const Pairs& pairs);
// True when the string is already in the ODBC form with a driver ("Driver=…").
bool isOdbcDriverString(const QString& text);

// The ODBC driver used for SQL Server, in this order: the one set with
// setSqlServerDriver (ovsqlcli --driver), the environment variable
// OV_SQLSERVER_DRIVER, the best one the driver manager has registered
// (Microsoft's "ODBC Driver 18 for SQL Server", then 17, then FreeTDS), and
// "FreeTDS" when none of these is registered (the driver manager then says
// that it is missing).
struct SqlServerDriverChoice
{
    enum Source
    {
        Option,      // setSqlServerDriver
        Environment, // OV_SQLSERVER_DRIVER
        Registered,  // found among the registered drivers
        Fallback,    // none registered
    };
    QString name;
    Source source = Fallback;
};
SqlServerDriverChoice chooseSqlServerDriver();
QString sqlServerDriver();
// An empty name gives the choice back to the environment and the driver list.
void setSqlServerDriver(const QString& driverName);
// Whether Microsoft's drivers take the server's certificate unchecked on every
// SQL Server connection (TrustServerCertificate=yes), and what said so (the
// key TrustServerCertificate of section OVSQLUPDATEDB of OrvaneSqlConfig.ini,
// or ovsqlcli --trust-server-certificate); off and empty unless set.
void setTrustServerCertificate(bool trust, const QString& source);
bool trustServerCertificate();
QString trustServerCertificateSource();
// The first of the preferred SQL Server drivers among the installed ones
// (names compared without case), as the installed list spells it; empty when
// there is none.
QString preferredSqlServerDriver(const QStringList& installed);

// The kind of driver a name denotes, which decides the keys of its string.
enum class DriverKind
{
    FreeTds,   // "FreeTDS"
    Microsoft, // "ODBC Driver 17 for SQL Server", "ODBC Driver 18 for SQL Server", …
    Other,     // any other driver: the keys every driver knows
};
DriverKind driverKind(const QString& driver);

// What an OLE DB string for SQL Server asks for, read key by key.
struct SqlServerTarget
{
    QString server;                      // Data Source
    QString database;                    // Initial Catalog
    QString user;                        // User ID
    QString password;                    // Password
    bool trusted = false;                // Integrated Security=SSPI
    int connectTimeout = -1;             // Connect Timeout in seconds; -1 when not given
    QString appName;                     // Application Name
    bool encrypt = false;                // Use Encryption for Data
    bool trustServerCertificate = false; // Trust Server Certificate
};
// Reads the keys of an OLE DB string; user and password, when not empty,
// take the place of those in the string (the arguments of Open).
SqlServerTarget readSqlServerTarget(const Pairs& oledb, const QString& user, const QString& password);
// The server name in the form the driver understands: "(local)", "." and
// "localhost" become 127.0.0.1 (also before "\instance"), a "tcp:" prefix
// goes; "host,port" and "host\instance" stay, the driver reads both.
QString odbcServerName(const QString& dataSource);
// The ODBC string for the driver, key by key in the driver's own names:
// Driver, the server (FreeTDS: Server and Port; Microsoft's driver: Server
// with ",port"), Database, then UID and PWD or Trusted_Connection=yes, APP,
// and the driver's protocol and encryption keys (see the source). Provider
// and Persist Security Info have no ODBC counterpart and are left out; the
// login time-out travels as the connection's login time-out attribute. The
// string ends with ";", so every braced value is closed by "};".
QString sqlServerOdbcString(const SqlServerTarget& target, const QString& driver = sqlServerDriver());
// For a failed connection whose description says that the server's
// certificate was refused: what to set so that it connects. Empty for any
// other failure.
QString certificateAdvice(const QString& description, const QString& driver);
// False (and *error says why) when a value cannot reach the driver unchanged
// and safely. FreeTDS before 1.4 ends a braced value at the first "};" and
// does not read "}}" as "}": a value holding "};" would end early there and
// the rest would become keys of their own, so such a value is refused. (A
// value holding "}" alone reaches those versions with its braces doubled: it
// fails as a wrong password or name, and changes nothing else.)
bool driverTakesValues(const SqlServerTarget& target, const QString& driver, QString* error);

} // namespace ov::connstr
