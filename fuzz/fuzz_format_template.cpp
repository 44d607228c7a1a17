// Message templates filled from arbitrary arguments, and value texts with an
// arbitrary date or number pattern.

#include "FuzzSupport.h"
#include "common/mdlCommon.h"

#include <QDateTime>

#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    ovfuzz::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    // A few short arguments: an argument may bring placeholders that later
    // arguments fill, so the text may grow with each of them by design.
    QVariantList args;
    const int count = in.ConsumeIntegralInRange<int>(0, 4);
    for (int i = 0; i < count; ++i) {
        switch (in.ConsumeIntegralInRange<int>(0, 4)) {
        case 0:
            args << QString::fromStdString(in.ConsumeRandomLengthString(32));
            break;
        case 1:
            args << in.ConsumeIntegral<qint64>();
            break;
        case 2:
            args << in.ConsumeFloatingPoint<double>();
            break;
        case 3:
            args << QVariant();
            break;
        default:
            args << QDateTime::fromMSecsSinceEpoch(in.ConsumeIntegral<qint64>() % 400000000000000LL);
            break;
        }
    }
    const QString format = QString::fromStdString(in.ConsumeRandomLengthString(64));
    const QString tmpl = QString::fromStdString(in.ConsumeRemainingBytesAsString());
    (void)mdlCommon::FormatTemplate(tmpl, args);
    for (const QVariant& v : args)
        (void)mdlCommon::ValueToText(v, format, QStringLiteral("null"));
    (void)mdlCommon::ValueToText(format, format);
    return 0;
}
