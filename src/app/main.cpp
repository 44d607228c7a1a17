#include "app/Main.h"
#include "app/TaskLaunch.h"
#include "app/mdlOVSqlUpdateDB.h"
#include "common/QtUi.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ov::QtUi port;
    ov::setUi(&port);

    if (!mdlOVSqlUpdateDB::Main(app.arguments().mid(1))) {
        std::fprintf(stderr, "OVSqlUpdateDB: this build cannot open the window for %s yet.\n",
                     qPrintable(mdlOVSqlUpdateDB::gstrCommand));
        return 2;
    }
    const int rc = app.exec();
    ov::setUi(nullptr);
    return rc;
}
