#include "app/Main.h"
#include "app/TaskLaunch.h"
#include "common/QtUi.h"

#include <QApplication>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ov::LoadQtChineseTranslation();
    ov::QtUi port;
    ov::setUi(&port);
#ifdef Q_OS_WIN
    // Qt's arguments lose the quotation marks the user typed; the switch is
    // compared with the command line as typed, so "/OVUPDATE" in quotes
    // names no task.
    const QStringList arguments{CommandLineTail(QString::fromWCharArray(GetCommandLineW()))};
#else
    const QStringList arguments = app.arguments().mid(1);
#endif
    // Main opens exactly one window; the program ends when the last one closes.
    mdlOVSqlUpdateDB::Main(arguments);
    const int rc = app.exec();
    ov::setUi(nullptr);
    return rc;
}
