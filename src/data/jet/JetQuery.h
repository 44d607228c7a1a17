#pragma once

#include "data/DataError.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

// The statements the Jet reader answers: the rows of one table, all columns
// or some, optionally filtered by equality conditions joined with AND:
//
//     SELECT * FROM tblVarible WHERE [Module] ='DB' AND VaribleName = 'Version'
//     SELECT [Name], Id FROM [客户]
//
// Names may be bracketed; literals are texts in single quotes (a quote inside
// doubled) or numbers. Anything else is refused with a syntax error rather
// than answered wrongly.
namespace ov {

struct JetCondition
{
    QString column;
    QVariant literal; // QString for a quoted text, double for a number
};

struct JetQuery
{
    QString table;
    QStringList columns; // empty for "*"
    QList<JetCondition> conditions;
};

// Parses text; on failure returns false and fills error.
bool parseJetQuery(const QString& text, JetQuery& query, DataError& error);

} // namespace ov
