#include "jet/writer/JetEncoding.h"

#include <QRegularExpression>

#include <cmath>
#include <cstring>
#include <limits>

namespace jet::detail {

void putDouble(char* p, double v)
{
    quint64 bits = 0;
    static_assert(sizeof bits == sizeof v);
    std::memcpy(&bits, &v, sizeof bits);
    put64(p, bits);
}

void putFloat(char* p, float v)
{
    quint32 bits = 0;
    static_assert(sizeof bits == sizeof v);
    std::memcpy(&bits, &v, sizeof bits);
    put32(p, bits);
}

void rc4(const QByteArray& key, char* data, int length)
{
    quint8 s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = quint8(i);
    quint8 j = 0;
    for (int i = 0; i < 256; ++i) {
        j = quint8(j + s[i] + quint8(key[i % key.size()]));
        std::swap(s[i], s[j]);
    }
    quint8 x = 0;
    quint8 y = 0;
    for (int k = 0; k < length; ++k) {
        x = quint8(x + 1);
        y = quint8(y + s[x]);
        std::swap(s[x], s[y]);
        data[k] = char(quint8(data[k]) ^ s[quint8(s[x] + s[y])]);
    }
}

double oleDate(const QDate& date, const QTime& time)
{
    static const qint64 epoch = QDate(1899, 12, 30).toJulianDay();
    const qint64 days = date.toJulianDay() - epoch;
    const double fraction = time.msecsSinceStartOfDay() / 86400000.0;
    return days >= 0 ? double(days) + fraction : double(days) - fraction;
}

std::optional<QByteArray> encodeText(const QString& text, bool allowCompression)
{
    const int n = int(text.size());
    QByteArray plain(n * 2, Qt::Uninitialized);
    for (int i = 0; i < n; ++i)
        put16(plain.data() + 2 * i, text[i].unicode());

    const bool startsWithMarker = n > 0 && text[0].unicode() == 0xFEFF;
    if (!startsWithMarker && (!allowCompression || n <= 2))
        return plain;

    // In either mode a 0x00 byte switches modes, so a character whose low
    // byte is 0 (U+0000, U+0100, U+4E00, ...) cannot be written compressed.
    const auto oneByte = [](char16_t c) { return c >= 0x01 && c <= 0xFF; };
    QByteArray packed("\xFF\xFE", 2);
    bool compressedMode = true;
    for (int i = 0; i < n;) {
        const bool single = oneByte(text[i].unicode());
        int end = i;
        while (end < n && oneByte(text[end].unicode()) == single)
            ++end;
        if (single) {
            // From two-byte mode, switching costs one marker byte, and one more
            // to come back unless the run ends the text: a run that short is
            // cheaper left in two-byte mode.
            const int switchCost = end == n ? 1 : 2;
            if (!compressedMode && end - i > switchCost) {
                packed.append('\0');
                compressedMode = true;
            }
            for (int k = i; k < end; ++k) {
                packed.append(char(text[k].unicode()));
                if (!compressedMode)
                    packed.append('\0');
            }
        } else {
            if (compressedMode) {
                packed.append('\0');
                compressedMode = false;
            }
            for (int k = i; k < end; ++k) {
                const char16_t c = text[k].unicode();
                if ((c & 0xFF) == 0)
                    return startsWithMarker ? std::nullopt : std::optional<QByteArray>(plain);
                packed.append(char(c & 0xFF));
                packed.append(char(c >> 8));
            }
        }
        i = end;
    }
    if (startsWithMarker || packed.size() < plain.size())
        return packed;
    return plain;
}

namespace {

bool isFloating(const QVariant& v)
{
    const int id = v.metaType().id();
    return id == QMetaType::Double || id == QMetaType::Float;
}

QString shown(const QVariant& v)
{
    const QString s = v.toString();
    return s.isEmpty() && v.metaType().id() != QMetaType::QString ? QString::fromLatin1(v.typeName()) : s;
}

} // namespace

bool toInteger(const QVariant& v, qint64 min, qint64 max, qint64* out, QString* error)
{
    bool ok = false;
    qint64 n = 0;
    if (isFloating(v)) {
        const double d = v.toDouble();
        ok = std::isfinite(d) && std::trunc(d) == d && std::fabs(d) < 9.2e18;
        n = ok ? qint64(d) : 0;
    } else if (v.metaType().id() == QMetaType::ULongLong) {
        const qulonglong u = v.toULongLong();
        ok = true;
        n = u > qulonglong(std::numeric_limits<qint64>::max()) ? std::numeric_limits<qint64>::max()
                                                               : qint64(u);
    } else if (v.metaType().id() == QMetaType::QString) {
        n = v.toString().trimmed().toLongLong(&ok);
    } else {
        n = v.toLongLong(&ok);
    }
    if (!ok) {
        *error = QStringLiteral("'%1' is not an integer").arg(shown(v));
        return false;
    }
    if (n < min || n > max) {
        *error = QStringLiteral("%1 is outside %2..%3").arg(shown(v)).arg(min).arg(max);
        return false;
    }
    *out = n;
    return true;
}

bool toCurrency(const QVariant& v, qint64* out, QString* error)
{
    constexpr qint64 kScale = 10000;
    if (v.metaType().id() == QMetaType::QString) {
        static const QRegularExpression pattern(QStringLiteral("^([+-]?)(\\d+)(?:\\.(\\d*))?$"));
        const QString s = v.toString().trimmed();
        const QRegularExpressionMatch m = pattern.match(s);
        if (!m.hasMatch()) {
            *error = QStringLiteral("'%1' is not a decimal number").arg(s);
            return false;
        }
        QString fraction = m.captured(3);
        while (fraction.endsWith(QLatin1Char('0')))
            fraction.chop(1);
        if (fraction.size() > 4) {
            *error = QStringLiteral("%1 has more than 4 decimals").arg(s);
            return false;
        }
        const QString digits = m.captured(2) + fraction.leftJustified(4, QLatin1Char('0'));
        // The magnitude may reach 2^63 (the most negative amount).
        const bool negative = m.captured(1) == QLatin1String("-");
        const quint64 limit = negative ? quint64(1) << 63 : (quint64(1) << 63) - 1;
        quint64 magnitude = 0;
        for (const QChar c : digits) {
            const quint64 digit = quint64(c.unicode() - u'0');
            if (magnitude > (limit - digit) / 10) {
                *error = QStringLiteral("%1 is outside the range of Currency").arg(s);
                return false;
            }
            magnitude = magnitude * 10 + digit;
        }
        *out = negative ? qint64(0 - magnitude) : qint64(magnitude);
        return true;
    }
    if (isFloating(v)) {
        const double scaled = std::round(v.toDouble() * kScale);
        if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.2233720368547758e18) {
            *error = QStringLiteral("%1 is outside the range of Currency").arg(shown(v));
            return false;
        }
        *out = qint64(scaled);
        return true;
    }
    qint64 units = 0;
    constexpr qint64 kMax = std::numeric_limits<qint64>::max() / kScale;
    if (!toInteger(v, -kMax, kMax, &units, error))
        return false;
    *out = units * kScale;
    return true;
}

bool toReal(const QVariant& v, double* out, QString* error)
{
    bool ok = false;
    const double d =
        v.metaType().id() == QMetaType::QString ? v.toString().trimmed().toDouble(&ok) : v.toDouble(&ok);
    if (!ok) {
        *error = QStringLiteral("'%1' is not a number").arg(shown(v));
        return false;
    }
    *out = d;
    return true;
}

bool toOleDate(const QVariant& v, double* out, QString* error)
{
    QDate date;
    QTime time(0, 0);
    switch (v.metaType().id()) {
    case QMetaType::QDateTime:
        date = v.toDateTime().date();
        time = v.toDateTime().time();
        break;
    case QMetaType::QDate:
        date = v.toDate();
        break;
    case QMetaType::QString: {
        const QString s = v.toString().trimmed();
        const QDateTime dt = QDateTime::fromString(s, Qt::ISODateWithMs);
        if (dt.isValid()) {
            date = dt.date();
            time = dt.time();
        } else {
            date = QDate::fromString(s, Qt::ISODate);
        }
        break;
    }
    default:
        break;
    }
    if (!date.isValid() || !time.isValid()) {
        *error = QStringLiteral("'%1' is not a date").arg(shown(v));
        return false;
    }
    if (date < QDate(100, 1, 1) || date > QDate(9999, 12, 31)) {
        *error = QStringLiteral("%1 is outside 0100-01-01..9999-12-31").arg(date.toString(Qt::ISODate));
        return false;
    }
    *out = oleDate(date, time);
    return true;
}

} // namespace jet::detail
