#pragma once

#include <QVariant>
#include <QVector>
#include <QtGlobal>

// A stack of values for the expression evaluator. The slots grow by 10 when a
// push finds them full and never shrink; taking a value off only lowers the
// count. Errors are raised as ov::VbError.
class CStack
{
public:
    // Number of values on the stack.
    qint16 StackSize() const { return m_count; }
    // Number of slots allocated.
    int Capacity() const { return m_items.size(); }

    // Stores a copy of value on top. A stack never holds more than 32767
    // values (its count is a 16-bit number): one more raises error 6
    // "Overflow" and leaves the stack as it was.
    void Push(const QVariant& value);
    // The top value, removed. Raises "Pop method invoked on empty stack".
    QVariant pop();
    // The top value, left in place. Raises "GetPopValue method invoked on
    // empty stack".
    QVariant GetPopValue() const;

private:
    QVector<QVariant> m_items;
    qint16 m_count = 0;
};
