#include "common/TerminalUi.h"

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

namespace ov {

namespace {

// The progress line last drawn on the terminal and not yet ended; empty when
// there is none.
QString g_progressLine;

bool put(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    const bool written =
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) == size_t(bytes.size());
    return std::fflush(stream) == 0 && written;
}

// Draws line over the open progress line; blanks cover what was longer.
void drawProgressLine(const QString& line)
{
    const qsizetype blanks = qMax<qsizetype>(0, g_progressLine.size() - line.size());
    put(stderr, QLatin1Char('\r') + line + QString(blanks, QLatin1Char(' ')));
    g_progressLine = line;
}

// Ends the open progress line: blanked out when the work is done (a script
// run counts characters against the file's bytes, so its last value is no
// measure of the end), kept where it stands otherwise, to show how far the
// work came.
void endProgressLine(bool blankOut)
{
    if (g_progressLine.isEmpty())
        return;
    if (blankOut)
        put(stderr, QLatin1Char('\r') + QString(g_progressLine.size(), QLatin1Char(' ')) + QLatin1Char('\r'));
    else
        put(stderr, QStringLiteral("\n"));
    g_progressLine.clear();
}

void err(const QString& text)
{
    terminalWrite(stderr, text);
}

} // namespace

bool terminalWrite(std::FILE* stream, const QString& text)
{
    if (g_progressLine.isEmpty())
        return put(stream, text);
    const QString line = g_progressLine;
    endProgressLine(true);
    const bool written = put(stream, text);
    const int why = errno;
    // A prompt waits on its own line; the progress is drawn anew after it.
    if (text.endsWith(QLatin1Char('\n'))) {
        put(stderr, line);
        g_progressLine = line;
    }
    errno = why;
    return written;
}

void TerminalUi::note(const QString& text)
{
    ++m_notes;
    err(text + QLatin1Char('\n'));
}

MsgAnswer TerminalUi::message(const QString& text, MsgStyle style)
{
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    const QString title = applicationTitle();
    err((title.isEmpty() ? QString() : QStringLiteral("[%1] ").arg(title)) + shown +
        (shown.endsWith(QLatin1Char('\n')) ? QString() : QStringLiteral("\n")));

    const bool yesNo = style == MsgStyle::QuestionYesNo;
    if (!yesNo && style != MsgStyle::InformationOkCancel)
        return MsgAnswer::Ok;
    const MsgAnswer yes = yesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
    const MsgAnswer no = yesNo ? MsgAnswer::No : MsgAnswer::Cancel;
    if (m_assumeYes) {
        err(QStringLiteral("(--yes: answered %1)\n")
                .arg(yesNo ? QStringLiteral("yes") : QStringLiteral("OK")));
        return yes;
    }
    if (!isatty(STDIN_FILENO)) {
        err(QStringLiteral("(not answered: standard input is not a terminal; give --yes to agree)\n"));
        return no;
    }
    err(yesNo ? QStringLiteral("[y/N] ") : QStringLiteral("[o=OK / c=Cancel] "));
    std::string line;
    if (!std::getline(std::cin, line))
        return no;
    const QString a =
        QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size())).trimmed().toLower();
    if (yesNo)
        return (a == QLatin1String("y") || a == QLatin1String("yes")) ? yes : no;
    return (a == QLatin1String("o") || a == QLatin1String("ok")) ? yes : no;
}

void TerminalStatus::setCaption(const QString& text)
{
    if (text == m_caption)
        return;
    m_caption = text;
    if (!text.isEmpty())
        err(text + QLatin1Char('\n'));
}

TerminalProgress::TerminalProgress() : m_terminal(isatty(STDERR_FILENO) == 1) {}

TerminalProgress::~TerminalProgress()
{
    if (m_terminal)
        endProgressLine(false);
}

void TerminalProgress::setMaximum(int maximum)
{
    m_max = maximum;
    m_lastTenth = -1;
    m_shownPercent = -1;
    if (m_terminal)
        endProgressLine(true);
}

void TerminalProgress::setValue(int value)
{
    m_value = value;
    if (m_max <= 0)
        return;
    if (m_terminal) {
        // An operation resets its bar when its work is done.
        if (value <= 0) {
            endProgressLine(true);
            m_shownPercent = -1;
            return;
        }
        const int percent = static_cast<int>(
            qBound<qint64>(qint64(0), static_cast<qint64>(value) * 100 / m_max, qint64(100)));
        if (percent != m_shownPercent || g_progressLine.isEmpty()) {
            m_shownPercent = percent;
            drawProgressLine(QStringLiteral("progress: %1%").arg(percent));
        }
        return;
    }
    // Only forward steps are printed: an operation that resets its bar when
    // it ends does not print a last "0%".
    const int tenth =
        static_cast<int>(qBound<qint64>(qint64(0), static_cast<qint64>(value) * 10 / m_max, 10));
    if (tenth > m_lastTenth) {
        m_lastTenth = tenth;
        err(QStringLiteral("progress: %1%\n").arg(tenth * 10));
    }
}

} // namespace ov
