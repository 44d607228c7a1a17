#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVariant>

// The text forms of values behind FormatTemplate and ValueToText: a value's
// plain text, and the date and number patterns (see ValueToText in
// mdlCommon.h for the pattern language).
namespace mdlCommon::valuetext {

// Day 0 of the date serial numbers: a time without a date lies on it.
extern const QDate zeroDate;

// The value's plain text form; false when it has none (null, invalid date,
// list, map, an object).
bool plainText(const QVariant& value, QString& text);
QString formatDate(const QDateTime& dateTime, const QString& format);
QString formatNumber(double value, const QString& format);

} // namespace mdlCommon::valuetext
