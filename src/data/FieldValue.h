#pragma once

#include "data/DataBackend.h"
#include "data/DataError.h"

#include <QVariant>

#include <cstring>

namespace ov {

// Checks a value assigned to a field of a row being appended against what
// the field's column takes: its type (a text that is no number, or a date,
// does not go into a number column), its defined size (characters of a
// text, bytes of a code-page text or of binary data), its range and
// precision (integers, exact numbers, single precision), and whether it
// takes NULL. Long texts and binary data have no size limit here; a size
// the engine does not know is not checked. False with error filled (the
// number ADO gives a field that cannot take its value) when the value does
// not fit. The description names the column and the rule, not the value,
// so that every row meeting the same rule fails with the same text.
bool checkFieldValue(const ColumnInfo& column, const QVariant& value, DataError& error);

// The next line of a data file from p, which it moves past the line: its
// start and its length without the line end (LF or CR LF). False at the end
// of the file; an empty last line without a line end is no line.
inline bool nextDataLine(const char*& p, const char* end, const char*& line, qsizetype& length)
{
    if (!p || p >= end)
        return false;
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
    length = (nl ? nl : end) - p;
    if (length > 0 && p[length - 1] == '\r')
        --length;
    if (!nl && length == 0)
        return false;
    line = p;
    p = nl ? nl + 1 : end;
    return true;
}

// The same checks for the fields of a data file, given as their bytes: the
// rules of checkFieldValue with the same descriptions, and those of character
// data as SQL Server's bulk copy reads it: a number column takes digits (with
// a sign, a point and an exponent as its type allows) and nothing else, a bit
// column a whole number or true or false, a date column a date, and no text
// holds a NUL character. What a column takes is decided once, when the check
// is made; the usual values are then read straight from the bytes, without
// making a value or a text of each (anything unusual goes through
// checkFieldValue).
class FieldTextCheck
{
public:
    // How the loader binds a field that passed.
    enum class Kind
    {
        Text,
        Integer,
        Bit,
        Number,
        Date,
    };

    // utf8: the fields are UTF-8; code page 936 otherwise. mayHoldNul: false
    // when the file is known to hold no NUL byte, which spares the search.
    FieldTextCheck(const ColumnInfo& column, bool utf8, bool mayHoldNul = true);

    Kind kind() const { return m_kind; }
    const ColumnInfo& column() const { return m_column; }
    // False with error filled when the column cannot hold the field of n
    // bytes at p exactly; an empty field is NULL.
    bool check(const char* p, qsizetype n, DataError& error) const;
    // 1 for a field of n bytes at p that says true, 0 for one that says
    // false (in any case, blanks around it), -1 for any other.
    static int bitWord(const char* p, qsizetype n);

private:
    bool checkText(const char* p, qsizetype n, DataError& error) const;
    bool checkInteger(const char* p, const char* e, DataError& error) const;
    bool checkNumber(const char* p, const char* e, DataError& error) const;
    bool checkDate(const char* p, const char* e, DataError& error) const;
    // checkFieldValue on the field as a text, for what the checks on the
    // bytes leave open.
    bool checkAsText(const char* p, qsizetype n, DataError& error) const;

    ColumnInfo m_column;
    Kind m_kind = Kind::Text;
    bool m_utf8 = false;
    bool m_mayHoldNul = true;
    qint64 m_low = 0; // the range of an integer column
    qint64 m_high = 0;
    qint64 m_earliest = 0; // the range of a date column, as keys of its fields
    qint64 m_latest = 0;
};

} // namespace ov
