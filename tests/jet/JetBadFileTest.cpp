// Files the reader must refuse: missing, foreign, truncated, random or
// damaged, and a file with another password. Each gives an error with a
// clear description, at the open or when the damaged table is read; none
// gives rows that are not in the file, and none crashes.

#include "JetReadSupport.h"

#include "common/clsError.h"
#include "data/jet/JetBackend.h"
#include "data/jet/JetFile.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <optional>

using jet::ColumnType;

namespace {

constexpr int kPage = 4096;

// A valid file: a small table and a table with enough rows and memo pages
// that cutting the file's end damages it.
QByteArray validFile(const QTemporaryDir& dir)
{
    const QString path = jetread::writeCdb(dir, QStringLiteral("valid.cdb"), [](jet::Writer& w) {
        w.addTable(QStringLiteral("Small"), {{QStringLiteral("Id"), ColumnType::Long}});
        w.addRow(QStringLiteral("Small"), {1});
        w.addTable(QStringLiteral("Big"),
                   {{QStringLiteral("Id"), ColumnType::Long}, {QStringLiteral("Notes"), ColumnType::Memo}});
        for (int i = 0; i < 400; ++i)
            w.addRow(QStringLiteral("Big"), {i, QString(i % 50 == 0 ? 3000 : 20, QChar(u'客'))});
    });
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray b(size, '\0');
    for (char& c : b)
        c = char(gen.bounded(256));
    return b;
}

// Every row of every table; false with the error when a read fails.
bool readEverything(ov::Connection& cn, ov::DataError* error)
{
    QStringList tables;
    if (!cn.backend() || !cn.backend()->tableNames(tables, *error))
        return false;
    for (const QString& table : tables) {
        const jetread::Rows r = jetread::readAll(cn, table);
        if (!r.opened || r.error.isSet()) {
            *error = r.error;
            return false;
        }
    }
    return true;
}

TEST(JetBadFile, EachGivesAClearError)
{
    QTemporaryDir dir;
    const QByteArray valid = validFile(dir);
    ASSERT_GT(valid.size(), 10 * kPage);
    ASSERT_EQ(valid.size() % kPage, 0);

    QByteArray ace = valid;
    ace.replace(4, 15, "Standard ACE DB");
    QByteArray jet3 = valid;
    jet3[0x14] = 0;
    QByteArray catalogGone = valid;
    catalogGone.replace(2 * kPage, kPage, QByteArray(kPage, '\0'));
    QByteArray headerThenNoise = valid.left(kPage) + randomBytes(valid.size() - kPage, 7);
    // Pages of the table Big erased: its first data page, or its memo pages.
    const QByteArray blank(kPage, '\0');
    QByteArray dataPageGone = valid;
    QByteArray memoPagesGone = valid;
    bool dataPageFound = false;
    for (int p = 3; p < valid.size() / kPage; ++p) {
        const QByteArray page = valid.mid(p * kPage, kPage);
        if (page.mid(4, 4) == "LVAL")
            memoPagesGone.replace(p * kPage, kPage, blank);
        // A data page (type 1) of a table, not of the catalog (page 2), with
        // more than the one row of Small.
        else if (!dataPageFound && page.at(0) == 0x01 && page.at(4) != 0x02 && page.at(12) > 1) {
            dataPageGone.replace(p * kPage, kPage, blank);
            dataPageFound = true;
        }
    }
    ASSERT_TRUE(dataPageFound);
    ASSERT_NE(memoPagesGone, valid);

    struct Case
    {
        const char* what;
        std::optional<QByteArray> bytes; // nothing: the file does not exist
        bool failsAtOpen;                // otherwise when the tables are read
        const char* description;         // a part of the error's description
    };
    const Case cases[] = {
        {"missing file", std::nullopt, true, "Could not find file"},
        {"empty file", QByteArray(), true, "not a Jet database"},
        {"text file", QByteArray("Module,VaribleName\nDB,Version\n"), true, "not a Jet database"},
        {"random bytes", randomBytes(8 * kPage, 1), true, "not a Jet database"},
        {"Access 2007 file", ace, true, "Access 2007 or later"},
        {"Jet 3 file", jet3, true, "Jet 3"},
        {"cut inside the first page", valid.left(1000), true, "is damaged"},
        {"cut inside a page", valid.left(valid.size() / 2 + 100), true, "not a whole number"},
        // The catalog is written last, so a file cut short loses it.
        {"cut at a page boundary", valid.left(valid.size() - 3 * kPage), true, "is damaged"},
        {"catalog page erased", catalogGone, true, "catalog"},
        {"header, then random bytes", headerThenNoise, true, "is damaged"},
        {"a data page erased", dataPageGone, false, "is not a data page"},
        {"memo pages erased", memoPagesGone, false, "holds no memo data"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = dir.filePath(QStringLiteral("bad%1.cdb").arg(++n));
        if (c.bytes) {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(*c.bytes);
        }
        mdlCommon::ClearError();
        std::unique_ptr<ov::Connection> cn = mdlOVSqlServer::ConnectToDBAccess(path);
        ov::DataError error;
        if (c.failsAtOpen) {
            EXPECT_FALSE(cn);
            ASSERT_TRUE(mdlCommon::gobjError);
            error.number = mdlCommon::gobjError->ErrNumber();
            error.description = mdlCommon::gobjError->ErrDesc();
        } else {
            ASSERT_TRUE(cn) << mdlCommon::GetErrorText(true).toStdString();
            EXPECT_FALSE(readEverything(*cn, &error));
        }
        EXPECT_EQ(error.number, ov::JetErr::CannotOpen);
        EXPECT_TRUE(error.description.contains(QLatin1String(c.description)))
            << error.description.toStdString();
        EXPECT_TRUE(error.description.contains(path)) << error.description.toStdString();
    }
}

TEST(JetBadFile, AnotherPasswordIsRefusedAndNoPasswordIsAccepted)
{
    QTemporaryDir dir;
    auto table = [](jet::Writer& w) {
        w.addTable(QStringLiteral("T"), {{QStringLiteral("Id"), ColumnType::Long}});
    };
    const QString other =
        jetread::writeCdb(dir, QStringLiteral("other.cdb"), table, QStringLiteral("secret"));
    const QString none = jetread::writeCdb(dir, QStringLiteral("none.cdb"), table, QString());
    ASSERT_FALSE(other.isEmpty());
    ASSERT_FALSE(none.isEmpty());

    mdlCommon::ClearError();
    EXPECT_FALSE(mdlOVSqlServer::ConnectToDBAccess(other));
    EXPECT_EQ(
        mdlCommon::GetErrorText(true),
        QStringLiteral("连接数据库失败！\r\n\r\n错误编号:-2147217843\r\n错误描述:Not a valid password.\r\n"));

    // The right password in a hand-made string opens it.
    ov::Connection cn;
    EXPECT_TRUE(
        cn.Open(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"%1\";Jet OLEDB:Database "
                               "Password=\"secret\";")
                    .arg(other)));
    EXPECT_EQ(cn.engine(), QStringLiteral("jet"));

    // A file without a password opens with any.
    EXPECT_TRUE(mdlOVSqlServer::ConnectToDBAccess(none)) << mdlCommon::GetErrorText(true).toStdString();
}

TEST(JetConnectToDBAccess, OpensAPathWithBlanksAndChineseWithItsSettings)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("单机版 数据")));
    const QString path =
        jetread::writeCdb(dir, QStringLiteral("单机版 数据/客户 资料.cdb"), [](jet::Writer& w) {
            w.addTable(QStringLiteral("T"), {{QStringLiteral("Id"), ColumnType::Long}});
        });
    ASSERT_FALSE(path.isEmpty());

    const QString text = mdlOVSqlServer::BuildAccessConnectionString(path);
    EXPECT_TRUE(
        text.startsWith(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"") + path +
                        QStringLiteral("\";Persist Security Info=False;Jet Oledb:Database Password=\"")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("\";")));
    // The placeholder is gone, and the password is not its scrambled form.
    EXPECT_FALSE(text.contains(QStringLiteral("qzmek")));
    EXPECT_FALSE(text.contains(mdlEncode::kScrambledFilePassword));

    std::unique_ptr<ov::Connection> cn = mdlOVSqlServer::ConnectToDBAccess(path);
    ASSERT_TRUE(cn) << mdlCommon::GetErrorText(true).toStdString();
    EXPECT_EQ(cn->CursorLocation(), ov::adUseClient);
    EXPECT_EQ(cn->CommandTimeout(), 600);
    EXPECT_EQ(cn->engine(), QStringLiteral("jet"));
}

TEST(JetConnectToDBAccess, AFailureFillsTheErrorRecord)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("没有.cdb"));
    mdlCommon::ClearError();
    EXPECT_FALSE(mdlOVSqlServer::ConnectToDBAccess(path));
    ASSERT_TRUE(mdlCommon::gobjError);
    const clsError& e = *mdlCommon::gobjError;
    EXPECT_EQ(e.strMoudle(), QStringLiteral("mdlContactTrace"));
    EXPECT_EQ(e.strFunction(), QStringLiteral("ConnectToDBAccess"));
    EXPECT_EQ(e.strMsg(), QStringLiteral("连接数据库失败！"));
    EXPECT_EQ(e.strContent(), QString());
    EXPECT_EQ(e.ErrNumber(), ov::JetErr::CannotOpen);
    EXPECT_EQ(mdlCommon::GetErrorText(true),
              QStringLiteral(
                  "连接数据库失败！\r\n\r\n错误编号:-2147467259\r\n错误描述:Could not find file '%1'.\r\n")
                  .arg(path));
}

} // namespace
