#pragma once

#include "data/ServerAdmin.h"

#include <QList>
#include <QStringList>

#include <memory>

// A SQL Server that is not there: what a recording handle made without a
// server (Server::recordOffline) answers in its place, from what the command
// line said, so that a transcript can be written with no connection at all.
namespace ov {

class ConnectionBackend;

struct OfflineAnswers
{
    // The databases the server is taken to have (sys.databases).
    QStringList databases;
    // The file list of the backup set that a restore reads (RESTORE
    // FILELISTONLY): the files the command line names.
    QList<BackupFileInfo> backupFiles;
};

// A connection that opens without a server and answers the reads of the
// operations from answers: the task lock is free, the databases are
// answers.databases, a backup file is not there (RESTORE HEADERONLY fails as
// for a missing file), a backup's file list is answers.backupFiles. Any other
// read fails, saying that it cannot be answered offline; nothing is ever sent.
std::unique_ptr<ConnectionBackend> openOfflineBackend(const OfflineAnswers& answers);

} // namespace ov
