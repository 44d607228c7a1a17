// The whole update-script runner over arbitrary script bytes, against the
// embedded engine's in-memory database (the server's Tempdb): a fresh
// database for every input.

#include "FuzzSupport.h"
#include "common/UiPort.h"
#include "update/UpdateScript.h"


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
    // A script the reader refuses (a NUL byte, bytes that are not its
    // encoding, a block opened inside another) is never run.
    bool readable = false;
    {
        mdlOVSqlUpdateDB::ScriptFile file;
        readable = file.open(script);
    }
    ov::PlainStatusLabel label;
    ov::PlainProgressBar bar;
    QStringList& shown = ovfuzz::quietUi().texts;
    shown.clear();
    const bool complete = mdlOVSqlUpdateDB::RunUpdateScript(QStringLiteral("sqlite:") + ovfuzz::scratch(),
                                                            QStringLiteral("Tempdb"), true, QString(),
                                                            QString(), script, label, bar);
    // A complete run says nothing; an incomplete one says why: the file is
    // no script it can read, or a transactional version block was rolled
    // back. Nothing else stops a readable script.
    if (complete) {
        if (!readable)
            ovfuzz::fail("a script the reader refuses was run");
        if (!shown.isEmpty())
            ovfuzz::fail("a complete run showed a message", shown.join(QLatin1Char('\n')));
    } else {
        if (shown.size() != 1)
            ovfuzz::fail("an incomplete run did not say why exactly once", shown.join(QLatin1Char('\n')));
        if (readable && !shown.first().contains(QStringLiteral("的升级未能完成")))
            ovfuzz::fail("a readable script was not run to its end", shown.first());
    }
    return 0;
}
