#pragma once

#include <QString>

#include <functional>

namespace ov {
class ProgressBar;
class Server;
class StatusLabel;
} // namespace ov

// Making a new product database and bringing it to the current schema.
namespace mdlOVSqlUpdateDB {

// What fills a new database between the schema script and the update script.
enum CreateMode
{
    CreateBare = 0,  // no data: the version row "0" (any mode other than 1 and 2)
    CreateBlank = 1, // the data set DBDataFiles/Blank
    CreateDemo = 2,  // the data set DBDataFiles/Demo
};

// The data set folder of a mode, below gstrAppPath, with a trailing
// separator; empty for the bare mode.
QString DataSetFolder(int mode);

// What the conversion puts into a creation in the bare mode: the rows of a
// file at version fillAtVersion. The version blocks of the update script up
// to that version make the tables on the empty database; then fill runs, by
// the database's name, under the procedure's hold on it and before the
// database is finished; then the later blocks run over the rows it brought.
// fill answers false, having told the user why, to stop the procedure.
struct CreateFill
{
    QString fillAtVersion;
    std::function<bool()> fill;
};

// Creates database on server and brings it to the current schema:
//   1. makes sure the server answers (the answer is not used);
//   2. looks for a database of that name (trimmed, any letter case); when
//      there is one, asks "数据库 [NAME] 已经存在,是否要将它覆盖？": No returns
//      false with nothing changed, Yes drops it;
//   3. creates the database (trimmed name) with the server's defaults;
//   4. runs gstrAppPath + "OVScriptEmpty.txt";
//   5. fills it by mode: the blank or demo data set, or the version row "0";
//   6. runs gstrAppPath + "OVScriptUpdate.txt" and tells "创建数据库成功！".
// A failure of steps 2, 3 or the version row shows "创建数据库失败!" with the
// error number and description (no icon); the scripts and the import tell
// their own failures. The busy pointer shows from start to end (the import
// gives the normal pointer back after each table). The label and bar go to
// the scripts and the import.
//
// Until the procedure has succeeded the database is not finished, and no
// task takes it for a sound one: as soon as the schema script has made
// tblVarible it carries the mark "DB"/"Creating", removed as the last
// statement, which the update and the check refuse. On the embedded engine
// the database is moreover built under a hidden side file that takes the
// database's name only at the end (ServerAdmin::createUnpublished), so a
// creation killed or failed at any moment leaves no database under that name.
// A failure on SQL Server leaves the marked database as it is.
bool CreateDatabase(const QString& server, const QString& database, bool integratedLogin, const QString& user,
                    const QString& password, int mode, ov::StatusLabel& lblStatus,
                    ov::ProgressBar& prgProgress, const CreateFill* fill = nullptr);
// The same on a server handle. On a recording handle (ov::Server::record)
// the procedure writes the statements that make the empty database, names
// what would follow in a comment and ends there, telling nothing.
bool CreateDatabase(const ov::Server& server, const QString& database, int mode, ov::StatusLabel& lblStatus,
                    ov::ProgressBar& prgProgress, const CreateFill* fill = nullptr);

} // namespace mdlOVSqlUpdateDB
