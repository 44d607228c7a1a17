#include "config/mdlEncode.h"

#include <QSet>

#include <gtest/gtest.h>

using namespace mdlEncode;

namespace {

// The alphabet by index: A-Z without O are 0-24, a-z without l and o are
// 25-48, 1-9 are 49-57, then + / $ % & * are 58-63.

TEST(Encode, RotateByteLeft)
{
    struct Case
    {
        quint8 b;
        int n;
        quint8 expected;
    };
    const Case cases[] = {
        {0x01, 5, 0x20}, // 00000001 -> 00100000
        {0x80, 1, 0x01}, // the high bit comes round to the low end
        {0x23, 5, 0x64}, // 00100011 -> 01100100
        {0xB4, 3, 0xA5}, // 10110100 -> 10100101
    };
    for (const Case& c : cases)
        EXPECT_EQ(RotateByteLeft(c.b, c.n), c.expected) << int(c.b) << " by " << c.n;
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(RotateByteLeft(RotateByteLeft(static_cast<quint8>(b), 5), 3), b);
}

TEST(Encode, AlphabetLeavesOutLookalikes)
{
    QSet<QChar> seen;
    for (int i = 0; i < 64; ++i) {
        const QChar c = AlphabetChar(i);
        EXPECT_FALSE(QStringLiteral("OloO0=").contains(c)) << i;
        EXPECT_EQ(AlphabetIndex(c), i);
        seen.insert(c);
    }
    EXPECT_EQ(seen.size(), 64);
    struct Case
    {
        char c;
        int index;
    };
    const Case cases[] = {{'A', 0},  {'P', 14}, {'a', 25}, {'z', 48}, {'1', 49}, {'+', 58}, {'*', 63},
                          {'O', -1}, {'l', -1}, {'o', -1}, {'0', -1}, {'=', -1}, {' ', -1}};
    for (const Case& c : cases)
        EXPECT_EQ(AlphabetIndex(QLatin1Char(c.c)), c.index) << c.c;
}

TEST(Encode, EncodeAndDecodeBytes)
{
    struct Case
    {
        QByteArray bytes;
        const char* text;
    };
    const Case cases[] = {
        {"", ""},
        {QByteArray(1, '\0'), "AA"},
        {"\xFF", "*z"},                 // 63, 3*16 = 48
        {"\x64\x40", "aEA"},            // 25, 0*16+4 = 4, 0*4+0 = 0
        {"\xFF\xFF\xFF", "****"},       // four times 63
        {"\x41\x04\x41", "RRSB"},       // 16, 1*16+0 = 16, 4*4+1 = 17, 1
        {"\x41\x41\x41\x41", "RVFBRR"}, // 16, 1*16+4 = 20, 1*4+1 = 5, 1; then 16, 1*16+0 = 16
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EncodeBytes(c.bytes), QString::fromLatin1(c.text));
        EXPECT_EQ(DecodeText(QString::fromLatin1(c.text)), c.bytes) << c.text;
    }
}

TEST(Encode, DecodeTextTakesForeignCharactersAsMinusOne)
{
    struct Case
    {
        const char* text;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"A", ""},                           // one character makes no byte
        {"=A", "\xFC"},                      // (-1*4 + 0) mod 256
        {"A=AA", QByteArray("\xF0") + '\0'}, // no first byte; (-1*16 + 0) mod 256; 0
        {"oAlA", "\xFC\xC0"},                // (-1*4 + 0) mod 256; no second byte; (-1*64 + 0) mod 256
        {"0OOO", ""},                        // no index after the first is present
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeText(QString::fromLatin1(c.text)), c.bytes) << c.text;
}

TEST(Encode, KnownScrambledTexts)
{
    struct Case
    {
        QString text;
        QString key;
        bool ansi;
        const char* scrambled;
    };
    const Case cases[] = {
        // 'H' 0x48 ^ 'k' 0x6B = 0x23 -> rotated 0x64; 'i' 0x69 ^ 0x6B = 0x02 -> 0x40.
        {"Hi", "k", true, "aEA"},
        // One key character: each 'a' 0x61 ^ 0x6B = 0x0A -> 0x41, three equal bytes.
        {"aaa", "k", true, "RVFB"},
        // The key starts again after its end: 0x61 ^ 'k', ^ 'A' 0x41, ^ 'k' -> 0x41 0x04 0x41.
        {"aaa", "kA", true, "RRSB"},
        // 中 is D6 D0 in code page 936: D6 ^ 'a' = B7 -> F6, D0 ^ 'b' = B2 -> 56.
        {QStringLiteral("中"), "ab", true, "%nZ"},
        // Without the ANSI option 'A' is 41 00: 41 ^ 6B = 2A -> 45, 00 ^ 6B -> 6D.
        {"A", "k", false, "SX4"},
        // The configuration key "tm...": 'a' ^ 't' = 15 -> A2, 'b' ^ 'm' = 0F -> E1.
        {"ab", kConfigKey, true, "rxE"},
        {"", kConfigKey, true, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ScrambleText(c.text, c.key, c.ansi), QString::fromLatin1(c.scrambled)) << c.scrambled;
        EXPECT_EQ(UnscrambleText(QString::fromLatin1(c.scrambled), c.key, c.ansi), c.text) << c.scrambled;
    }
}

TEST(Encode, ScrambledLengthFollowsTheByteCount)
{
    struct Case
    {
        QString text;
        int length;
    };
    const Case cases[] = {
        {"a", 2},
        {"ab", 3},
        {"abc", 4},
        {"abcd", 6},
        {"abcdef", 8},
        {QStringLiteral("中"), 3},
        {QStringLiteral("中文"), 6},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ScrambleText(c.text, kConfigKey, true).size(), c.length) << c.text.toStdString();
    // Without the ANSI option every character is two bytes.
    EXPECT_EQ(ScrambleText(QStringLiteral("ab"), kConfigKey, false).size(), 6);
}

TEST(Encode, RoundTripsAndStaysInTheAlphabet)
{
    QString allLatin1;
    for (int i = 0; i < 256; ++i)
        allLatin1.append(QChar(i));
    struct Case
    {
        QString text;
        QString key;
        bool ansi;
    };
    const Case cases[] = {
        {"", kConfigKey, true},
        {"p@ss w0rd", kConfigKey, true},
        {QStringLiteral("中文密码 mixed 123"), kConfigKey, true},
        {QStringLiteral("a much longer text than the fifteen characters of the key"), kConfigKey, true},
        {"x", kFileKey, true},
        {QStringLiteral("中文"), "k", false},
        {allLatin1, "z", false},
    };
    for (const Case& c : cases) {
        const QString scrambled = ScrambleText(c.text, c.key, c.ansi);
        for (const QChar ch : scrambled)
            EXPECT_GE(AlphabetIndex(ch), 0) << c.text.toStdString();
        EXPECT_EQ(UnscrambleText(scrambled, c.key, c.ansi), c.text) << c.text.toStdString();
    }
}

TEST(Encode, StoredFilePasswordUnscramblesToSixBytes)
{
    // "Qw7$hK+r" is 15 45 55 60 | 32 10 58 40, which decodes to the bytes
    // 3E DD FC 80 AE A8. Rotated by three they are F1 EE E7 04 75 45, and XORed
    // with "406391" (34 30 36 33 39 31) C5 DE D1 37 4C 74.
    EXPECT_EQ(DecodeText(kScrambledFilePassword), QByteArray("\x3E\xDD\xFC\x80\xAE\xA8"));
    const char16_t units[] = {0xDEC5, 0x37D1, 0x744C};
    EXPECT_EQ(UnscrambleText(kScrambledFilePassword, kFileKey, false), QString::fromUtf16(units, 3));
    // In code page 936 C5 DE is one character; D1 needs a second byte from
    // 40 up, so 37 cannot be one and D1 comes back as a replacement character.
    EXPECT_EQ(UnscrambleText(kScrambledFilePassword, kFileKey, true), QStringLiteral("呸\uFFFD7Lt"));
}

TEST(Encode, ConvertCodePage)
{
    EXPECT_EQ(ConvertCodePage(QStringLiteral("中a")), QByteArray("\xD6\xD0"
                                                                 "a"));
    EXPECT_EQ(ConvertCodePage(QByteArray("\xD6\xD0"
                                         "a")),
              QStringLiteral("中a"));
}

} // namespace
