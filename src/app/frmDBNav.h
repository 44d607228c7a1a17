#pragma once

#include "app/TaskLaunch.h"

#include <QScopedPointer>
#include <QWidget>

namespace Ui {
class frmDBNav;
}

// The maintenance menu: the five tasks as large buttons and a close button.
// Choosing a task closes the menu for good and opens the task window.
class frmDBNav : public QWidget
{
    Q_OBJECT

public:
    // Reads the settings, forgets the stored password, sets the caption and
    // shows the menu without waiting. Returns the window, which deletes
    // itself when closed.
    static frmDBNav* ShowMe();

    explicit frmDBNav(QWidget* parent = nullptr);
    ~frmDBNav() override;

private:
    void LaunchFromButton(Task task);

    QScopedPointer<Ui::frmDBNav> m_ui;
    ConnectionSettings m_settings;
};
