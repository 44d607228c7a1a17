#pragma once

#include <QList>
#include <QString>

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

// The ODBC driver used for SQL Server; "FreeTDS" unless set otherwise (for
// instance to Microsoft's driver where it is installed).
QString sqlServerDriver();
void setSqlServerDriver(const QString& driverName);

// What an OLE DB string for SQL Server asks for, read key by key.
struct SqlServerTarget
{
    QString server;          // Data Source
    QString database;        // Initial Catalog
    QString user;            // User ID
    QString password;        // Password
    bool trusted = false;    // Integrated Security=SSPI
    int connectTimeout = -1; // Connect Timeout in seconds; -1 when not given
    QString appName;         // Application Name
};
// Reads the keys of an OLE DB string; user and password, when not empty,
// take the place of those in the string (the arguments of Open).
SqlServerTarget readSqlServerTarget(const Pairs& oledb, const QString& user, const QString& password);
// The server name in the form the driver understands: "(local)", "." and
// "localhost" become 127.0.0.1 (also before "\instance"), a "tcp:" prefix
// goes; "host,port" and "host\instance" stay, the driver reads both.
QString odbcServerName(const QString& dataSource);
// The ODBC string for the driver: Driver, Server, Database, then UID and PWD
// or Trusted_Connection=yes, with TDS_Version=7.4 for FreeTDS. Provider and
// Persist Security Info have no ODBC counterpart and are left out. The string
// ends with ";", so every braced value is closed by "};".
QString sqlServerOdbcString(const SqlServerTarget& target, const QString& driver = sqlServerDriver());
// False (and *error says why) when a value cannot reach the driver unchanged
// and safely. FreeTDS before 1.4 ends a braced value at the first "};" and
// does not read "}}" as "}": a value holding "};" would end early there and
// the rest would become keys of their own, so such a value is refused. (A
// value holding "}" alone reaches those versions with its braces doubled: it
// fails as a wrong password or name, and changes nothing else.)
bool driverTakesValues(const SqlServerTarget& target, const QString& driver, QString* error);

} // namespace ov::connstr
