#include "update/VersionTable.h"

#include "common/Clock.h"
#include "common/mdlCommon.h"
#include "common/mdlOEMResource.h"
#include "data/AdoTypes.h"
#include "data/Connection.h"
#include "data/Recordset.h"

#include <QStringList>

#include <optional>

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

namespace {

// The VaribleValue of the row as text, or nothing when there is no such row
// or it cannot be read; isNull tells a NULL value (read as "") apart.
std::optional<QString> readValue(const QString& module, const QString& name, const QString& userId,
                                 ov::Connection* cn, bool* isNull = nullptr, ov::DataError* failure = nullptr)
{
    if (!cn || !cn->isOpen()) {
        if (failure)
            failure->number = ov::DataErr::InvalidConnection;
        return std::nullopt;
    }
    QString sql = QStringLiteral("SELECT * FROM tblVarible WHERE [Module] ='") + quoted(module) +
                  QStringLiteral("' AND VaribleName = '") + quoted(name) + QLatin1Char('\'');
    if (!userId.isEmpty())
        sql += QStringLiteral(" AND UserID = '") + quoted(userId) + QLatin1Char('\'');
    ov::Recordset rs;
    if (!rs.Open(sql, *cn, ov::adOpenDynamic, ov::adLockOptimistic)) {
        if (failure)
            *failure = rs.lastError();
        return std::nullopt;
    }
    std::optional<QString> value;
    if (!rs.Eof()) {
        const ov::Field field = rs.Fields(QStringLiteral("VaribleValue"));
        if (field.isValid()) {
            const QVariant v = field.Value();
            if (isNull)
                *isNull = v.isNull();
            value = mdlCommon::ValueToText(v);
        }
    }
    rs.Close();
    return value;
}

} // namespace

QString ReadVaribleValue(const QString& module, const QString& name, const QString& defaultValue,
                         const QString& userId, ov::Connection* cn)
{
    return readValue(module, name, userId, cn).value_or(defaultValue);
}

int CompareVersions(const QString& a, const QString& b)
{
    // Release numbers before the first "." count as whole numbers (9.0 is
    // older than 10.0); what follows compares by character code, the way
    // decimal-style series such as 2.01, 2.05, 2.1 were numbered.
    const int dotA = a.indexOf(QLatin1Char('.'));
    const int dotB = b.indexOf(QLatin1Char('.'));
    const QString headA = dotA < 0 ? a : a.left(dotA);
    const QString headB = dotB < 0 ? b : b.left(dotB);
    if (!allDigits(headA) || !allDigits(headB))
        return sign(a.compare(b, Qt::CaseSensitive));
    const int heads = compareNumbers(headA, headB);
    if (heads != 0)
        return sign(heads);
    const QStringView restA = dotA < 0 ? QStringView() : QStringView(a).mid(dotA);
    const QStringView restB = dotB < 0 ? QStringView() : QStringView(b).mid(dotB);
    return sign(restA.compare(restB, Qt::CaseSensitive));
}

std::optional<QString> ReadDatabaseVersion(ov::Connection* cn, ov::DataError* readFailure)
{
    bool isNull = false;
    if (readFailure)
        readFailure->clear();
    const std::optional<QString> stored =
        readValue(QStringLiteral("DB"), QStringLiteral("Version"), QString(), cn, &isNull, readFailure);
    if (!stored || isNull)
        return std::nullopt;
    const QString current = mdlCommon::TrimBlanks(*stored);
    if (current.isEmpty() || current == QLatin1String("NONE"))
        return std::nullopt;
    return current;
}

bool IsVersionApplied(const QString& version, ov::Connection* cn)
{
    // No row, a NULL or blank value, or a failed read: the version cannot be
    // learnt, and a database of unknown version receives no versioned block.
    const std::optional<QString> current = ReadDatabaseVersion(cn);
    return !current || CompareVersions(*current, version) >= 0;
}

bool WriteDatabaseVersion(const QString& version, ov::Connection* cn)
{
    return cn && cn->Execute(QStringLiteral("UPDATE tblVarible SET [VaribleValue] = '") + quoted(version) +
                             QStringLiteral("' WHERE [Module] = 'DB' AND [VaribleName] = 'Version'"));
}

bool WriteCreationMark(ov::Connection* cn)
{
    const QString now = ov::Clock::now().toString(QStringLiteral("MM/dd/yyyy HH:mm:ss"));
    return cn &&
           cn->Execute(QStringLiteral("INSERT INTO tblVarible (VaribleValue, UserID, VaribleName, Module)"
                                      "    values('") +
                       now + QStringLiteral("', '', 'Creating', 'DB')"));
}

bool RemoveCreationMark(ov::Connection* cn)
{
    return cn && cn->Execute(QStringLiteral(
                     "DELETE FROM tblVarible WHERE [Module] = 'DB' AND [VaribleName] = 'Creating'"));
}

bool HasCreationMark(ov::Connection* cn)
{
    return readValue(QStringLiteral("DB"), QStringLiteral("Creating"), QString(), cn).has_value();
}

QString UnfinishedCreationMessage(const QString& database)
{
    return mdlCommon::FormatTemplate(
        QStringLiteral("数据库 [{1}] 的创建没有完成（创建过程被中断或失败），不能升级或使用。{CRLF}"
                       "请重新创建该数据库（覆盖现有的数据库）。"),
        {database});
}

QString NoVersionMessage(const QString& database)
{
    return mdlCommon::FormatTemplate(
        QStringLiteral(
            "数据库 [{1}] 没有版本号（tblVarible 中没有有效的 DB/Version 行），数据库没有升级。{CRLF}"
            "它可能不是{2}的数据库，也可能是一次没有完成的创建；如果是后者，请重新创建该数据库。"),
        {database, mdlOEMResource::GetOEMProductName()});
}

QList<QPair<QString, QString>> ReadVersionRecords(ov::Connection* cn)
{
    QList<QPair<QString, QString>> records;
    ov::Recordset rs;
    if (!cn || !rs.Open(QStringLiteral("SELECT VaribleName, VaribleValue FROM tblVarible WHERE [Module] = "
                                       "'UpdateDB'"),
                        *cn))
        return records;
    for (; !rs.Eof(); rs.MoveNext())
        records.append(
            {mdlCommon::ValueToText(rs.Fields(0).Value()), mdlCommon::ValueToText(rs.Fields(1).Value())});
    rs.Close();
    return records;
}

ov::DataError RecordVersionApplied(const QString& version, ov::Connection* cn, const QString& when)
{
    if (!cn)
        return ov::DataError();
    const QString now =
        when.isEmpty() ? ov::Clock::now().toString(QStringLiteral("MM/dd/yyyy HH:mm:ss")) : quoted(when);
    ov::DataError first;
    if (!cn->Execute(
            QStringLiteral("DELETE FROM tblVarible WHERE [Module] = 'UpdateDB' AND [VaribleName] = '") +
            quoted(version) + QLatin1Char('\''))) {
        first = cn->lastError();
        // Nothing more is sent once the machine has failed.
        if (first.machineFailure)
            return first;
    }
    if (!cn->Execute(
            QStringLiteral("INSERT INTO tblVarible ([Module] , [VaribleName] , [VaribleValue] , [UserID]) "
                           "VALUES ('UpdateDB' , '") +
            quoted(version) + QStringLiteral("', '") + now + QStringLiteral("' , '1')")) &&
        (!first.isSet() || cn->lastError().machineFailure))
        first = cn->lastError();
    return first;
}

} // namespace mdlOVSqlUpdateDB
