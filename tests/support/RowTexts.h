#pragma once

#include "data/Recordset.h"

#include <QStringList>

namespace ovtest {

// The rows still to be read from rs, each its fields joined by "|", a NULL
// as "<null>".
inline QStringList RowTexts(ov::Recordset& rs)
{
    QStringList out;
    for (; !rs.Eof(); rs.MoveNext()) {
        QStringList fields;
        for (int i = 0; i < rs.FieldCount(); ++i) {
            const QVariant v = rs.Fields(i).Value();
            fields << (v.isValid() ? v.toString() : QStringLiteral("<null>"));
        }
        out << fields.join(QLatin1Char('|'));
    }
    return out;
}

} // namespace ovtest
