#include "common/Cp936.h"

#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace ov::cp936 {

namespace {

// One conversion descriptor per direction and thread, opened on first use:
// opening one per call would dominate the cost of converting short lines.
class Converter
{
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter()
    {
        if (valid())
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts in; on an invalid or incomplete sequence appends replacement
    // and skips skipLen(pos) input bytes.
    // The result goes to out, whose storage is reused when it is big enough.
    template <typename SkipLen>
    void run(const char* in, qsizetype inSize, const QByteArray& replacement, SkipLen skipLen,
             QByteArray& out)
    {
        out.resize(0);
        if (!valid() || inSize <= 0)
            return;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        out.resize(inSize * 2 + 16);
        char* src = const_cast<char*>(in);
        size_t srcLeft = static_cast<size_t>(inSize);
        char* dst = out.data();
        size_t dstLeft = static_cast<size_t>(out.size());
        while (srcLeft > 0) {
            const size_t r = iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
            if (r != static_cast<size_t>(-1))
                break;
            if (errno == E2BIG) {
                const qsizetype used = dst - out.data();
                out.resize(out.size() * 2);
                dst = out.data() + used;
                dstLeft = static_cast<size_t>(out.size() - used);
                continue;
            }
            // EILSEQ or EINVAL: replace the offending sequence and go on.
            const qsizetype used = dst - out.data();
            if (dstLeft < static_cast<size_t>(replacement.size())) {
                out.resize(out.size() * 2 + replacement.size());
                dst = out.data() + used;
                dstLeft = static_cast<size_t>(out.size() - used);
            }
            memcpy(dst, replacement.constData(), static_cast<size_t>(replacement.size()));
            dst += replacement.size();
            dstLeft -= static_cast<size_t>(replacement.size());
            const size_t skip = std::min(srcLeft, skipLen(reinterpret_cast<const unsigned char*>(src)));
            src += skip;
            srcLeft -= skip;
        }
        out.resize(dst - out.data());
    }

    // True when the whole of in converts, with no invalid or incomplete
    // sequence.
    bool converts(const char* in, qsizetype inSize)
    {
        if (!valid())
            return false;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in);
        size_t srcLeft = static_cast<size_t>(inSize);
        char buffer[4096];
        while (srcLeft > 0) {
            char* dst = buffer;
            size_t dstLeft = sizeof buffer;
            if (iconv(m_cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1) && errno != E2BIG)
                return false;
        }
        return true;
    }

private:
    iconv_t m_cd;
};

// Length of the UTF-8 sequence that starts with lead (at least 1).
size_t utf8Length(const unsigned char* p)
{
    const unsigned char lead = *p;
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

} // namespace

QByteArray encode(const QString& text)
{
    thread_local Converter conv("CP936", "UTF-8");
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    conv.run(utf8.constData(), utf8.size(), QByteArrayLiteral("?"), utf8Length, out);
    return out;
}

void decodeToUtf8(const char* data, qsizetype size, QByteArray& out)
{
    thread_local Converter conv("UTF-8", "CP936");
    static const QByteArray replacement = QString(QChar::ReplacementCharacter).toUtf8();
    conv.run(
        data, size, replacement, [](const unsigned char*) { return size_t{1}; }, out);
}

QString decode(const QByteArray& bytes)
{
    QByteArray utf8;
    decodeToUtf8(bytes.constData(), bytes.size(), utf8);
    return QString::fromUtf8(utf8);
}

bool isValid(QByteArrayView bytes, bool utf8)
{
    // Most lines of a script or a list are plain ASCII, valid in both.
    const bool ascii =
        std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii)
        return true;
    if (utf8) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = decoder.decode(bytes);
        Q_UNUSED(text)
        return !decoder.hasError();
    }
    thread_local Converter conv("UTF-8", "CP936");
    return conv.converts(bytes.constData(), bytes.size());
}

bool hasUtf8Bom(const QByteArray& bytes)
{
    return bytes.startsWith("\xEF\xBB\xBF");
}

QString decodeFile(const QByteArray& bytes)
{
    if (hasUtf8Bom(bytes))
        return QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3);
    return decode(bytes);
}

} // namespace ov::cp936
