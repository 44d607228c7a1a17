#pragma once

#include "common/UiPort.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace ovtest {

// A user-interface port for tests: records every message box in order (text,
// style and the caption it would show) and answers questions from a script.
// A question that finds no scripted answer fails the test.
class ScriptedUi : public ov::UiPort
{
public:
    struct Message
    {
        QString text;
        ov::MsgStyle style;
        QString caption;
    };

    // Installs itself as the port; the previous port comes back on destruction.
    ScriptedUi();
    ~ScriptedUi() override;

    // Queues the answer to the next question (Yes/No or OK/Cancel boxes).
    void answer(ov::MsgAnswer a) { m_answers.append(a); }

    const QList<Message>& messages() const { return m_messages; }
    QStringList texts() const;
    int pumps() const { return m_pumps; }
    bool busy() const { return m_busy; }
    const QList<bool>& busyChanges() const { return m_busyChanges; }
    void clear();

    ov::MsgAnswer message(const QString& text, ov::MsgStyle style) override;
    void pumpEvents() override { ++m_pumps; }
    void setBusyPointer(bool busy) override;
    // Records the caption and waits as the windows do, so window tests see
    // them paint during a wait.
    void waitFor(const QString& caption, const std::function<void()>& work) override;
    const QStringList& waits() const { return m_waits; }

private:
    QList<Message> m_messages;
    QList<ov::MsgAnswer> m_answers;
    QList<bool> m_busyChanges;
    QStringList m_waits;
    int m_pumps = 0;
    bool m_busy = false;
};

// A status label and progress bar that remember every value they were given.
class RecordingStatus : public ov::StatusLabel
{
public:
    void setCaption(const QString& text) override { m_history.append(text); }
    QString caption() const override { return m_history.isEmpty() ? QString() : m_history.last(); }
    const QStringList& history() const { return m_history; }

private:
    QStringList m_history;
};

class RecordingProgress : public ov::PlainProgressBar
{
public:
    void setValue(int value) override
    {
        PlainProgressBar::setValue(value);
        m_values.append(value);
    }
    const QList<int>& values() const { return m_values; }

private:
    QList<int> m_values;
};

} // namespace ovtest
