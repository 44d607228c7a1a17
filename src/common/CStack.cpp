#include "common/CStack.h"

#include "common/VbError.h"

#include <limits>

namespace {
constexpr int growBy = 10;
} // namespace

void CStack::Push(const QVariant& value)
{
    if (m_count == std::numeric_limits<qint16>::max())
        throw ov::VbError(ov::vbErrOverflow, QStringLiteral("Overflow"));
    const int count = m_count + 1;
    if (count > m_items.size())
        m_items.resize(m_items.size() + growBy);
    m_items[count - 1] = value;
    m_count = static_cast<qint16>(count);
}

QVariant CStack::pop()
{
    if (m_count < 1)
        throw ov::VbError(ov::vbObjectError + 1011, QStringLiteral("Pop method invoked on empty stack"));
    QVariant top = m_items.at(m_count - 1);
    --m_count;
    return top;
}

QVariant CStack::GetPopValue() const
{
    if (m_count < 1)
        throw ov::VbError(ov::vbObjectError + 1012,
                          QStringLiteral("GetPopValue method invoked on empty stack"));
    return m_items.at(m_count - 1);
}
