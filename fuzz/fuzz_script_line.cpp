// The update-script line classifier and marker names on arbitrary lines.

#include "FuzzSupport.h"
#include "update/UpdateScript.h"

using mdlOVSqlUpdateDB::ScriptLineKind;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    ovfuzz::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString line = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    const ScriptLineKind kind = mdlOVSqlUpdateDB::ClassifyScriptLine(line);
    const QString name = mdlOVSqlUpdateDB::GetMarkerName(line);
    // Spaces at the ends of a line never change what it is.
    if (mdlOVSqlUpdateDB::ClassifyScriptLine(QStringLiteral("  ") + line + QStringLiteral("  ")) != kind)
        ovfuzz::fail("spaces change the kind", line);
    const bool marker = kind != ScriptLineKind::Statement && kind != ScriptLineKind::BatchEnd;
    if (marker && !line.trimmed().startsWith(QStringLiteral("--")))
        ovfuzz::fail("a marker that is no comment", line);
    if (name.size() > line.size())
        ovfuzz::fail("a name longer than its line", line);
    return 0;
}
