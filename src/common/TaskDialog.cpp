#include "common/TaskDialog.h"

#include <QCloseEvent>

void TaskDialog::closeEvent(QCloseEvent* event)
{
    // A disabled window still gets the close requests of the window system.
    if (m_running) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TaskDialog::reject()
{
    if (!m_running)
        QDialog::reject();
}
