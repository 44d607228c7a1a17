#include "cli/ManyUpdate.h"

#include "cli/CliInputFile.h"
#include "common/FileCommit.h"
#include "common/UiPort.h"
#include "common/mdlCommon.h"
#include "common/mdlOVSqlUpdateDB.h"
#include "data/Server.h"
#include "update/ProductDatabases.h"
#include "update/UpdateCheck.h"
#include "update/UpdateLog.h"
#include "update/UpdateScript.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <memory>

#include <sys/prctl.h>
#include <unistd.h>

namespace ovcli::ManyUpdate {

namespace {

const char kSynopsis[] =
    "update (--all | --databases A,B | --list FILE | --retry-failed REPORT) [--server S] [--trusted | --user "
    "NAME [--password-stdin]] [--script F] (--backup-to FOLDER | --no-backup) [--parallel N] "
    "[--stop-on-error] [--report FILE]";

// What became of one database: its key in the JSON report, its text in the
// table. A database is brought up to date when it ends updated or current.
enum class Result
{
    Updated,
    Current,
    Gaps,
    Failed,
    Busy,
    NotProduct,
    Stopped,
    NotStarted,
};

struct ResultText
{
    Result result;
    const char* key;
    const char* text;
};

const ResultText kResults[] = {
    {Result::Updated, "updated", "已升级"},
    {Result::Current, "current", "已是最新版本"},
    {Result::Gaps, "updated-objects-missing", "已升级，结构检查发现缺少对象"},
    {Result::Failed, "failed", "失败"},
    {Result::Busy, "busy", "正被另一个任务使用，未升级"},
    {Result::NotProduct, "not-product", "不是产品数据库，未处理"},
    {Result::Stopped, "stopped", "已按要求停止，未完成"},
    {Result::NotStarted, "not-started", "未开始"},
};

const ResultText& textOf(Result r)
{
    for (const ResultText& t : kResults) {
        if (t.result == r)
            return t;
    }
    return kResults[0];
}

// The results --retry-failed runs again: every database an earlier run did
// not bring up to date and did not pass over as no product database.
bool retried(const QString& key)
{
    return key == QLatin1String("failed") || key == QLatin1String("busy") ||
           key == QLatin1String("stopped") || key == QLatin1String("not-started");
}

struct Entry
{
    QString server;
    QString database;
    QString before;
    QString after;
    int blocks = 0;
    qint64 ms = 0;
    Result result = Result::NotStarted;
    int exitCode = 2; // the exit code ovsqlcli update gave or would give
    QString reason;
    qint64 logLine = 0;
    bool counts = true; // false for a database --all passes over
    bool ended = false;
    bool ran = false; // its update was started
};

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onInterrupt(int)
{
    g_interrupted = 1;
}

extern "C" void onStopOne(int)
{
    mdlOVSqlUpdateDB::RequestStopBeforeNextBlock();
}

// The severity of an exit code of ovsqlcli update: a failure outweighs a
// run that could not start, which outweighs a completed run whose check
// found objects missing.
int severity(int code)
{
    switch (code) {
    case 0:
        return 0;
    case 3:
        return 1;
    case 2:
        return 2;
    default:
        return 3;
    }
}

QString shown(const QString& text)
{
    return mdlCommon::ShowControlCharacters(text);
}

// The width of text in a terminal's columns: wide (CJK) characters take two.
int columns(const QString& text)
{
    int n = 0;
    for (const QChar c : text)
        n += (c.unicode() >= 0x1100 &&
              (c.unicode() <= 0x115f || (c.unicode() >= 0x2e80 && c.unicode() <= 0xa4cf) ||
               (c.unicode() >= 0xac00 && c.unicode() <= 0xd7a3) ||
               (c.unicode() >= 0xf900 && c.unicode() <= 0xfaff) ||
               (c.unicode() >= 0xfe30 && c.unicode() <= 0xfe4f) ||
               (c.unicode() >= 0xff00 && c.unicode() <= 0xff60) ||
               (c.unicode() >= 0xffe0 && c.unicode() <= 0xffe6)))
                 ? 2
                 : 1;
    return n;
}

QString duration(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 1) + QStringLiteral(" s");
}

QString resultText(const Entry& e)
{
    QString text = QString::fromUtf8(textOf(e.result).text);
    if (e.result == Result::Failed || e.result == Result::Stopped) {
        if (!e.reason.isEmpty())
            text += QStringLiteral("：") + shown(e.reason);
        if (e.logLine > 0)
            text += QStringLiteral("（日志 %1 第 %2 行）")
                        .arg(QDir::toNativeSeparators(mdlOVSqlUpdateDB::UpdateLogPath()))
                        .arg(e.logLine);
    }
    return text;
}

// The last message the update of one database gave (what ovsqlcli update
// printed last with the program's title before it), without the progress
// lines; the last lines of its output when it gave none.
QString lastMessage(const QString& output)
{
    QStringList lines;
    for (const QString& line : output.split(QLatin1Char('\n'))) {
        const QString l = line.trimmed();
        if (!l.isEmpty() && !l.startsWith(QLatin1String("progress:")))
            lines.append(l);
    }
    const QString title = QStringLiteral("[%1] ").arg(ov::applicationTitle());
    int from = -1;
    for (int i = lines.size() - 1; i >= 0; --i) {
        if (lines[i].startsWith(title)) {
            from = i;
            break;
        }
    }
    if (from < 0)
        from = std::max(0, int(lines.size()) - 3);
    QStringList kept = lines.mid(from);
    if (!kept.isEmpty() && kept.first().startsWith(title))
        kept.first().remove(0, title.size());
    return kept.join(QLatin1Char(' ')).simplified();
}

// The options given to the program itself that each update it starts takes
// too: the ODBC driver, the server certificate, --yes, and the check's
// reference on the server.
QStringList programOptions()
{
    QStringList out;
    const QStringList raw = QCoreApplication::arguments();
    for (int i = 1; i < raw.size(); ++i) {
        const QString& a = raw[i];
        if (a == QLatin1String("--driver") && i + 1 < raw.size())
            out << QStringLiteral("--driver=") + raw[++i];
        else if (a.startsWith(QLatin1String("--driver=")) ||
                 a == QLatin1String("--trust-server-certificate") || a == QLatin1String("--yes") ||
                 a == QLatin1String("--check-on-server"))
            out << a;
    }
    return out;
}

// The backup file of one database in folder (a path on the server): the
// database's name, where every character that a file name of the server
// might not take is "_", and the time. When that name is not the database's
// own, or the run spans servers whose folders may be one, eight hexadecimal
// digits of a hash of the server and the database follow, so that two
// databases never meet in one file name (a backup never replaces a file:
// the second would fail).
QString backupFile(const QString& folder, const QString& server, const QString& database, bool manyServers,
                   const QDateTime& at)
{
    QString f = folder.trimmed();
    const QChar sep =
        f.contains(QLatin1Char('\\')) && !f.contains(QLatin1Char('/')) ? QLatin1Char('\\') : QLatin1Char('/');
    while (f.size() > 1 && (f.endsWith(QLatin1Char('/')) || f.endsWith(QLatin1Char('\\'))))
        f.chop(1);
    QString name;
    for (const QChar c : database) {
        const bool plain = c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('-') ||
                           (c == QLatin1Char('.') && !name.isEmpty());
        name += plain ? c : QLatin1Char('_');
    }
    const bool altered = name != database || name.size() > 100;
    name = name.left(100);
    if (altered || manyServers)
        name += QLatin1Char('_') +
                QString::fromLatin1(QCryptographicHash::hash(
                                        (server.toLower() + QLatin1Char('\t') + database.toLower()).toUtf8(),
                                        QCryptographicHash::Sha1)
                                        .toHex()
                                        .left(8));
    return f + sep + name + QLatin1Char('_') + at.toString(QStringLiteral("yyyyMMdd_HHmmss")) +
           QStringLiteral(".bak");
}

class Run
{
public:
    Run(const Options& options, const ConnectionSettings& login, QString script,
        std::optional<QString> backupTo, int parallel)
        : m_options(options), m_login(login), m_script(std::move(script)), m_backupTo(std::move(backupTo)),
          m_parallel(parallel)
    {}

    QList<Entry> entries;
    QHash<QString, QString> passwords; // by server
    bool m_manyServers = false;

    int go();
    bool writeReport(const QString& file, int rc, QString& error) const;

private:
    struct Child
    {
        int index = 0;
        std::unique_ptr<QProcess> process;
        QElapsedTimer timer;
        QString outcomeFile;
    };

    ConnectionSettings loginFor(const QString& server) const
    {
        ConnectionSettings s = m_login;
        s.server = server;
        s.password = passwords.value(server);
        return s;
    }
    void start(int index);
    void finish(Child& child);
    void told(const Entry& e);
    void progress();
    void printTable(int rc) const;

    const Options& m_options;
    ConnectionSettings m_login;
    QString m_script;
    std::optional<QString> m_backupTo;
    int m_parallel = 1;
    QTemporaryDir m_outcomes;
    std::vector<std::unique_ptr<Child>> m_running;
    QEventLoop m_loop;
    int m_done = 0;
    bool m_stopping = false;
    bool m_progressShown = false;
    QString m_startedAt;
    QString m_endedAt;
};

void Run::progress()
{
    if (!isatty(STDERR_FILENO))
        return;
    const int left = int(entries.size()) - m_done - int(m_running.size());
    printErr(
        QStringLiteral("\r\033[K完成 %1 / 进行中 %2 / 剩余 %3").arg(m_done).arg(m_running.size()).arg(left));
    m_progressShown = true;
}

void Run::told(const Entry& e)
{
    ++m_done;
    QString line = QStringLiteral("[%1/%2] %3 %4: ")
                       .arg(m_done)
                       .arg(entries.size())
                       .arg(shown(e.server), shown(e.database));
    if (!e.before.isEmpty() || !e.after.isEmpty())
        line += QStringLiteral("%1 -> %2, ").arg(shown(e.before), shown(e.after));
    line += resultText(e);
    printErr((m_progressShown ? QStringLiteral("\r\033[K") : QString()) + line + QLatin1Char('\n'));
    m_progressShown = false;
    progress();
}

void Run::start(int index)
{
    Entry& e = entries[index];
    const ConnectionSettings s = loginFor(e.server);
    const mdlOVSqlUpdateDB::DatabaseProbe probe =
        mdlOVSqlUpdateDB::ProbeDatabase(s.server, e.database, s.trusted, s.user, s.password);
    if (!probe.reached || !probe.version) {
        // Passed over only when it is known to be no product database: a
        // read of its version that failed leaves that unknown.
        const bool notProduct = probe.reached && probe.error.isEmpty();
        e.ended = true;
        e.result = notProduct ? Result::NotProduct : Result::Failed;
        e.reason = notProduct ? QString() : probe.error.simplified();
        e.counts = !(m_options.all && e.result == Result::NotProduct);
        e.exitCode = 2;
        told(e);
        return;
    }
    e.before = *probe.version;
    auto child = std::make_unique<Child>();
    child->index = index;
    child->outcomeFile = m_outcomes.filePath(QString::number(index) + QStringLiteral(".json"));
    QStringList args = {QStringLiteral("update"), QStringLiteral("--server=") + s.server,
                        QStringLiteral("--database=") + e.database, QStringLiteral("--script=") + m_script,
                        QStringLiteral("--outcome-file=") + child->outcomeFile};
    if (m_backupTo)
        args << QStringLiteral("--backup-to=") + backupFile(*m_backupTo, e.server, e.database, m_manyServers,
                                                            QDateTime::currentDateTime());
    else
        args << QStringLiteral("--no-backup");
    QByteArray input;
    if (ov::Server(s).takesLogin()) {
        if (s.trusted) {
            args << QStringLiteral("--trusted");
        } else {
            args << QStringLiteral("--user=") + s.user << QStringLiteral("--password-stdin");
            input = s.password.toLocal8Bit() + '\n';
        }
    }
    args += programOptions();
    child->process = std::make_unique<QProcess>();
    QProcess* p = child->process.get();
    p->setProcessChannelMode(QProcess::MergedChannels);
    const pid_t parent = getpid();
    // The update ends with this run however it ends (a kill too), and an
    // interrupt reaches it only through this run (which asks it to stop
    // after its block), never as the end of it.
    p->setChildProcessModifier([parent] {
        ::signal(SIGINT, SIG_IGN);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
    });
    QObject::connect(p, &QProcess::finished, &m_loop, &QEventLoop::quit);
    child->timer.start();
    p->start(QCoreApplication::applicationFilePath(), args);
    p->write(input);
    p->closeWriteChannel();
    m_running.push_back(std::move(child));
    progress();
}

void Run::finish(Child& child)
{
    Entry& e = entries[child.index];
    QProcess& p = *child.process;
    e.ms = child.timer.elapsed();
    e.ran = true;
    const QString output = QString::fromLocal8Bit(p.readAll());
    QJsonObject outcome;
    {
        QFile file(child.outcomeFile);
        if (file.open(QIODevice::ReadOnly))
            outcome = QJsonDocument::fromJson(file.readAll()).object();
    }
    const bool crashed = p.exitStatus() != QProcess::NormalExit || outcome.isEmpty();
    e.exitCode = crashed ? 1 : p.exitCode();
    e.blocks = outcome.value(QStringLiteral("blocksRun")).toInt();
    e.logLine = qint64(outcome.value(QStringLiteral("logLine")).toDouble());
    e.reason = lastMessage(output);
    if (crashed) {
        e.result = Result::Failed;
        e.reason = QStringLiteral("升级进程异常结束（%1）。%2")
                       .arg(p.exitStatus() != QProcess::NormalExit
                                ? p.errorString()
                                : QStringLiteral("exit code %1").arg(p.exitCode()),
                            e.reason);
    } else if (outcome.value(QStringLiteral("busy")).toBool()) {
        e.result = Result::Busy;
    } else if (outcome.value(QStringLiteral("stopped")).toBool()) {
        e.result = Result::Stopped;
        e.exitCode = 1;
    } else if (e.exitCode == 0) {
        e.result = e.blocks > 0 ? Result::Updated : Result::Current;
    } else if (e.exitCode == 3) {
        e.result = Result::Gaps;
    } else {
        e.result = Result::Failed;
    }
    if (e.result == Result::Updated || e.result == Result::Current)
        e.reason.clear();
    // The update read the version at its end on its own connection; the
    // database is asked here only when it did not get there.
    e.after = outcome.value(QStringLiteral("versionAfter")).toString();
    if (e.after.isEmpty()) {
        const ConnectionSettings s = loginFor(e.server);
        e.after = mdlOVSqlUpdateDB::ProbeDatabase(s.server, e.database, s.trusted, s.user, s.password)
                      .version.value_or(QString());
    }
    e.ended = true;
    told(e);
    if (e.result == Result::Failed && m_options.stopOnError && !m_stopping) {
        m_stopping = true;
        printErr(QStringLiteral("--stop-on-error：不再开始新的数据库，等待正在升级的数据库结束。\n"));
    }
}

int Run::go()
{
    m_startedAt = QDateTime::currentDateTime().toString(Qt::ISODate);
    mdlOVSqlUpdateDB::FoldLeftLogSections();
    struct sigaction action
    {};
    struct sigaction previous
    {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous);
    QTimer tick;
    tick.setInterval(100);
    QObject::connect(&tick, &QTimer::timeout, &m_loop, &QEventLoop::quit);
    tick.start();
    int next = 0;
    bool told = false;
    for (;;) {
        if (g_interrupted && !told) {
            told = true;
            m_stopping = true;
            printErr(
                QStringLiteral("\n已中断：不再开始新的数据库；正在升级的数据库完成当前版本块后停止。\n"));
        }
        if (g_interrupted) {
            // Sent again at every turn: an update that had not yet set up its
            // answer to it when it was first sent hears it now.
            for (const auto& c : m_running) {
                if (c->process->processId() > 0)
                    ::kill(pid_t(c->process->processId()), SIGINT);
            }
        }
        while (!m_stopping && int(m_running.size()) < m_parallel && next < entries.size())
            start(next++);
        for (auto it = m_running.begin(); it != m_running.end();) {
            if ((*it)->process->state() == QProcess::NotRunning) {
                (*it)->process->waitForFinished(0);
                finish(**it);
                it = m_running.erase(it);
            } else {
                ++it;
            }
        }
        if (m_running.empty() && (m_stopping || next >= entries.size()))
            break;
        if (!m_running.empty() || m_stopping)
            m_loop.exec();
    }
    sigaction(SIGINT, &previous, nullptr);
    if (m_progressShown)
        printErr(QStringLiteral("\r\033[K"));
    int worst = 0;
    for (const Entry& e : entries) {
        if (e.counts && severity(e.exitCode) > severity(worst))
            worst = e.exitCode;
    }
    m_endedAt = QDateTime::currentDateTime().toString(Qt::ISODate);
    printTable(worst);
    return worst;
}

void Run::printTable(int rc) const
{
    const QStringList heads = {QStringLiteral("服务器"),     QStringLiteral("数据库"),
                               QStringLiteral("升级前版本"), QStringLiteral("升级后版本"),
                               QStringLiteral("执行版本块"), QStringLiteral("用时"),
                               QStringLiteral("结果")};
    QList<QStringList> rows;
    for (const Entry& e : entries) {
        rows.append({shown(e.server), shown(e.database), shown(e.before), shown(e.after),
                     e.ran ? QString::number(e.blocks) : QString(),
                     e.ended && e.ms > 0 ? duration(e.ms) : QString(), resultText(e)});
    }
    QList<int> widths;
    for (int c = 0; c < heads.size(); ++c) {
        int w = columns(heads[c]);
        for (const QStringList& r : rows)
            w = std::max(w, columns(r[c]));
        widths.append(w);
    }
    const auto line = [&](const QStringList& cells) {
        QString out;
        for (int c = 0; c < cells.size(); ++c) {
            out += cells[c];
            if (c + 1 < cells.size())
                out += QString(widths[c] - columns(cells[c]) + 2, QLatin1Char(' '));
        }
        return out + QLatin1Char('\n');
    };
    QString out = line(heads);
    for (const QStringList& r : rows)
        out += line(r);
    QHash<int, int> counts;
    for (const Entry& e : entries)
        ++counts[int(e.result)];
    QStringList sums;
    for (const ResultText& t : kResults) {
        if (counts.value(int(t.result)) > 0)
            sums << QStringLiteral("%1 %2").arg(QString::fromUtf8(t.text)).arg(counts.value(int(t.result)));
    }
    out += QStringLiteral("共 %1 个数据库：%2。退出码 %3。\n")
               .arg(entries.size())
               .arg(sums.join(QStringLiteral("，")))
               .arg(rc);
    printOut(out);
}

bool Run::writeReport(const QString& file, int rc, QString& error) const
{
    QJsonArray list;
    for (const Entry& e : entries) {
        QJsonObject o;
        o.insert(QStringLiteral("server"), e.server);
        o.insert(QStringLiteral("database"), e.database);
        o.insert(QStringLiteral("versionBefore"), e.before);
        o.insert(QStringLiteral("versionAfter"), e.after);
        o.insert(QStringLiteral("blocksRun"), e.blocks);
        o.insert(QStringLiteral("seconds"), double(e.ms) / 1000.0);
        o.insert(QStringLiteral("result"), QString::fromLatin1(textOf(e.result).key));
        o.insert(QStringLiteral("exitCode"), e.exitCode);
        o.insert(QStringLiteral("reason"), e.reason);
        o.insert(QStringLiteral("logLine"), double(e.logLine));
        list.append(o);
    }
    QJsonObject root;
    root.insert(QStringLiteral("started"), m_startedAt);
    root.insert(QStringLiteral("ended"), m_endedAt);
    root.insert(QStringLiteral("script"), m_script);
    root.insert(QStringLiteral("log"), mdlOVSqlUpdateDB::UpdateLogPath());
    root.insert(QStringLiteral("parallel"), m_parallel);
    root.insert(QStringLiteral("exitCode"), rc);
    root.insert(QStringLiteral("databases"), list);
    const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Indented);
    const QString part = ov::newPartFile(QFileInfo(file));
    if (part.isEmpty()) {
        error = QStringLiteral("no file can be made beside it");
        return false;
    }
    QFile out(part);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.flush()) {
        error = out.errorString();
        out.close();
        ov::discardPartFile(part);
        return false;
    }
    out.close();
    if (!ov::syncFile(part) || !ov::renameIfFree(part, file)) {
        error = QStringLiteral("it could not take its name (an entry of that name came meanwhile, or the "
                               "disk failed)");
        ov::discardPartFile(part);
        return false;
    }
    return true;
}

// The (server, database) pairs of a --list file: "server<TAB>database" lines;
// empty lines and lines starting with "#" are passed over.
bool readList(const QString& path, QList<QPair<QString, QString>>& pairs, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("--list %1 cannot be read: %2").arg(shown(path), file.errorString());
        return false;
    }
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.trimmed().startsWith(QLatin1Char('#')))
            continue;
        const QStringList cells = line.split(QLatin1Char('\t'));
        if (cells.size() != 2 || cells[0].trimmed().isEmpty() || cells[1].trimmed().isEmpty()) {
            error = QStringLiteral("--list %1, line %2: give a server and a database separated by one tab")
                        .arg(shown(path))
                        .arg(i + 1);
            return false;
        }
        pairs.append({cells[0].trimmed(), cells[1].trimmed()});
    }
    return true;
}

bool readRetry(const QString& path, QList<QPair<QString, QString>>& pairs, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("--retry-failed %1 cannot be read: %2").arg(shown(path), file.errorString());
        return false;
    }
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parse);
    const QJsonValue list = doc.object().value(QStringLiteral("databases"));
    if (parse.error != QJsonParseError::NoError || !list.isArray()) {
        error = QStringLiteral("--retry-failed %1 is no report of ovsqlcli update --report").arg(shown(path));
        return false;
    }
    for (const QJsonValue& v : list.toArray()) {
        const QJsonObject o = v.toObject();
        const QString server = o.value(QStringLiteral("server")).toString();
        const QString database = o.value(QStringLiteral("database")).toString();
        if (server.isEmpty() || database.isEmpty()) {
            error =
                QStringLiteral("--retry-failed %1 is no report of ovsqlcli update --report").arg(shown(path));
            return false;
        }
        if (retried(o.value(QStringLiteral("result")).toString()))
            pairs.append({server, database});
    }
    return true;
}

bool hasControl(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.category() == QChar::Other_Control; });
}

} // namespace

void Options::take(Args& args)
{
    all = args.flag(QStringLiteral("--all"));
    databases = args.option(QStringLiteral("--databases"));
    list = args.option(QStringLiteral("--list"));
    retryFailed = args.option(QStringLiteral("--retry-failed"));
    parallel = args.option(QStringLiteral("--parallel"));
    report = args.option(QStringLiteral("--report"));
    stopOnError = args.flag(QStringLiteral("--stop-on-error"));
    if (chosen())
        databaseGiven = args.option(QStringLiteral("--database")).has_value();
}

int run(const Options& options, Args& args, LoginOptions& login, bool taken,
        const std::optional<QString>& script, const std::optional<QString>& backupTo, bool noBackup,
        bool singleOnly)
{
    if (!taken)
        return usageError(kSynopsis, login.error());
    if (!args.finish())
        return usageError(kSynopsis, args.error());
    if (int(options.all) + int(options.databases.has_value()) + int(options.list.has_value()) +
            int(options.retryFailed.has_value()) !=
        1)
        return usageError(kSynopsis,
                          QStringLiteral("give one of --all, --databases, --list and --retry-failed"));
    if (options.databaseGiven)
        return usageError(kSynopsis, QStringLiteral("--database names one database; name several with "
                                                    "--databases A,B"));
    if (singleOnly)
        return usageError(kSynopsis, QStringLiteral("--dry-run, --sql-out and --rerun work on one database"));
    if (int(backupTo.has_value()) + int(noBackup) != 1)
        return usageError(kSynopsis, QStringLiteral("say how each database is backed up before its update: "
                                                    "--backup-to FOLDER (a folder on the server) or "
                                                    "--no-backup"));
    if (backupTo && backupTo->trimmed().isEmpty())
        return usageError(kSynopsis, QStringLiteral("--backup-to needs a folder"));
    int parallel = 1;
    if (options.parallel) {
        bool ok = false;
        parallel = options.parallel->trimmed().toInt(&ok);
        if (!ok || parallel < 1 || parallel > 64)
            return usageError(kSynopsis, QStringLiteral("--parallel needs a number from 1 to 64"));
    }
    if (options.report) {
        const QFileInfo info(*options.report);
        if (!options.report->trimmed().isEmpty() && !info.exists() && !info.isSymLink() &&
            !QFileInfo(info.absolutePath()).isWritable())
            return usageError(
                kSynopsis,
                QStringLiteral("--report %1: its folder cannot be written").arg(shown(*options.report)));
        if (options.report->trimmed().isEmpty() || info.exists() || info.isSymLink())
            return usageError(kSynopsis, options.report->trimmed().isEmpty()
                                             ? QStringLiteral("--report needs a file name")
                                             : QStringLiteral("%1 exists; --report writes a new file only")
                                                   .arg(shown(*options.report)));
    }
    for (const auto& [option, value] : {std::pair{QStringLiteral("--list"), options.list},
                                        std::pair{QStringLiteral("--retry-failed"), options.retryFailed}}) {
        if (!value)
            continue;
        const QString problem = inputFileProblem(option, *value);
        if (!problem.isEmpty())
            return usageError(kSynopsis, problem);
    }
    if (script) {
        const QString problem = inputFileProblem(QStringLiteral("--script"), *script);
        if (!problem.isEmpty())
            return usageError(kSynopsis, problem);
    }
    const QString scriptPath =
        QFileInfo(script ? *script : mdlOVSqlUpdateDB::gstrAppPath + QStringLiteral("OVScriptUpdate.txt"))
            .absoluteFilePath();
    // A script that cannot be read as it stands starts nothing.
    if (!QFileInfo(scriptPath).isFile())
        return fail(mdlCommon::FormatTemplate(QStringLiteral("文件 {1} 不存在！"), {scriptPath}));
    {
        mdlOVSqlUpdateDB::ScriptFile file;
        if (!file.open(scriptPath)) {
            printErr(file.errorString() + QLatin1Char('\n'));
            return 2;
        }
    }

    // The databases, in the order given, each once (names compare without
    // case, as both engines compare them).
    const ConnectionSettings& base = login.settings();
    QList<QPair<QString, QString>> pairs;
    QString error;
    if (options.databases) {
        for (const QString& name : options.databases->split(QLatin1Char(','))) {
            if (!name.trimmed().isEmpty())
                pairs.append({base.server, name.trimmed()});
        }
        if (pairs.isEmpty())
            return usageError(kSynopsis, QStringLiteral("--databases needs names separated by commas"));
    } else if (options.list) {
        if (!readList(*options.list, pairs, error))
            return usageError(kSynopsis, error);
    } else if (options.retryFailed) {
        if (!readRetry(*options.retryFailed, pairs, error))
            return usageError(kSynopsis, error);
    }
    for (const auto& pair : pairs) {
        if (hasControl(pair.first) || hasControl(pair.second))
            return usageError(kSynopsis, QStringLiteral("\"%1\" \"%2\" cannot be used: it holds a control "
                                                        "character")
                                             .arg(shown(pair.first), shown(pair.second)));
    }

    Run run(options, base, scriptPath, backupTo, parallel);
    // One password per server that needs one, in the order the servers first
    // come; the embedded engine asks for none.
    QStringList servers = options.all ? QStringList{base.server} : QStringList();
    for (const auto& pair : pairs) {
        if (!servers.contains(pair.first))
            servers.append(pair.first);
    }
    for (const QString& server : servers) {
        if (base.trusted || !ov::Server({server, QString(), base.trusted, base.user, QString()}).takesLogin())
            continue;
        if (!login.passwordStdin() && !isatty(STDIN_FILENO))
            return fail(QStringLiteral("ovsqlcli: the SQL Server login %1 needs a password: give "
                                       "--password-stdin and the password of each server as a line of "
                                       "standard input")
                            .arg(base.user));
        const auto password = readSecretLine(QStringLiteral("Password of %1 on %2: ").arg(base.user, server));
        if (!password)
            return fail(QStringLiteral("ovsqlcli: no password on standard input for %1").arg(server));
        run.passwords.insert(server, *password);
    }
    if (options.all) {
        QStringList names;
        const ConnectionSettings s = base;
        if (!mdlOVSqlUpdateDB::ListUserDatabases(s.server, s.trusted, s.user, run.passwords.value(s.server),
                                                 names, error))
            return fail(QStringLiteral("ovsqlcli: the databases of %1 cannot be listed.\n%2")
                            .arg(shown(s.server), error.trimmed()));
        for (const QString& name : names)
            pairs.append({s.server, name});
    }
    QSet<QString> seen;
    for (const auto& [server, database] : pairs) {
        const QString key = server.toLower() + QLatin1Char('\t') + database.toLower();
        if (seen.contains(key))
            continue;
        seen.insert(key);
        Entry e;
        e.server = server;
        e.database = database;
        run.entries.append(e);
    }
    QSet<QString> distinct;
    for (const Entry& e : run.entries)
        distinct.insert(e.server.toLower());
    run.m_manyServers = distinct.size() > 1;
    const int rc = run.go();
    if (options.report && !run.writeReport(*options.report, rc, error)) {
        printErr(QStringLiteral("ovsqlcli: the report %1 cannot be written: %2\n")
                     .arg(shown(*options.report), error));
        return rc == 0 ? 1 : rc;
    }
    return rc;
}

int runOne(const QString& outcomeFile, mdlOVSqlUpdateDB::UpdateOutcome& outcome,
           const std::function<int()>& update)
{
    struct sigaction action
    {};
    action.sa_handler = onStopOne;
    // A call the signal interrupts goes on (a read from the server too).
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    qint64 line = 0;
    int rc = 0;
    {
        mdlOVSqlUpdateDB::UpdateLogSection section;
        rc = update();
        line = section.commit();
    }
    QJsonObject o;
    o.insert(QStringLiteral("exitCode"), rc);
    o.insert(QStringLiteral("busy"), outcome.busy);
    o.insert(QStringLiteral("stopped"), outcome.stopped);
    o.insert(QStringLiteral("blocksRun"), outcome.blocksRun);
    o.insert(QStringLiteral("versionAfter"), outcome.versionAfter);
    o.insert(QStringLiteral("logLine"), double(line));
    QFile file(outcomeFile);
    const QByteArray bytes = QJsonDocument(o).toJson(QJsonDocument::Compact);
    // A new file: the run that asked for it named one of its own.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(bytes) != bytes.size() ||
        !file.flush())
        return fail(
            QStringLiteral("ovsqlcli: %1 cannot be written: %2").arg(outcomeFile, file.errorString()));
    return rc;
}

} // namespace ovcli::ManyUpdate
