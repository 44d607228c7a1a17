#include "data/ConnectionString.h"

namespace ov::connstr {

namespace {

QString g_sqlServerDriver = QStringLiteral("FreeTDS");

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

QString sqlServerDriver()
{
    return g_sqlServerDriver;
}

void setSqlServerDriver(const QString& driverName)
{
    g_sqlServerDriver = driverName;
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
    Pairs pairs;
    pairs.append({QStringLiteral("Driver"), driver});
    pairs.append({QStringLiteral("Server"), odbcServerName(target.server)});
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
    if (driver.compare(QLatin1String("FreeTDS"), Qt::CaseInsensitive) == 0) {
        // FreeTDS speaks the protocol version it is told; 7.4 is what SQL
        // Server 2012 and later answer, and its strings travel as UTF-8.
        pairs.append({QStringLiteral("TDS_Version"), QStringLiteral("7.4")});
        pairs.append({QStringLiteral("ClientCharset"), QStringLiteral("UTF-8")});
    }
    return joinOdbc(pairs) + QLatin1Char(';');
}

bool driverTakesValues(const SqlServerTarget& target, const QString& driver, QString* error)
{
    if (driver.compare(QLatin1String("FreeTDS"), Qt::CaseInsensitive) != 0)
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
