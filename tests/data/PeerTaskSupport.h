#pragma once

// What the task tests against the scripted TDS peer share: rules of a
// script, the answers SQL Server documents for the statements of backup and
// restore, the task lock, and the reading of a --sql-out transcript.

#include "DataTestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace ovtest {

inline QJsonArray jsonArray(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).array();
}

// A rule answering the batch that is exactly text.
inline QJsonObject exactRule(const QString& text, const QJsonArray& reply)
{
    return QJsonObject{{QStringLiteral("match"), text}, {QStringLiteral("reply"), reply}};
}

// A rule answering the batches that match pattern as a whole.
inline QJsonObject patternRule(const QString& pattern, const QJsonArray& reply)
{
    return QJsonObject{{QStringLiteral("regex"), pattern}, {QStringLiteral("reply"), reply}};
}

inline QJsonObject info(int number, const QString& message, int state = 1)
{
    return QJsonObject{{QStringLiteral("info"), QJsonObject{{QStringLiteral("number"), number},
                                                            {QStringLiteral("class"), 0},
                                                            {QStringLiteral("state"), state},
                                                            {QStringLiteral("message"), message}}}};
}

inline QJsonObject error(int number, const QString& message, int severity = 16, int state = 1)
{
    return QJsonObject{{QStringLiteral("error"), QJsonObject{{QStringLiteral("number"), number},
                                                             {QStringLiteral("class"), severity},
                                                             {QStringLiteral("state"), state},
                                                             {QStringLiteral("message"), message}}}};
}

inline QJsonObject doneWithError()
{
    return QJsonObject{{QStringLiteral("done"), QJsonObject{{QStringLiteral("error"), true}}}};
}

// The answer to the task lock's batch (SET NOCOUNT ON; … EXEC @result =
// sp_getapplock …; SELECT @result AS result) when sp_getapplock returns
// result: the procedure's end and its return status, then the one row.
inline QJsonArray lockReply(int result)
{
    QJsonArray reply = jsonArray(R"j([{"doneinproc": {}}, {"doneproc": {}}])j");
    reply.append(QJsonObject{
        {QStringLiteral("columns"), QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("result")},
                                                           {QStringLiteral("type"), QStringLiteral("int")}}}},
        {QStringLiteral("rows"), QJsonArray{QJsonArray{result}}}});
    reply.append(QJsonObject{{QStringLiteral("done"), QJsonObject{}}});
    return reply;
}

inline QJsonObject lockRule(int result)
{
    return patternRule(QStringLiteral("SET NOCOUNT ON; DECLARE @result int; EXEC @result = sp_getapplock .*"),
                       lockReply(result));
}

// One backup set of a file as RESTORE HEADERONLY describes it.
struct HeaderSet
{
    int type; // BackupType: 1 database, 2 log, 5 differential
    int position;
    const char* database;
    const char* start;
    const char* finish;
};

// RESTORE HEADERONLY's answer for sets, with the columns SQL Server
// documents for it (the first 52, in their order and types).
inline QJsonArray headerReply(const QList<HeaderSet>& sets)
{
    static const char* const columns[][2] = {
        {"BackupName", "nvarchar(128)"},
        {"BackupDescription", "nvarchar(255)"},
        {"BackupType", "smallint"},
        {"ExpirationDate", "datetime"},
        {"Compressed", "bit"},
        {"Position", "smallint"},
        {"DeviceType", "tinyint"},
        {"UserName", "nvarchar(128)"},
        {"ServerName", "nvarchar(128)"},
        {"DatabaseName", "nvarchar(128)"},
        {"DatabaseVersion", "int"},
        {"DatabaseCreationDate", "datetime"},
        {"BackupSize", "numeric(20,0)"},
        {"FirstLSN", "numeric(25,0)"},
        {"LastLSN", "numeric(25,0)"},
        {"CheckpointLSN", "numeric(25,0)"},
        {"DatabaseBackupLSN", "numeric(25,0)"},
        {"BackupStartDate", "datetime"},
        {"BackupFinishDate", "datetime"},
        {"SortOrder", "smallint"},
        {"CodePage", "smallint"},
        {"UnicodeLocaleId", "int"},
        {"UnicodeComparisonStyle", "int"},
        {"CompatibilityLevel", "tinyint"},
        {"SoftwareVendorId", "int"},
        {"SoftwareVersionMajor", "int"},
        {"SoftwareVersionMinor", "int"},
        {"SoftwareVersionBuild", "int"},
        {"MachineName", "nvarchar(128)"},
        {"Flags", "int"},
        {"BindingID", "uniqueidentifier"},
        {"RecoveryForkID", "uniqueidentifier"},
        {"Collation", "nvarchar(128)"},
        {"FamilyGUID", "uniqueidentifier"},
        {"HasBulkLoggedData", "bit"},
        {"IsSnapshot", "bit"},
        {"IsReadOnly", "bit"},
        {"IsSingleUser", "bit"},
        {"HasBackupChecksums", "bit"},
        {"IsDamaged", "bit"},
        {"BeginsLogChain", "bit"},
        {"HasIncompleteMetaData", "bit"},
        {"IsForceOffline", "bit"},
        {"IsCopyOnly", "bit"},
        {"FirstRecoveryForkID", "uniqueidentifier"},
        {"ForkPointLSN", "numeric(25,0)"},
        {"RecoveryModel", "nvarchar(60)"},
        {"DifferentialBaseLSN", "numeric(25,0)"},
        {"DifferentialBaseGUID", "uniqueidentifier"},
        {"BackupTypeDescription", "nvarchar(60)"},
        {"BackupSetGUID", "uniqueidentifier"},
        {"CompressedBackupSize", "bigint"},
    };
    QJsonArray cols;
    for (const auto& c : columns)
        cols.append(QJsonObject{{QStringLiteral("name"), QString::fromUtf8(c[0])},
                                {QStringLiteral("type"), QString::fromUtf8(c[1])}});
    const QString guid = QStringLiteral("6f9619ff-8b86-d011-b42d-00c04fc964ff");
    QJsonArray rows;
    for (const HeaderSet& s : sets) {
        const QString description = s.type == 1   ? QStringLiteral("Database")
                                    : s.type == 5 ? QStringLiteral("Database Differential")
                                                  : QStringLiteral("Transaction Log");
        rows.append(QJsonArray{QJsonValue(),
                               QJsonValue(),
                               s.type,
                               QJsonValue(),
                               false,
                               s.position,
                               2,
                               QStringLiteral("sa"),
                               QStringLiteral("SRV01"),
                               QString::fromUtf8(s.database),
                               869,
                               QStringLiteral("2026-01-05 09:00:00"),
                               QStringLiteral("3413504"),
                               QStringLiteral("37000000016800001"),
                               QStringLiteral("37000000018400001"),
                               QStringLiteral("37000000016800037"),
                               QStringLiteral("0"),
                               QString::fromUtf8(s.start),
                               QString::fromUtf8(s.finish),
                               52,
                               936,
                               2052,
                               196609,
                               140,
                               4608,
                               14,
                               0,
                               1000,
                               QStringLiteral("SRV01"),
                               512,
                               guid,
                               guid,
                               QStringLiteral("Chinese_PRC_CI_AS"),
                               guid,
                               false,
                               false,
                               false,
                               false,
                               false,
                               false,
                               false,
                               false,
                               false,
                               false,
                               guid,
                               QJsonValue(),
                               QStringLiteral("SIMPLE"),
                               QJsonValue(),
                               QJsonValue(),
                               description,
                               guid,
                               QStringLiteral("3413504")});
    }
    return QJsonArray{
        QJsonObject{{QStringLiteral("columns"), cols}, {QStringLiteral("rows"), rows}},
        QJsonObject{{QStringLiteral("done"), QJsonObject{{QStringLiteral("count"), sets.size()}}}}};
}

// One database file of a backup set as RESTORE FILELISTONLY describes it.
struct ListedFile
{
    const char* logical;
    const char* physical;
    const char* type; // D data, L log
};

// RESTORE FILELISTONLY's answer, with the columns SQL Server documents.
inline QJsonArray fileListReply(const QList<ListedFile>& files)
{
    static const char* const columns[][2] = {
        {"LogicalName", "nvarchar(128)"},
        {"PhysicalName", "nvarchar(260)"},
        {"Type", "char(1)"},
        {"FileGroupName", "nvarchar(128)"},
        {"Size", "numeric(20,0)"},
        {"MaxSize", "numeric(20,0)"},
        {"FileID", "bigint"},
        {"CreateLSN", "numeric(25,0)"},
        {"DropLSN", "numeric(25,0)"},
        {"UniqueID", "uniqueidentifier"},
        {"ReadOnlyLSN", "numeric(25,0)"},
        {"ReadWriteLSN", "numeric(25,0)"},
        {"BackupSizeInBytes", "bigint"},
        {"SourceBlockSize", "int"},
        {"FileGroupID", "int"},
        {"LogGroupGUID", "uniqueidentifier"},
        {"DifferentialBaseLSN", "numeric(25,0)"},
        {"DifferentialBaseGUID", "uniqueidentifier"},
        {"IsReadOnly", "bit"},
        {"IsPresent", "bit"},
        {"TDEThumbprint", "varbinary(32)"},
        {"SnapshotURL", "nvarchar(360)"},
    };
    QJsonArray cols;
    for (const auto& c : columns)
        cols.append(QJsonObject{{QStringLiteral("name"), QString::fromUtf8(c[0])},
                                {QStringLiteral("type"), QString::fromUtf8(c[1])}});
    QJsonArray rows;
    int id = 1;
    for (const ListedFile& f : files) {
        const bool data = QByteArray(f.type) == "D";
        rows.append(QJsonArray{QString::fromUtf8(f.logical),
                               QString::fromUtf8(f.physical),
                               QString::fromUtf8(f.type),
                               data ? QJsonValue(QStringLiteral("PRIMARY")) : QJsonValue(),
                               QStringLiteral("8388608"),
                               QStringLiteral("35184372080640"),
                               id++,
                               QStringLiteral("0"),
                               QJsonValue(),
                               QStringLiteral("6f9619ff-8b86-d011-b42d-00c04fc964ff"),
                               QStringLiteral("0"),
                               QStringLiteral("0"),
                               3407872,
                               512,
                               data ? 1 : 0,
                               QJsonValue(),
                               QJsonValue(),
                               QJsonValue(),
                               false,
                               true,
                               QJsonValue(),
                               QJsonValue()});
    }
    return QJsonArray{
        QJsonObject{{QStringLiteral("columns"), cols}, {QStringLiteral("rows"), rows}},
        QJsonObject{{QStringLiteral("done"), QJsonObject{{QStringLiteral("count"), files.size()}}}}};
}

// A --sql-out transcript read back: its batches (the text before each "GO"
// line) and its comment text.
struct Transcript
{
    QStringList batches;
    QString comments;
};

inline Transcript readTranscript(const QString& path)
{
    Transcript t;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return t;
    QString text = QString::fromUtf8(file.readAll());
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QStringList batch;
    for (const QString& line : text.split(QStringLiteral("\r\n"))) {
        if (line.startsWith(QLatin1String("--")) && batch.isEmpty()) {
            t.comments += line.mid(3) + QLatin1Char('\n');
        } else if (line == QLatin1String("GO")) {
            t.batches.append(batch.join(QStringLiteral("\r\n")));
            batch.clear();
        } else if (!line.isEmpty() || !batch.isEmpty()) {
            batch.append(line);
        }
    }
    return t;
}

// The statements a run sent, less those its transcript's comments name (the
// reads that decide what is sent, and the task lock's statements, sent on a
// connection of their own): what must equal the transcript's batches.
// Whether the statements sent while a transcript was written only read:
// none of them backs up, restores, creates or alters a database.
inline bool onlyReads(const QStringList& sent)
{
    for (const QString& s : sent) {
        const QString u = s.trimmed().toUpper();
        for (const char* changing : {"BACKUP ", "RESTORE DATABASE", "RESTORE VERIFYONLY", "CREATE DATABASE",
                                     "ALTER DATABASE", "DROP DATABASE"})
            if (u.startsWith(QLatin1String(changing)))
                return false;
    }
    return true;
}

// The statements of sent that the transcript t writes as batches: those that
// are neither in its comments nor among reads, the statements that writing
// the transcript sent to the server and left out of it.
inline QStringList sentBatches(const QStringList& sent, const Transcript& t, const QStringList& reads)
{
    QStringList batches;
    for (const QString& s : sent) {
        if (!t.comments.contains(s) && (t.batches.contains(s) || !reads.contains(s)))
            batches.append(s);
    }
    return batches;
}

inline QStringList sentBatches(const QStringList& sent, const Transcript& t)
{
    QStringList batches;
    for (const QString& s : sent) {
        if (!t.comments.contains(s))
            batches.append(s);
    }
    return batches;
}

} // namespace ovtest
