#pragma once

// What the reader tests share: files written by jet::Writer with the password
// of single-user files, connections made by ConnectToDBAccess, and whole
// tables read through Recordset.

#include "config/mdlEncode.h"
#include "config/mdlOVSqlServerAccess.h"
#include "data/Recordset.h"
#include "jet/writer/Writer.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QVariant>

#include <functional>

namespace jetread {

inline QString filePassword()
{
    return mdlEncode::UnscrambleText(mdlEncode::kScrambledFilePassword, mdlEncode::kFileKey, true);
}

// A date and time as the reader gives it: the stored wall-clock value, in
// a QDateTime of Qt::UTC spec.
inline QDateTime at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

// Writes dir/name with build's tables; an empty string when the writer refused.
inline QString writeCdb(const QTemporaryDir& dir, const QString& name,
                        const std::function<void(jet::Writer&)>& build,
                        const QString& password = filePassword())
{
    const QString path = dir.filePath(name);
    jet::Writer w(path);
    w.setPassword(password);
    w.setCreationDate(at(2024, 3, 1, 10, 0));
    build(w);
    QString error;
    return w.save(&error) ? path : QString();
}

struct Rows
{
    bool opened = false;
    ov::DataError error; // of the open, or of the read that stopped early
    QStringList names;
    QList<int> types;
    QList<QList<QVariant>> rows;
};

// Every row of source (a table name with adCmdTable, or a statement).
inline Rows readAll(ov::Connection& cn, const QString& source, int options = ov::adCmdTable)
{
    Rows out;
    ov::Recordset rs;
    const bool statement = options != ov::adCmdTable;
    out.opened = rs.Open(source, cn, statement ? ov::adOpenDynamic : ov::adOpenForwardOnly,
                         statement ? ov::adLockOptimistic : ov::adLockReadOnly, options);
    if (!out.opened) {
        out.error = rs.lastError();
        return out;
    }
    for (int i = 0; i < rs.FieldCount(); ++i) {
        out.names << rs.Fields(i).Name();
        out.types << rs.Fields(i).Type();
    }
    while (!rs.Eof()) {
        QList<QVariant> row;
        for (int i = 0; i < rs.FieldCount(); ++i)
            row << rs.Fields(i).Value();
        out.rows << row;
        if (!rs.MoveNext()) {
            out.error = rs.lastError();
            break;
        }
    }
    return out;
}

} // namespace jetread
