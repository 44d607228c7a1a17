// ovsqlcli update --all over 200 embedded databases at mixed versions, with
// --parallel 1 and --parallel 2, against the same updates run one by one by
// a shell loop of "ovsqlcli update --database D" (what a host did before the
// many-database run). Both start from the same copies of the databases; the
// script has three transactional version blocks, each making a table of
// 2,000 rows, and a database at version 1.0 runs all three, one at 1.3 none.
// The ratio is the many-database run's time over the loop's.
//
//   ovbench_ManyDatabases [COUNT]   (default 200 databases)

#include "data/Connection.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

const char* const kVersions[] = {"1.0", "1.1", "1.2", "1.3"};

QByteArray script()
{
    QByteArray s;
    for (int b = 1; b <= 3; ++b) {
        const QByteArray n = QByteArray::number(b);
        s += "--<VT:1." + n + ">\r\nCREATE TABLE t" + n +
             " (id INT, name NVARCHAR(50))\r\nGO\r\nINSERT INTO t" + n +
             " WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 2000) "
             "SELECT x, 'row ' || x FROM c\r\nGO\r\nUPDATE tblVarible SET VaribleValue = '1." +
             n + "' WHERE Module = 'DB' AND VaribleName = 'Version'\r\nGO\r\n--</V:1." + n + ">\r\n";
    }
    return s;
}

void check(bool ok, const char* what)
{
    if (!ok)
        qFatal("%s", what);
}

// One database file per version, made once; every measured run starts from
// copies of them.
void makeTemplates(const QString& folder)
{
    for (int v = 0; v < 4; ++v) {
        const QString name = QStringLiteral("template%1").arg(v);
        QFile::remove(folder + QLatin1Char('/') + name + QStringLiteral(".sqlite"));
        check(QFile(folder + QLatin1Char('/') + name + QStringLiteral(".sqlite")).open(QIODevice::WriteOnly),
              "cannot make a template");
        ov::Connection cn;
        check(cn.Open(QStringLiteral("Data Source=sqlite:%1;Initial Catalog=%2").arg(folder, name)),
              "cannot open a template");
        check(cn.Execute(
                  QStringLiteral("CREATE TABLE tblVarible (Module NVARCHAR(50), VaribleName NVARCHAR(50), "
                                 "VaribleValue NVARCHAR(255), UserID NVARCHAR(50))")),
              "cannot make tblVarible");
        check(cn.Execute(QStringLiteral("INSERT INTO tblVarible VALUES ('DB', 'Version', '%1', '')")
                             .arg(QLatin1String(kVersions[v]))),
              "cannot write the version");
        for (int b = 1; b <= v; ++b)
            check(cn.Execute(QStringLiteral("CREATE TABLE t%1 (id INT, name NVARCHAR(50))").arg(b)),
                  "cannot make t");
        cn.Close();
    }
}

void resetDatabases(const QString& templates, const QString& data, int count)
{
    QDir(data).removeRecursively();
    check(QDir().mkpath(data), "cannot make the data folder");
    for (int i = 0; i < count; ++i)
        check(QFile::copy(templates + QStringLiteral("/template%1.sqlite").arg(i % 4),
                          data + QStringLiteral("/crm%1.sqlite").arg(i, 4, 10, QLatin1Char('0'))),
              "cannot copy a template");
}

double timed(const QString& folder, const QString& program, const QStringList& args)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setWorkingDirectory(folder);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(program, args);
    p.closeWriteChannel();
    check(p.waitForFinished(-1), "the run did not end");
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        qFatal("%s %s ended with %d", qPrintable(program), qPrintable(args.join(' ')), p.exitCode());
    return double(t.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 200;
    QTemporaryDir dir;
    check(dir.isValid(), "no temporary folder");
    // The program in a folder of its own: its update log and settings go there.
    const QString cli = dir.filePath(QStringLiteral("ovsqlcli"));
    check(QFile::copy(QStringLiteral(OV_CLI_PROGRAM), cli), "cannot copy ovsqlcli");
    QFile s(dir.filePath(QStringLiteral("step.txt")));
    check(s.open(QIODevice::WriteOnly) && s.write(script()) > 0, "cannot write the script");
    s.close();
    const QString templates = dir.filePath(QStringLiteral("templates"));
    check(QDir().mkpath(templates), "cannot make the templates folder");
    makeTemplates(templates);
    const QString data = dir.filePath(QStringLiteral("data"));

    // The loop: one update a database, one after the other.
    QString loop =
        QStringLiteral("set -e; for i in $(seq -w 0 %1); do ./ovsqlcli update --server sqlite:data "
                       "--database crm$(printf %04d $((10#$i))) --no-backup --script step.txt; done")
            .arg(count - 1);
    resetDatabases(templates, data, count);
    const double shell = timed(dir.path(), QStringLiteral("bash"), {QStringLiteral("-c"), loop});
    for (const int parallel : {1, 2}) {
        resetDatabases(templates, data, count);
        const double ours = timed(dir.path(), cli,
                                  {"update", "--server", "sqlite:data", "--all", "--no-backup", "--script",
                                   "step.txt", "--parallel", QString::number(parallel)});
        std::printf(
            "update %d databases, --parallel %d: ours %.2f s, shell loop of %d updates %.2f s, ratio %.2f\n",
            count, parallel, ours, count, shell, ours / shell);
    }
    return 0;
}
