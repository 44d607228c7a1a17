// The list-file reader (tables.txt, ConvertDataTables.txt) on arbitrary
// bytes, and the check of the names it gives.

#include "FuzzSupport.h"
#include "create/DataImport.h"
#include "update/UpdateScript.h"

#include <cstring>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    ovfuzz::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path =
        ovfuzz::writeFile(QStringLiteral("tables.txt"), reinterpret_cast<const char*>(data), size);
    QStringList list;
    // A file holding a NUL byte is no ANSI or UTF-8 text (a list saved as
    // UTF-16, say) and is refused whole, as is one with bytes that are not
    // its encoding (which the script reader refuses too); any other file is
    // read.
    const bool hasNul = std::memchr(data, 0, size) != nullptr;
    const bool read = mdlOVSqlUpdateDB::ReadListFile(path, list);
    if (read && hasNul)
        ovfuzz::fail("a list holding a NUL byte was read");
    if (!read && !hasNul) {
        mdlOVSqlUpdateDB::ScriptFile file;
        if (file.open(path))
            ovfuzz::fail("a readable list was refused");
    }
    if (!read)
        return 0;
    if (list.isEmpty() || !list.first().isEmpty())
        ovfuzz::fail("entry 0 is not the empty entry");
    for (int i = 1; i < list.size(); ++i) {
        const QString& name = list.at(i);
        if (name.isEmpty() || name.startsWith(u' ') || name.endsWith(u' '))
            ovfuzz::fail("an entry that is empty or not trimmed", name);
        if (name.contains(u'\n') || name.contains(u'\r'))
            ovfuzz::fail("an entry holding a line end", name);
        if (mdlOVSqlUpdateDB::IsSafeTableName(name) &&
            (name.contains(u'/') || name.contains(u'\\') || name.contains(QStringLiteral(".."))))
            ovfuzz::fail("a name that leaves the folder passed as safe", name);
    }
    return 0;
}
