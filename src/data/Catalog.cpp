#include "data/Catalog.h"

#include "data/Connection.h"
#include "data/DataBackend.h"
#include "data/Recordset.h"

#include <QStringList>

namespace ov {

namespace {

// Spellings of one SQL Server type, longest first so that a longer spelling
// wins over its first word.
struct Synonym
{
    const char* spelling;
    const char* family;
};
const Synonym kSynonyms[] = {
    {"national character varying", "nvarchar"},
    {"national char varying", "nvarchar"},
    {"national character", "nchar"},
    {"national char", "nchar"},
    {"national text", "ntext"},
    {"character varying", "varchar"},
    {"char varying", "varchar"},
    {"nchar varying", "nvarchar"},
    {"binary varying", "varbinary"},
    {"double precision", "float"},
    {"character", "char"},
    {"integer", "int"},
    {"dec", "decimal"},
    {"rowversion", "timestamp"},
};

bool isSized(const QString& family)
{
    static const QStringList sized = {QStringLiteral("char"),   QStringLiteral("varchar"),
                                      QStringLiteral("nchar"),  QStringLiteral("nvarchar"),
                                      QStringLiteral("binary"), QStringLiteral("varbinary")};
    return sized.contains(family);
}

bool isExactNumber(const QString& family)
{
    return family == QLatin1String("decimal") || family == QLatin1String("numeric");
}

} // namespace

void ParseDeclaredType(const QString& declared, CatalogColumn& column)
{
    column.type.clear();
    column.length = 0;
    column.precision = 0;
    column.scale = 0;
    const QString text = declared.simplified().toLower();
    const int open = text.indexOf(QLatin1Char('('));
    const QString head = (open < 0 ? text : text.left(open)).trimmed();
    QStringList words = head.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    int used = words.isEmpty() ? 0 : 1;
    column.type = words.value(0);
    for (const Synonym& s : kSynonyms) {
        const QStringList spelling = QString::fromLatin1(s.spelling).split(QLatin1Char(' '));
        if (words.mid(0, spelling.size()) == spelling) {
            column.type = QString::fromLatin1(s.family);
            used = int(spelling.size());
            break;
        }
    }
    // Sizes belong to the type only when they follow its name directly:
    // in "INT IDENTITY(1,1)" they are the identity's.
    if (open < 0 || used != words.size())
        return;
    const int close = text.indexOf(QLatin1Char(')'), open);
    const QStringList sizes =
        text.mid(open + 1, close < 0 ? -1 : close - open - 1).split(QLatin1Char(','), Qt::SkipEmptyParts);
    const QString first = sizes.value(0).trimmed();
    if (isExactNumber(column.type)) {
        column.precision = first.toInt();
        column.scale = sizes.value(1).trimmed().toInt();
    } else if (first == QLatin1String("max")) {
        column.length = -1;
    } else {
        column.length = first.toLongLong();
    }
}

QString TypeText(const CatalogColumn& column)
{
    if (isExactNumber(column.type) && column.precision > 0)
        return QStringLiteral("%1(%2,%3)").arg(column.type).arg(column.precision).arg(column.scale);
    if (column.length < 0)
        return column.type + QStringLiteral("(max)");
    if (column.length > 0 && isSized(column.type))
        return QStringLiteral("%1(%2)").arg(column.type).arg(column.length);
    return column.type;
}

bool ReadCatalog(Connection& cn, QList<CatalogColumn>& columns, DataError& error)
{
    columns.clear();
    const QString query = cn.isOpen() ? cn.backend()->catalogQuery() : QString();
    if (query.isEmpty()) {
        setDataError(error, DataErr::NotSupported,
                     QStringLiteral("This database has no catalog that can be read."));
        return false;
    }
    return ReadCatalog(cn, query, columns, error);
}

bool ReadCatalog(Connection& cn, const QString& query, QList<CatalogColumn>& columns, DataError& error)
{
    columns.clear();
    Recordset rs;
    if (!rs.Open(query, cn)) {
        error = rs.lastError();
        return false;
    }
    while (!rs.Eof()) {
        CatalogColumn c;
        c.table = rs.Fields(0).Value().toString();
        c.column = rs.Fields(1).Value().toString();
        ParseDeclaredType(rs.Fields(2).Value().toString(), c);
        // SQL Server's numbers describe the type; the family came alone.
        const QVariant length = rs.Fields(3).Value();
        if (length.isValid() && isSized(c.type))
            c.length = length.toLongLong();
        const QVariant precision = rs.Fields(4).Value();
        if (precision.isValid() && isExactNumber(c.type)) {
            c.precision = precision.toInt();
            c.scale = rs.Fields(5).Value().toInt();
        }
        c.nullable = rs.Fields(6).Value().toString().compare(QLatin1String("NO"), Qt::CaseInsensitive) != 0;
        columns.append(c);
        if (!rs.MoveNext()) {
            error = rs.lastError();
            return false;
        }
    }
    rs.Close();
    return true;
}

} // namespace ov
