#pragma once

#include "data/DataBackend.h"
#include "data/DataError.h"

#include <QVariant>

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

} // namespace ov
