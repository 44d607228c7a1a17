// The three windows rendered offscreen and saved under build/screenshots/ for
// a person to look at; the fonts they resolve to must hold their Chinese.

#include "BackupTestSupport.h"
#include "backup/mdlOVSqlBackup.h"

#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

namespace {

class Screenshots : public ovtest::BackupFixture
{
protected:
    void Save(QWidget* w, const char* name, const QString& chinese)
    {
        ovtest::Activate(w);
        const QFontMetrics metrics(w->font());
        for (const QChar c : chinese)
            EXPECT_TRUE(metrics.inFontUcs4(c.unicode()))
                << name << ": no glyph for U+" << std::hex << c.unicode();
        const QImage image = w->grab().toImage();
        ASSERT_FALSE(image.isNull());
        const QString folder = QStringLiteral(OV_PROGRAM_DIR "/../screenshots");
        QDir().mkpath(folder);
        EXPECT_TRUE(image.save(folder + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png")));
    }
};

TEST_F(Screenshots, SavesTheBackupRestoreAndBrowserWindows)
{
    MakeDatabase(QStringLiteral("OrvaneCrm"));
    const QString file = path(QStringLiteral("bak/OrvaneCrm-202612041533.dat"));
    ASSERT_TRUE(
        mdlOVSqlBackup::DoBackup(m_server, QStringLiteral("OrvaneCrm"), true, QString(), QString(), file));
    ASSERT_TRUE(mdlOVSqlServer::WriteDefaultPathFile(file));

    frmDBBackup* backup =
        frmDBBackup::ShowMe(m_server, QStringLiteral("OrvaneCrm"), false, QStringLiteral("sa"), QString());
    Save(backup, "frmDBBackup",
         QStringLiteral("数据库备份文件名：将保存于服务器上使用身份验证密码不记忆取消"));

    frmDBRestore* restore = frmDBRestore::ShowMe(m_server, QStringLiteral("OrvaneCrm"), true, QString());
    ovtest::Activate(restore);
    QTest::keyClick(restore->findChild<QLineEdit*>(QStringLiteral("txtPathFileName")), Qt::Key_Return);
    EXPECT_TRUE(restore->findChild<QLabel*>(QStringLiteral("lblBackupDate"))
                    ->text()
                    .startsWith(QStringLiteral("原备份日期：2026")));
    Save(restore, "frmDBRestore", QStringLiteral("步骤输入连接数据库的信息恢复常规选项原备份日期"));

    ov::Connection cn;
    ASSERT_TRUE(cn.Open(QStringLiteral("Data Source=%1;Initial Catalog=Tempdb").arg(m_server)));
    frmSqlServerDirectory browser;
    browser.Prepare(cn, *m_admin, QString(), path(QStringLiteral("bak")), QStringLiteral("OrvaneCrm-new.dat"),
                    true);
    Save(&browser, "frmSqlServerDirectory", QStringLiteral("请选择服务器上的文件转到该目录文件名确定取消"));
}

} // namespace
