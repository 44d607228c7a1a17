#include "config/mdlEncode.h"

#include "common/Cp936.h"

#include <algorithm>

namespace mdlEncode {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNPQRSTUVWXYZabcdefghijkmnpqrstuvwxyz123456789+/$%&*";
constexpr int kAlphabetSize = 64;
static_assert(sizeof(kAlphabet) == kAlphabetSize + 1, "the alphabet has 64 characters");

// The key as a repeating stream of bytes: the low byte of each character's
// code, starting again after the last. An empty key XORs with zero.
class KeyStream
{
public:
    explicit KeyStream(const QString& key) : m_key(key) {}
    quint8 next()
    {
        if (m_key.isEmpty())
            return 0;
        const auto b = static_cast<quint8>(m_key.at(m_pos).unicode() & 0xFF);
        m_pos = (m_pos + 1) % m_key.size();
        return b;
    }

private:
    const QString& m_key;
    qsizetype m_pos = 0;
};

QByteArray textBytes(const QString& text, bool ansi)
{
    if (ansi)
        return ConvertCodePage(text);
    QByteArray bytes;
    bytes.reserve(text.size() * 2);
    for (const QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}

QString bytesText(const QByteArray& bytes, bool ansi)
{
    if (ansi)
        return ConvertCodePage(bytes);
    QString text;
    text.reserve((bytes.size() + 1) / 2);
    for (qsizetype i = 0; i < bytes.size(); i += 2) {
        // An odd last byte stands alone as a character with a zero high byte.
        const auto lo = static_cast<quint8>(bytes.at(i));
        const auto hi = i + 1 < bytes.size() ? static_cast<quint8>(bytes.at(i + 1)) : quint8{0};
        text.append(QChar(static_cast<char16_t>(lo | (hi << 8))));
    }
    return text;
}

} // namespace

QString ScrambleText(const QString& text, const QString& key, bool ansi)
{
    const QByteArray plain = textBytes(text, ansi);
    QByteArray out(plain.size(), '\0');
    KeyStream stream(key);
    for (qsizetype i = 0; i < plain.size(); ++i) {
        const auto c = static_cast<quint8>(static_cast<quint8>(plain.at(i)) ^ stream.next());
        out[i] = static_cast<char>(RotateByteLeft(c, 5));
    }
    return EncodeBytes(out);
}

QString UnscrambleText(const QString& scrambled, const QString& key, bool ansi)
{
    const QByteArray in = DecodeText(scrambled);
    QByteArray out(in.size(), '\0');
    KeyStream stream(key);
    for (qsizetype i = 0; i < in.size(); ++i)
        out[i] = static_cast<char>(RotateByteLeft(static_cast<quint8>(in.at(i)), 3) ^ stream.next());
    return bytesText(out, ansi);
}

QString EncodeBytes(const QByteArray& bytes)
{
    QString text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (qsizetype i = 0; i < bytes.size(); i += 3) {
        const qsizetype n = std::min<qsizetype>(3, bytes.size() - i);
        const int b1 = static_cast<quint8>(bytes.at(i));
        const int b2 = n > 1 ? static_cast<quint8>(bytes.at(i + 1)) : 0;
        const int b3 = n > 2 ? static_cast<quint8>(bytes.at(i + 2)) : 0;
        text.append(AlphabetChar(b1 / 4));
        text.append(AlphabetChar((b1 % 4) * 16 + b2 / 16));
        if (n > 1)
            text.append(AlphabetChar((b2 % 16) * 4 + b3 / 64));
        if (n > 2)
            text.append(AlphabetChar(b3 % 64));
    }
    return text;
}

QByteArray DecodeText(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size() / 4 * 3 + 3);
    for (qsizetype i = 0; i < text.size(); i += 4) {
        int d[4];
        for (int k = 0; k < 4; ++k)
            d[k] = i + k < text.size() ? AlphabetIndex(text.at(i + k)) : -1;
        // Only indexes checked to be present are divided, so no quotient is
        // negative; a missing or foreign first index (-1) makes a negative
        // product, and the low eight bits of the sum are the byte all the same.
        if (d[1] >= 0)
            bytes.append(static_cast<char>((d[0] * 4 + d[1] / 16) & 0xFF));
        if (d[2] >= 0)
            bytes.append(static_cast<char>((d[1] * 16 + d[2] / 4) & 0xFF));
        if (d[3] >= 0)
            bytes.append(static_cast<char>((d[2] * 64 + d[3]) & 0xFF));
    }
    return bytes;
}

QChar AlphabetChar(int index)
{
    return QLatin1Char(kAlphabet[index & (kAlphabetSize - 1)]);
}

int AlphabetIndex(QChar c)
{
    for (int i = 0; i < kAlphabetSize; ++i) {
        if (c == QLatin1Char(kAlphabet[i]))
            return i;
    }
    return -1;
}

quint8 RotateByteLeft(quint8 b, int n)
{
    n = (n % 8 + 8) % 8;
    const int split = 1 << (8 - n);
    return static_cast<quint8>((b % split) * (1 << n) + b / split);
}

QByteArray ConvertCodePage(const QString& text)
{
    return ov::cp936::encode(text);
}

QString ConvertCodePage(const QByteArray& bytes)
{
    return ov::cp936::decode(bytes);
}

} // namespace mdlEncode
