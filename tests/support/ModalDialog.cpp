#include "support/ModalDialog.h"

#include <QApplication>
#include <QByteArray>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace ovtest {

namespace {
// Set on a dialog once a watch has answered it, so that no later watch
// answers the same one while it is still on the screen.
const char* const kAnswered = "ovtestAnswered";
// Set while a watch's answer runs on the dialog: the guard leaves it alone.
const char* const kAnswering = "ovtestAnswering";
// When the guard first saw the dialog waiting, or when its answer returned
// and left it open: milliseconds of the guard's clock.
const char* const kWaitingSince = "ovtestWaitingSince";

std::string describe(const QWidget* w)
{
    std::string text =
        std::string(w->metaObject()->className()) + " \"" + w->windowTitle().toStdString() + '"';
    if (const auto* box = qobject_cast<const QMessageBox*>(w))
        text += ": " + box->text().toStdString();
    return text;
}

// The visible modal widgets, the active one first.
QList<QWidget*> modalWidgets()
{
    QList<QWidget*> out;
    QList<QWidget*> candidates{QApplication::activeModalWidget()};
    candidates += QApplication::topLevelWidgets();
    for (QWidget* w : candidates) {
        if (w && w->isVisible() && w->isModal() && !out.contains(w))
            out.append(w);
    }
    return out;
}

// Fails the test for a modal dialog that nobody answers, or that its answer
// left open, for DialogWatch::kDeadlineMs, and closes it: a test never waits
// for ever on a dialog that came unexpectedly, even where no watch lives.
class DialogGuard : public QObject
{
public:
    int deadlineMs = DialogWatch::kDeadlineMs;

    DialogGuard()
    {
        m_clock.start();
        m_timer.setInterval(100);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start();
    }

private:
    void poll()
    {
        for (QWidget* w : modalWidgets()) {
            if (w->property(kAnswering).toBool())
                continue;
            const QVariant since = w->property(kWaitingSince);
            if (!since.isValid()) {
                w->setProperty(kWaitingSince, m_clock.elapsed());
                continue;
            }
            if (m_clock.elapsed() - since.toLongLong() < deadlineMs)
                continue;
            w->setProperty(kAnswered, true);
            w->setProperty(kWaitingSince, m_clock.elapsed());
            ADD_FAILURE() << "a modal dialog waited " << deadlineMs
                          << " ms for an answer (closed): " << describe(w);
            CloseDialog(w);
        }
    }

    QElapsedTimer m_clock;
    QTimer m_timer;
};

DialogGuard*& theGuard()
{
    static DialogGuard* guard = nullptr;
    return guard;
}
} // namespace

void InstallDialogGuard()
{
    if (!theGuard())
        theGuard() = new DialogGuard;
}

ScopedGuardDeadline::ScopedGuardDeadline(int ms)
{
    InstallDialogGuard();
    m_before = theGuard()->deadlineMs;
    theGuard()->deadlineMs = ms;
}

ScopedGuardDeadline::~ScopedGuardDeadline()
{
    theGuard()->deadlineMs = m_before;
}

void AnswerDialog(QWidget* dialog, const std::function<void(QWidget*)>& answer)
{
    QPointer<QWidget> alive(dialog);
    dialog->setProperty(kAnswered, true);
    dialog->setProperty(kAnswering, true);
    if (answer)
        answer(dialog);
    if (alive) {
        alive->setProperty(kAnswering, QVariant());
        // The guard's time for a dialog its answer left open starts now.
        alive->setProperty(kWaitingSince, QVariant());
    }
}

DialogWatch::DialogWatch(const QMetaObject* kind, const QString& title, std::function<void(QWidget*)> answer,
                         const char* file, int line)
    : m_kind(kind), m_title(title), m_answer(std::move(answer)), m_file(file), m_line(line)
{
    m_timer.setInterval(10);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
    m_timer.start();
    m_waited.start();
}

DialogWatch::~DialogWatch()
{
    m_timer.stop();
    if (m_kind && !m_came && !m_failed)
        ADD_FAILURE_AT(m_file, m_line) << "no " << what().toStdString() << " came";
}

QString DialogWatch::what() const
{
    QString text = QString::fromLatin1(m_kind->className()) + QStringLiteral(" dialog");
    if (!m_title.isEmpty())
        text += QStringLiteral(" \"") + m_title + QLatin1Char('"');
    return text;
}

QWidget* DialogWatch::findDialog() const
{
    for (QWidget* w : modalWidgets()) {
        if (w->property(kAnswered).toBool())
            continue;
        if (m_kind && !w->inherits(m_kind->className()))
            continue;
        if (!m_title.isEmpty() && w->windowTitle() != m_title)
            continue;
        return w;
    }
    return nullptr;
}

void DialogWatch::poll()
{
    if (QWidget* dialog = findDialog()) {
        dialog->setProperty(kAnswered, true);
        if (!m_kind) {
            ADD_FAILURE_AT(m_file, m_line) << "a dialog came: " << describe(dialog);
            CloseDialog(dialog);
            return;
        }
        m_timer.stop();
        m_came = true;
        AnswerDialog(dialog, m_answer);
        return;
    }
    if (m_kind && m_waited.hasExpired(m_deadlineMs)) {
        m_timer.stop();
        m_failed = true;
        std::string holding;
        if (QWidget* other = QApplication::activeModalWidget()) {
            holding = ", while " + describe(other) + " held the test (closed)";
            CloseDialog(other);
        }
        ADD_FAILURE_AT(m_file, m_line)
            << "no " << what().toStdString() << " came within " << m_deadlineMs << " ms" << holding;
    }
}

std::function<void(QWidget*)> Press(const char* name)
{
    return [button = QByteArray(name)](QWidget* dialog) {
        auto* b = dialog->findChild<QPushButton*>(QLatin1String(button));
        if (!b) {
            ADD_FAILURE() << describe(dialog) << " has no button " << button.constData();
            CloseDialog(dialog);
            return;
        }
        QTest::mouseClick(b, Qt::LeftButton);
    };
}

std::function<void(QFileDialog*)> ChooseFile(const QString& path, QString* folderSeen)
{
    return [path, folderSeen](QFileDialog* dialog) {
        if (folderSeen)
            *folderSeen = dialog->directory().absolutePath();
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        // Typed as a person types it. selectFile() leaves the name box alone
        // while it has the focus, which it gets when the window system
        // activates the dialog: in a fast build that came first and the
        // dialog accepted the name it was opened with.
        const QFileInfo file(path);
        dialog->setDirectory(file.absolutePath());
        if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name->setText(file.fileName());
        else
            dialog->selectFile(path);
        QMetaObject::invokeMethod(dialog, "accept");
    };
}

void CloseDialog(QWidget* dialog)
{
    if (auto* d = qobject_cast<QDialog*>(dialog))
        d->reject();
    else
        dialog->close();
}

} // namespace ovtest
