#pragma once

#include "data/Connection.h"

#include <QString>

#include <memory>

// Connections to single-user database files (".cdb", Jet 4), read through the
// data-access layer's Jet reader.
namespace mdlOVSqlServer {

// The connection string of a single-user file: the Jet provider, the path in
// double quotes and the database password of single-user files, which is
// unscrambled here and exists in plain text only inside the returned string:
//   Provider=Microsoft.Jet.OLEDB.4.0;Data Source="PATH";Persist Security Info=False;
//   Jet Oledb:Database Password="PASSWORD";
// The path and the password are quoted by the rules of such strings (an inner
// double quote doubled), so any path opens as it is given.
QString BuildAccessConnectionString(const QString& path);

// Opens the file with that string: client-side cursors, a command time-out of
// 600 seconds, user "ADMIN" with an empty password. When it cannot be opened,
// the error goes into the error record (module "mdlContactTrace", function
// "ConnectToDBAccess", message "连接数据库失败！") and the result is empty.
std::unique_ptr<ov::Connection> ConnectToDBAccess(const QString& path);

} // namespace mdlOVSqlServer
