#include "data/ConnectionString.h"

#include "data/odbc/OdbcDrivers.h"

namespace ov::connstr {

namespace {

// The driver set with setSqlServerDriver; empty: chosen afresh each time.
QString g_sqlServerDriver;
bool g_trustServerCertificate = false;
QString g_trustServerCertificateSource;

const char kFreeTds[] = "FreeTDS";

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') ||
           c == QLatin1Char('\n');
}

bool fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

bool isTrue(const QString& value)
{
    const QString v = value.trimmed();
    return v.compare(QLatin1String("SSPI"), Qt::CaseInsensitive) == 0 ||
           v.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
           v.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0;
}

bool keyIs(const QString& key, std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        if (key.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

bool parseOleDb(const QString& text, Pairs& out, QString* error)
{
    out.clear();
    const int n = text.size();
    int i = 0;
    while (i < n) {
        while (i < n && (isBlank(text[i]) || text[i] == QLatin1Char(';')))
            ++i;
        if (i >= n)
            break;
        QString key;
        while (i < n) {
            const QChar c = text[i];
            if (c == QLatin1Char('=')) {
                if (i + 1 < n && text[i + 1] == QLatin1Char('=')) {
                    key += c;
                    i += 2;
                    continue;
                }
                break;
            }
            if (c == QLatin1Char(';'))
                return fail(error, QStringLiteral("Key \"%1\" has no value.").arg(key.trimmed()));
            key += c;
            ++i;
        }
        if (i >= n)
            return fail(error, QStringLiteral("Key \"%1\" has no value.").arg(key.trimmed()));
        ++i; // '='
        while (i < n && isBlank(text[i]))
            ++i;
        QString value;
        if (i < n && (text[i] == QLatin1Char('"') || text[i] == QLatin1Char('\''))) {
            const QChar quote = text[i++];
            bool closed = false;
            while (i < n) {
                if (text[i] == quote) {
                    if (i + 1 < n && text[i + 1] == quote) {
                        value += quote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                value += text[i++];
            }
            if (!closed)
                return fail(
                    error,
                    QStringLiteral("The value of key \"%1\" has no closing quote.").arg(key.trimmed()));
            while (i < n && isBlank(text[i]))
                ++i;
            if (i < n && text[i] != QLatin1Char(';'))
                return fail(
                    error, QStringLiteral("Text follows the quoted value of key \"%1\".").arg(key.trimmed()));
        } else {
            const int start = i;
            while (i < n && text[i] != QLatin1Char(';'))
                ++i;
            value = text.mid(start, i - start).trimmed();
        }
        out.append({key.trimmed(), value});
    }
    return true;
}

QString oleDbValue(const QString& value)
{
    bool quote = !value.isEmpty() && (isBlank(value.front()) || isBlank(value.back()));
    for (QChar c : value) {
        if (c == QLatin1Char(';') || c == QLatin1Char('"') || c == QLatin1Char('\'') || c == QLatin1Char('='))
            quote = true;
    }
    return quote ? oleDbQuoted(value) : value;
}

QString oleDbQuoted(const QString& value)
{
    QString v = value;
    v.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + v + QLatin1Char('"');
}

QString oleDbFind(const Pairs& pairs, const QString& key, bool* found)
{
    for (int i = pairs.size() - 1; i >= 0; --i) {
        if (pairs[i].key.compare(key, Qt::CaseInsensitive) == 0) {
            if (found)
                *found = true;
            return pairs[i].value;
        }
    }
    if (found)
        *found = false;
    return QString();
}

bool parseOdbc(const QString& text, Pairs& out, QString* error)
{
    out.clear();
    const int n = text.size();
    int i = 0;
    while (i < n) {
        while (i < n && (isBlank(text[i]) || text[i] == QLatin1Char(';')))
            ++i;
        if (i >= n)
            break;
        const int keyStart = i;
        while (i < n && text[i] != QLatin1Char('=') && text[i] != QLatin1Char(';'))
            ++i;
        const QString key = text.mid(keyStart, i - keyStart).trimmed();
        if (i >= n || text[i] != QLatin1Char('='))
            return fail(error, QStringLiteral("Key \"%1\" has no value.").arg(key));
        ++i;
        QString value;
        if (i < n && text[i] == QLatin1Char('{')) {
            ++i;
            bool closed = false;
            while (i < n) {
                if (text[i] == QLatin1Char('}')) {
                    if (i + 1 < n && text[i + 1] == QLatin1Char('}')) {
                        value += QLatin1Char('}');
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                value += text[i++];
            }
            if (!closed)
                return fail(error, QStringLiteral("The value of key \"%1\" has no closing brace.").arg(key));
            if (i < n && text[i] != QLatin1Char(';'))
                return fail(error, QStringLiteral("Text follows the braced value of key \"%1\".").arg(key));
        } else {
            const int start = i;
            while (i < n && text[i] != QLatin1Char(';'))
                ++i;
            value = text.mid(start, i - start);
        }
        out.append({key, value});
    }
    return true;
}

QString odbcValue(const QString& value)
{
    // What the driver manager and the drivers read as syntax: the separators,
    // the braces, and quotes (some drivers take a quoted value as quoted).
    static const QString special = QStringLiteral(";{}='\"");
    bool brace = !value.isEmpty() && (isBlank(value.front()) || isBlank(value.back()));
    for (QChar c : value) {
        if (special.contains(c))
            brace = true;
    }
    if (!brace)
        return value;
    QString v = value;
    v.replace(QLatin1String("}"), QLatin1String("}}"));
    return QLatin1Char('{') + v + QLatin1Char('}');
}

QString joinOdbc(const Pairs& pairs)
{
    QString s;
    for (const Pair& p : pairs) {
        if (!s.isEmpty())
            s += QLatin1Char(';');
        s += p.key + QLatin1Char('=') + odbcValue(p.value);
    }
    return s;
}

bool isOdbcDriverString(const QString& text)
{
    const QString t = text.trimmed();
    return t.startsWith(QLatin1String("Driver="), Qt::CaseInsensitive) ||
           t.startsWith(QLatin1String("DSN="), Qt::CaseInsensitive);
}

QString preferredSqlServerDriver(const QStringList& installed)
{
    // Microsoft's drivers first: they are what Windows has and what most
    // Linux sites that run SQL Server install; FreeTDS after them.
    for (const char* name : {"ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server",
                             static_cast<const char*>(kFreeTds)}) {
        for (const QString& driver : installed) {
            if (driver.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                return driver;
        }
    }
    return QString();
}

SqlServerDriverChoice chooseSqlServerDriver()
{
    if (!g_sqlServerDriver.trimmed().isEmpty())
        return {g_sqlServerDriver.trimmed(), SqlServerDriverChoice::Option};
    const QString fromEnvironment = qEnvironmentVariable("OV_SQLSERVER_DRIVER").trimmed();
    if (!fromEnvironment.isEmpty())
        return {fromEnvironment, SqlServerDriverChoice::Environment};
    const QString registered = preferredSqlServerDriver(installedOdbcDrivers());
    if (!registered.isEmpty())
        return {registered, SqlServerDriverChoice::Registered};
    return {QLatin1String(kFreeTds), SqlServerDriverChoice::Fallback};
}

QString sqlServerDriver()
{
    return chooseSqlServerDriver().name;
}

void setSqlServerDriver(const QString& driverName)
{
    g_sqlServerDriver = driverName;
}

void setTrustServerCertificate(bool trust, const QString& source)
{
    g_trustServerCertificate = trust;
    g_trustServerCertificateSource = trust ? source : QString();
}

bool trustServerCertificate()
{
    return g_trustServerCertificate;
}

QString trustServerCertificateSource()
{
    return g_trustServerCertificateSource;
}

DriverKind driverKind(const QString& driver)
{
    const QString d = driver.trimmed();
    if (d.compare(QLatin1String(kFreeTds), Qt::CaseInsensitive) == 0)
        return DriverKind::FreeTds;
    if (d.startsWith(QLatin1String("ODBC Driver "), Qt::CaseInsensitive) &&
        d.endsWith(QLatin1String(" for SQL Server"), Qt::CaseInsensitive))
        return DriverKind::Microsoft;
    return DriverKind::Other;
}

SqlServerTarget readSqlServerTarget(const Pairs& oledb, const QString& user, const QString& password)
{
    SqlServerTarget t;
    // The last occurrence of a key counts, as in OLE DB.
    for (const Pair& p : oledb) {
        if (keyIs(p.key, {"Data Source", "Server", "Address", "Addr", "Network Address"}))
            t.server = p.value;
        else if (keyIs(p.key, {"Initial Catalog", "Database"}))
            t.database = p.value;
        else if (keyIs(p.key, {"User ID", "UID", "User"}))
            t.user = p.value;
        else if (keyIs(p.key, {"Password", "PWD"}))
            t.password = p.value;
        else if (keyIs(p.key, {"Integrated Security", "Trusted_Connection"}))
            t.trusted = isTrue(p.value);
        else if (keyIs(p.key, {"Connect Timeout", "Connection Timeout", "Timeout"})) {
            bool ok = false;
            const int seconds = p.value.trimmed().toInt(&ok);
            if (ok && seconds >= 0)
                t.connectTimeout = seconds;
        } else if (keyIs(p.key, {"Application Name", "App"}))
            t.appName = p.value;
        else if (keyIs(p.key, {"Use Encryption for Data", "Encrypt"}))
            t.encrypt = isTrue(p.value) ||
                        p.value.trimmed().compare(QLatin1String("Mandatory"), Qt::CaseInsensitive) == 0;
        else if (keyIs(p.key, {"Trust Server Certificate", "TrustServerCertificate"}))
            t.trustServerCertificate = isTrue(p.value);
        // Provider, Persist Security Info and the rest of the OLE DB keys have
        // no meaning for the ODBC driver and are left out.
    }
    if (!user.isEmpty())
        t.user = user;
    if (!password.isEmpty())
        t.password = password;
    return t;
}

QString odbcServerName(const QString& dataSource)
{
    QString s = dataSource.trimmed();
    if (s.startsWith(QLatin1String("tcp:"), Qt::CaseInsensitive))
        s = s.mid(4).trimmed();
    // host, then "\instance" or ",port"
    int cut = s.indexOf(QLatin1Char('\\'));
    if (cut < 0)
        cut = s.indexOf(QLatin1Char(','));
    QString host = (cut < 0 ? s : s.left(cut)).trimmed();
    QString rest = cut < 0 ? QString() : s.mid(cut);
    if (rest.startsWith(QLatin1Char(',')))
        rest = QLatin1Char(',') + rest.mid(1).trimmed();
    if (host == QLatin1String(".") || host.compare(QLatin1String("(local)"), Qt::CaseInsensitive) == 0 ||
        host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        host = QStringLiteral("127.0.0.1");
    return host + rest;
}

QString sqlServerOdbcString(const SqlServerTarget& target, const QString& driver)
{
    const DriverKind kind = driverKind(driver);
    Pairs pairs;
    pairs.append({QStringLiteral("Driver"), driver});
    const QString server = odbcServerName(target.server);
    const int comma = server.indexOf(QLatin1Char(','));
    if (kind == DriverKind::FreeTds && comma >= 0) {
        // FreeTDS takes the host (or "host\instance") in Server and the TCP
        // port in a key of its own, Port (FreeTDS User Guide, "ODBC
        // connection attributes").
        pairs.append({QStringLiteral("Server"), server.left(comma)});
        pairs.append({QStringLiteral("Port"), server.mid(comma + 1)});
    } else {
        // Microsoft's driver reads "host", "host\instance" and "host,port"
        // in Server ("DSN and connection string keywords and attributes").
        pairs.append({QStringLiteral("Server"), server});
    }
    if (!target.database.isEmpty())
        pairs.append({QStringLiteral("Database"), target.database});
    if (target.trusted) {
        pairs.append({QStringLiteral("Trusted_Connection"), QStringLiteral("yes")});
    } else {
        pairs.append({QStringLiteral("UID"), target.user});
        pairs.append({QStringLiteral("PWD"), target.password});
    }
    if (!target.appName.isEmpty())
        pairs.append({QStringLiteral("APP"), target.appName});
    // The login time-out is no key here: OdbcBackend sets it as the
    // connection's SQL_ATTR_LOGIN_TIMEOUT, which FreeTDS and Microsoft's
    // drivers honour alike (Microsoft's keyword ConnectTimeout for the same
    // attribute exists only from driver 18.7 on).
    switch (kind) {
    case DriverKind::FreeTds:
        // Protocol 7.4, named: FreeTDS logs in with it and then takes the
        // version the server reports in its login acknowledgement, 7.2 from
        // SQL Server 2005 and 7.3 from 2008, so every Microsoft server from
        // 2005 to 2022 gets its own. "auto" would do the same for a server
        // that answers, but after a failed first attempt it tries a second,
        // Sybase login that has no time-out (FreeTDS 1.3 and later): a server
        // that accepts the connection and never answers would hold the task
        // for ever.
        pairs.append({QStringLiteral("TDS_Version"), QStringLiteral("7.4")});
        // Strings travel as UTF-8 between the driver and the program.
        pairs.append({QStringLiteral("ClientCharset"), QStringLiteral("UTF-8")});
        // Encryption: FreeTDS's default ("request") encrypts when the server
        // offers it and checks the certificate only when freetds.conf names
        // a "ca file", so a self-signed certificate connects, as with the
        // OLE DB provider; "require" refuses a server without encryption.
        // FreeTDS has no key that trusts a certificate unchecked: without a
        // "ca file" none is checked.
        if (target.encrypt)
            pairs.append({QStringLiteral("Encryption"), QStringLiteral("require")});
        break;
    case DriverKind::Microsoft:
        // Driver 18 encrypts by default and then checks the server's
        // certificate, which a small site's self-signed one fails; driver 17
        // encrypts only when asked ("Major version differences" of the ODBC
        // driver). Encrypt is always spelled out, so both behave as the OLE
        // DB string asks: no encryption unless "Use Encryption for Data".
        pairs.append(
            {QStringLiteral("Encrypt"), target.encrypt ? QStringLiteral("yes") : QStringLiteral("no")});
        // Driver 18 checks the certificate whenever the connection is
        // encrypted, also when the server forces encryption although Encrypt
        // is no: the string or the program's own setting can waive the check.
        if (target.trustServerCertificate || g_trustServerCertificate)
            pairs.append({QStringLiteral("TrustServerCertificate"), QStringLiteral("yes")});
        break;
    case DriverKind::Other:
        break;
    }
    return joinOdbc(pairs) + QLatin1Char(';');
}

QString certificateAdvice(const QString& description, const QString& driver)
{
    // OpenSSL's text (Microsoft's driver on Linux, FreeTDS with a "ca file")
    // and Schannel's (Windows) for a certificate the client does not trust.
    static const char* const refusals[] = {
        "certificate verify failed",
        "certificate chain was issued by an authority that is not trusted",
    };
    bool refused = false;
    for (const char* r : refusals)
        refused = refused || description.contains(QLatin1String(r), Qt::CaseInsensitive);
    if (!refused)
        return QString();
    return QStringLiteral(
               "The server's certificate is not trusted on this computer (driver \"%1\"). Install on the "
               "server a certificate this computer trusts, or add the authority that issued it to this "
               "computer's trusted certificates. A server that encrypts on its own (\"Force Encryption\") "
               "with a self-signed certificate is reached unchecked by the \"ODBC Driver 17 for SQL "
               "Server\" or \"FreeTDS\" driver: choose one with the environment variable "
               "OV_SQLSERVER_DRIVER or ovsqlcli --driver NAME.")
        .arg(driver);
}

bool driverTakesValues(const SqlServerTarget& target, const QString& driver, QString* error)
{
    if (driverKind(driver) != DriverKind::FreeTds)
        return true;
    const struct
    {
        const char* what;
        const QString& value;
    } values[] = {{"server name", target.server},
                  {"database name", target.database},
                  {"login", target.user},
                  {"password", target.password},
                  {"application name", target.appName}};
    for (const auto& v : values) {
        if (v.value.contains(QLatin1String("};")))
            return fail(error,
                        QStringLiteral("The %1 holds \"};\", which the FreeTDS driver cannot take in a "
                                       "connection string; the connection is not attempted.")
                            .arg(QLatin1String(v.what)));
    }
    return true;
}

} // namespace ov::connstr
