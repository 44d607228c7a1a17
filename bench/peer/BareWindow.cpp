// The start-up benchmark's peer: a bare Qt program that shows one empty
// window. It reports as the tool does: "shown" and its peak memory, then ends.

#include <QApplication>
#include <QFile>
#include <QWidget>

#include <cstdio>

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

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ShownReporter reporter;
    app.installEventFilter(&reporter);
    QWidget window;
    window.show();
    return app.exec();
}
