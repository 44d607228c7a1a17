#include "common/ValueText.h"

#include "common/VbNumeric.h"

#include <QDateTime>
#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

namespace mdlCommon::valuetext {

namespace {

// ---- plain text ---------------------------------------------------------

QString plainDouble(double value)
{
    if (value == 0.0)
        return QStringLiteral("0"); // also for -0
    if (!std::isfinite(value))
        return QString::number(value);
    return QString::number(value, 'f', QLocale::FloatingPointShortest);
}

QString plainFloat(float value)
{
    if (value == 0.0f)
        return QStringLiteral("0");
    if (!std::isfinite(value))
        return QString::number(double(value));
    // The shortest text for the float itself: 0.1f is "0.1", not the digits of
    // its double widening.
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return QString::fromLatin1(buffer, int(result.ptr - buffer));
}

} // namespace

const QDate zeroDate(1899, 12, 30);

// The value's plain text form; false when it has none (null, invalid date,
// list, map, an object).
bool plainText(const QVariant& value, QString& text)
{
    if (value.isNull())
        return false;
    switch (value.typeId()) {
    case QMetaType::QString:
        text = value.toString();
        return true;
    case QMetaType::Bool:
        text = value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
        return true;
    case QMetaType::Double:
        text = plainDouble(value.toDouble());
        return true;
    case QMetaType::Float:
        text = plainFloat(value.toFloat());
        return true;
    case QMetaType::QDate: {
        const QDate date = value.toDate();
        if (!date.isValid())
            return false;
        text = date.toString(QStringLiteral("yyyy-MM-dd"));
        return true;
    }
    case QMetaType::QDateTime: {
        const QDateTime dateTime = value.toDateTime();
        if (!dateTime.isValid())
            return false;
        text = dateTime.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        return true;
    }
    case QMetaType::QTime: {
        const QTime time = value.toTime();
        if (!time.isValid())
            return false;
        text = time.toString(QStringLiteral("HH:mm:ss"));
        return true;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList:
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash:
        return false;
    default:
        if (!value.canConvert<QString>())
            return false;
        text = value.toString();
        return true;
    }
}

namespace {

// ---- patterns -----------------------------------------------------------

// One piece of a format pattern: text to write as it is, or a field.
struct Piece
{
    enum Kind
    {
        Literal,
        // date fields
        Day,
        WeekdayName,
        Weekday,
        Week,
        Month,
        MonthName,
        Minute,
        Quarter,
        DayOfYear,
        Year2,
        Year4,
        Hour,
        Second,
        AmPm,
        // number fields
        Digit0,
        DigitHash,
        Point,
        Percent,
    };
    Kind kind;
    QString text;  // Literal: the text; AmPm: the pattern's own letters
    int width = 1; // 1 or 2 digits; for names 3 = abbreviated, 4 = full
};

// Reads a quoted text or an escaped character at format[i]; true when there
// was one (i then points past it).
bool readLiteral(const QString& format, int& i, QString& out)
{
    if (format.at(i) == u'"') {
        const int end = format.indexOf(u'"', i + 1);
        const int stop = end < 0 ? format.size() : end;
        out += format.mid(i + 1, stop - i - 1);
        i = end < 0 ? format.size() : end + 1;
        return true;
    }
    if (format.at(i) == u'\\') {
        if (i + 1 < format.size())
            out += format.at(i + 1);
        i += 2;
        return true;
    }
    return false;
}

void addLiteral(std::vector<Piece>& pieces, const QString& text)
{
    if (text.isEmpty())
        return;
    if (!pieces.empty() && pieces.back().kind == Piece::Literal)
        pieces.back().text += text;
    else
        pieces.push_back({Piece::Literal, text});
}

int runLength(const QString& format, int i, QChar letter, int most)
{
    int n = 0;
    while (i + n < format.size() && n < most && format.at(i + n).toLower() == letter)
        ++n;
    return n;
}

std::vector<Piece> parseDatePattern(const QString& format)
{
    std::vector<Piece> pieces;
    int i = 0;
    while (i < format.size()) {
        QString literal;
        if (readLiteral(format, i, literal)) {
            addLiteral(pieces, literal);
            continue;
        }
        if (format.mid(i, 5).compare(QLatin1String("am/pm"), Qt::CaseInsensitive) == 0) {
            pieces.push_back({Piece::AmPm, format.mid(i, 5)});
            i += 5;
            continue;
        }
        if (format.mid(i, 3).compare(QLatin1String("a/p"), Qt::CaseInsensitive) == 0) {
            pieces.push_back({Piece::AmPm, format.mid(i, 3)});
            i += 3;
            continue;
        }
        const QChar c = format.at(i).toLower();
        int n = 0;
        if (c == u'd') {
            n = runLength(format, i, c, 4);
            pieces.push_back({n >= 3 ? Piece::WeekdayName : Piece::Day, {}, n});
        } else if (c == u'w') {
            n = runLength(format, i, c, 2);
            pieces.push_back({n == 2 ? Piece::Week : Piece::Weekday, {}, 1});
        } else if (c == u'm') {
            n = runLength(format, i, c, 4);
            pieces.push_back({n >= 3 ? Piece::MonthName : Piece::Month, {}, n});
        } else if (c == u'q') {
            n = 1;
            pieces.push_back({Piece::Quarter, {}, 1});
        } else if (c == u'y') {
            n = runLength(format, i, c, 4);
            n = n == 4 ? 4 : (n >= 2 ? 2 : 1);
            pieces.push_back({n == 4 ? Piece::Year4 : (n == 2 ? Piece::Year2 : Piece::DayOfYear), {}, 1});
        } else if (c == u'h') {
            n = runLength(format, i, c, 2);
            pieces.push_back({Piece::Hour, {}, n});
        } else if (c == u'n') {
            n = runLength(format, i, c, 2);
            pieces.push_back({Piece::Minute, {}, n});
        } else if (c == u's') {
            n = runLength(format, i, c, 2);
            pieces.push_back({Piece::Second, {}, n});
        } else {
            n = 1;
            addLiteral(pieces, QString(format.at(i)));
        }
        i += n;
    }

    // "m" and "mm" are minutes next to an hour or a second.
    auto neighbour = [&](std::size_t from, int step) -> const Piece* {
        for (auto k = std::ptrdiff_t(from) + step; k >= 0 && k < std::ptrdiff_t(pieces.size()); k += step) {
            if (pieces[std::size_t(k)].kind != Piece::Literal)
                return &pieces[std::size_t(k)];
        }
        return nullptr;
    };
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        if (pieces[k].kind != Piece::Month)
            continue;
        const Piece* before = neighbour(k, -1);
        const Piece* after = neighbour(k, +1);
        if ((before && before->kind == Piece::Hour) || (after && after->kind == Piece::Second))
            pieces[k].kind = Piece::Minute;
    }
    return pieces;
}

QString twoDigits(int value, int width)
{
    return width >= 2 ? QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')) : QString::number(value);
}

} // namespace

QString formatDate(const QDateTime& dateTime, const QString& format)
{
    const std::vector<Piece> pieces = parseDatePattern(format);
    bool twelveHour = false;
    for (const Piece& piece : pieces)
        twelveHour = twelveHour || piece.kind == Piece::AmPm;

    const QDate date = dateTime.date();
    const QTime time = dateTime.time();
    const QLocale locale;
    // Weeks start on Sunday; week 1 holds 1 January.
    const int sundayBased = QDate(date.year(), 1, 1).dayOfWeek() % 7;
    QString out;
    for (const Piece& piece : pieces) {
        switch (piece.kind) {
        case Piece::Literal:
            out += piece.text;
            break;
        case Piece::Day:
            out += twoDigits(date.day(), piece.width);
            break;
        case Piece::WeekdayName:
            out += locale.dayName(date.dayOfWeek(),
                                  piece.width == 3 ? QLocale::ShortFormat : QLocale::LongFormat);
            break;
        case Piece::Weekday:
            out += QString::number(date.dayOfWeek() % 7 + 1);
            break;
        case Piece::Week:
            out += QString::number((date.dayOfYear() - 1 + sundayBased) / 7 + 1);
            break;
        case Piece::Month:
            out += twoDigits(date.month(), piece.width);
            break;
        case Piece::MonthName:
            out +=
                locale.monthName(date.month(), piece.width == 3 ? QLocale::ShortFormat : QLocale::LongFormat);
            break;
        case Piece::Minute:
            out += twoDigits(time.minute(), piece.width);
            break;
        case Piece::Quarter:
            out += QString::number((date.month() - 1) / 3 + 1);
            break;
        case Piece::DayOfYear:
            out += QString::number(date.dayOfYear());
            break;
        case Piece::Year2:
            out += twoDigits(date.year() % 100, 2);
            break;
        case Piece::Year4:
            out += QStringLiteral("%1").arg(date.year(), 4, 10, QLatin1Char('0'));
            break;
        case Piece::Hour: {
            int hour = time.hour();
            if (twelveHour)
                hour = hour % 12 == 0 ? 12 : hour % 12;
            out += twoDigits(hour, piece.width);
            break;
        }
        case Piece::Second:
            out += twoDigits(time.second(), piece.width);
            break;
        case Piece::AmPm: {
            // "AM/PM" -> "AM" or "PM", "a/p" -> "a" or "p": the letters of the pattern.
            const int slash = piece.text.indexOf(u'/');
            out += time.hour() < 12 ? piece.text.left(slash) : piece.text.mid(slash + 1);
            break;
        }
        default:
            break;
        }
    }
    return out;
}

// The sections of a number pattern, split at ";" outside quotes and escapes.
namespace {

QStringList numberSections(const QString& format)
{
    QStringList sections(QString{});
    for (int i = 0; i < format.size();) {
        const int start = i;
        QString ignored;
        if (readLiteral(format, i, ignored)) {
            sections.last() += format.mid(start, i - start);
            continue;
        }
        if (format.at(i) == u';')
            sections.append(QString{});
        else
            sections.last() += format.at(i);
        ++i;
    }
    return sections;
}

// |value| in fixed notation with exactly `decimals` decimals, rounded half away
// from zero on its first 15 significant digits. intDigits has no leading zeros
// ("" for an integer part of 0).
void fixedDigits(double value, int decimals, QString& intDigits, QString& fracDigits)
{
    value = std::fabs(value);
    QString integer;
    QString fraction;
    if (value != 0.0) {
        const QString e = QString::number(value, 'e', 14); // d.dddddddddddddde±x
        const int ePos = e.indexOf(u'e');
        const QString digits = e.left(1) + e.mid(2, ePos - 2);
        const int exponent = e.mid(ePos + 1).toInt();
        if (exponent >= 0) {
            integer = digits.left(exponent + 1).leftJustified(exponent + 1, u'0');
            fraction = digits.mid(exponent + 1);
        } else {
            fraction = QString(-exponent - 1, u'0') + digits;
        }
    }
    bool roundUp = false;
    if (fraction.size() > decimals) {
        roundUp = fraction.at(decimals) >= u'5';
        fraction.truncate(decimals);
    }
    fraction = fraction.leftJustified(decimals, u'0');
    if (roundUp) {
        QString all = integer + fraction;
        int k = all.size() - 1;
        for (; k >= 0 && all.at(k) == u'9'; --k)
            all[k] = u'0';
        if (k >= 0)
            all[k] = QChar(all.at(k).unicode() + 1);
        else
            all.prepend(u'1');
        integer = all.left(all.size() - decimals);
        fraction = all.right(decimals);
    }
    int lead = 0;
    while (lead < integer.size() && integer.at(lead) == u'0')
        ++lead;
    intDigits = integer.mid(lead);
    fracDigits = fraction;
}

QString formatNumberSection(double value, const QString& section, bool& allZero)
{
    // Parse the section into pieces.
    std::vector<Piece> pieces;
    bool seenPoint = false;
    bool thousands = false;
    int percent = 0;
    int intPlaces = 0;
    int fracPlaces = 0;
    int lastFracZero = -1;
    for (int i = 0; i < section.size();) {
        QString literal;
        if (readLiteral(section, i, literal)) {
            addLiteral(pieces, literal);
            continue;
        }
        const QChar c = section.at(i++);
        if (c == u'0' || c == u'#') {
            pieces.push_back({c == u'0' ? Piece::Digit0 : Piece::DigitHash, {}});
            if (seenPoint) {
                if (c == u'0')
                    lastFracZero = fracPlaces;
                ++fracPlaces;
            } else {
                ++intPlaces;
            }
        } else if (c == u'.' && !seenPoint) {
            seenPoint = true;
            pieces.push_back({Piece::Point, {}});
        } else if (c == u',' && !seenPoint && intPlaces > 0) {
            thousands = true;
        } else if (c == u'%') {
            ++percent;
            pieces.push_back({Piece::Percent, {}});
        } else {
            addLiteral(pieces, QString(c));
        }
    }

    for (int k = 0; k < percent; ++k)
        value *= 100.0;
    QString intDigits;
    QString fracDigits;
    fixedDigits(value, fracPlaces, intDigits, fracDigits);
    allZero = intDigits.isEmpty() &&
              std::all_of(fracDigits.cbegin(), fracDigits.cend(), [](QChar c) { return c == u'0'; });
    // Trailing zeros beyond the last "0" placeholder are left out.
    int fracKeep = fracPlaces;
    while (fracKeep > lastFracZero + 1 && fracDigits.at(fracKeep - 1) == u'0')
        --fracKeep;

    // Integer placeholders take the digits from the right; the leftmost one
    // takes every digit left over. Built right to left, so thousands
    // separators are counted from the units.
    std::vector<QString> filled(pieces.size());
    int digitsOut = 0;
    int remaining = intDigits.size();
    auto prependDigit = [&](QString& into, QChar digit) {
        if (thousands && digitsOut > 0 && digitsOut % 3 == 0)
            into.prepend(u',');
        into.prepend(digit);
        ++digitsOut;
    };
    int intSeen = 0;
    const std::ptrdiff_t pointIndex = [&] {
        for (std::size_t k = 0; k < pieces.size(); ++k) {
            if (pieces[k].kind == Piece::Point)
                return std::ptrdiff_t(k);
        }
        return std::ptrdiff_t(pieces.size());
    }();
    for (std::ptrdiff_t k = pointIndex - 1; k >= 0; --k) {
        const Piece& piece = pieces[std::size_t(k)];
        if (piece.kind != Piece::Digit0 && piece.kind != Piece::DigitHash)
            continue;
        ++intSeen;
        QString& into = filled[std::size_t(k)];
        const bool leftmost = intSeen == intPlaces;
        const int take = leftmost ? remaining : std::min(remaining, 1);
        for (int t = 0; t < take; ++t)
            prependDigit(into, intDigits.at(--remaining));
        if (take == 0 && piece.kind == Piece::Digit0)
            prependDigit(into, u'0');
    }
    // Without integer placeholders the integer digits go before the point.
    QString beforePoint;
    if (intPlaces == 0) {
        for (int r = intDigits.size() - 1; r >= 0; --r)
            prependDigit(beforePoint, intDigits.at(r));
    }

    QString out;
    int fracSeen = 0;
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        const Piece& piece = pieces[k];
        switch (piece.kind) {
        case Piece::Literal:
            out += piece.text;
            break;
        case Piece::Percent:
            out += u'%';
            break;
        case Piece::Point:
            out += beforePoint;
            out += u'.';
            break;
        default:
            if (std::ptrdiff_t(k) < pointIndex) {
                out += filled[k];
            } else {
                if (fracSeen < fracKeep)
                    out += fracDigits.at(fracSeen);
                ++fracSeen;
            }
            break;
        }
    }
    return out;
}

} // namespace

QString formatNumber(double value, const QString& format)
{
    const QStringList sections = numberSections(format);
    bool allZero = false;
    if (value < 0.0 && sections.size() >= 2 && !sections.at(1).isEmpty())
        return formatNumberSection(value, sections.at(1), allZero);
    if (value == 0.0 && sections.size() >= 3 && !sections.at(2).isEmpty())
        return formatNumberSection(value, sections.at(2), allZero);
    const QString text = formatNumberSection(value, sections.at(0), allZero);
    // A negative number that rounds to zero has no sign.
    return value < 0.0 && !allZero ? u'-' + text : text;
}

} // namespace mdlCommon::valuetext
