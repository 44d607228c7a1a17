#include "support/TdsPeer.h"

#include "data/ConnectionString.h"
#include "support/Wait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QMap>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

namespace ovtest {

namespace {

// Debian's interpreter: python3-tds lives there, and the peer needs nothing else.
QString python()
{
    const QString debian = QStringLiteral("/usr/bin/python3");
    return QFile::exists(debian) ? debian : QStringLiteral("python3");
}

} // namespace

TdsPeer::TdsPeer(const QByteArray& script)
{
    start(script);
}

TdsPeer::TdsPeer(const QJsonObject& script)
{
    start(QJsonDocument(script).toJson(QJsonDocument::Compact));
}

TdsPeer::~TdsPeer()
{
    stop();
    // A script the peer could not follow, or a request it could not read,
    // would make the test's outcome say nothing.
    for (const QJsonObject& e : events(QStringLiteral("peer_error")))
        ADD_FAILURE() << "the TDS peer failed: " << e.value(QLatin1String("error")).toString().toStdString();
}

namespace {

// With OV_TDSPEER_SCRIPTS naming a folder, every script a test gives the
// peer is kept there too, named by the test, so that
// tests/mssql/replay_peer_scripts.py can replay its statements against a
// real server and compare the answers' shape with the script's.
void keepScript(const QByteArray& script)
{
    const QString folder = qEnvironmentVariable("OV_TDSPEER_SCRIPTS");
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    QString name =
        test ? QString::fromUtf8(test->test_suite_name()) + QLatin1Char('.') + QString::fromUtf8(test->name())
             : QStringLiteral("peer");
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")), QStringLiteral("_"));
    for (int n = 1; n < 10000; ++n) {
        QFile file(QDir(folder).filePath(QStringLiteral("%1-%2.json").arg(name).arg(n)));
        if (file.open(QIODevice::NewOnly | QIODevice::WriteOnly)) {
            file.write(script);
            return;
        }
        if (!file.exists())
            return;
    }
}

} // namespace

void TdsPeer::start(const QByteArray& script)
{
    keepScript(script);
    if (!m_dir.isValid())
        return;
    QFile file(m_dir.filePath(QStringLiteral("script.json")));
    if (!file.open(QIODevice::WriteOnly) || file.write(script) != script.size())
        return;
    file.close();
    const QString portFile = m_dir.filePath(QStringLiteral("port"));
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(m_dir.filePath(QStringLiteral("stderr.txt")));
    m_process.start(python(),
                    {QStringLiteral(OV_SOURCE_DIR "/tests/support/tdspeer.py"), QStringLiteral("--script"),
                     file.fileName(), QStringLiteral("--record"),
                     m_dir.filePath(QStringLiteral("record.jsonl")), QStringLiteral("--port-file"), portFile,
                     QStringLiteral("--parent"), QString::number(QCoreApplication::applicationPid())});
    if (!m_process.waitForStarted())
        return;
    // The port file appears, whole, once the peer listens.
    PollUntil(
        [&] {
            QFile port(portFile);
            if (port.open(QIODevice::ReadOnly)) {
                m_port = port.readAll().trimmed().toInt();
                return true;
            }
            return m_process.state() == QProcess::NotRunning;
        },
        20000);
}

QString TdsPeer::error() const
{
    QFile err(m_dir.filePath(QStringLiteral("stderr.txt")));
    return err.open(QIODevice::ReadOnly) ? QString::fromUtf8(err.readAll()) : m_process.errorString();
}

QString TdsPeer::server() const
{
    return QStringLiteral("127.0.0.1,%1").arg(m_port);
}

QString TdsPeer::login(const QString& database, const QString& user, const QString& password) const
{
    using ov::connstr::oleDbValue;
    return QStringLiteral("Provider=SQLOLEDB.1;Persist Security Info=True;User ID=") + oleDbValue(user) +
           QStringLiteral(";Password=") + oleDbValue(password) + QStringLiteral(";Initial Catalog=") +
           oleDbValue(database) + QStringLiteral(";Data Source=") + oleDbValue(server());
}

QString TdsPeer::freetdsConf() const
{
    const QString path = m_dir.filePath(QStringLiteral("freetds.conf"));
    QFile conf(path);
    if (conf.open(QIODevice::WriteOnly))
        conf.write(
            QStringLiteral("[peer]\n\thost = 127.0.0.1\n\tport = %1\n\ttds version = 7.4\n\tclient charset = "
                           "UTF-8\n")
                .arg(m_port)
                .toUtf8());
    return path;
}

QList<QJsonObject> TdsPeer::record() const
{
    QList<QJsonObject> lines;
    QFile file(m_dir.filePath(QStringLiteral("record.jsonl")));
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    // A line is written whole, in one write; a last line without its end is
    // still being written and is left for the next reading.
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (doc.isObject())
            lines.append(doc.object());
    }
    return lines;
}

QList<QJsonObject> TdsPeer::events(const QString& kind) const
{
    QList<QJsonObject> found;
    for (const QJsonObject& line : record())
        if (line.value(QLatin1String("kind")).toString() == kind)
            found.append(line);
    return found;
}

QStringList TdsPeer::statements() const
{
    QStringList texts;
    for (const QJsonObject& line : record()) {
        const QString kind = line.value(QLatin1String("kind")).toString();
        if (kind == QLatin1String("batch"))
            texts.append(line.value(QLatin1String("text")).toString());
        else if (kind == QLatin1String("rpc"))
            texts.append(line.value(QLatin1String("statement")).toString());
    }
    return texts;
}

QList<TdsPeer::Message> TdsPeer::messages() const
{
    QList<Message> found;
    // The lines of each message's requests follow its own line, on its
    // connection; connections interleave.
    QMap<int, qsizetype> open;
    for (const QJsonObject& line : record()) {
        const int connection = line.value(QLatin1String("conn")).toInt();
        const QString kind = line.value(QLatin1String("kind")).toString();
        if (kind == QLatin1String("message")) {
            open[connection] = found.size();
            found.append(Message{connection,
                                 line.value(QLatin1String("type")).toInt(),
                                 qint64(line.value(QLatin1String("bytes")).toDouble()),
                                 {}});
        } else if (open.contains(connection) &&
                   QStringList({"batch", "rpc", "bulk", "tm", "attention"}).contains(kind)) {
            found[open[connection]].requests.append(line);
        }
    }
    return found;
}

bool TdsPeer::waitFor(const QString& kind, int count, int timeoutMs) const
{
    return PollUntil([&] { return events(kind).size() >= count; }, timeoutMs);
}

void TdsPeer::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

} // namespace ovtest
