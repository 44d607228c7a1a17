#pragma once

#include <QDialog>

// A task window whose long task runs on the user-interface thread and lets
// pending events run as it goes. While the task runs the window refuses to
// close (its close box, Escape, a cancel button wired to close or reject),
// so the label and bar that the task drives stay until it ends, and a second
// start of the task is refused by isRunning().
class TaskDialog : public QDialog
{
    Q_OBJECT

public:
    using QDialog::QDialog;

    bool isRunning() const { return m_running; }
    void reject() override;

protected:
    // Marks the window's task as running for the guard's lifetime.
    class Running
    {
    public:
        explicit Running(TaskDialog* window) : m_window(window) { m_window->m_running = true; }
        ~Running() { m_window->m_running = false; }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;

    private:
        TaskDialog* m_window;
    };

    void closeEvent(QCloseEvent* event) override;

private:
    bool m_running = false;
};
