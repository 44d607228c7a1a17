#include "app/Main.h"
#include "common/QtUi.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ov::LoadQtChineseTranslation();
    ov::QtUi port;
    ov::setUi(&port);
    // Main opens exactly one window; the program ends when the last one closes.
    mdlOVSqlUpdateDB::Main(app.arguments().mid(1));
    const int rc = app.exec();
    ov::setUi(nullptr);
    return rc;
}
