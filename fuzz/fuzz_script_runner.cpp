// The whole update-script runner over arbitrary script bytes, against the
// embedded engine's in-memory database (the server's Tempdb): a fresh
// database for every input.

#include "FuzzSupport.h"
#include "common/UiPort.h"
#include "update/UpdateScript.h"

#include <cstring>

namespace {

// SQL that is slow or large by design (endless recursive queries, giant
// blobs and strings) would only measure the engine, not the runner.
bool slowByDesign(const uint8_t* data, size_t size)
{
    static const char* const words[] = {"recursive", "zeroblob", "randomblob", "printf", "format",
                                        "replace",   "substr",   "char(",      "hex(",   "join"};
    std::string lower(reinterpret_cast<const char*>(data), size);
    for (char& c : lower)
        c = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
    for (const char* w : words) {
        if (lower.find(w) != std::string::npos)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    ovfuzz::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (slowByDesign(data, size))
        return 0;
    const QString script =
        ovfuzz::writeFile(QStringLiteral("script.txt"), reinterpret_cast<const char*>(data), size);
    ov::PlainStatusLabel label;
    ov::PlainProgressBar bar;
    if (!mdlOVSqlUpdateDB::RunUpdateScript(QStringLiteral("sqlite:") + ovfuzz::scratch(),
                                           QStringLiteral("Tempdb"), true, QString(), QString(), script,
                                           label, bar))
        ovfuzz::fail("a readable script was not run to its end");
    return 0;
}
