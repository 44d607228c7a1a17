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
