#pragma once

#include "data/DataBackend.h"

#include <memory>

namespace ov {

class OdbcBackend;

// The appender of an ODBC connection: rows go to one table through one
// prepared INSERT, each row bound as column-wise parameter arrays (a single
// row as an array of one); on SQL Server a run of rows goes in one execution.
std::unique_ptr<AppendBackend> makeOdbcAppender(OdbcBackend* owner, const QString& table,
                                                const QVector<ColumnInfo>& columns);

// For tests: appenders made from now on send runs of rows as parameter
// arrays whatever the DBMS, as they do on SQL Server, so that a driver at
// hand (SQLite's) runs that path for real.
void sendParameterArraysToAnyDbms(bool on);

} // namespace ov
