#include "support/ScriptedUi.h"

#include "common/QtUi.h"

#include <gtest/gtest.h>

namespace ovtest {

ScriptedUi::ScriptedUi()
{
    ov::setUi(this);
}

ScriptedUi::~ScriptedUi()
{
    ov::setUi(nullptr);
    EXPECT_TRUE(m_answers.isEmpty()) << "scripted answers left unused: " << m_answers.size();
}

QStringList ScriptedUi::texts() const
{
    QStringList out;
    for (const Message& m : m_messages)
        out.append(m.text);
    return out;
}

void ScriptedUi::waitFor(const QString& caption, const std::function<void()>& work)
{
    m_waits.append(caption);
    ov::WaitWhileWindowsPaint(caption, work);
}

void ScriptedUi::clear()
{
    m_messages.clear();
    m_waits.clear();
    m_busyChanges.clear();
    m_pumps = 0;
}

ov::MsgAnswer ScriptedUi::message(const QString& text, ov::MsgStyle style)
{
    m_messages.append({text, style, ov::applicationTitle()});
    const bool question = style == ov::MsgStyle::QuestionYesNo || style == ov::MsgStyle::InformationOkCancel;
    if (!question)
        return ov::MsgAnswer::Ok;
    if (m_answers.isEmpty()) {
        ADD_FAILURE() << "unexpected question: " << text.toStdString();
        return style == ov::MsgStyle::QuestionYesNo ? ov::MsgAnswer::No : ov::MsgAnswer::Cancel;
    }
    return m_answers.takeFirst();
}

void ScriptedUi::setBusyPointer(bool busy)
{
    m_busy = busy;
    m_busyChanges.append(busy);
}

} // namespace ovtest
