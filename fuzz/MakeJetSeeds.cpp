// Writes the seed files of the Jet reader's fuzz target: small single-user
// database files with every column kind, a memo on long-value pages, a
// password, and an empty table.

#include "jet/writer/Writer.h"

#include <QDateTime>
#include <QDir>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    const QDateTime created(QDate(2005, 6, 1), QTime(12, 0));
    bool ok = true;
    {
        jet::Writer w(folder + QStringLiteral("/kinds.cdb"));
        w.setCreationDate(created);
        w.setPassword(QStringLiteral("pw"));
        w.addTable(QStringLiteral("tblKinds"), {{QStringLiteral("B"), jet::ColumnType::Bool},
                                                {QStringLiteral("Y"), jet::ColumnType::Byte},
                                                {QStringLiteral("I"), jet::ColumnType::Integer},
                                                {QStringLiteral("L"), jet::ColumnType::Long},
                                                {QStringLiteral("C"), jet::ColumnType::Currency},
                                                {QStringLiteral("S"), jet::ColumnType::Single},
                                                {QStringLiteral("D"), jet::ColumnType::Double},
                                                {QStringLiteral("T"), jet::ColumnType::DateTime},
                                                {QStringLiteral("X"), jet::ColumnType::Text, 20},
                                                {QStringLiteral("M"), jet::ColumnType::Memo}});
        w.addRow(QStringLiteral("tblKinds"), {true, 7, -3, 100000, QStringLiteral("12.3456"), 1.5, -2.25,
                                              created, QStringLiteral("客户 a"), QStringLiteral("memo")});
        w.addRow(QStringLiteral("tblKinds"), {QVariant(), QVariant(), QVariant(), QVariant(), QVariant(),
                                              QVariant(), QVariant(), QVariant(), QString(), QVariant()});
        w.addRow(QStringLiteral("tblKinds"), {false, 255, 32767, -1, 0, 0.0, 1e300, QDate(100, 1, 1),
                                              QStringLiteral("x"), QString(3000, QChar(u'长'))});
        w.addTable(QStringLiteral("tblEmpty"), {{QStringLiteral("Id"), jet::ColumnType::Long}});
        ok = w.save(nullptr) && ok;
    }
    {
        jet::Writer w(folder + QStringLiteral("/version.cdb"));
        w.setCreationDate(created);
        w.addTable(QStringLiteral("tblVarible"), {{QStringLiteral("VarName"), jet::ColumnType::Text, 50},
                                                  {QStringLiteral("VarValue"), jet::ColumnType::Text, 50}});
        w.addRow(QStringLiteral("tblVarible"), {QStringLiteral("Version"), QStringLiteral("2.5.1")});
        ok = w.save(nullptr) && ok;
    }
    return ok ? 0 : 1;
}
