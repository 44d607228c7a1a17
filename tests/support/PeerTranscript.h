#pragma once

#include "support/TdsPeer.h"

#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace ovtest {

// The batches of a --sql-out transcript, in order: the text between its GO
// lines. Comment lines between batches are left out; a byte-order mark at
// the start too.
inline QStringList TranscriptBatches(QString text)
{
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QStringList batches;
    QStringList lines;
    for (const QString& line : text.split(QStringLiteral("\r\n"))) {
        if (line == QLatin1String("GO")) {
            batches.append(lines.join(QStringLiteral("\r\n")));
            lines.clear();
        } else if (!(lines.isEmpty() && (line.isEmpty() || line.startsWith(QLatin1String("--"))))) {
            lines.append(line);
        }
    }
    return batches;
}

// What connection conn of the peer received, as a transcript writes it: the
// text of each batch without the line ends at its end, the statement of each
// RPC, and the transaction requests as BEGIN, COMMIT and ROLLBACK
// TRANSACTION. A commit or rollback that begins the next transaction at once
// (as an ODBC driver ends a transaction while autocommit is off) is followed
// by the driver's own end of that empty transaction when autocommit comes
// back on; that request is no statement of the tool's and is left out.
inline QStringList SentAsTranscript(const TdsPeer& peer, int conn)
{
    static const QMap<QString, QString> tm = {
        {QStringLiteral("TM_BEGIN_XACT"), QStringLiteral("BEGIN TRANSACTION")},
        {QStringLiteral("TM_COMMIT_XACT"), QStringLiteral("COMMIT TRANSACTION")},
        {QStringLiteral("TM_ROLLBACK_XACT"), QStringLiteral("ROLLBACK TRANSACTION")}};
    QStringList sent;
    bool driversOwn = false;
    for (const QJsonObject& e : peer.record()) {
        if (e.value(QLatin1String("conn")).toInt() != conn)
            continue;
        const QString kind = e.value(QLatin1String("kind")).toString();
        if (kind == QLatin1String("tm")) {
            if (!driversOwn)
                sent.append(tm.value(e.value(QLatin1String("request")).toString(),
                                     e.value(QLatin1String("request")).toString()));
            driversOwn = e.value(QLatin1String("begin_new")).toBool();
            continue;
        }
        QString text;
        if (kind == QLatin1String("batch"))
            text = e.value(QLatin1String("text")).toString();
        else if (kind == QLatin1String("rpc"))
            text = e.value(QLatin1String("statement")).toString();
        else
            continue;
        while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
            text.chop(1);
        sent.append(text);
    }
    return sent;
}

// The connection that received the most batches, RPCs and transaction
// requests: a task's own, beside the lock's and short look-ups; 0 when none.
inline int BusiestConnection(const TdsPeer& peer)
{
    QMap<int, int> counts;
    for (const QJsonObject& e : peer.record()) {
        const QString kind = e.value(QLatin1String("kind")).toString();
        if (kind == QLatin1String("batch") || kind == QLatin1String("rpc") || kind == QLatin1String("tm"))
            ++counts[e.value(QLatin1String("conn")).toInt()];
    }
    int busiest = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (busiest == 0 || it.value() > counts.value(busiest))
            busiest = it.key();
    return busiest;
}

// The texts with each time a version record carries ("12/04/2026 15:33:00")
// written as <time>: a run and its transcript are made at different moments.
inline QStringList WithoutTimes(QStringList texts)
{
    static const QRegularExpression time(QStringLiteral("\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d"));
    for (QString& t : texts)
        t.replace(time, QStringLiteral("<time>"));
    return texts;
}

} // namespace ovtest
