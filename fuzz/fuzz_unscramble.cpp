// Unscrambling arbitrary text with both keys and both byte forms, and the
// round trip of arbitrary text through the 16-bit form.

#include "FuzzSupport.h"
#include "config/mdlEncode.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    ovfuzz::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const bool ansi = data[0] & 1;
    const QString& key = (data[0] & 2) ? mdlEncode::kConfigKey : mdlEncode::kFileKey;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), int(size - 1));
    (void)mdlEncode::UnscrambleText(text, key, ansi);
    // The same bytes taken as code page 936 text, as a configuration file gives them.
    (void)mdlEncode::UnscrambleText(
        mdlEncode::ConvertCodePage(QByteArray(reinterpret_cast<const char*>(data + 1), int(size - 1))), key,
        ansi);
    const QString back = mdlEncode::UnscrambleText(mdlEncode::ScrambleText(text, key, false), key, false);
    if (back != text)
        ovfuzz::fail("16-bit round trip", text);
    return 0;
}
