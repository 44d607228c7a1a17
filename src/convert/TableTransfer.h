#pragma once

#include "data/DataError.h"

#include <QStringList>

#include <functional>

namespace ov {
class Connection;
class ProgressBar;
class StatusLabel;
} // namespace ov

namespace mdlOVSqlUpdateDB {

// How many rows the transfer hands to the server in one call (one prepared
// insert per table, sent as parameter arrays where the engine takes them).
constexpr int kTransferBatchRows = 500;

// Moves the tables of a single-user file into a freshly created product
// database, all inside one transaction of the server connection:
//   - tableList is a list as the list-file reader gives it: entries from
//     index 1 on (index 0 is not used), each trimmed, empty ones skipped;
//   - the listed tables are emptied on the server in the reverse order of the
//     list, then copied in list order;
//   - every field of a server table takes the value of the file's field of
//     the same name; fields only the file has are not copied.
// Table names reach both databases only as quoted identifiers.
//
// Nothing stops the run: each failure is reported by its error number (see
// the source) and the work goes on; a table that cannot be opened on either
// side is reported and passed over; the transaction is always committed and
// the completion message always comes. Failures of single rows and fields
// are gathered per table: each distinct error is reported once with the
// number of rows it hit, and every occurrence goes into the update log. A
// row the server refuses is not stored; a field that cannot be set stays
// unset and its row is stored.
//
// The status label and progress bar show the progress; pending window events
// run once per table in each pass. Either connection may be missing (one that
// could not be opened): its failures are reported like any other.
// How the transfer tells the user about an error, by its number:
//   3340 to 3450  a warning box with the description (and the detail);
//   3300 to 3320  no box: the error record is filled (the description as the
//                 message, the detail as its detail);
//   3332          nothing;
//   3330          the text of the error record, as it stands, in a box;
//   any other     the error record is filled with "未知的错误！" and the
//                 detail, and its text shown in a box.
// detail names the table and the number of rows for failures of rows and
// fields; it is empty for the failure of a single statement.
void ReportTransferError(const ov::DataError& e, const QString& detail);

// What a caller adds to a transfer.
struct TransferOptions
{
    // Runs on the server connection inside the transfer's transaction, just
    // before the commit; false counts as a failure of the transfer.
    std::function<bool(ov::Connection& server)> beforeCommit;
    // Whether the transfer ends with the completion message, or leaves it to
    // a caller that has more to do.
    bool tellDone = true;
};

// True when nothing failed on the way: no statement, table, row or field
// was reported (the completion message comes either way).
bool TransferDataFormCnToCn(ov::Connection* cnFile, ov::Connection* cnServer, const QStringList& tableList,
                            ov::StatusLabel& lblTip, ov::ProgressBar& prgProgress,
                            const TransferOptions& options = {});

} // namespace mdlOVSqlUpdateDB
