#pragma once

#include <QString>

#include <functional>

namespace ov {

// The styles of message box the program uses. The caption is always the
// application title; a message never brings a caption of its own.
enum class MsgStyle
{
    Plain,               // OK only, no icon
    Information,         // information icon, OK
    Exclamation,         // exclamation icon, OK
    QuestionYesNo,       // question icon, Yes and No
    InformationOkCancel, // information icon, OK and Cancel
};

enum class MsgAnswer
{
    Ok,
    Cancel,
    Yes,
    No,
};

// The status label that a window lends to a long operation.
class StatusLabel
{
public:
    virtual ~StatusLabel() = default;
    virtual void setCaption(const QString& text) = 0;
    virtual QString caption() const = 0;
};

// The progress bar that a window lends to a long operation.
class ProgressBar
{
public:
    virtual ~ProgressBar() = default;
    virtual void setMaximum(int maximum) = 0;
    virtual int maximum() const = 0;
    virtual void setValue(int value) = 0;
    virtual int value() const = 0;
};

// A label and a bar that only keep what they were given: for work that no
// window shows (benchmarks, fuzzing, tests).
class PlainStatusLabel : public StatusLabel
{
public:
    void setCaption(const QString& text) override { m_caption = text; }
    QString caption() const override { return m_caption; }

private:
    QString m_caption;
};

class PlainProgressBar : public ProgressBar
{
public:
    void setMaximum(int maximum) override { m_maximum = maximum; }
    int maximum() const override { return m_maximum; }
    void setValue(int value) override { m_value = value; }
    int value() const override { return m_value; }

private:
    int m_maximum = 100;
    int m_value = 0;
};

// Everything an operation shows or asks goes through this port: the windows
// implement it with Qt, ovsqlcli with the terminal, the tests with a scripted
// answerer. Operations never touch a widget.
class UiPort
{
public:
    virtual ~UiPort() = default;
    // Shows text with the application title as caption and returns the answer.
    virtual MsgAnswer message(const QString& text, MsgStyle style) = 0;
    // Lets pending events run once, so labels and bars get painted.
    virtual void pumpEvents() = 0;
    // Shows (true) or restores (false) the busy mouse pointer.
    virtual void setBusyPointer(bool busy) = 0;
    // Runs work, a call that can block for long (a connection attempt), and
    // returns when it has ended. The windows keep painting meanwhile, show
    // caption in the status label lent to the running task and the busy
    // pointer, and ignore the user's clicks and keys. Without windows the
    // work simply runs.
    virtual void waitFor(const QString& caption, const std::function<void()>& work);
    // A failure that does not stop the work but must not go unseen (a
    // settings file or the update log that could not be written): the
    // windows show it in a message box, the command line prints it on
    // stderr.
    virtual void note(const QString& text) = 0;
};

// The port in use. Until one is installed, a silent port answers every question
// with No or Cancel, so nothing destructive happens without a person.
UiPort& ui();
// Installs port (not owned); nullptr goes back to the silent port.
void setUi(UiPort* port);

// Shorthand for ui().message(text, style).
MsgAnswer MsgBox(const QString& text, MsgStyle style = MsgStyle::Plain);

// The application title, the caption of every message box.
QString applicationTitle();
void setApplicationTitle(const QString& title);

} // namespace ov
