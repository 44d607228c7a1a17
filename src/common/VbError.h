#pragma once

#include <QString>
#include <QtGlobal>

#include <exception>
#include <string>

namespace ov {

// Base of the program's own error numbers (hex 80040000); an error of our own
// is this base plus a small offset, so it never collides with the platform's.
constexpr qint32 vbObjectError = -2147221504;

// Numbers of the platform's arithmetic errors.
constexpr qint32 vbErrInvalidCall = 5;     // "Invalid procedure call or argument"
constexpr qint32 vbErrOverflow = 6;        // "Overflow"
constexpr qint32 vbErrDivisionByZero = 11; // "Division by zero"

// A run-time error: a number and a description, nothing more. The code that
// catches it records both in the error record (clsError) or shows them.
struct VbError : std::exception
{
    VbError(qint32 errNumber, const QString& errDescription)
        : number(errNumber), description(errDescription), m_what(errDescription.toStdString())
    {}

    const char* what() const noexcept override { return m_what.c_str(); }

    qint32 number;
    QString description;

private:
    std::string m_what;
};

} // namespace ov
