#pragma once

#include "common/CSymbolTable.h"

#include <QString>
#include <QtGlobal>

class CEvalTestAccess;

// Evaluates arithmetic expressions: decimal numbers, symbols of the symbol
// table, the binary operators + - * / ^ (all left-associative, so 2^3^2 is
// 64), a unary minus that binds tighter than all of them (-2^2 is 4), a unary
// plus, parentheses and blanks. The expression is first turned into a postfix
// text (every token followed by one space, symbols replaced by their values),
// which is then computed on a stack.
class CEval
{
public:
    // The value of sExpression, or dblDefaultValue when it cannot be parsed
    // (LastError() and LastErrorPosition() then tell why and where). An empty
    // or blank expression is 0. Arithmetic failures are raised as
    // ov::VbError: division by zero 11 "Division by zero", 0/0 and a result
    // too large for a double 6 "Overflow", a power without a real value
    // (a negative number to a fractional power, 0 to a negative power) 5
    // "Invalid procedure call or argument". Parentheses nested so deep that
    // the operator stack would hold more than 32767 entries raise 6 "Overflow".
    double Evaluate(const QString& sExpression, double dblDefaultValue = 0.0);

    // The symbols that expressions may name.
    CSymbolTable& SymbolTable() { return m_SymbolTable; }
    const CSymbolTable& SymbolTable() const { return m_SymbolTable; }

    // The message of the last parse, "" when it succeeded.
    QString LastError() const { return m_lastError; }
    // The 1-based position (in UTF-16 code units) at which the last parse
    // failed; 0 when it succeeded. A failure found at the end of the text
    // reports the text's length plus 1.
    int LastErrorPosition() const { return m_lastErrorPosition; }

private:
    friend class CEvalTestAccess;

    // Fills sPostfix and returns 0, or returns the 1-based position of the
    // first error and stores its message.
    int InfixToPostfix(const QString& sExpression, QString& sPostfix);
    double EvaluatePostfix(const QString& sPostfix) const;
    static qint16 Precedence(const QString& sToken);
    static bool IsSymbolStart(QChar ch);
    static bool IsSymbolChar(QChar ch);

    int fail(const QString& message, int position);

    CSymbolTable m_SymbolTable;
    QString m_lastError;
    int m_lastErrorPosition = 0;
};
