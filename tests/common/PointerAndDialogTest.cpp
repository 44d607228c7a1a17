#include "common/QtUi.h"
#include "common/clsMouseCtrl.h"
#include "common/mdlCommonGui.h"
#include "support/ModalDialog.h"
#include "support/ScopedProgramFolder.h"
#include "support/Windows.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTreeView>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

TEST(MousePointer, GuardsDoNotNest)
{
    ov::QtUi port;
    ov::setUi(&port);
    {
        clsMouseCtrl outer;
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        {
            clsMouseCtrl inner;
            EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        }
        // The inner release already brought back the normal pointer.
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ov::setUi(nullptr);
}

TEST(FileDialog, FilterBecomesQtFilter)
{
    EXPECT_EQ(mdlCommon::ToQtFilter(QStringLiteral("单机版数据库|*.cdb|所有文件|*.*")),
              QStringLiteral("单机版数据库 (*.cdb);;所有文件 (*.*)"));
    EXPECT_EQ(mdlCommon::ToQtFilter(QStringLiteral("数据库(*.cdb)|*.cdb")), QStringLiteral("数据库(*.cdb)"));
    EXPECT_EQ(mdlCommon::ToQtFilter(QStringLiteral("文本|*.txt;*.log")),
              QStringLiteral("文本 (*.txt *.log)"));
}

TEST(FileDialog, CancelGivesEmptyTextAndLeavesNoDialog)
{
    ovtest::ScopedProgramFolder folder;
    const QString user = folder.makeUserFolder();
    QString seen;
    ovtest::NextDialog<QFileDialog> dialog(ovtest::ChooseFile(QString(), &seen), QStringLiteral("打开"));
    EXPECT_EQ(mdlCommon::ShowFileDialog(false, QString(), QStringLiteral("单机版数据库|*.cdb"), 0, 0,
                                        QString(), QStringLiteral("打开")),
              QString());
    // Without a starting folder the dialog opens in the user folder.
    EXPECT_EQ(seen, QDir(user).absolutePath());
    EXPECT_TRUE(ovtest::TopLevels<QFileDialog>().isEmpty());
}

TEST(FileDialog, OpenReturnsTheChosenExistingFile)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("客户.cdb"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    QString seen;
    ovtest::NextDialog<QFileDialog> dialog(ovtest::ChooseFile(file, &seen), QStringLiteral("打开"));
    // The preset path's folder is where the dialog starts.
    EXPECT_EQ(mdlCommon::ShowFileDialog(false, file, QStringLiteral("单机版数据库|*.cdb"), 0, 0,
                                        QStringLiteral("/"), QStringLiteral("打开")),
              file);
    EXPECT_EQ(seen, QDir(dir.path()).absolutePath());
    EXPECT_TRUE(ovtest::TopLevels<QFileDialog>().isEmpty());
}

namespace {
// Reads the texts of the push buttons of a message box and closes it.
std::function<void(QMessageBox*)> ReadButtons(QStringList* buttons)
{
    return [buttons](QMessageBox* box) {
        for (QAbstractButton* b : box->buttons())
            buttons->append(b->text());
        box->reject();
    };
}
} // namespace

// Qt's own buttons and dialogs read Chinese, as the rest of the program does,
// whatever the locale of the machine.
TEST(QtTranslation, StandardButtonsReadChinese)
{
    ov::QtUi port;
    ov::setUi(&port);
    const struct
    {
        ov::MsgStyle style;
        QStringList texts;
    } cases[] = {
        {ov::MsgStyle::Plain, {QStringLiteral("确定")}},
        {ov::MsgStyle::InformationOkCancel, {QStringLiteral("确定"), QStringLiteral("取消")}},
        {ov::MsgStyle::QuestionYesNo, {QStringLiteral("是(&Y)"), QStringLiteral("否(&N)")}},
    };
    for (const auto& c : cases) {
        QStringList seen;
        ovtest::NextDialog<QMessageBox> box(ReadButtons(&seen));
        ov::MsgBox(QStringLiteral("数据库升级成功！"), c.style);
        seen.sort();
        QStringList expected = c.texts;
        expected.sort();
        EXPECT_EQ(seen, expected) << int(c.style);
    }
    ov::setUi(nullptr);
}

TEST(QtTranslation, FileDialogReadsChinese)
{
    QTemporaryDir dir;
    QStringList labels;
    ovtest::NextDialog<QFileDialog> dialog([&labels](QFileDialog* d) {
        for (auto label : {QFileDialog::LookIn, QFileDialog::FileName, QFileDialog::FileType,
                           QFileDialog::Accept, QFileDialog::Reject})
            labels.append(d->labelText(label));
        d->reject();
    });
    mdlCommon::ShowFileDialog(false, QString(), QStringLiteral("单机版数据库|*.cdb"), 0, 0, dir.path(),
                              QStringLiteral("打开"));
    ASSERT_EQ(labels.size(), 5);
    for (const QString& label : labels) {
        EXPECT_FALSE(label.isEmpty());
        // Every label has Chinese in it, none is Qt's English one.
        EXPECT_TRUE(std::any_of(label.begin(), label.end(), [](QChar ch) { return ch.unicode() >= 0x4E00; }))
            << label.toStdString();
    }
}

// The file dialog's list shows dates as a Chinese locale writes them, and
// its own labels in Chinese, whatever the locale of the machine.
TEST(QtTranslation, FileDialogDatesFollowAChineseLocale)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Demo.cdb"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(3000, 'x'));
    }
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    QString date;
    QString header;
    QString localeName;
    ovtest::NextDialog<QFileDialog> dialog([&](QFileDialog* d) {
        d->setViewMode(QFileDialog::Detail);
        auto* view = d->findChild<QTreeView*>(QStringLiteral("treeView"));
        ASSERT_NE(view, nullptr);
        QAbstractItemModel* model = view->model();
        const auto row = [&]() -> int {
            for (int r = 0; r < model->rowCount(view->rootIndex()); ++r) {
                if (model->index(r, 0, view->rootIndex()).data().toString() == QLatin1String("Demo.cdb"))
                    return r;
            }
            return -1;
        };
        EXPECT_TRUE(ovtest::WaitUntil([&] { return row() >= 0; }));
        if (row() >= 0)
            date = model->index(row(), 3, view->rootIndex()).data().toString();
        header = model->headerData(3, Qt::Horizontal).toString();
        localeName = d->locale().name();
        d->reject();
    });
    mdlCommon::ShowFileDialog(false, QString(), QStringLiteral("单机版数据库|*.cdb"), 0, 0, dir.path(),
                              QStringLiteral("打开"));
    EXPECT_EQ(date.toStdString(),
              chinese.toString(QFileInfo(file).lastModified(), QLocale::ShortFormat).toStdString());
    EXPECT_EQ(header, QStringLiteral("修改日期"));
    EXPECT_EQ(localeName, QStringLiteral("zh_CN"));
}

// A message box is wide enough for its caption beside the frame's icon and
// buttons, so the title is never cut short.
TEST(QtMessageBox, IsWideEnoughForItsCaption)
{
    ov::QtUi port;
    ov::setUi(&port);
    const QString saved = ov::applicationTitle();
    ov::setApplicationTitle(QStringLiteral("Orvane客户资源管理系统 -- 升级数据库 -- 备份数据库"));
    int width = 0;
    int needed = 0;
    ovtest::NextDialog<QMessageBox> box([&](QMessageBox* b) {
        width = b->width();
        needed = b->fontMetrics().horizontalAdvance(b->windowTitle());
        b->accept();
    });
    ov::MsgBox(QStringLiteral("好"));
    // Room for the caption and for the frame's icon and buttons beside it.
    EXPECT_GE(width, needed + 100) << width << " " << needed;
    ov::setApplicationTitle(saved);
    ov::setUi(nullptr);
}

// A bar whose maximum is 0 (an empty script or list) shows an empty bar, not
// Qt's busy animation; the operation still reads back the maximum it set.
TEST(QtProgress, ZeroMaximumIsNoBusyAnimation)
{
    QProgressBar bar;
    ov::QtProgressBar progress(&bar);
    progress.setMaximum(0);
    progress.setValue(0);
    EXPECT_LT(bar.minimum(), bar.maximum());
    EXPECT_EQ(progress.maximum(), 0);
    EXPECT_EQ(progress.value(), 0);
    progress.setMaximum(5);
    progress.setValue(5);
    EXPECT_EQ(bar.maximum(), 5);
    EXPECT_EQ(bar.value(), 5);
}

// A message box belongs to the task window, also right after a file dialog
// or another modal window over it closed and before the window system has
// made the task window active again: it carries the window's icon and is
// centred on it.
TEST(QtMessageBox, BelongsToTheTaskWindowAfterADialogClosed)
{
    ov::QtUi port;
    ov::setUi(&port);
    QTemporaryDir dir;
    QWidget task;
    task.setWindowTitle(QStringLiteral("升级数据库"));
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::darkRed);
    task.setWindowIcon(QIcon(pixmap));
    task.resize(480, 360);
    task.show();
    QApplication::setActiveWindow(&task);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&task));
    const struct
    {
        const char* before;
        bool activeAgain;
    } cases[] = {
        {"file dialog", true},   {"file dialog", false}, {"modal window", true},
        {"modal window", false}, {"nothing", false},
    };
    for (const auto& c : cases) {
        const std::string label = std::string(c.before) + (c.activeAgain ? ", active again" : ", not active");
        if (QLatin1String(c.before) == QLatin1String("file dialog")) {
            ovtest::NextDialog<QFileDialog> dialog(ovtest::ChooseFile(QString()));
            mdlCommon::ShowFileDialog(false, QString(), QStringLiteral("单机版数据库|*.cdb"), 0, 0,
                                      dir.path(), QStringLiteral("打开"));
        } else if (QLatin1String(c.before) == QLatin1String("modal window")) {
            QDialog backup(&task);
            ovtest::NextDialog<QDialog> dialog([](QDialog* d) { d->accept(); });
            backup.exec();
        }
        QApplication::setActiveWindow(c.activeAgain ? &task : nullptr);
        QWidget* parent = nullptr;
        qint64 icon = 0;
        QPoint centre;
        ovtest::NextDialog<QMessageBox> box([&](QMessageBox* b) {
            parent = b->parentWidget();
            icon = b->windowIcon().pixmap(16, 16).toImage().pixel(0, 0);
            centre = b->frameGeometry().center();
            b->accept();
        });
        ov::MsgBox(QStringLiteral("该数据库不是Orvane客户资源管理系统的数据库！"), ov::MsgStyle::Exclamation);
        EXPECT_EQ(parent, &task) << label;
        EXPECT_EQ(icon, qint64(QColor(Qt::darkRed).rgb())) << label;
        EXPECT_TRUE(task.frameGeometry().contains(centre)) << label;
    }
    ov::setUi(nullptr);
}

// A long name in a message (a 140-character database name, a path) wraps
// inside the box instead of running past its right edge; the box fits on
// the screen and shows the whole text.
TEST(QtMessageBox, LongNamesWrapInsideTheBox)
{
    ov::QtUi port;
    ov::setUi(&port);
    const QString names[] = {
        QString(140, QLatin1Char('n')),
        QStringLiteral("/srv/orvane/") + QString(60, QLatin1Char('b')) + QLatin1Char('/') +
            QString(70, QLatin1Char('c')) + QStringLiteral(".dat"),
        QString(140, QChar(0x6570)),
    };
    for (const QString& name : names) {
        const QString text =
            QStringLiteral("该数据库不是Orvane客户资源管理系统的数据库！\r\n数据库：") + name;
        QRect label, box, screen;
        QString shown;
        int needed = 0;
        ovtest::NextDialog<QMessageBox> watch([&](QMessageBox* b) {
            auto* l = b->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            if (l) {
                label = QRect(l->mapTo(b, QPoint(0, 0)), l->size());
                needed = l->heightForWidth(l->width());
                if (needed < 0)
                    needed = l->sizeHint().height();
                shown = l->text();
                // A line wider than the label is cut at its right edge.
                if (l->minimumSizeHint().width() > l->width() ||
                    (l->sizeHint().width() > l->width() && !l->wordWrap()))
                    needed = INT_MAX;
            }
            box = b->rect();
            screen = b->screen()->availableGeometry();
            b->accept();
        });
        ov::MsgBox(text, ov::MsgStyle::Exclamation);
        const std::string what = name.left(20).toStdString();
        ASSERT_FALSE(label.isEmpty()) << what;
        EXPECT_TRUE(box.contains(label)) << what;
        EXPECT_LE(box.width(), screen.width()) << what;
        EXPECT_LE(needed, label.height()) << what;
        // The whole text is there, whatever marks of where it may break.
        shown.remove(QChar(0x200B));
        EXPECT_EQ(shown, text) << what;
    }
    ov::setUi(nullptr);
}
