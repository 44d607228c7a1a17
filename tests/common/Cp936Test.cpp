#include "common/Cp936.h"

#include <gtest/gtest.h>

using namespace ov;

TEST(Cp936, RoundTripsChineseAndAscii)
{
    const QString text = QStringLiteral("连接数据库失败！ abc 123 €");
    const QByteArray bytes = cp936::encode(text);
    // "连" is C1 AC in code page 936; the euro sign is the single byte 0x80.
    EXPECT_TRUE(bytes.startsWith("\xC1\xAC"));
    EXPECT_TRUE(bytes.endsWith("\x80"));
    EXPECT_EQ(cp936::decode(bytes), text);
}

TEST(Cp936, UnrepresentableAndInvalidBytesAreReplaced)
{
    // A Devanagari letter has no place in code page 936.
    EXPECT_EQ(cp936::encode(QStringLiteral("a\u0905b")), QByteArray("a?b"));
    // A lone lead byte at the end is not a character.
    EXPECT_EQ(cp936::decode(QByteArray("ab\xC1")), QStringLiteral("ab\uFFFD"));
}

TEST(Cp936, FileWithByteOrderMarkIsUtf8)
{
    const QByteArray utf8 = QByteArray("\xEF\xBB\xBF") + QStringLiteral("版本").toUtf8();
    EXPECT_EQ(cp936::decodeFile(utf8), QStringLiteral("版本"));
    EXPECT_EQ(cp936::decodeFile(cp936::encode(QStringLiteral("版本"))), QStringLiteral("版本"));
    EXPECT_EQ(cp936::decodeFile(QByteArray()), QString());
}

// Whether bytes are text of the encoding as they stand, for readers that must
// refuse what decode would replace.
TEST(Cp936, ValidTextIsToldFromBytesThatWouldBeReplaced)
{
    const struct
    {
        QByteArray bytes;
        bool utf8;
        bool valid;
    } cases[] = {
        {QByteArray(), false, true},
        {"plain ASCII -- GO", false, true},
        {cp936::encode(QStringLiteral("升级到 1.1：客户公司")), false, true},
        {"\x81\x40", false, true},        // the first two-byte character
        {"\xFF", false, false},           // begins no character
        {"a \x81\x20 b", false, false},   // a lead byte before a space
        {"a \xD6\xD0\xB9", false, false}, // cut short at the end
        {"\xB0", false, false},
        {QStringLiteral("升级").toUtf8(), true, true},
        {"\xC3\x28", true, false},             // no continuation byte
        {"\xE5\x8D\x87\xE7\xBA", true, false}, // cut short at the end
        {"\xED\xA0\x80", true, false},         // a surrogate
        {cp936::encode(QStringLiteral("升级")), true, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cp936::isValid(c.bytes, c.utf8), c.valid) << c.bytes.toHex().toStdString() << " " << c.utf8;
}
