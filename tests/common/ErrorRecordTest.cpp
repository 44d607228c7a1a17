#include "common/clsError.h"

#include <gtest/gtest.h>

#include <limits>

using namespace mdlCommon;

namespace {

// The record is process-wide: every test starts and ends without one.
class ErrorRecord : public ::testing::Test
{
protected:
    void SetUp() override { ClearError(); }
    void TearDown() override { ClearError(); }
};

TEST_F(ErrorRecord, TextShowsMessageDetailNumberAndDescription)
{
    const struct
    {
        const char* content;
        const char* expected;
    } cases[] = {
        {"", "连接数据库失败！\r\n\r\n错误编号:-2147467259\r\n错误描述:[DBNETLIB]SQL Server "
             "不存在或拒绝访问。\r\n"},
        {"表 tblCustomer", "连接数据库失败！\r\n表 "
                           "tblCustomer\r\n\r\n\r\n错误编号:-2147467259\r\n错误描述:[DBNETLIB]SQL Server "
                           "不存在或拒绝访问。\r\n"},
    };
    for (const auto& c : cases) {
        SetError(QStringLiteral("[DBNETLIB]SQL Server 不存在或拒绝访问。"), QStringLiteral("-2147467259"),
                 QStringLiteral("Microsoft OLE DB Provider for SQL Server"));
        SetErrorContext(QStringLiteral("mdlContactTrace"), QStringLiteral("ConnectToDBFile"),
                        QStringLiteral("连接数据库失败！"), QString::fromUtf8(c.content));
        EXPECT_EQ(GetErrorText(true), QString::fromUtf8(c.expected)) << c.content;
    }
}

TEST_F(ErrorRecord, ClearDropsTheRecordOnlyWhenAsked)
{
    EXPECT_EQ(GetErrorText(false), QString());
    SetError(QStringLiteral("Overflow"), QStringLiteral("6"), QString());
    SetErrorContext(QStringLiteral("mdlOVSqlUpdateDB"), QStringLiteral("TransferDataFormCnToCn"),
                    QStringLiteral("未知的错误！"), QString());
    const QString first = GetErrorText(false);
    EXPECT_EQ(first, QStringLiteral("未知的错误！\r\n\r\n错误编号:6\r\n错误描述:Overflow\r\n"));
    EXPECT_EQ(GetErrorText(false), first);
    EXPECT_EQ(GetErrorText(true), first);
    EXPECT_FALSE(gobjError);
    EXPECT_EQ(GetErrorText(true), QString());

    SetError(QStringLiteral("Overflow"), QStringLiteral("6"), QString());
    ClearError();
    EXPECT_EQ(GetErrorText(false), QString());
}

TEST_F(ErrorRecord, SetErrorStartsAFreshRecord)
{
    SetError(QStringLiteral("first"), QStringLiteral("1"), QStringLiteral("src1"));
    SetErrorContext(QStringLiteral("mod"), QStringLiteral("fn"), QStringLiteral("msg"),
                    QStringLiteral("detail"));
    SetError(QStringLiteral("second"), QStringLiteral("  2 "), QStringLiteral("src2"));

    ASSERT_TRUE(gobjError);
    EXPECT_EQ(gobjError->ErrDesc(), QStringLiteral("second"));
    EXPECT_EQ(gobjError->ErrNumber(), 2);
    EXPECT_EQ(gobjError->ErrSource(), QStringLiteral("src2"));
    EXPECT_EQ(gobjError->strMoudle(), QString());
    EXPECT_EQ(gobjError->strFunction(), QString());
    EXPECT_EQ(gobjError->strMsg(), QString());
    EXPECT_EQ(gobjError->strContent(), QString());
}

TEST_F(ErrorRecord, ContextFillsTheCurrentRecordOrMakesOne)
{
    SetErrorContext(QStringLiteral("mdlContactTrace"), QStringLiteral("ConnectToDBAccess"),
                    QStringLiteral("连接数据库失败！"), QStringLiteral("detail"), true);
    ASSERT_TRUE(gobjError);
    EXPECT_EQ(gobjError->strMoudle(), QStringLiteral("mdlContactTrace"));
    EXPECT_EQ(gobjError->strFunction(), QStringLiteral("ConnectToDBAccess"));
    EXPECT_EQ(gobjError->strMsg(), QStringLiteral("连接数据库失败！"));
    EXPECT_EQ(gobjError->strContent(), QStringLiteral("detail"));
    EXPECT_EQ(gobjError->ErrNumber(), 0);

    SetError(QStringLiteral("desc"), QStringLiteral("-5"), QStringLiteral("src"));
    SetErrorContext(QStringLiteral("m"), QStringLiteral("f"), QStringLiteral("msg"), QString());
    EXPECT_EQ(gobjError->ErrDesc(), QStringLiteral("desc"));
    EXPECT_EQ(gobjError->ErrNumber(), -5);
    EXPECT_EQ(gobjError->ErrSource(), QStringLiteral("src"));
    EXPECT_EQ(gobjError->strMsg(), QStringLiteral("msg"));
}

TEST_F(ErrorRecord, NumberTextThatIsNoIntegerRecordsZero)
{
    for (const char* text : {"abc", "", "12.5", "2147483648"}) {
        SetError(QStringLiteral("d"), QString::fromUtf8(text), QString());
        EXPECT_EQ(gobjError->ErrNumber(), 0) << text;
    }
    SetError(QStringLiteral("d"), QStringLiteral("-2147483648"), QString());
    EXPECT_EQ(gobjError->ErrNumber(), std::numeric_limits<qint32>::min());
}

TEST_F(ErrorRecord, LogErrorChangesNothing)
{
    SetError(QStringLiteral("desc"), QStringLiteral("3"), QStringLiteral("src"));
    SetErrorContext(QStringLiteral("m"), QStringLiteral("f"), QStringLiteral("msg"), QStringLiteral("c"));
    const QString before = GetErrorText(false);
    LogError(QStringLiteral("other"), QStringLiteral("g"), QStringLiteral("msg2"), QStringLiteral("c2"));
    EXPECT_EQ(GetErrorText(false), before);
    EXPECT_EQ(gobjError->strMoudle(), QStringLiteral("m"));
}

} // namespace
