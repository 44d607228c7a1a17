// Start-up: from process start to the menu window shown, under the offscreen
// platform, against a bare Qt program that shows one empty window; and the
// tool's peak memory at that moment.
//
// Run without arguments it is the driver: it starts itself with "--tool"
// (the tool's own start-up: the user-interface port, Main, the menu) and the
// peer (bench/peer/BareWindow.cpp) several times each, and takes the median
// time from starting the process to reading the child's "shown" line. A child
// reports when its first top-level window is shown, with its peak resident
// memory, and ends.

#include "app/Main.h"
#include "common/QtUi.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

long peakKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

class ShownReporter : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->isWindow()) {
            std::printf("shown %ld\n", peakKilobytes());
            std::fflush(stdout);
            std::_Exit(0);
        }
        return false;
    }
};

int runTool(int argc, char** argv)
{
    QApplication app(argc, argv);
    ShownReporter reporter;
    app.installEventFilter(&reporter);
    ov::QtUi port;
    ov::setUi(&port);
    mdlOVSqlUpdateDB::Main({});
    return app.exec();
}

struct Sample
{
    double seconds;
    long kilobytes;
};

bool startOnce(const QString& program, const QStringList& arguments, Sample& sample)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    p.start(program, arguments);
    QByteArray out;
    while (!out.contains('\n') && p.waitForReadyRead(30000))
        out += p.readAllStandardOutput();
    sample.seconds = double(timer.nsecsElapsed()) / 1e9;
    p.waitForFinished(30000);
    if (!out.startsWith("shown ")) {
        std::fprintf(stderr, "start-up: %s did not show a window: %s\n", qPrintable(program),
                     p.readAllStandardError().constData());
        return false;
    }
    sample.kilobytes = out.mid(6).trimmed().toLong();
    return true;
}

bool median(const QString& program, const QStringList& arguments, Sample& result)
{
    std::vector<Sample> samples(9);
    for (Sample& s : samples) {
        if (!startOnce(program, arguments, s))
            return false;
    }
    std::sort(samples.begin(), samples.end(),
              [](const Sample& a, const Sample& b) { return a.seconds < b.seconds; });
    result = samples[samples.size() / 2];
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--tool") == 0)
        return runTool(argc, argv);
    QCoreApplication app(argc, argv);
    const QString self = QCoreApplication::applicationFilePath();
    const QString peer = QCoreApplication::applicationDirPath() + QStringLiteral("/ovbench_peer_BareWindow");
    Sample ours{};
    Sample bare{};
    if (!median(self, {QStringLiteral("--tool")}, ours) || !median(peer, {}, bare))
        return 1;
    std::printf(
        "start-up to the menu window shown (offscreen): ours %.3f s, bare Qt window %.3f s, ratio %.2f\n",
        ours.seconds, bare.seconds, ours.seconds / bare.seconds);
    std::printf("start-up peak memory at the menu window: ours %.1f MB, bare Qt window %.1f MB, ratio %.2f\n",
                ours.kilobytes / 1024.0, bare.kilobytes / 1024.0,
                double(ours.kilobytes) / double(bare.kilobytes));
    return 0;
}
