// mkdemocdb FILE: writes the demo single-user database (see DemoDatabase.h).
#include "jet/demo/DemoDatabase.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    QTextStream err(stderr);
    if (args.size() != 2) {
        err << "usage: mkdemocdb FILE\n";
        return 2;
    }
    QString error;
    if (!jetdemo::WriteDemoDatabase(args[1], &error)) {
        err << "mkdemocdb: " << error << "\n";
        return 1;
    }
    return 0;
}
