#include "data/FieldValue.h"

#include "common/Cp936.h"

#include <QDateTime>
#include <QLocale>

#include <cfloat>
#include <cmath>
#include <limits>

namespace ov {

namespace {

bool failed(DataError& error, const ColumnInfo& column, const QString& rule)
{
    setDataError(error, DataErr::FieldValue, QStringLiteral("Field '%1' %2").arg(column.name, rule));
    return false;
}

bool isDateValue(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::QDateTime:
    case QMetaType::QDate:
    case QMetaType::QTime:
        return true;
    default:
        return false;
    }
}

// The value as a number: false for a value that is none (a date, binary
// data, a text that does not read as a decimal number).
bool numberOf(const QVariant& v, double& number, QString* digits)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
        number = v.toBool() ? 1.0 : 0.0;
        return true;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Char:
    case QMetaType::Double:
    case QMetaType::Float:
        number = v.toDouble();
        return std::isfinite(number);
    case QMetaType::QString: {
        const QString text = v.toString().trimmed();
        bool ok = false;
        number = QLocale::c().toDouble(text, &ok);
        if (!ok || !std::isfinite(number))
            return false;
        if (digits)
            *digits = text;
        return true;
    }
    default:
        return false;
    }
}

// The digits before the decimal point of a number written as text, without
// sign and leading zeros; -1 when it has an exponent.
int integerDigits(const QString& text)
{
    if (text.contains(QLatin1Char('e'), Qt::CaseInsensitive))
        return -1;
    QString whole = text.section(QLatin1Char('.'), 0, 0);
    if (whole.startsWith(QLatin1Char('-')) || whole.startsWith(QLatin1Char('+')))
        whole.remove(0, 1);
    qsizetype zeros = 0;
    while (zeros < whole.size() && whole.at(zeros) == QLatin1Char('0'))
        ++zeros;
    return int(whole.size() - zeros);
}

// Whether value, a whole number given exactly (an integer type, or a text
// of digits), lies from low to high; false in exact when it is given
// otherwise. Exact, so that the ends of a 64-bit range, which a double
// cannot tell from their neighbours, are taken and refused as they are.
bool exactIntegerInRange(const QVariant& value, qint64 low, qint64 high, bool& exact)
{
    exact = true;
    switch (value.typeId()) {
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar: {
        const quint64 n = value.toULongLong();
        return n <= quint64(high) && (low <= 0 || n >= quint64(low));
    }
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::SChar:
    case QMetaType::Char: {
        const qint64 n = value.toLongLong();
        return n >= low && n <= high;
    }
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        qsizetype i = text.startsWith(QLatin1Char('-')) || text.startsWith(QLatin1Char('+')) ? 1 : 0;
        if (i == text.size())
            break;
        for (qsizetype j = i; j < text.size(); ++j) {
            if (text.at(j) < QLatin1Char('0') || text.at(j) > QLatin1Char('9')) {
                exact = false;
                return false;
            }
        }
        bool ok = false;
        const qint64 n = QLocale::c().toLongLong(text, &ok);
        // Digits that no 64-bit integer holds lie outside every range.
        return ok && n >= low && n <= high;
    }
    default:
        break;
    }
    exact = false;
    return false;
}

bool checkInteger(const ColumnInfo& column, const QVariant& value, qint64 low, qint64 high, DataError& error)
{
    const auto outOfRange = [&] {
        return failed(error, column,
                      QStringLiteral("takes whole numbers from %1 to %2; the value is out of range.")
                          .arg(QString::number(low), QString::number(high)));
    };
    bool exact = false;
    const bool inRange = exactIntegerInRange(value, low, high, exact);
    if (exact)
        return inRange || outOfRange();
    double x = 0.0;
    if (!numberOf(value, x, nullptr))
        return failed(error, column, QStringLiteral("takes whole numbers; the value is not a number."));
    // A fraction is rounded by the engine; the rounded value must fit. high
    // + 1 is a power of two, which a double holds exactly (high itself may
    // round up to it).
    const double rounded = std::nearbyint(x);
    if (rounded < double(low) || rounded >= double(high) + 1.0)
        return outOfRange();
    return true;
}

} // namespace

bool checkFieldValue(const ColumnInfo& column, const QVariant& value, DataError& error)
{
    if (!value.isValid() || value.isNull()) {
        if (!column.nullable)
            return failed(error, column, QStringLiteral("cannot be NULL."));
        return true;
    }
    switch (column.type) {
    case adChar:
    case adVarChar:
    case adWChar:
    case adVarWChar: {
        if (value.typeId() == QMetaType::QByteArray)
            return failed(error, column, QStringLiteral("takes text; the value is binary data."));
        if (column.size <= 0)
            return true;
        const QString text = value.toString();
        const bool codePage = column.type == adChar || column.type == adVarChar;
        const qint64 length = codePage ? cp936::encode(text).size() : text.size();
        if (length > column.size)
            return failed(error, column,
                          QStringLiteral("holds at most %1 %2; the value is longer.")
                              .arg(column.size)
                              .arg(codePage ? QStringLiteral("bytes") : QStringLiteral("characters")));
        return true;
    }
    case adBinary:
    case adVarBinary:
        if (column.size > 0 && value.typeId() == QMetaType::QByteArray &&
            value.toByteArray().size() > column.size)
            return failed(error, column,
                          QStringLiteral("holds at most %1 bytes; the value is longer.").arg(column.size));
        return true;
    case adBoolean:
        if (isDateValue(value) || value.typeId() == QMetaType::QByteArray)
            return failed(error, column, QStringLiteral("takes yes or no; the value is neither."));
        return true;
    case adTinyInt:
        return checkInteger(column, value, -128, 127, error);
    case adUnsignedTinyInt:
        return checkInteger(column, value, 0, 255, error);
    case adSmallInt:
        return checkInteger(column, value, -32768, 32767, error);
    case adInteger:
        return checkInteger(column, value, std::numeric_limits<qint32>::min(),
                            std::numeric_limits<qint32>::max(), error);
    case adBigInt:
        return checkInteger(column, value, std::numeric_limits<qint64>::min(),
                            std::numeric_limits<qint64>::max(), error);
    case adSingle:
    case adDouble: {
        double x = 0.0;
        if (!numberOf(value, x, nullptr))
            return failed(error, column, QStringLiteral("takes numbers; the value is not a number."));
        if (column.type == adSingle && std::fabs(x) > double(FLT_MAX))
            return failed(error, column,
                          QStringLiteral("takes single-precision numbers; the value is out of range."));
        return true;
    }
    case adCurrency:
    case adNumeric:
    case adDecimal: {
        double x = 0.0;
        QString text;
        if (!numberOf(value, x, &text))
            return failed(error, column, QStringLiteral("takes numbers; the value is not a number."));
        if (column.type == adCurrency && std::fabs(x) > 922337203685477.5807)
            return failed(error, column,
                          QStringLiteral("takes currency amounts; the value is out of range."));
        if (column.type == adCurrency || column.size <= 0)
            return true;
        const int allowed = int(column.size) - column.decimals;
        const int digits = text.isEmpty() || integerDigits(text) < 0
                               ? (std::fabs(x) < 1.0 ? 0 : int(std::floor(std::log10(std::fabs(x)))) + 1)
                               : integerDigits(text);
        if (digits > allowed)
            return failed(
                error, column,
                QStringLiteral("takes numbers of at most %1 digits before the decimal point; the value "
                               "is out of range.")
                    .arg(allowed));
        return true;
    }
    case adDate:
    case adDBDate:
    case adDBTime:
    case adDBTimeStamp: {
        // The date and time of the value as written, without a time zone
        // (finding one costs more than the whole check).
        QDate day;
        QTime time(0, 0);
        bool valid = false;
        if (value.typeId() == QMetaType::QDateTime) {
            const QDateTime at = value.toDateTime();
            valid = at.isValid();
            if (valid) {
                day = at.date();
                time = at.time();
            }
        } else if (value.typeId() == QMetaType::QDate) {
            day = value.toDate();
            valid = day.isValid();
        } else if (value.typeId() == QMetaType::QTime) {
            day = QDate(1900, 1, 1);
            time = value.toTime();
            valid = time.isValid();
        } else if (value.typeId() == QMetaType::QString) {
            const QString text = value.toString().trimmed();
            QDateTime at = QDateTime::fromString(text, Qt::ISODateWithMs);
            if (!at.isValid())
                at = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            if (at.isValid()) {
                valid = true;
                day = at.date();
                time = at.time();
            } else {
                day = QDate::fromString(text, Qt::ISODate);
                valid = day.isValid();
            }
        }
        if (!valid)
            return failed(error, column, QStringLiteral("takes dates; the value is not a date."));
        // DATETIME and SMALLDATETIME, as SQL Server describes them (and the
        // embedded engine after it), hold a range of dates only.
        if (column.type != adDBTimeStamp)
            return true;
        const auto outside = [&](QDate firstDay, QDate lastDay, QTime lastTime) {
            return day < firstDay || day > lastDay || (day == lastDay && time > lastTime);
        };
        if (column.size == 23 && column.decimals == 3 &&
            outside(QDate(1753, 1, 1), QDate(9999, 12, 31), QTime(23, 59, 59, 997)))
            return failed(
                error, column,
                QStringLiteral("takes dates from 1753-01-01 to 9999-12-31; the value is out of range."));
        if (column.size == 16 && column.decimals == 0 &&
            outside(QDate(1900, 1, 1), QDate(2079, 6, 6), QTime(23, 59, 29, 998)))
            return failed(
                error, column,
                QStringLiteral("takes dates from 1900-01-01 to 2079-06-06; the value is out of range."));
        return true;
    }
    default:
        return true;
    }
}

} // namespace ov
