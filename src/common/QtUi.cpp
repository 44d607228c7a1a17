#include "common/QtUi.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGridLayout>
#include <QLabel>
#include <QLibraryInfo>
#include <QList>
#include <QMessageBox>
#include <QProgressBar>
#include <QThread>
#include <QTranslator>
#include <QWindow>

#include <memory>

namespace ov {

namespace {

// The labels lent to running operations, the latest last.
QList<QPointer<QLabel>>& lentLabels()
{
    static QList<QPointer<QLabel>> labels;
    return labels;
}

QLabel* latestLentLabel()
{
    const QList<QPointer<QLabel>>& labels = lentLabels();
    for (auto it = labels.crbegin(); it != labels.crend(); ++it) {
        if (*it)
            return *it;
    }
    return nullptr;
}

// Drops the user's input to every window for its lifetime: a click or a key
// starts nothing, and the window system's close requests are refused.
class InputHold : public QObject
{
public:
    InputHold() { qApp->installEventFilter(this); }
    ~InputHold() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
            return true;
        case QEvent::Close:
            if (event->spontaneous()) {
                event->ignore();
                return true;
            }
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }
};

// text with a break opportunity (a zero-width space) every few characters
// of a run that holds none, such as a long database name or path, so that
// the message box wraps it instead of cutting it at its right edge.
QString WithBreaks(const QString& text)
{
    constexpr int kLongRun = 24;
    constexpr int kEvery = 8;
    QString out;
    out.reserve(text.size() + text.size() / kEvery);
    int start = 0;
    const auto flush = [&](int end) {
        const int length = end - start;
        if (length < kLongRun) {
            out += QStringView(text).mid(start, length);
            return;
        }
        for (int i = start; i < end; ++i) {
            out += text.at(i);
            if ((i - start) % kEvery == kEvery - 1 && i + 1 < end)
                out += QChar(0x200B);
        }
    };
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        // Spaces and Chinese characters break lines by themselves.
        const bool breaks = c.isSpace() || c.unicode() >= 0x2E80;
        if (breaks) {
            flush(i);
            out += c;
            start = i + 1;
        }
    }
    flush(text.size());
    return out;
}

} // namespace

QWidget* TaskWindow()
{
    // A modal window open now (the backup window over the update window) is
    // the one its messages belong to.
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    // Otherwise the window opened last that is still shown: activation comes
    // back to a window only some time after a dialog over it closed, so the
    // active window may be none at all then.
    QWidget* latest = nullptr;
    const QWidgetList widgets = QApplication::topLevelWidgets();
    // The platform keeps its windows in the order they were made.
    for (QWindow* window : QGuiApplication::topLevelWindows()) {
        if (!window->isVisible())
            continue;
        for (QWidget* w : widgets) {
            if (w->windowHandle() != window || !w->isVisible())
                continue;
            const Qt::WindowType type = w->windowType();
            if (type == Qt::Window || type == Qt::Dialog)
                latest = w;
        }
    }
    return latest ? latest : QApplication::activeWindow();
}

bool LoadQtChineseTranslation()
{
    // The translator lives as long as the application.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

void WaitWhileWindowsPaint(const QString& caption, const std::function<void()>& work)
{
    InputHold hold;
    const bool setPointer = QApplication::overrideCursor() == nullptr;
    if (setPointer)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    QPointer<QLabel> label = latestLentLabel();
    const QString before = label ? label->text() : QString();
    if (label)
        label->setText(caption);

    // The work runs on its own thread; this thread goes on with paint and
    // timer events until the work has ended.
    QEventLoop loop;
    const std::unique_ptr<QThread> thread(QThread::create([&work] { work(); }));
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec();
    thread->wait();

    if (label && label->text() == caption)
        label->setText(before);
    if (setPointer && QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

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
    // The box belongs to the task window: it carries its icon and is centred
    // on it.
    QMessageBox box(icon, applicationTitle(), WithBreaks(text), buttons, TaskWindow());
    // The box is at least as wide as its caption plus the frame's buttons,
    // so the title is never cut short.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        const int width = box.fontMetrics().horizontalAdvance(box.windowTitle()) + 120;
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(),
                      0, 1, grid->columnCount());
    }
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
    // Nobody reads a log at the window: the person sees the note in a box.
    message(text, MsgStyle::Exclamation);
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

void QtUi::waitFor(const QString& caption, const std::function<void()>& work)
{
    WaitWhileWindowsPaint(caption, work);
}

QtStatusLabel::QtStatusLabel(QLabel* label) : m_label(label)
{
    lentLabels().append(m_label);
}

QtStatusLabel::~QtStatusLabel()
{
    QList<QPointer<QLabel>>& labels = lentLabels();
    // The label is given back; so are labels whose windows are gone.
    for (qsizetype i = labels.size() - 1; i >= 0 && m_label; --i) {
        if (labels.at(i) == m_label) {
            labels.removeAt(i);
            break;
        }
    }
    labels.removeIf([](const QPointer<QLabel>& l) { return l.isNull(); });
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
    m_maximum = maximum;
    // Qt shows a bar whose range is empty as busy: an empty script or list
    // shows an empty bar instead.
    if (m_bar)
        m_bar->setMaximum(maximum > m_bar->minimum() ? maximum : m_bar->minimum() + 1);
}

int QtProgressBar::maximum() const
{
    return m_bar ? m_maximum : 0;
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
