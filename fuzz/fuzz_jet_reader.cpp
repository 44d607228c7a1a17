// The Jet reader on mutated single-user database files: open, list the
// tables, read every row of every table. A file either reads or gives an
// error; it never crashes the reader or libmdb under it.

#include "FuzzSupport.h"
#include "data/jet/JetFile.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    ovfuzz::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path =
        ovfuzz::writeFile(QStringLiteral("fuzz.cdb"), reinterpret_cast<const char*>(data), size);
    ov::DataError error;
    std::unique_ptr<ov::JetFile> file = ov::JetFile::open(path, error);
    if (!file) {
        if (!error.isSet())
            ovfuzz::fail("a file refused without an error");
        return 0;
    }
    (void)file->password();
    for (const QString& name : file->tableNames()) {
        ov::DataError tableError;
        std::unique_ptr<ov::JetTable> table = file->openTable(name, tableError);
        if (!table)
            continue;
        (void)table->storedRowCount();
        QVector<QVariant> row;
        // A damaged file may still hold a long chain of pages; a few thousand
        // rows are enough to reach every kind of page.
        for (int n = 0; n < 5000; ++n) {
            const auto fetch = table->next(&row, tableError);
            if (fetch != ov::CursorBackend::Fetch::Row)
                break;
        }
    }
    return 0;
}
