#include "data/Identifiers.h"

namespace ov {

namespace {

QString enclosed(const QString& name, QChar open, QChar close)
{
    QString n = name;
    n.replace(close, QString(2, close));
    return open + n + close;
}

} // namespace

QString bracketQuoted(const QString& name)
{
    return enclosed(name, QLatin1Char('['), QLatin1Char(']'));
}

QString doubleQuoted(const QString& name)
{
    return enclosed(name, QLatin1Char('"'), QLatin1Char('"'));
}

bool isQuotedIdentifier(const QString& name)
{
    if (name.size() < 3 || !name.startsWith(QLatin1Char('"')) || !name.endsWith(QLatin1Char('"')))
        return false;
    for (int i = 1; i < name.size() - 1; ++i) {
        if (name.at(i) != QLatin1Char('"'))
            continue;
        // An inner double quote stands only as one of a doubled pair.
        if (i + 1 >= name.size() - 1 || name.at(i + 1) != QLatin1Char('"'))
            return false;
        ++i;
    }
    return true;
}

QString unquotedName(const QString& name)
{
    if (!isQuotedIdentifier(name))
        return name;
    QString inner = name.mid(1, name.size() - 2);
    inner.replace(QLatin1String("\"\""), QLatin1String("\""));
    return inner;
}

QString insertStatement(const QString& quotedTable, const QStringList& quotedColumns)
{
    if (quotedColumns.isEmpty())
        return QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quotedTable);
    const QStringList marks(quotedColumns.size(), QStringLiteral("?"));
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(quotedTable, quotedColumns.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
}

} // namespace ov
