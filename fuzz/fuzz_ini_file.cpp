// The profile-file reader and writer on arbitrary file contents: read a key,
// write a key, read both back. A written value must read back as written, and
// a key that was not written must read as before.

#include "FuzzSupport.h"
#include "config/clsIniFile.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

// A name or value of printable ASCII (plus a few blanks and quotes), so that
// every character survives the code page.
QString consumeText(FuzzedDataProvider& in, size_t maxLength)
{
    const std::string raw = in.ConsumeRandomLengthString(maxLength);
    QString s;
    for (unsigned char c : raw)
        s += QChar(c >= 0x20 && c < 0x7f ? c : 'a' + c % 26);
    return s;
}

bool plain(const QString& s)
{
    if (s.isEmpty())
        return false;
    const QChar first = s.front();
    const QChar last = s.back();
    return first != u' ' && last != u' ' && first != u'"' && first != u'\'' && last != u'"' && last != u'\'';
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    ovfuzz::init(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const QString section = consumeText(in, 16);
    const QString key = consumeText(in, 16);
    const QString value = consumeText(in, 64);
    const QString otherSection = consumeText(in, 16);
    const QString otherKey = consumeText(in, 16);
    const int size1 = in.ConsumeIntegralInRange<int>(0, 300);
    const std::string rest = in.ConsumeRemainingBytesAsString();

    clsIniFile ini;
    ini.setFileName(ovfuzz::writeFile(QStringLiteral("fuzz.ini"), rest.data(), rest.size()));
    (void)ini.ReadString(section, key, QStringLiteral("default"), size1);
    const QString otherBefore = ini.ReadString(otherSection, otherKey, QStringLiteral("none"), 4096);

    if (!ini.WriteString(section, key, value))
        return 0;
    if (plain(section) && plain(key) && plain(value)) {
        const QString back = ini.ReadString(section, key, QStringLiteral("default"), 4096);
        if (back != value)
            ovfuzz::fail("written value reads back different", value + QStringLiteral(" -> ") + back);
    }
    const bool same = section.trimmed().compare(otherSection.trimmed(), Qt::CaseInsensitive) == 0 &&
                      key.trimmed().compare(otherKey.trimmed(), Qt::CaseInsensitive) == 0;
    if (!same && !otherSection.trimmed().isEmpty() && !otherKey.trimmed().isEmpty()) {
        const QString otherAfter = ini.ReadString(otherSection, otherKey, QStringLiteral("none"), 4096);
        if (otherAfter != otherBefore)
            ovfuzz::fail("another key changed", otherBefore + QStringLiteral(" -> ") + otherAfter);
    }
    return 0;
}
