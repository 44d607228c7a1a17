#pragma once

#include "common/clsError.h"

#include <QString>
#include <QVariant>
#include <QVariantList>

// Shared helpers: message templates, path splitting, value texts, list bounds,
// the documents folder. The error record lives in clsError.h.
namespace mdlCommon {

// Fills the placeholders "{1}", "{2}", … of tmpl from args in order: element
// k replaces every "{k+1}" of the text built so far, so a placeholder brought
// in by an earlier argument is filled by a later one. An element without a
// text (null, an invalid date, a list) leaves its placeholder in place; an
// empty text fills it with nothing. Then "{CRLF}" and "{crlf}" (those two
// spellings only) become CR LF. Values go in by their plain text form, as
// ValueToText gives it without a format.
QString FormatTemplate(const QString& tmpl, const QVariantList& args = {});

// How a path is written: Windows (backslash, drive letters) or POSIX ("/").
enum class PathStyle
{
    Windows,
    Posix,
};

// Splits pathFile into its folder (up to and including the last separator,
// "" for a bare name), its file name (the rest), the file name's base (up to
// its last ".") and extension (after its last "."; "" without a dot). An
// empty pathFile gives four empty parts.
// Windows style: a path that ends with ":" (blanks at its ends aside), such as
// a drive "C:", is all folder, with empty name parts.
// POSIX style: "/" is the separator and there is no drive rule; "/" alone is
// the folder "/" with empty name parts, "/etc" the folder "/" and the name
// "etc".
void SplitPathName(const QString& pathFile, QString& folder, QString& fileName, QString& baseName,
                   QString& extension, PathStyle style = PathStyle::Windows);

// The text of a value. A null value (or an invalid date or time) gives
// nullText; without a format the plain text form:
//   texts as they are; integers in decimal; floating-point numbers in plain
//   decimal notation, never with an exponent, as few digits as read back the
//   same value (0.1, 100000000000000000000); booleans "True" / "False";
//   dates "yyyy-MM-dd", date-times "yyyy-MM-dd HH:mm:ss", times "HH:mm:ss";
//   a value without a text form (a list, a map) gives "".
// With a format, dates, date-times and times take a date pattern, numbers
// (and texts that read as numbers) a number pattern; other values ignore the
// format. Letters of a pattern are case-insensitive; "\x" writes x as it is,
// "..." writes the quoted text, every other character is written as it is.
// Date patterns:
//   d dd      day of month, without / with a leading zero
//   ddd dddd  abbreviated / full weekday name (of the default locale)
//   w         weekday, 1 = Sunday … 7 = Saturday
//   ww        week of the year; weeks start on Sunday and week 1 is the one
//             that holds 1 January
//   m mm      month, or minute when it follows an hour or precedes a second
//             (separators between them aside), so "hh:mm" and "mm:ss" are times
//   mmm mmmm  abbreviated / full month name (of the default locale)
//   q         quarter
//   y         day of the year;  yy  two-digit year;  yyyy  four-digit year
//   h hh      hour (0-23, or 1-12 with AM/PM), n nn  minute, s ss  second
//   AM/PM am/pm A/P a/p  the half of the day, in the pattern's letter case,
//             and a 12-hour clock for h and hh
//   / :       the date and time separators, written as "/" and ":"
// A date-only value has the time 00:00:00; a time-only value the date
// 1899-12-30. So "mm/dd/yyyy HH:NN:SS" gives "03/07/2024 09:05:01" and
// "yyyymmddhhnn" gives "202403070905".
// Number patterns:
//   0  a digit, 0 when the number has none there
//   #  a digit, nothing when the number has none there
//   .  the decimal point: as many decimals as 0 and # follow it; trailing
//      zeros beyond the last 0 are left out
//   ,  after a digit placeholder and before the point: thousands separators
//   %  the number times 100, and the sign
//   ;  separates sections: "positive;negative;zero". With a negative section
//      a negative number is written without its minus sign.
// Rounding is half away from zero on the number's first 15 significant digits,
// so 1.005 with "0.00" gives "1.01". The integer part is never cut: 1234
// with "00" gives "1234". Exponent forms ("0.00E+00") and named formats
// ("Short Date") are not supported; their letters are written as they are.
QString ValueToText(const QVariant& value, const QString& format = {}, const QString& nullText = {});

// The last index of a list (a QVariantList or a QStringList): its size minus 1.
// Anything else, an empty text, a number or an unset value, gives -1, so a
// loop from 0 to the bound runs no pass.
int ArrayUpperBound(const QVariant& value);

// text without the blanks at its ends: spaces only, as the product's files
// pad their values; a tab or a line break is part of the text.
QString TrimBlanks(const QString& text);
// True for a C0 control character or DEL: one that ends or breaks a line.
bool IsControlCharacter(QChar c);
// text with each such character shown as U+FFFD, so that a name stays one
// line in a report, a log or a message.
QString ShowControlCharacters(QString text);

// Makes the renames inside folder durable (the folder's entries flushed to
// the disk), after a file was renamed into place there. Failures are passed
// over: the rename itself has happened.
void SyncFolder(const QString& folder);

// The current user's documents folder with a trailing native separator, or ""
// when it cannot be found.
QString GetMyDocumentsPath();

} // namespace mdlCommon
