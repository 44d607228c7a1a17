#include "common/QtUi.h"

#include "update/UpdateLog.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>

namespace ov {

MsgAnswer QtUi::message(const QString& text, MsgStyle style)
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    switch (style) {
    case MsgStyle::Plain:
        break;
    case MsgStyle::Information:
        icon = QMessageBox::Information;
        break;
    case MsgStyle::Exclamation:
        icon = QMessageBox::Warning;
        break;
    case MsgStyle::QuestionYesNo:
        icon = QMessageBox::Question;
        buttons = QMessageBox::Yes | QMessageBox::No;
        break;
    case MsgStyle::InformationOkCancel:
        icon = QMessageBox::Information;
        buttons = QMessageBox::Ok | QMessageBox::Cancel;
        break;
    }
    QMessageBox box(icon, applicationTitle(), text, buttons, QApplication::activeWindow());
    // A busy pointer must not hide the pointer the user needs to answer.
    const bool busy = QApplication::overrideCursor() != nullptr;
    if (busy)
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int result = box.exec();
    if (busy)
        QApplication::restoreOverrideCursor();
    switch (result) {
    case QMessageBox::Yes:
        return MsgAnswer::Yes;
    case QMessageBox::Ok:
        return MsgAnswer::Ok;
    case QMessageBox::Cancel:
        return MsgAnswer::Cancel;
    default:
        // No, or the box closed through its frame: never taken as agreement.
        if (style == MsgStyle::QuestionYesNo)
            return MsgAnswer::No;
        return style == MsgStyle::InformationOkCancel ? MsgAnswer::Cancel : MsgAnswer::Ok;
    }
}

void QtUi::note(const QString& text)
{
    mdlOVSqlUpdateDB::WriteUpdateLog(QStringLiteral("!!! ") + text);
}

void QtUi::pumpEvents()
{
    QCoreApplication::processEvents();
}

void QtUi::setBusyPointer(bool busy)
{
    if (busy) {
        if (!QApplication::overrideCursor())
            QApplication::setOverrideCursor(Qt::WaitCursor);
        return;
    }
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

void QtStatusLabel::setCaption(const QString& text)
{
    if (m_label)
        m_label->setText(text);
}

QString QtStatusLabel::caption() const
{
    return m_label ? m_label->text() : QString();
}

void QtProgressBar::setMaximum(int maximum)
{
    if (m_bar)
        m_bar->setMaximum(maximum);
}

int QtProgressBar::maximum() const
{
    return m_bar ? m_bar->maximum() : 0;
}

void QtProgressBar::setValue(int value)
{
    if (m_bar)
        m_bar->setValue(value);
}

int QtProgressBar::value() const
{
    return m_bar ? m_bar->value() : 0;
}

} // namespace ov
