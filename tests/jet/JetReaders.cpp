#include "JetReaders.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace jettest {

namespace {

bool run(const QString& program, const QStringList& args, QByteArray* out, QString* error)
{
    const QString exe = QStandardPaths::findExecutable(program);
    if (exe.isEmpty()) {
        *error = QStringLiteral("%1 is not installed (scripts/install-deps.sh installs it)").arg(program);
        return false;
    }
    QProcess p;
    // mdbtools converts its arguments from the locale's encoding.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    p.setProcessEnvironment(env);
    p.start(exe, args);
    if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = QStringLiteral("%1 %2 failed (exit %3): %4")
                     .arg(program, args.join(QLatin1Char(' ')))
                     .arg(p.exitCode())
                     .arg(QString::fromUtf8(p.readAllStandardError()));
        return false;
    }
    *out = p.readAllStandardOutput();
    return true;
}

// RFC 4180 as mdb-export writes it: fields quoted with ", quotes doubled,
// line breaks kept inside quoted fields.
QList<QStringList> parseCsv(const QString& text)
{
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            row << field;
            field.clear();
        } else if (c == QLatin1Char('\n')) {
            row << field;
            rows << row;
            row.clear();
            field.clear();
        } else {
            field += c;
        }
    }
    if (!field.isEmpty() || !row.isEmpty()) {
        row << field;
        rows << row;
    }
    return rows;
}

} // namespace

bool mdbTables(const QString& file, QStringList* names, QString* error)
{
    QByteArray out;
    if (!run(QStringLiteral("mdb-tables"), {QStringLiteral("-1"), file}, &out, error))
        return false;
    *names = QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return true;
}

bool mdbCount(const QString& file, const QString& table, qint64* count, QString* error)
{
    QByteArray out;
    if (!run(QStringLiteral("mdb-count"), {file, table}, &out, error))
        return false;
    bool ok = false;
    *count = out.trimmed().toLongLong(&ok);
    if (!ok)
        *error = QStringLiteral("mdb-count printed '%1'").arg(QString::fromUtf8(out));
    return ok;
}

bool mdbExport(const QString& file, const QString& table, QList<QStringList>* rows, QString* error)
{
    const QString format = QStringLiteral("%Y-%m-%d %H:%M:%S");
    QByteArray out;
    if (!run(QStringLiteral("mdb-export"),
             {QStringLiteral("-D"), format, QStringLiteral("-T"), format, file, table}, &out, error))
        return false;
    *rows = parseCsv(QString::fromUtf8(out));
    return true;
}

bool mdbSchema(const QString& file, const QString& table, QList<QPair<QString, QString>>* columns,
               QString* error)
{
    QByteArray out;
    if (!run(QStringLiteral("mdb-schema"), {QStringLiteral("-T"), table, file, QStringLiteral("access")},
             &out, error))
        return false;
    static const QRegularExpression line(QStringLiteral("^\\s*\\[([^\\]]+)\\]\\s+(.*?),?\\s*$"));
    columns->clear();
    bool inTable = false;
    for (const QString& l : QString::fromUtf8(out).split(QLatin1Char('\n'))) {
        if (l.startsWith(QLatin1String("CREATE TABLE")))
            inTable = true;
        else if (inTable && l.startsWith(QLatin1Char(')')))
            break;
        const QRegularExpressionMatch m = line.match(l);
        if (inTable && m.hasMatch())
            columns->append({m.captured(1), m.captured(2)});
    }
    return true;
}

bool mdbReaderDump(const QString& file, QJsonObject* dump, QString* error)
{
    const QString npmDir = QStringLiteral(OV_NPM_DIR);
    if (!QFileInfo::exists(npmDir + QStringLiteral("/node_modules/mdb-reader/package.json"))) {
        *error =
            QStringLiteral("mdb-reader is not installed in %1 (run scripts/install-deps.sh)").arg(npmDir);
        return false;
    }
    const QString script = QStringLiteral(OV_SOURCE_DIR "/tests/jet/mdb-dump.mjs");
    QByteArray out;
    if (!run(QStringLiteral("node"), {script, npmDir, file}, &out, error))
        return false;
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(out, &parse);
    if (!doc.isObject()) {
        *error = QStringLiteral("mdb-dump.mjs printed no JSON object: %1").arg(parse.errorString());
        return false;
    }
    *dump = doc.object();
    return true;
}

QJsonObject dumpedTable(const QJsonObject& dump, const QString& name)
{
    for (const QJsonValue& t : dump.value(QStringLiteral("tables")).toArray())
        if (t.toObject().value(QStringLiteral("name")).toString() == name)
            return t.toObject();
    return {};
}

double oleFromMdbReader(double milliseconds)
{
    return milliseconds / 86400000.0 + 25569.0;
}

} // namespace jettest
