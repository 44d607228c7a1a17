#include "common/mdlCommonGui.h"

#include "common/QtUi.h"
#include "common/mdlCommon.h"
#include "common/mdlOVSqlUpdateDB.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QWidget>
#include <QWindow>

namespace mdlCommon {

namespace {

// The locale of the program's texts.
QLocale ChineseLocale()
{
    return QLocale(QLocale::Chinese, QLocale::China);
}

// The file dialog's list as a Chinese locale writes it: Qt's file model
// writes sizes and dates in the machine's locale, whatever the language of
// the rest of the dialog.
class ChineseFileColumns : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override
    {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (files && role == Qt::DisplayRole && index.isValid()) {
            const QModelIndex source = mapToSource(index);
            switch (index.column()) {
            case 1: // size; folders have none
                if (!files->isDir(source))
                    return ChineseLocale().formattedDataSize(files->size(source));
                break;
            case 3: // date modified
                return ChineseLocale().toString(files->lastModified(source), QLocale::ShortFormat);
            default:
                break;
            }
        }
        return QIdentityProxyModel::data(index, role);
    }
};

} // namespace

QString ToQtFilter(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts.at(i);
        QString pattern = parts.at(i + 1);
        pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
        // Qt reads the patterns from the parentheses of each entry.
        out.append(description.contains(QLatin1Char('(') + pattern + QLatin1Char(')'))
                       ? description
                       : QStringLiteral("%1 (%2)").arg(description, pattern));
    }
    return out.join(QLatin1String(";;"));
}

QString ShowFileDialog(bool save, const QString& defaultPathFile, const QString& filter, int x, int y,
                       const QString& initialFolder, const QString& title)
{
    Q_UNUSED(x)
    Q_UNUSED(y)
    QString folder = initialFolder.isEmpty() ? mdlOVSqlUpdateDB::gstrUserPath : initialFolder;
    QString name;
    if (!defaultPathFile.isEmpty()) {
        QString splitFolder, baseName, extension;
        SplitPathName(QDir::toNativeSeparators(defaultPathFile), splitFolder, name, baseName, extension,
                      QDir::separator() == QLatin1Char('\\') ? PathStyle::Windows : PathStyle::Posix);
        if (!splitFolder.isEmpty())
            folder = splitFolder;
    }

    // The dialog is a child of the task window, so it opens in front of it,
    // and lives only for this call.
    QFileDialog dialog(ov::TaskWindow(), title, folder, ToQtFilter(filter));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setObjectName(QStringLiteral("frmCommonDlg"));
    // Its own texts, sizes and dates in Chinese, whatever the machine's
    // locale; the dialog owns the proxy.
    dialog.setLocale(ChineseLocale());
    dialog.setProxyModel(new ChineseFileColumns(&dialog));
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (!name.isEmpty())
        dialog.selectFile(name);

    QString chosen;
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        chosen = QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
    ActivateVisibleForms();
    return chosen;
}

void ActivateVisibleForms()
{
    // The platform keeps its windows in the order they were made.
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (window->isVisible() && window->type() != Qt::Popup && window->type() != Qt::ToolTip) {
            window->raise();
            window->requestActivate();
        }
    }
}

} // namespace mdlCommon
