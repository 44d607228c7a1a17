// The list-file reader (tables.txt, ConvertDataTables.txt) on arbitrary
// bytes, and the check of the names it gives.

#include "FuzzSupport.h"
#include "create/DataImport.h"

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
    if (!mdlOVSqlUpdateDB::ReadListFile(path, list))
        ovfuzz::fail("a readable list was refused");
    if (list.isEmpty() || !list.first().isEmpty())
        ovfuzz::fail("entry 0 is not the empty entry");
    for (int i = 1; i < list.size(); ++i) {
        const QString& name = list.at(i);
        if (name.isEmpty() || name.startsWith(u' ') || name.endsWith(u' '))
            ovfuzz::fail("an entry that is empty or not trimmed", name);
        if (name.contains(u'\n'))
            ovfuzz::fail("an entry of two lines", name);
        if (mdlOVSqlUpdateDB::IsSafeTableName(name) &&
            (name.contains(u'/') || name.contains(u'\\') || name.contains(QStringLiteral(".."))))
            ovfuzz::fail("a name that leaves the folder passed as safe", name);
    }
    return 0;
}
