#pragma once

#include "common/UiPort.h"

namespace ov {

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

private:
    bool m_assumeYes;
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

// A progress bar that prints a line on stderr at every tenth of the way.
class TerminalProgress : public ProgressBar
{
public:
    void setMaximum(int maximum) override;
    int maximum() const override { return m_max; }
    void setValue(int value) override;
    int value() const override { return m_value; }

private:
    int m_max = 100;
    int m_value = 0;
    int m_lastTenth = -1;
};

} // namespace ov
