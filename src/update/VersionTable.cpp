#include "update/VersionTable.h"

#include "common/Clock.h"
#include "common/mdlCommon.h"
#include "data/AdoTypes.h"
#include "data/Connection.h"
#include "data/Recordset.h"

#include <QStringList>

namespace mdlOVSqlUpdateDB {

namespace {

// The text between single quotes of a statement: inner quotes doubled.
QString quoted(const QString& value)
{
    QString v = value;
    v.replace(QLatin1Char('\''), QLatin1String("''"));
    return v;
}

bool allDigits(const QString& s)
{
    if (s.isEmpty())
        return false;
    for (const QChar c : s) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

// Two digit strings as numbers of any length: leading zeros dropped, then
// the longer is larger, then the digits decide.
int compareNumbers(const QString& a, const QString& b)
{
    int i = 0;
    while (i < a.size() - 1 && a.at(i) == QLatin1Char('0'))
        ++i;
    int j = 0;
    while (j < b.size() - 1 && b.at(j) == QLatin1Char('0'))
        ++j;
    const int lengthA = a.size() - i;
    const int lengthB = b.size() - j;
    if (lengthA != lengthB)
        return lengthA < lengthB ? -1 : 1;
    return QStringView(a).mid(i).compare(QStringView(b).mid(j), Qt::CaseSensitive);
}

int sign(int v)
{
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

} // namespace

QString ReadVaribleValue(const QString& module, const QString& name, const QString& defaultValue,
                         const QString& userId, ov::Connection* cn)
{
    if (!cn || !cn->isOpen())
        return defaultValue;
    QString sql = QStringLiteral("SELECT * FROM tblVarible WHERE [Module] ='") + quoted(module) +
                  QStringLiteral("' AND VaribleName = '") + quoted(name) + QLatin1Char('\'');
    if (!userId.isEmpty())
        sql += QStringLiteral(" AND UserID = '") + quoted(userId) + QLatin1Char('\'');
    ov::Recordset rs;
    if (!rs.Open(sql, *cn, ov::adOpenDynamic, ov::adLockOptimistic))
        return defaultValue;
    QString value = defaultValue;
    if (!rs.Eof()) {
        const ov::Field field = rs.Fields(QStringLiteral("VaribleValue"));
        if (field.isValid())
            value = mdlCommon::ValueToText(field.Value());
    }
    rs.Close();
    return value;
}

int CompareVersions(const QString& a, const QString& b)
{
    const QStringList sa = a.split(QLatin1Char('.'));
    const QStringList sb = b.split(QLatin1Char('.'));
    const int n = qMin(sa.size(), sb.size());
    for (int i = 0; i < n; ++i) {
        const int c = allDigits(sa[i]) && allDigits(sb[i]) ? compareNumbers(sa[i], sb[i])
                                                           : sa[i].compare(sb[i], Qt::CaseSensitive);
        if (c != 0)
            return sign(c);
    }
    return sign(int(sa.size()) - int(sb.size()));
}

bool IsVersionApplied(const QString& version, ov::Connection* cn)
{
    const QString current = mdlCommon::TrimBlanks(ReadVaribleValue(
        QStringLiteral("DB"), QStringLiteral("Version"), QStringLiteral("NONE"), QString(), cn));
    if (current == QLatin1String("NONE"))
        return true;
    return CompareVersions(current, version) >= 0;
}

void RecordVersionApplied(const QString& version, ov::Connection* cn)
{
    if (!cn)
        return;
    const QString now = ov::Clock::now().toString(QStringLiteral("MM/dd/yyyy HH:mm:ss"));
    cn->Execute(QStringLiteral("DELETE FROM tblVarible WHERE [Module] = 'UpdateDB' AND [VaribleName] = '") +
                quoted(version) + QLatin1Char('\''));
    cn->Execute(
        QStringLiteral("INSERT INTO tblVarible ([Module] , [VaribleName] , [VaribleValue] , [UserID]) "
                       "VALUES ('UpdateDB' , '") +
        quoted(version) + QStringLiteral("', '") + now + QStringLiteral("' , '1')"));
}

} // namespace mdlOVSqlUpdateDB
