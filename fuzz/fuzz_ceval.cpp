// The expression evaluator on arbitrary expressions, with a few symbols.

#include "FuzzSupport.h"
#include "common/CEval.h"
#include "common/VbError.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    ovfuzz::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CEval eval;
    eval.SymbolTable().Add(QStringLiteral("Rate"), 0.25);
    eval.SymbolTable().Add(QStringLiteral("N"), 12);
    eval.SymbolTable().Add(QStringLiteral("Big"), 1e308);
    const QString expression = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    try {
        (void)eval.Evaluate(expression, -1.0);
    } catch (const ov::VbError& e) {
        if (e.number != ov::vbErrDivisionByZero && e.number != ov::vbErrOverflow &&
            e.number != ov::vbErrInvalidCall)
            ovfuzz::fail("unexpected error number", e.description);
    }
    if (eval.LastError().isEmpty() != (eval.LastErrorPosition() == 0))
        ovfuzz::fail("error text and position disagree", eval.LastError());
    if (eval.LastErrorPosition() < 0 || eval.LastErrorPosition() > expression.size() + 1)
        ovfuzz::fail("error position outside the text", eval.LastError());
    return 0;
}
