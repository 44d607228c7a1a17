#include "common/CEval.h"
#include "common/CStack.h"
#include "common/CSymbolTable.h"
#include "common/VbError.h"

#include <gtest/gtest.h>

#include <limits>

// Reaches the evaluator's two stages, so the postfix text and the errors of
// the second stage can be checked on their own.
class CEvalTestAccess
{
public:
    static int InfixToPostfix(CEval& eval, const QString& expression, QString& postfix)
    {
        return eval.InfixToPostfix(expression, postfix);
    }
    static double EvaluatePostfix(const CEval& eval, const QString& postfix)
    {
        return eval.EvaluatePostfix(postfix);
    }
};

namespace {

// The error that f raises; a test failure when it raises none.
template <typename F> ov::VbError raisedBy(F f)
{
    try {
        f();
    } catch (const ov::VbError& e) {
        return e;
    }
    ADD_FAILURE() << "no error was raised";
    return ov::VbError(0, QString());
}

struct ValueCase
{
    const char* expression;
    double expected;
};

TEST(CEval, ComputesWithPrecedenceAssociativityAndSigns)
{
    const ValueCase cases[] = {
        {"", 0},       {" \t\r\n ", 0}, {"1+2*3", 7},     {"(1+2)*3", 9}, {"8-3-2", 3},     {"8/4/2", 1},
        {"2^3^2", 64}, {"-2^2", 4},     {"2*-3", -6},     {"-(-3)", 3},   {"+3", 3},        {"2^-1", 0.5},
        {".5", 0.5},   {"5.", 5},       {"10/4", 2.5},    {" 1 + 2 ", 3}, {"1-+2", -1},     {"-(2+3)*2", -10},
        {"2*3^2", 18}, {"((7))", 7},    {"1-2-(3-4)", 0}, {"0^0", 1},     {"007.50*2", 15},
    };
    for (const ValueCase& c : cases) {
        CEval eval;
        // A default that no case computes, so a parse failure shows.
        EXPECT_DOUBLE_EQ(eval.Evaluate(QString::fromUtf8(c.expression), -999.0), c.expected) << c.expression;
        EXPECT_EQ(eval.LastError(), QString()) << c.expression;
        EXPECT_EQ(eval.LastErrorPosition(), 0) << c.expression;
    }
}

struct ParseFailure
{
    const char* expression;
    const char* message;
    int position;
};

TEST(CEval, UnparsableExpressionGivesDefaultAndTellsWhy)
{
    const ParseFailure cases[] = {
        {"--3", "Operand expected", 2},
        {"2*", "Operand expected", 3},
        {"*2", "Operand expected", 1},
        {"()", "Operand expected", 2},
        {"(1+)", "Operand expected", 4},
        {"-", "Operand expected", 2},
        {"1*--2", "Operand expected", 4},
        {"2(3)", "Operator expected", 2},
        {"2 3", "Operator expected", 3},
        {"(1)2", "Operator expected", 4},
        {"1#2", "Operator expected", 2},
        {"1e5", "Operator expected", 2},
        {"2x", "Operator expected", 2},
        {"(1", "Closing parenthesis expected", 3},
        {"((1+2)", "Closing parenthesis expected", 7},
        {"1)", "Closing parenthesis without matching open parenthesis", 2},
        {"1.2.3", "Operand contains multiple decimal points", 4},
        {".", "Invalid operand", 1},
        {"1+.", "Invalid operand", 3},
        {"1+#2", "Unexpected character encountered", 3},
        {"é", "Unexpected character encountered", 1},
        {"1+x", "Undefined symbol : 'x'", 3},
        {"2 * (Rate_2 + 1)", "Undefined symbol : 'Rate_2'", 6},
    };
    for (const ParseFailure& c : cases) {
        CEval eval;
        EXPECT_DOUBLE_EQ(eval.Evaluate(QString::fromUtf8(c.expression), 42.5), 42.5) << c.expression;
        EXPECT_EQ(eval.LastError(), QString::fromUtf8(c.message)) << c.expression;
        EXPECT_EQ(eval.LastErrorPosition(), c.position) << c.expression;
    }
}

TEST(CEval, DefaultValueIsZeroWhenLeftOut)
{
    CEval eval;
    EXPECT_EQ(eval.Evaluate(QStringLiteral("1+")), 0.0);
    EXPECT_EQ(eval.LastError(), QStringLiteral("Operand expected"));
}

TEST(CEval, SuccessfulParseClearsTheLastError)
{
    CEval eval;
    eval.Evaluate(QStringLiteral("1)"));
    ASSERT_EQ(eval.LastErrorPosition(), 2);
    EXPECT_EQ(eval.Evaluate(QStringLiteral("6/3")), 2.0);
    EXPECT_EQ(eval.LastError(), QString());
    EXPECT_EQ(eval.LastErrorPosition(), 0);
}

TEST(CEval, PostfixTextHasOneSpaceAfterEveryToken)
{
    const struct
    {
        const char* infix;
        const char* postfix;
    } cases[] = {
        {"", ""},
        {"1+2*3", "1 2 3 * + "},
        {"(1+2)*3", "1 2 + 3 * "},
        {"2^3^2", "2 3 ^ 2 ^ "},
        {"-2^2", "2 (-) 2 ^ "},
        {"2*-3", "2 3 (-) * "},
        {"+ 4", "4 "},
        {"-(-3)", "3 (-) (-) "},
        {".5-5.", ".5 5. - "},
    };
    for (const auto& c : cases) {
        CEval eval;
        QString postfix = QStringLiteral("stale");
        EXPECT_EQ(CEvalTestAccess::InfixToPostfix(eval, QString::fromUtf8(c.infix), postfix), 0) << c.infix;
        EXPECT_EQ(postfix, QString::fromUtf8(c.postfix)) << c.infix;
    }
}

TEST(CEval, SymbolsAreReplacedByTheirValues)
{
    CEval eval;
    eval.SymbolTable().Add(QStringLiteral("Rate"), 0.25);
    eval.SymbolTable().Add(QStringLiteral("_base2"), QStringLiteral(" -3 ")); // a text that reads as a number
    eval.SymbolTable().Add(QStringLiteral("Big"), QStringLiteral("1e20"));

    EXPECT_DOUBLE_EQ(eval.Evaluate(QStringLiteral("RATE*4")), 1.0);
    EXPECT_DOUBLE_EQ(eval.Evaluate(QStringLiteral("_BASE2*2 + rate")), -5.75);
    EXPECT_DOUBLE_EQ(eval.Evaluate(QStringLiteral("-_base2^2")), 9.0);
    EXPECT_DOUBLE_EQ(eval.Evaluate(QStringLiteral("Big/4")), 2.5e19);

    // The value goes into the postfix text as one token in number form.
    QString postfix;
    ASSERT_EQ(CEvalTestAccess::InfixToPostfix(eval, QStringLiteral("_base2*big"), postfix), 0);
    EXPECT_EQ(postfix, QStringLiteral("-3 1e+20 * "));
}

TEST(CEval, ArithmeticFailuresAreRaised)
{
    CEval eval;
    eval.SymbolTable().Add(QStringLiteral("huge"), 1e308);
    const struct
    {
        const char* expression;
        qint32 number;
        const char* description;
    } cases[] = {
        {"1/0", 11, "Division by zero"},
        {"-1/(2-2)", 11, "Division by zero"},
        {"0/0", 6, "Overflow"},
        {"huge*10", 6, "Overflow"},
        {"-huge-huge", 6, "Overflow"},
        {"10^400", 6, "Overflow"},
        {"(-8)^0.5", 5, "Invalid procedure call or argument"},
        {"0^-1", 5, "Invalid procedure call or argument"},
    };
    for (const auto& c : cases) {
        const ov::VbError e = raisedBy([&] { eval.Evaluate(QString::fromUtf8(c.expression), 7.0); });
        EXPECT_EQ(e.number, c.number) << c.expression;
        EXPECT_EQ(e.description, QString::fromUtf8(c.description)) << c.expression;
    }
    // A negative base with a whole exponent has a real value.
    EXPECT_DOUBLE_EQ(eval.Evaluate(QStringLiteral("(-2)^3")), -8.0);
}

TEST(CEval, BeyondItsLimitsOverflows)
{
    const QString tooLong[] = {
        QStringLiteral("1") + QString(400, u'0'),   // a number too large for a double
        QString(32768, u'(') + QStringLiteral("1"), // more open parentheses than the stack holds
    };
    for (const QString& expression : tooLong) {
        CEval eval;
        const ov::VbError e = raisedBy([&] { eval.Evaluate(expression); });
        EXPECT_EQ(e.number, 6);
        EXPECT_EQ(e.description, QStringLiteral("Overflow"));
    }
}

// A literal too small for a double is zero, as its nearest value, whatever
// its sign and wherever it stands; only a literal too large overflows.
TEST(CEval, LiteralBelowTheRangeOfADoubleIsZero)
{
    const QString tiny = QStringLiteral("0.") + QString(400, u'0') + QStringLiteral("1");
    struct Case
    {
        const char* before;
        const char* after;
        double expected;
    };
    const Case cases[] = {{"", "", 0.0}, {"-", "", 0.0}, {"1+", "", 1.0}, {"2*(", ")+3", 3.0}};
    for (const Case& c : cases) {
        const QString expression = QString::fromUtf8(c.before) + tiny + QString::fromUtf8(c.after);
        CEval eval;
        double value = -999.0;
        EXPECT_NO_THROW(value = eval.Evaluate(expression, -999.0)) << c.before << "tiny" << c.after;
        EXPECT_DOUBLE_EQ(value, c.expected) << c.before << "tiny" << c.after;
    }
    // The symbol table's numeric test reads such a text the same way.
    CSymbolTable table;
    EXPECT_NO_THROW(table.Add(QStringLiteral("tiny"), QStringLiteral("1e-400")));
    EXPECT_DOUBLE_EQ(table.Value(QStringLiteral("tiny")).toDouble(), 0.0);
}

TEST(CEval, BadPostfixTokenIsRaised)
{
    const CEval eval;
    const ov::VbError e = raisedBy([&] { CEvalTestAccess::EvaluatePostfix(eval, QStringLiteral("1 x + ")); });
    EXPECT_EQ(e.number, -2147220502);
    EXPECT_EQ(e.description, QStringLiteral("Bad token in Evaluate: x"));
    // Text after the last space is no token.
    EXPECT_DOUBLE_EQ(CEvalTestAccess::EvaluatePostfix(eval, QStringLiteral("4 9")), 4.0);
    EXPECT_DOUBLE_EQ(CEvalTestAccess::EvaluatePostfix(eval, QStringLiteral("9")), 0.0);
}

TEST(CStack, EmptyStackRaises)
{
    CStack stack;
    ov::VbError e = raisedBy([&] { stack.pop(); });
    EXPECT_EQ(e.number, -2147220493);
    EXPECT_EQ(e.description, QStringLiteral("Pop method invoked on empty stack"));
    e = raisedBy([&] { stack.GetPopValue(); });
    EXPECT_EQ(e.number, -2147220492);
    EXPECT_EQ(e.description, QStringLiteral("GetPopValue method invoked on empty stack"));

    // Emptied again after use: the same errors.
    stack.Push(1);
    stack.pop();
    EXPECT_EQ(raisedBy([&] { stack.pop(); }).number, -2147220493);
}

TEST(CStack, GrowsByTenSlotsAndKeepsItsValues)
{
    CStack stack;
    EXPECT_EQ(stack.Capacity(), 0);
    EXPECT_EQ(stack.StackSize(), 0);
    for (int i = 1; i <= 10; ++i)
        stack.Push(i);
    EXPECT_EQ(stack.Capacity(), 10);
    // The stack holds a copy: the pushed variable may change afterwards.
    QVariant eleven(QStringLiteral("eleven"));
    stack.Push(eleven);
    eleven = QStringLiteral("changed");
    EXPECT_EQ(stack.Capacity(), 20);
    EXPECT_EQ(stack.StackSize(), 11);

    EXPECT_EQ(stack.GetPopValue(), QVariant(QStringLiteral("eleven")));
    EXPECT_EQ(stack.StackSize(), 11); // GetPopValue leaves the value in place
    EXPECT_EQ(stack.pop(), QVariant(QStringLiteral("eleven")));
    for (int i = 10; i >= 1; --i)
        EXPECT_EQ(stack.pop(), QVariant(i));
    EXPECT_EQ(stack.StackSize(), 0);
    EXPECT_EQ(stack.Capacity(), 20); // never shrinks
}

TEST(CStack, CountIsLimitedTo16Bits)
{
    CStack stack;
    for (int i = 0; i < std::numeric_limits<qint16>::max(); ++i)
        stack.Push(i);
    const ov::VbError e = raisedBy([&] { stack.Push(-1); });
    EXPECT_EQ(e.number, 6);
    EXPECT_EQ(stack.StackSize(), std::numeric_limits<qint16>::max());
    EXPECT_EQ(stack.pop(), QVariant(std::numeric_limits<qint16>::max() - 1));
}

TEST(CSymbolTable, NamesIgnoreLetterCase)
{
    CSymbolTable table;
    table.Add(QStringLiteral("Rate"), 1.5);
    EXPECT_TRUE(table.IsSymbolDefined(QStringLiteral("rate")));
    EXPECT_TRUE(table.IsSymbolDefined(QStringLiteral("RATE")));
    EXPECT_FALSE(table.IsSymbolDefined(QStringLiteral("Rates")));
    EXPECT_EQ(table.Value(QStringLiteral("rAtE")), QVariant(1.5));

    const ov::VbError e = raisedBy([&] { table.Add(QStringLiteral("RATE"), 2); });
    EXPECT_EQ(e.number, -2147220483);
    EXPECT_EQ(e.description, QStringLiteral("Symbol already defined"));
    EXPECT_EQ(table.Value(QStringLiteral("Rate")), QVariant(1.5));
    EXPECT_EQ(table.Count(), 1);
}

TEST(CSymbolTable, OnlyNumbersAreStored)
{
    const QVariant numbers[] = {5,
                                2.5,
                                qint64(-7),
                                QStringLiteral("12"),
                                QStringLiteral(" -3.5 "),
                                QStringLiteral("1e5"),
                                QStringLiteral("+.5"),
                                QStringLiteral("5.")};
    const QVariant others[] = {QStringLiteral("abc"),
                               QString(),
                               QStringLiteral("1,5"),
                               QStringLiteral("inf"),
                               QStringLiteral("nan"),
                               QStringLiteral("0x10"),
                               QStringLiteral("1e400"),
                               QStringLiteral("1 2"),
                               QVariant(),
                               QVariant(true),
                               QVariant(QVariantList{1})};
    int n = 0;
    for (const QVariant& value : numbers) {
        CSymbolTable table;
        EXPECT_NO_THROW(table.Add(QStringLiteral("s%1").arg(++n), value)) << value.toString().toStdString();
    }
    for (const QVariant& value : others) {
        CSymbolTable table;
        const ov::VbError e = raisedBy([&] { table.Add(QStringLiteral("x"), value); });
        EXPECT_EQ(e.number, -2147220484) << value.toString().toStdString();
        EXPECT_EQ(e.description, QStringLiteral("Invalid symbol value"));
        EXPECT_FALSE(table.IsSymbolDefined(QStringLiteral("x")));
    }
}

TEST(CSymbolTable, ValueOfAnUndefinedNameRaises)
{
    CSymbolTable table;
    table.Add(QStringLiteral("a"), 1);
    ov::VbError e = raisedBy([&] { table.Value(QStringLiteral("b")); });
    EXPECT_EQ(e.number, -2147220482);
    EXPECT_EQ(e.description, QStringLiteral("Symbol not defined"));
    e = raisedBy([&] { table.setValue(QStringLiteral("b"), 2); });
    EXPECT_EQ(e.number, -2147220482);
    EXPECT_FALSE(table.IsSymbolDefined(QStringLiteral("b")));
}

TEST(CSymbolTable, SetValueReplacesOnlyWithANumber)
{
    CSymbolTable table;
    table.Add(QStringLiteral("Width"), 10);
    table.setValue(QStringLiteral("WIDTH"), QStringLiteral("12.5"));
    EXPECT_EQ(table.Value(QStringLiteral("width")), QVariant(QStringLiteral("12.5")));
    EXPECT_EQ(table.Count(), 1);

    const ov::VbError e = raisedBy([&] { table.setValue(QStringLiteral("width"), QStringLiteral("wide")); });
    EXPECT_EQ(e.number, -2147220484);
    EXPECT_EQ(table.Value(QStringLiteral("Width")), QVariant(QStringLiteral("12.5")));
}

TEST(CSymbolTable, DeleteIgnoresUnknownNames)
{
    CSymbolTable table;
    table.Add(QStringLiteral("a"), 1);
    table.Add(QStringLiteral("b"), 2);
    table.Delete(QStringLiteral("c"));
    EXPECT_EQ(table.Count(), 2);
    table.Delete(QStringLiteral("A"));
    EXPECT_EQ(table.Count(), 1);
    EXPECT_FALSE(table.IsSymbolDefined(QStringLiteral("a")));
    EXPECT_TRUE(table.IsSymbolDefined(QStringLiteral("b")));
}

} // namespace
