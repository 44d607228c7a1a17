// Path splitting in both styles: the parts always put the path together again.

#include "FuzzSupport.h"
#include "common/mdlCommon.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    ovfuzz::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    for (const auto style : {mdlCommon::PathStyle::Windows, mdlCommon::PathStyle::Posix}) {
        QString folder, name, base, extension;
        mdlCommon::SplitPathName(path, folder, name, base, extension, style);
        if (folder + name != path)
            ovfuzz::fail("folder and name are not the path", path);
        const QString joined = extension.isEmpty() && !name.endsWith(u'.') ? base : base + u'.' + extension;
        if (joined != name)
            ovfuzz::fail("base and extension are not the name", path);
        const QChar separator = style == mdlCommon::PathStyle::Windows ? u'\\' : u'/';
        if (name.contains(separator))
            ovfuzz::fail("name holds a separator", path);
    }
    return 0;
}
