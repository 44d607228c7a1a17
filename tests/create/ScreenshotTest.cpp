// The creation and update windows rendered offscreen and saved under
// build/screenshots/ for a person to look at; the fonts they resolve to must
// hold their Chinese.

#include "CreateTestSupport.h"
#include "create/frmDBCreate.h"
#include "update/frmDBUpdate.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QTest>

namespace {

class Screenshots : public ovtest::CreateFixture
{
protected:
    void Save(QWidget* w, const char* name)
    {
        w->show();
        QApplication::setActiveWindow(w);
        EXPECT_TRUE(QTest::qWaitForWindowActive(w));
        // Every text the window shows, captions of its labels and buttons.
        QString chinese = w->windowTitle();
        for (const QLabel* l : w->findChildren<QLabel*>())
            chinese += l->text();
        for (const QAbstractButton* b : w->findChildren<QAbstractButton*>())
            chinese += b->text();
        const QList<const QWidget*> owners = {w, w->findChild<QWidget*>(QStringLiteral("lblTipHeader"))};
        for (const QWidget* owner : owners) {
            const QFontMetrics metrics(owner->font());
            for (const QChar c : std::as_const(chinese)) {
                if (c.unicode() >= 0x2000) {
                    EXPECT_TRUE(metrics.inFontUcs4(c.unicode()))
                        << name << ": no glyph for U+" << std::hex << c.unicode();
                }
            }
        }
        const QImage image = w->grab().toImage();
        ASSERT_FALSE(image.isNull());
        const QString folder = QStringLiteral(OV_PROGRAM_DIR "/../screenshots");
        QDir().mkpath(folder);
        EXPECT_TRUE(image.save(folder + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png")));
    }
};

TEST_F(Screenshots, SavesTheCreateAndUpdateWindows)
{
    frmDBCreate* create = frmDBCreate::ShowMe(QStringLiteral("sqlite:demo-data"), QStringLiteral("OrvaneCrm"),
                                              false, QStringLiteral("sa"));
    Save(create, "frmDBCreate");
    delete create;
    frmDBUpdate* update =
        frmDBUpdate::ShowMe(QStringLiteral("sqlite:demo-data"), QStringLiteral("OrvaneCrm"), true, QString());
    Save(update, "frmDBUpdate");
    delete update;
}

} // namespace
