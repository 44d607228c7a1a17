#include "common/CEval.h"

#include "common/CStack.h"
#include "common/VbError.h"
#include "common/VbNumeric.h"

#include <cmath>

namespace {

enum class State
{
    Start,     // nothing read yet, or only "(" since the start
    Operand,   // a number, a symbol or ")"
    Operator,  // a binary operator, or "(" read after a sign
    UnarySign, // a "-" or "+" where an operand was expected
};

const QString unaryMinus = QStringLiteral("(-)");
const QString openParen = QStringLiteral("(");

bool isOperatorChar(QChar ch)
{
    return ch == u'+' || ch == u'-' || ch == u'*' || ch == u'/' || ch == u'^';
}

bool isDigitChar(QChar ch)
{
    return (ch >= u'0' && ch <= u'9') || ch == u'.';
}

bool isBlank(QChar ch)
{
    return ch.unicode() <= u' ';
}

[[noreturn]] void raise(qint32 number, const char* description)
{
    throw ov::VbError(number, QString::fromLatin1(description));
}

// A finite result, or the platform's overflow error.
double checked(double result)
{
    if (!std::isfinite(result))
        raise(ov::vbErrOverflow, "Overflow");
    return result;
}

double divide(double left, double right)
{
    if (right == 0.0) {
        if (left == 0.0)
            raise(ov::vbErrOverflow, "Overflow");
        raise(ov::vbErrDivisionByZero, "Division by zero");
    }
    return checked(left / right);
}

double power(double base, double exponent)
{
    // A negative base with a fractional exponent has no real value; zero to a
    // negative power has none either.
    if ((base < 0.0 && exponent != std::trunc(exponent)) || (base == 0.0 && exponent < 0.0))
        raise(ov::vbErrInvalidCall, "Invalid procedure call or argument");
    return checked(std::pow(base, exponent));
}

double popNumber(CStack& stack)
{
    return stack.pop().toDouble();
}

} // namespace

double CEval::Evaluate(const QString& sExpression, double dblDefaultValue)
{
    QString postfix;
    if (InfixToPostfix(sExpression, postfix) != 0)
        return dblDefaultValue;
    return EvaluatePostfix(postfix);
}

int CEval::fail(const QString& message, int position)
{
    m_lastError = message;
    m_lastErrorPosition = position;
    return position;
}

int CEval::InfixToPostfix(const QString& sExpression, QString& sPostfix)
{
    CStack operators;
    State state = State::Start;
    int depth = 0;
    const int length = sExpression.size();
    sPostfix.clear();
    m_lastError.clear();
    m_lastErrorPosition = 0;

    auto popInto = [&]() { sPostfix += operators.pop().toString() + u' '; };

    int i = 0; // 0-based; positions reported are i + 1
    while (true) {
        if (i >= length) {
            if (state == State::Operator || state == State::UnarySign)
                return fail(QStringLiteral("Operand expected"), length + 1);
            if (depth > 0)
                return fail(QStringLiteral("Closing parenthesis expected"), length + 1);
            while (operators.StackSize() > 0)
                popInto();
            return 0;
        }

        const QChar ch = sExpression.at(i);
        if (ch == u'(') {
            if (state == State::Operand)
                return fail(QStringLiteral("Operator expected"), i + 1);
            if (state == State::UnarySign)
                state = State::Operator;
            operators.Push(openParen);
            ++depth;
            ++i;
        } else if (ch == u')') {
            if (state != State::Operand)
                return fail(QStringLiteral("Operand expected"), i + 1);
            if (depth == 0)
                return fail(QStringLiteral("Closing parenthesis without matching open parenthesis"), i + 1);
            while (true) {
                const QString token = operators.pop().toString();
                if (token == openParen)
                    break;
                sPostfix += token + u' ';
            }
            --depth;
            ++i;
        } else if (isOperatorChar(ch) && state != State::Operand) {
            // A sign: only one, and only "-" or "+".
            if (state == State::UnarySign || (ch != u'-' && ch != u'+'))
                return fail(QStringLiteral("Operand expected"), i + 1);
            if (ch == u'-')
                operators.Push(unaryMinus);
            state = State::UnarySign;
            ++i;
        } else if (isOperatorChar(ch)) {
            const QString op(ch);
            const qint16 precedence = Precedence(op);
            while (operators.StackSize() > 0 && Precedence(operators.GetPopValue().toString()) >= precedence)
                popInto();
            operators.Push(op);
            state = State::Operator;
            ++i;
        } else if (isDigitChar(ch)) {
            if (state == State::Operand)
                return fail(QStringLiteral("Operator expected"), i + 1);
            const int start = i;
            bool point = false;
            while (i < length && isDigitChar(sExpression.at(i))) {
                if (sExpression.at(i) == u'.') {
                    if (point)
                        return fail(QStringLiteral("Operand contains multiple decimal points"), i + 1);
                    point = true;
                }
                ++i;
            }
            const QString run = sExpression.mid(start, i - start);
            if (run == QStringLiteral("."))
                return fail(QStringLiteral("Invalid operand"), start + 1);
            sPostfix += run + u' ';
            state = State::Operand;
        } else if (isBlank(ch)) {
            ++i;
        } else {
            if (state == State::Operand)
                return fail(QStringLiteral("Operator expected"), i + 1);
            if (!IsSymbolStart(ch))
                return fail(QStringLiteral("Unexpected character encountered"), i + 1);
            const int start = i;
            ++i;
            while (i < length && IsSymbolChar(sExpression.at(i)))
                ++i;
            const QString name = sExpression.mid(start, i - start);
            if (!m_SymbolTable.IsSymbolDefined(name))
                return fail(QStringLiteral("Undefined symbol : '") + name + u'\'', start + 1);
            // The value is written in the evaluator's own number form, so a
            // value stored as a text with blanks or a sign still makes one
            // token that reads back as the same number.
            double value = 0.0;
            ov::readNumber(m_SymbolTable.Value(name), value);
            sPostfix += ov::numberToken(value) + u' ';
            state = State::Operand;
        }
    }
}

double CEval::EvaluatePostfix(const QString& sPostfix) const
{
    CStack stack;
    int from = 0;
    while (true) {
        // Each token ends at the next space; text after the last space is no token.
        const int space = sPostfix.indexOf(u' ', from);
        if (space < 0)
            break;
        const QString token = sPostfix.mid(from, space - from);
        from = space + 1;

        double number = 0.0;
        switch (ov::readNumber(token, number)) {
        case ov::NumberRead::Ok:
            stack.Push(number);
            continue;
        case ov::NumberRead::Overflow:
            raise(ov::vbErrOverflow, "Overflow");
        case ov::NumberRead::NotNumber:
            break;
        }

        if (token == unaryMinus) {
            stack.Push(-popNumber(stack));
            continue;
        }
        if (token.size() != 1 || !isOperatorChar(token.at(0)))
            throw ov::VbError(ov::vbObjectError + 1002, QStringLiteral("Bad token in Evaluate: ") + token);
        const double right = popNumber(stack);
        const double left = popNumber(stack);
        switch (token.at(0).unicode()) {
        case u'+':
            stack.Push(checked(left + right));
            break;
        case u'-':
            stack.Push(checked(left - right));
            break;
        case u'*':
            stack.Push(checked(left * right));
            break;
        case u'/':
            stack.Push(divide(left, right));
            break;
        default: // '^'
            stack.Push(power(left, right));
            break;
        }
    }
    if (stack.StackSize() == 0)
        return 0.0;
    return popNumber(stack);
}

qint16 CEval::Precedence(const QString& sToken)
{
    if (sToken == QStringLiteral("+") || sToken == QStringLiteral("-"))
        return 1;
    if (sToken == QStringLiteral("*") || sToken == QStringLiteral("/"))
        return 2;
    if (sToken == QStringLiteral("^"))
        return 3;
    if (sToken == unaryMinus)
        return 10;
    return 0;
}

bool CEval::IsSymbolStart(QChar ch)
{
    const QChar upper = ch.toUpper();
    return (upper >= u'A' && upper <= u'Z') || ch == u'_';
}

bool CEval::IsSymbolChar(QChar ch)
{
    const QChar upper = ch.toUpper();
    return (upper >= u'A' && upper <= u'Z') || (ch >= u'0' && ch <= u'9') || ch == u'_';
}
