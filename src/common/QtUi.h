#pragma once

#include "common/UiPort.h"

#include <QPointer>

#include <QLabel>
#include <QProgressBar>

namespace ov {

// The user-interface port of the windows: Qt message boxes with the
// application title as caption, the event loop, the override cursor.
class QtUi : public UiPort
{
public:
    MsgAnswer message(const QString& text, MsgStyle style) override;
    void pumpEvents() override;
    // The busy pointer does not nest: one release restores the normal pointer.
    void setBusyPointer(bool busy) override;
    // Runs work on a thread of its own while a local event loop keeps the
    // windows painting; user input and close requests are dropped meanwhile.
    void waitFor(const QString& caption, const std::function<void()>& work) override;
    void note(const QString& text) override;
};

// Loads Qt's own Simplified Chinese texts (the standard buttons, the file
// dialog) whatever the machine's locale, so they read as the rest of the
// program. Called once at start-up, after the application object exists;
// false when the translation is not installed.
bool LoadQtChineseTranslation();

// The window that message boxes and file dialogs belong to: the modal
// window open now, otherwise the task window (the window shown last),
// whether or not the window system has made it active again.
QWidget* TaskWindow();

// What QtUi::waitFor does, for other ports that sit in front of windows.
void WaitWhileWindowsPaint(const QString& caption, const std::function<void()>& work);

// A window's label lent to an operation as its status label. While it is
// lent, a wait (QtUi::waitFor) shows its caption there.
class QtStatusLabel : public StatusLabel
{
public:
    explicit QtStatusLabel(QLabel* label);
    ~QtStatusLabel() override;
    QtStatusLabel(const QtStatusLabel&) = delete;
    QtStatusLabel& operator=(const QtStatusLabel&) = delete;
    void setCaption(const QString& text) override;
    QString caption() const override;

private:
    QPointer<QLabel> m_label;
};

// A window's progress bar lent to an operation.
class QtProgressBar : public ProgressBar
{
public:
    explicit QtProgressBar(QProgressBar* bar) : m_bar(bar), m_maximum(bar ? bar->maximum() : 0) {}
    void setMaximum(int maximum) override;
    int maximum() const override;
    void setValue(int value) override;
    int value() const override;

private:
    QPointer<QProgressBar> m_bar;
    int m_maximum; // as the operation set it
};

} // namespace ov
