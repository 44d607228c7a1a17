#include "common/VbNumeric.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>

namespace ov {

namespace {

NumberRead readFinite(double value, double& number)
{
    if (!std::isfinite(value))
        return NumberRead::NotNumber;
    number = value;
    return NumberRead::Ok;
}

NumberRead readText(const QString& text, double& number)
{
    // ASCII digits only: \d would also take the digits of other scripts.
    static const QRegularExpression syntax(
        QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?$"));
    const QString trimmed = text.trimmed();
    if (!syntax.match(trimmed).hasMatch())
        return NumberRead::NotNumber;
    bool ok = false;
    const double value = QLocale::c().toDouble(trimmed, &ok);
    if (!std::isfinite(value))
        return NumberRead::Overflow;
    // A text too small for a double is refused by the conversion with a zero
    // result: its nearest double is zero, as in any arithmetic on it.
    number = ok ? value : 0.0;
    return NumberRead::Ok;
}

} // namespace

NumberRead readNumber(const QVariant& value, double& number)
{
    switch (value.typeId()) {
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
    case QMetaType::Double:
    case QMetaType::Float:
        return readFinite(value.toDouble(), number);
    case QMetaType::QString:
        return readText(value.toString(), number);
    default:
        return NumberRead::NotNumber;
    }
}

bool isNumeric(const QVariant& value)
{
    double unused = 0.0;
    return readNumber(value, unused) == NumberRead::Ok;
}

QString numberToken(double number)
{
    if (number == 0.0)
        number = 0.0; // no "-0"
    return QString::number(number, 'g', QLocale::FloatingPointShortest);
}

} // namespace ov
