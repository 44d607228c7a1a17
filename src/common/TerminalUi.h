#pragma once

#include "common/UiPort.h"

#include <cstdio>

namespace ov {

// Writes text to stream (stdout or stderr) and flushes it. While a progress
// line is open on the terminal, it is blanked out first and drawn again
// below text, so that both read whole; a text that does not end its line (a
// prompt) ends the progress line instead. False when text did not reach the
// stream whole (a full disk, a closed reader); errno tells why.
bool terminalWrite(std::FILE* stream, const QString& text);

// The user-interface port of ovsqlcli. Messages go to stderr with the
// application title; a question is answered yes when assumeYes is set, asked
// on the terminal when standard input is one, and refused otherwise.
class TerminalUi : public UiPort
{
public:
    explicit TerminalUi(bool assumeYes) : m_assumeYes(assumeYes) {}
    MsgAnswer message(const QString& text, MsgStyle style) override;
    void pumpEvents() override {}
    void setBusyPointer(bool) override {}
    void note(const QString& text) override;
    // How many failures were noted: work that was done but not recorded.
    int noteCount() const { return m_notes; }

private:
    bool m_assumeYes;
    int m_notes = 0;
};

// A status label that prints each new caption as a line on stderr.
class TerminalStatus : public StatusLabel
{
public:
    void setCaption(const QString& text) override;
    QString caption() const override { return m_caption; }

private:
    QString m_caption;
};

// A progress bar on stderr. On a terminal it is one line, "progress: N%",
// drawn again in place at every percent and blanked out when the work is done
// (the bar is reset or set up anew); a bar that goes away before that leaves
// its line where it stood. Into a file or a pipe it prints a
// line at every tenth of the way, so a log holds no carriage returns.
class TerminalProgress : public ProgressBar
{
public:
    TerminalProgress();
    ~TerminalProgress() override;
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    void setMaximum(int maximum) override;
    int maximum() const override { return m_max; }
    void setValue(int value) override;
    int value() const override { return m_value; }

private:
    int m_max = 100;
    int m_value = 0;
    int m_lastTenth = -1;
    int m_shownPercent = -1;
    bool m_terminal;
};

} // namespace ov
