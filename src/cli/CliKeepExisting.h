#pragma once

#include "common/UiPort.h"

#include <QString>

namespace ovcli {

// For commands that make a new database without --replace: the overwrite
// question is answered No without asking, and remembered so that the command
// can fail with its text. Every other message goes on to the next port.
class KeepExistingUi : public ov::UiPort
{
public:
    explicit KeepExistingUi(ov::UiPort& next) : m_next(next) {}
    ov::MsgAnswer message(const QString& text, ov::MsgStyle style) override
    {
        if (style != ov::MsgStyle::QuestionYesNo)
            return m_next.message(text, style);
        m_declined = text;
        return ov::MsgAnswer::No;
    }
    void pumpEvents() override { m_next.pumpEvents(); }
    void setBusyPointer(bool busy) override { m_next.setBusyPointer(busy); }
    void note(const QString& text) override { m_next.note(text); }
    const QString& declined() const { return m_declined; }

private:
    ov::UiPort& m_next;
    QString m_declined;
};

// Installs a KeepExistingUi in front of the current port for its lifetime
// when active; the previous port comes back on every way out.
class KeepExistingScope
{
public:
    explicit KeepExistingScope(bool active) : m_previous(ov::ui()), m_keep(m_previous), m_active(active)
    {
        if (m_active)
            ov::setUi(&m_keep);
    }
    ~KeepExistingScope()
    {
        if (m_active)
            ov::setUi(&m_previous);
    }
    KeepExistingScope(const KeepExistingScope&) = delete;
    KeepExistingScope& operator=(const KeepExistingScope&) = delete;

    // The overwrite question that was answered No, or empty.
    const QString& declined() const { return m_keep.declined(); }

private:
    ov::UiPort& m_previous;
    KeepExistingUi m_keep;
    bool m_active;
};

} // namespace ovcli
