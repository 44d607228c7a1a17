// The schema check's reference: OVScriptEmpty.txt and every version block of
// OVScriptUpdate.txt as shipped, run by the script runner on an in-memory
// embedded database with the catalog read after each block. No tool does
// this work, so the line carries our time alone: the median of 21 builds.

#include "update/SchemaCheck.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString dist = QStringLiteral(OV_SOURCE_DIR "/dist/");
    std::vector<double> seconds;
    int tables = 0;
    for (int run = 0; run < 21; ++run) {
        mdlOVSqlUpdateDB::SchemaReference reference;
        QString error;
        QElapsedTimer timer;
        timer.start();
        if (!mdlOVSqlUpdateDB::BuildSchemaReference(dist + QStringLiteral("OVScriptEmpty.txt"),
                                                    dist + QStringLiteral("OVScriptUpdate.txt"),
                                                    QStringLiteral("999"), reference, error))
            qFatal("the reference cannot be built: %s", qPrintable(error));
        seconds.push_back(timer.nsecsElapsed() / 1e9);
        tables = int(reference.tables.size());
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("schema reference, shipped scripts (%d tables): ours %.4f s, no peer\n", tables,
                seconds[seconds.size() / 2]);
    return 0;
}
