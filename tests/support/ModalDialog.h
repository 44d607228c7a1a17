#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>

QT_BEGIN_NAMESPACE
class QFileDialog;
QT_END_NAMESPACE

namespace ovtest {

// Watches for modal dialogs while it lives, polling from every event loop
// that runs, the loop of the dialog itself included. See NextDialog and
// NoDialog.
class DialogWatch : public QObject
{
public:
    // How long a test may wait in an event loop for an awaited dialog before
    // it fails, rather than hang until the test run's time-out.
    static constexpr int kDeadlineMs = 30000;

    ~DialogWatch() override;
    DialogWatch(const DialogWatch&) = delete;
    DialogWatch& operator=(const DialogWatch&) = delete;

    // True once the awaited dialog has come (and been answered).
    bool came() const { return m_came; }
    // Waits ms instead of kDeadlineMs.
    void setDeadline(int ms) { m_deadlineMs = ms; }

protected:
    // With kind null no dialog is awaited: every one that comes fails the test.
    DialogWatch(const QMetaObject* kind, const QString& title, std::function<void(QWidget*)> answer,
                const char* file, int line);

private:
    void poll();
    QWidget* findDialog() const;
    QString what() const;

    const QMetaObject* m_kind;
    QString m_title;
    std::function<void(QWidget*)> m_answer;
    const char* m_file;
    int m_line;
    QTimer m_timer;
    QElapsedTimer m_waited;
    int m_deadlineMs = kDeadlineMs;
    bool m_came = false;
    bool m_failed = false;
};

// Answers the next modal dialog of class W (and of the given title, when one
// is given): runs answer on it once it shows. A dialog that has not come when
// the helper is destroyed fails the test, and so does one that has not come
// within the deadline while the test waits in an event loop; then a modal
// dialog of another kind that holds the test is closed, so that the test goes
// on to its end.
//
//     ovtest::NextDialog<frmDBBackup> backup(ovtest::Press("cmdCancel"));
//     QTest::mouseClick(...); // opens the backup window and waits for it
template <typename W> class NextDialog : public DialogWatch
{
public:
    explicit NextDialog(std::function<void(W*)> answer, const QString& title = QString(),
                        const char* file = __builtin_FILE(), int line = __builtin_LINE())
        : DialogWatch(
              &W::staticMetaObject, title,
              [answer = std::move(answer)](QWidget* w) { answer(static_cast<W*>(w)); }, file, line)
    {}
};

// Fails the test for every modal dialog that shows while it lives, and closes
// it, so that a dialog that must not come cannot hold the test either.
class NoDialog : public DialogWatch
{
public:
    explicit NoDialog(const char* file = __builtin_FILE(), int line = __builtin_LINE())
        : DialogWatch(nullptr, QString(), nullptr, file, line)
    {}
};

// An answer that clicks the push button named name of the dialog.
std::function<void(QWidget*)> Press(const char* name);

// An answer for a file dialog: chooses path, or cancels when path is empty;
// the folder the dialog showed first goes to folderSeen when it is given.
std::function<void(QFileDialog*)> ChooseFile(const QString& path, QString* folderSeen = nullptr);

// Closes a dialog as its close box does: a QDialog is rejected.
void CloseDialog(QWidget* dialog);

// Runs answer on dialog and marks it answered: no watch takes it again, and
// the guard of InstallDialogGuard gives a dialog the answer left open its
// whole deadline again.
void AnswerDialog(QWidget* dialog, const std::function<void(QWidget*)>& answer);

// From every event loop of the test program on, a modal dialog that nobody
// answers, or that stays open after its answer, for DialogWatch::kDeadlineMs
// fails the running test and is closed; the test goes on to its end instead
// of waiting for ever. The test main installs it.
void InstallDialogGuard();

// Gives the guard another deadline while it lives.
class ScopedGuardDeadline
{
public:
    explicit ScopedGuardDeadline(int ms);
    ~ScopedGuardDeadline();
    ScopedGuardDeadline(const ScopedGuardDeadline&) = delete;
    ScopedGuardDeadline& operator=(const ScopedGuardDeadline&) = delete;

private:
    int m_before;
};

} // namespace ovtest
