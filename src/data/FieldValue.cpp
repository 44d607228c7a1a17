#include "data/FieldValue.h"

#include "common/Cp936.h"

#include <QDateTime>
#include <QLocale>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

namespace ov {

namespace {

bool failed(DataError& error, const ColumnInfo& column, const QString& rule)
{
    setDataError(error, DataErr::FieldValue, QStringLiteral("Field '%1' %2").arg(column.name, rule));
    return false;
}

// The rules that both checks report, each in one wording.

bool notNullable(DataError& error, const ColumnInfo& column)
{
    return failed(error, column, QStringLiteral("cannot be NULL."));
}

bool notAWholeNumber(DataError& error, const ColumnInfo& column)
{
    return failed(error, column, QStringLiteral("takes whole numbers; the value is not a number."));
}

bool notANumber(DataError& error, const ColumnInfo& column)
{
    return failed(error, column, QStringLiteral("takes numbers; the value is not a number."));
}

bool notABit(DataError& error, const ColumnInfo& column)
{
    return failed(error, column, QStringLiteral("takes yes or no; the value is neither."));
}

bool notADate(DataError& error, const ColumnInfo& column)
{
    return failed(error, column, QStringLiteral("takes dates; the value is not a date."));
}

bool integerOutOfRange(DataError& error, const ColumnInfo& column, qint64 low, qint64 high)
{
    return failed(error, column,
                  QStringLiteral("takes whole numbers from %1 to %2; the value is out of range.")
                      .arg(QString::number(low), QString::number(high)));
}

bool textTooLong(DataError& error, const ColumnInfo& column, bool codePage)
{
    return failed(error, column,
                  QStringLiteral("holds at most %1 %2; the value is longer.")
                      .arg(column.size)
                      .arg(codePage ? QStringLiteral("bytes") : QStringLiteral("characters")));
}

bool tooManyIntegerDigits(DataError& error, const ColumnInfo& column, int allowed)
{
    return failed(error, column,
                  QStringLiteral("takes numbers of at most %1 digits before the decimal point; the value "
                                 "is out of range.")
                      .arg(allowed));
}

// The whole numbers an integer column holds; false for a column of another
// type.
bool integerRange(int type, qint64& low, qint64& high)
{
    switch (type) {
    case adTinyInt:
        low = -128;
        high = 127;
        return true;
    case adUnsignedTinyInt:
        low = 0;
        high = 255;
        return true;
    case adSmallInt:
        low = -32768;
        high = 32767;
        return true;
    case adInteger:
        low = std::numeric_limits<qint32>::min();
        high = std::numeric_limits<qint32>::max();
        return true;
    case adBigInt:
        low = std::numeric_limits<qint64>::min();
        high = std::numeric_limits<qint64>::max();
        return true;
    default:
        return false;
    }
}

// Digits allowed before the decimal point of an exact number column; -1 when
// its precision is not known.
int decimalIntegerDigits(const ColumnInfo& column)
{
    if ((column.type != adNumeric && column.type != adDecimal) || column.size <= 0)
        return -1;
    return int(column.size) - column.decimals;
}

// Whether a valid date and time lies in the range of its column: DATETIME and
// SMALLDATETIME, as SQL Server describes them (and the embedded engine after
// it), hold a range of dates only.
bool dateInRange(DataError& error, const ColumnInfo& column, QDate day, QTime time)
{
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

// Whether the number written in [p, e) (a sign, digits, a point, digits;
// anything else ends them) gains an integer digit when it is rounded to
// scale digits after the point, as SQL Server rounds it into its column:
// 99.995 to two is 100.00.
bool roundingAddsDigit(const char* p, const char* e, int scale)
{
    if (p < e && (*p == '+' || *p == '-'))
        ++p;
    while (p < e && *p == '0')
        ++p;
    for (; p < e && *p != '.'; ++p) {
        if (*p != '9')
            return false;
    }
    if (p == e)
        return false;
    ++p;
    for (int i = 0; i < scale; ++i, ++p) {
        if (p == e || *p != '9')
            return false;
    }
    return p < e && *p >= '5';
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
    const auto outOfRange = [&] { return integerOutOfRange(error, column, low, high); };
    bool exact = false;
    const bool inRange = exactIntegerInRange(value, low, high, exact);
    if (exact)
        return inRange || outOfRange();
    double x = 0.0;
    if (!numberOf(value, x, nullptr))
        return notAWholeNumber(error, column);
    // A fraction is rounded by the engine; the rounded value must fit. high
    // + 1 is a power of two, which a double holds exactly (high itself may
    // round up to it).
    const double rounded = std::nearbyint(x);
    if (rounded < double(low) || rounded >= double(high) + 1.0)
        return outOfRange();
    return true;
}

// A text column: no binary data, and no more characters (or, for a code-page
// column, bytes of code page 936) than the column holds.
bool checkTextValue(const ColumnInfo& column, const QVariant& value, DataError& error)
{
    if (value.typeId() == QMetaType::QByteArray)
        return failed(error, column, QStringLiteral("takes text; the value is binary data."));
    if (column.size <= 0)
        return true;
    const QString text = value.toString();
    const bool codePage = column.type == adChar || column.type == adVarChar;
    const qint64 length = codePage ? cp936::encode(text).size() : text.size();
    return length <= column.size || textTooLong(error, column, codePage);
}

// A floating-point column: a number, and for a single-precision one a number
// that type reaches.
bool checkFloatValue(const ColumnInfo& column, const QVariant& value, DataError& error)
{
    double x = 0.0;
    if (!numberOf(value, x, nullptr))
        return notANumber(error, column);
    if (column.type == adSingle && std::fabs(x) > double(FLT_MAX))
        return failed(error, column,
                      QStringLiteral("takes single-precision numbers; the value is out of range."));
    return true;
}

// A currency or decimal column: a number with no more digits before the
// decimal point than the column allows, counted as the engine rounds it.
bool checkDecimalValue(const ColumnInfo& column, const QVariant& value, DataError& error)
{
    double x = 0.0;
    QString text;
    if (!numberOf(value, x, &text))
        return notANumber(error, column);
    if (column.type == adCurrency && std::fabs(x) > 922337203685477.5807)
        return failed(error, column, QStringLiteral("takes currency amounts; the value is out of range."));
    const int allowed = decimalIntegerDigits(column);
    if (allowed < 0)
        return true;
    const int digits = text.isEmpty() || integerDigits(text) < 0
                           ? (std::fabs(x) < 1.0 ? 0 : int(std::floor(std::log10(std::fabs(x)))) + 1)
                           : integerDigits(text);
    const QByteArray written = text.toLatin1();
    return digits < allowed ||
           (digits == allowed &&
            !roundingAddsDigit(written.constData(), written.constData() + written.size(), column.decimals)) ||
           tooManyIntegerDigits(error, column, allowed);
}

// The date and time of value as written, without a time zone (finding one
// costs more than the whole check); false when it gives none.
bool dateTimeOf(const QVariant& value, QDate& day, QTime& time)
{
    time = QTime(0, 0);
    switch (value.typeId()) {
    case QMetaType::QDateTime: {
        const QDateTime at = value.toDateTime();
        if (!at.isValid())
            return false;
        day = at.date();
        time = at.time();
        return true;
    }
    case QMetaType::QDate:
        day = value.toDate();
        return day.isValid();
    case QMetaType::QTime:
        day = QDate(1900, 1, 1);
        time = value.toTime();
        return time.isValid();
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        QDateTime at = QDateTime::fromString(text, Qt::ISODateWithMs);
        if (!at.isValid())
            at = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (at.isValid()) {
            day = at.date();
            time = at.time();
            return true;
        }
        day = QDate::fromString(text, Qt::ISODate);
        return day.isValid();
    }
    default:
        return false;
    }
}

bool checkDateValue(const ColumnInfo& column, const QVariant& value, DataError& error)
{
    QDate day;
    QTime time;
    if (!dateTimeOf(value, day, time))
        return notADate(error, column);
    return dateInRange(error, column, day, time);
}

} // namespace

bool checkFieldValue(const ColumnInfo& column, const QVariant& value, DataError& error)
{
    if (!value.isValid() || value.isNull())
        return column.nullable || notNullable(error, column);
    switch (column.type) {
    case adChar:
    case adVarChar:
    case adWChar:
    case adVarWChar:
        return checkTextValue(column, value, error);
    case adBinary:
    case adVarBinary:
        if (column.size > 0 && value.typeId() == QMetaType::QByteArray &&
            value.toByteArray().size() > column.size)
            return failed(error, column,
                          QStringLiteral("holds at most %1 bytes; the value is longer.").arg(column.size));
        return true;
    case adBoolean:
        if (isDateValue(value) || value.typeId() == QMetaType::QByteArray)
            return notABit(error, column);
        return true;
    case adTinyInt:
    case adUnsignedTinyInt:
    case adSmallInt:
    case adInteger:
    case adBigInt: {
        qint64 low = 0;
        qint64 high = 0;
        integerRange(column.type, low, high);
        return checkInteger(column, value, low, high, error);
    }
    case adSingle:
    case adDouble:
        return checkFloatValue(column, value, error);
    case adCurrency:
    case adNumeric:
    case adDecimal:
        return checkDecimalValue(column, value, error);
    case adDate:
    case adDBDate:
    case adDBTime:
    case adDBTimeStamp:
        return checkDateValue(column, value, error);
    default:
        return true;
    }
}

// ---- fields of a data file -------------------------------------------------

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The field without the blanks around it.
void trimBlanks(const char*& p, const char*& e)
{
    while (p < e && *p == ' ')
        ++p;
    while (e > p && e[-1] == ' ')
        --e;
}

// Reads the digits of a whole number with an optional sign. False when
// [p, e) holds anything else; otherwise the digits without leading zeros are
// counted in digits and, while they fit, their value is in magnitude.
bool readWholeNumber(const char* p, const char* e, bool& negative, int& digits, quint64& magnitude)
{
    negative = p < e && *p == '-';
    if (p < e && (*p == '+' || *p == '-'))
        ++p;
    if (p == e)
        return false;
    while (p < e && *p == '0')
        ++p;
    digits = 0;
    magnitude = 0;
    for (; p < e; ++p) {
        if (!isDigit(*p))
            return false;
        if (++digits <= 19)
            magnitude = magnitude * 10 + quint64(*p - '0');
    }
    // Zeros only: zero, of no digits.
    return true;
}

// Reads a decimal number: sign, digits, a point with digits, an exponent.
// False when [p, e) holds anything else; otherwise the digits before the
// point without leading zeros are counted in digits, and exponent tells
// whether the number has one.
bool readNumber(const char* p, const char* e, int& digits, bool& exponent)
{
    if (p < e && (*p == '+' || *p == '-'))
        ++p;
    int mantissa = 0;
    while (p < e && *p == '0') {
        ++p;
        ++mantissa;
    }
    digits = 0;
    while (p < e && isDigit(*p)) {
        ++p;
        ++digits;
    }
    mantissa += digits;
    if (p < e && *p == '.') {
        ++p;
        while (p < e && isDigit(*p)) {
            ++p;
            ++mantissa;
        }
    }
    if (mantissa == 0)
        return false;
    exponent = p < e && (*p == 'e' || *p == 'E');
    if (exponent) {
        ++p;
        if (p < e && (*p == '+' || *p == '-'))
            ++p;
        if (p == e || !isDigit(*p))
            return false;
        while (p < e && isDigit(*p))
            ++p;
    }
    return p == e;
}

// n digits at p as a number; false when one is no digit.
bool readDigits(const char* p, int n, int& value)
{
    value = 0;
    for (int i = 0; i < n; ++i) {
        if (!isDigit(p[i]))
            return false;
        value = value * 10 + (p[i] - '0');
    }
    return true;
}

// A date and time as written in a data file, in fields.
struct DateFields
{
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int ms = 0;
    bool withTime = false;

    // Ordered as the moments they stand for.
    qint64 key() const
    {
        return ((((qint64(year) * 100 + month) * 100 + day) * 100 + hour) * 100 + minute) * 100000 +
               second * 1000 + ms;
    }
};

qint64 dateKey(int year, int month, int day, int hour, int minute, int second, int ms)
{
    DateFields f;
    f.year = year;
    f.month = month;
    f.day = day;
    f.hour = hour;
    f.minute = minute;
    f.second = second;
    f.ms = ms;
    return f.key();
}

// The usual way of writing a date in a data file, "yyyy-MM-dd", optionally
// followed by " HH:mm:ss" (or "T" for the blank) and up to three digits of a
// second after a point. False when [p, e) is written otherwise.
bool readUsualDate(const char* p, const char* e, DateFields& f)
{
    const qsizetype n = e - p;
    if (n < 10 || !readDigits(p, 4, f.year) || p[4] != '-' || !readDigits(p + 5, 2, f.month) || p[7] != '-' ||
        !readDigits(p + 8, 2, f.day))
        return false;
    f.withTime = n > 10;
    if (f.withTime) {
        if (n < 19 || (p[10] != ' ' && p[10] != 'T') || !readDigits(p + 11, 2, f.hour) || p[13] != ':' ||
            !readDigits(p + 14, 2, f.minute) || p[16] != ':' || !readDigits(p + 17, 2, f.second))
            return false;
        if (n > 19) {
            const int fraction = int(n - 20);
            if (p[19] != '.' || fraction < 1 || fraction > 3 || !readDigits(p + 20, fraction, f.ms))
                return false;
            for (int i = fraction; i < 3; ++i)
                f.ms *= 10;
        }
    }
    return true;
}

} // namespace

FieldTextCheck::FieldTextCheck(const ColumnInfo& column, bool utf8, bool mayHoldNul)
    : m_column(column), m_utf8(utf8), m_mayHoldNul(mayHoldNul)
{
    if (integerRange(column.type, m_low, m_high)) {
        m_kind = Kind::Integer;
        return;
    }
    switch (column.type) {
    case adBoolean:
        m_kind = Kind::Bit;
        break;
    case adNumeric:
    case adDecimal:
    case adCurrency:
    case adDouble:
    case adSingle:
        m_kind = Kind::Number;
        break;
    case adDate:
    case adDBDate:
    case adDBTime:
    case adDBTimeStamp:
        m_kind = Kind::Date;
        // The range dateInRange takes, as keys of DateFields.
        m_earliest = 0;
        m_latest = std::numeric_limits<qint64>::max();
        if (column.type == adDBTimeStamp && column.size == 23 && column.decimals == 3) {
            m_earliest = dateKey(1753, 1, 1, 0, 0, 0, 0);
            m_latest = dateKey(9999, 12, 31, 23, 59, 59, 997);
        } else if (column.type == adDBTimeStamp && column.size == 16 && column.decimals == 0) {
            m_earliest = dateKey(1900, 1, 1, 0, 0, 0, 0);
            m_latest = dateKey(2079, 6, 6, 23, 59, 29, 998);
        }
        break;
    default:
        m_kind = Kind::Text;
        break;
    }
}

bool FieldTextCheck::check(const char* p, qsizetype n, DataError& error) const
{
    if (n == 0)
        return m_column.nullable || notNullable(error, m_column);
    const char* e = p + n;
    switch (m_kind) {
    case Kind::Text:
        return checkText(p, n, error);
    case Kind::Integer:
        trimBlanks(p, e);
        return checkInteger(p, e, error);
    case Kind::Bit: {
        trimBlanks(p, e);
        bool negative = false;
        int digits = 0;
        quint64 magnitude = 0;
        if (readWholeNumber(p, e, negative, digits, magnitude))
            return true;
        const qsizetype length = e - p;
        return (length == 4 && qstrnicmp(p, "true", 4) == 0) ||
               (length == 5 && qstrnicmp(p, "false", 5) == 0) || notABit(error, m_column);
    }
    case Kind::Number:
        trimBlanks(p, e);
        return checkNumber(p, e, error);
    case Kind::Date:
        trimBlanks(p, e);
        return checkDate(p, e, error);
    }
    return true;
}

int FieldTextCheck::bitWord(const char* p, qsizetype n)
{
    const char* e = p + n;
    trimBlanks(p, e);
    if (e - p == 4 && qstrnicmp(p, "true", 4) == 0)
        return 1;
    if (e - p == 5 && qstrnicmp(p, "false", 5) == 0)
        return 0;
    return -1;
}

bool FieldTextCheck::checkText(const char* p, qsizetype n, DataError& error) const
{
    if (m_mayHoldNul && std::memchr(p, 0, size_t(n)))
        return failed(error, m_column,
                      QStringLiteral("takes text without NUL characters; the value holds one."));
    const bool codePage = m_column.type == adChar || m_column.type == adVarChar;
    const bool characters = m_column.type == adWChar || m_column.type == adVarWChar;
    // A text is never longer than its bytes, in characters or in code page
    // 936 bytes.
    if ((!codePage && !characters) || m_column.size <= 0 || n <= m_column.size)
        return true;
    if (codePage) {
        if (m_utf8)
            return checkAsText(p, n, error);
        return textTooLong(error, m_column, true);
    }
    // Characters as SQL Server counts them: UTF-16 code units.
    qint64 units = 0;
    if (m_utf8) {
        for (qsizetype i = 0; i < n; ++i) {
            const auto b = static_cast<unsigned char>(p[i]);
            if ((b & 0xC0) != 0x80)
                units += b >= 0xF0 ? 2 : 1;
        }
    } else {
        // A byte from 0x81 on leads a character of two bytes.
        for (qsizetype i = 0; i < n; ++units)
            i += static_cast<unsigned char>(p[i]) >= 0x81 && i + 1 < n ? 2 : 1;
    }
    return units <= m_column.size || textTooLong(error, m_column, false);
}

bool FieldTextCheck::checkInteger(const char* p, const char* e, DataError& error) const
{
    bool negative = false;
    int digits = 0;
    quint64 magnitude = 0;
    if (!readWholeNumber(p, e, negative, digits, magnitude))
        return notAWholeNumber(error, m_column);
    // Magnitudes compared without overflow: that of the lowest value is one
    // more than that of -(low + 1).
    const quint64 lowest = m_low < 0 ? quint64(-(m_low + 1)) + 1 : 0;
    const bool inRange = digits <= 19 && (negative ? magnitude <= lowest : magnitude <= quint64(m_high));
    return inRange || integerOutOfRange(error, m_column, m_low, m_high);
}

bool FieldTextCheck::checkNumber(const char* p, const char* e, DataError& error) const
{
    int digits = 0;
    bool exponent = false;
    if (!readNumber(p, e, digits, exponent))
        return notANumber(error, m_column);
    const int allowed = decimalIntegerDigits(m_column);
    if (!exponent && allowed >= 0)
        return digits < allowed || (digits == allowed && !roundingAddsDigit(p, e, m_column.decimals)) ||
               tooManyIntegerDigits(error, m_column, allowed);
    // Digits that no column of the type could refuse: below the largest
    // currency amount, single and double precision number.
    const int safe = m_column.type == adCurrency ? 14 : (m_column.type == adSingle ? 38 : 308);
    if (!exponent && digits <= safe)
        return true;
    return checkAsText(p, e - p, error);
}

bool FieldTextCheck::checkDate(const char* p, const char* e, DataError& error) const
{
    DateFields f;
    // The usual form is judged here; a day or time that does not exist in it
    // (30 February, 25 o'clock, 24:00) is refused, as SQL Server refuses it.
    if (!readUsualDate(p, e, f) || m_column.type == adDBTime || m_column.type == adDate ||
        (m_column.type == adDBDate && f.withTime))
        return checkAsText(p, e - p, error);
    if (!QDate::isValid(f.year, f.month, f.day) || !QTime::isValid(f.hour, f.minute, f.second, f.ms))
        return notADate(error, m_column);
    const qint64 key = f.key();
    if (key >= m_earliest && key <= m_latest)
        return true;
    return dateInRange(error, m_column, QDate(f.year, f.month, f.day),
                       QTime(f.hour, f.minute, f.second, f.ms));
}

bool FieldTextCheck::checkAsText(const char* p, qsizetype n, DataError& error) const
{
    const QString text = m_utf8 ? QString::fromUtf8(p, n) : cp936::decode(QByteArray::fromRawData(p, int(n)));
    return checkFieldValue(m_column, QVariant(text), error);
}

} // namespace ov
