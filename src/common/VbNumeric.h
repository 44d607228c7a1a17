#pragma once

#include <QString>
#include <QVariant>

// The numeric test of the evaluator and its symbol table: which values count
// as numbers, and their double value.
namespace ov {

enum class NumberRead
{
    Ok,        // a number; its value was stored
    NotNumber, // not a number at all
    Overflow,  // written as a number, but too large for a double
};

// A value is a number when it holds a finite integer or floating-point number
// (a boolean is not a number), or a text that reads as a decimal number:
// blanks around it allowed, an optional sign, digits with "." as the only
// decimal point (".5" and "5." included), an optional exponent ("1e5",
// "2.5E-3"); a text too small for a double reads as 0. Texts are read the
// same way whatever the user's locale, so
// "1,5", "1 000", "inf", "nan" and hexadecimal are not numbers.
NumberRead readNumber(const QVariant& value, double& number);
bool isNumeric(const QVariant& value);

// The text the evaluator writes for a number: the shortest text that reads
// back as the same double, "." as decimal point, an exponent for very large
// or very small values.
QString numberToken(double number);

} // namespace ov
