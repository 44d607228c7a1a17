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

bool checkInteger(const ColumnInfo& column, const QVariant& value, double low, double high, DataError& error)
{
    double x = 0.0;
    if (!numberOf(value, x, nullptr))
        return failed(error, column, QStringLiteral("takes whole numbers; the value is not a number."));
    // A fraction is rounded by the engine; the rounded value must fit.
    const double rounded = std::nearbyint(x);
    if (rounded < low || rounded > high)
        return failed(error, column,
                      QStringLiteral("takes whole numbers from %1 to %2; the value is out of range.")
                          .arg(QString::number(low, 'f', 0), QString::number(high, 'f', 0)));
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
        return checkInteger(column, value, -128.0, 127.0, error);
    case adUnsignedTinyInt:
        return checkInteger(column, value, 0.0, 255.0, error);
    case adSmallInt:
        return checkInteger(column, value, -32768.0, 32767.0, error);
    case adInteger:
        return checkInteger(column, value, -2147483648.0, 2147483647.0, error);
    case adBigInt:
        return checkInteger(column, value, -9223372036854775808.0, 9223372036854774784.0, error);
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
        if (isDateValue(value)) {
            const bool valid = value.typeId() == QMetaType::QDateTime ? value.toDateTime().isValid()
                               : value.typeId() == QMetaType::QDate   ? value.toDate().isValid()
                                                                      : value.toTime().isValid();
            if (valid)
                return true;
        } else if (value.typeId() == QMetaType::QString) {
            const QString text = value.toString().trimmed();
            if (QDateTime::fromString(text, Qt::ISODateWithMs).isValid() ||
                QDate::fromString(text, Qt::ISODate).isValid() ||
                QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid())
                return true;
        }
        return failed(error, column, QStringLiteral("takes dates; the value is not a date."));
    }
    default:
        return true;
    }
}

} // namespace ov
