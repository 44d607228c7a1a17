#include "common/TerminalUi.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

namespace ov {

namespace {
void err(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}
} // namespace

void TerminalUi::note(const QString& text)
{
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

void TerminalProgress::setMaximum(int maximum)
{
    m_max = maximum;
    m_lastTenth = -1;
}

void TerminalProgress::setValue(int value)
{
    m_value = value;
    if (m_max <= 0)
        return;
    // Only forward steps are printed: an operation that resets its bar when
    // it ends does not print a last "0%".
    const int tenth = static_cast<int>(static_cast<qint64>(value) * 10 / m_max);
    if (tenth > m_lastTenth) {
        m_lastTenth = tenth;
        err(QStringLiteral("progress: %1%\n").arg(tenth * 10));
    }
}

} // namespace ov
