#include "common/mdlCommon.h"
#include "support/ScopedHome.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTime>
#include <gtest/gtest.h>

using namespace mdlCommon;

namespace {

struct TemplateCase
{
    const char* name;
    QString tmpl;
    QVariantList args;
    QString expected;
};

TEST(FormatTemplate, FillsPlaceholdersInOrderThenLineBreaks)
{
    QVariantList ten;
    for (int i = 1; i <= 10; ++i)
        ten << QStringLiteral("a%1").arg(i);

    const TemplateCase cases[] = {
        {"title",
         QStringLiteral("{1} -- 升级数据库"),
         {QStringLiteral("Orvane")},
         QStringLiteral("Orvane -- 升级数据库")},
        {"ten arguments", QStringLiteral("{1}|{10}|{1}0"), ten, QStringLiteral("a1|a10|a10")},
        {"no placeholders", QStringLiteral("a{CRLF}b{crlf}c"), {}, QStringLiteral("a\r\nb\r\nc")},
        {"other cases stay",
         QStringLiteral("{Crlf}{CrLf}{cRLF}{CRLF"),
         {},
         QStringLiteral("{Crlf}{CrLf}{cRLF}{CRLF")},
        {"missing argument",
         QStringLiteral("{1}{2}{3}"),
         {QStringLiteral("a"), QStringLiteral("b")},
         QStringLiteral("ab{3}")},
        {"every occurrence", QStringLiteral("{1}-{1}"), {QStringLiteral("x")}, QStringLiteral("x-x")},
        {"null skips its step",
         QStringLiteral("{1}{2}"),
         {QVariant(), QStringLiteral("b")},
         QStringLiteral("{1}b")},
        {"list skips its step", QStringLiteral("{1}"), {QVariant(QVariantList{1})}, QStringLiteral("{1}")},
        {"empty fills with nothing", QStringLiteral("[{1}]"), {QString()}, QStringLiteral("[]")},
        {"later argument fills earlier insert",
         QStringLiteral("{1}"),
         {QStringLiteral("<{2}>"), QStringLiteral("x")},
         QStringLiteral("<x>")},
        {"earlier argument never fills later insert",
         QStringLiteral("{2}"),
         {QStringLiteral("x"), QStringLiteral("<{1}>")},
         QStringLiteral("<{1}>")},
        {"insert is not rescanned",
         QStringLiteral("{1}"),
         {QStringLiteral("{1}{1}")},
         QStringLiteral("{1}{1}")},
        {"line break from an argument",
         QStringLiteral("{1}"),
         {QStringLiteral("a{CRLF}b")},
         QStringLiteral("a\r\nb")},
        {"numbers in plain decimal",
         QStringLiteral("{1} {2} {3} {4} {5} {6}"),
         {5, -3, 2.5, 1e20, 0.1f, qint64(1) << 40},
         QStringLiteral("5 -3 2.5 100000000000000000000 0.1 1099511627776")},
        {"date", QStringLiteral("{1}"), {QDate(2024, 3, 7)}, QStringLiteral("2024-03-07")},
    };
    for (const TemplateCase& c : cases)
        EXPECT_EQ(FormatTemplate(c.tmpl, c.args), c.expected) << c.name;
}

struct SplitCase
{
    QString path;
    PathStyle style;
    QString folder, fileName, baseName, extension;
};

TEST(SplitPathName, SplitsFolderNameBaseAndExtension)
{
    const PathStyle win = PathStyle::Windows;
    const PathStyle posix = PathStyle::Posix;
    const SplitCase cases[] = {
        {QStringLiteral("C:"), win, QStringLiteral("C:"), {}, {}, {}},
        {QStringLiteral(" D: "), win, QStringLiteral(" D: "), {}, {}, {}},
        {QStringLiteral("C:\\Backup\\OrvaneCrm.2024.dat"), win, QStringLiteral("C:\\Backup\\"),
         QStringLiteral("OrvaneCrm.2024.dat"), QStringLiteral("OrvaneCrm.2024"), QStringLiteral("dat")},
        {QStringLiteral("OrvaneCrm"), win, {}, QStringLiteral("OrvaneCrm"), QStringLiteral("OrvaneCrm"), {}},
        {QString(), win, {}, {}, {}, {}},
        {QStringLiteral("C:\\Backup\\"), win, QStringLiteral("C:\\Backup\\"), {}, {}, {}},
        {QStringLiteral("C:\\"), win, QStringLiteral("C:\\"), {}, {}, {}},
        {QStringLiteral("\\\\server\\share\\a.bak"), win, QStringLiteral("\\\\server\\share\\"),
         QStringLiteral("a.bak"), QStringLiteral("a"), QStringLiteral("bak")},
        {QStringLiteral(".profile"), win, {}, QStringLiteral(".profile"), {}, QStringLiteral("profile")},
        {QStringLiteral("name."), win, {}, QStringLiteral("name."), QStringLiteral("name"), {}},
        {QStringLiteral("dir/a.txt"),
         win,
         {},
         QStringLiteral("dir/a.txt"),
         QStringLiteral("dir/a"),
         QStringLiteral("txt")},
        {QStringLiteral("/"), posix, QStringLiteral("/"), {}, {}, {}},
        {QStringLiteral("/etc"),
         posix,
         QStringLiteral("/"),
         QStringLiteral("etc"),
         QStringLiteral("etc"),
         {}},
        {QStringLiteral("/var/opt/mssql/data/OrvaneCrm.2024.bak"), posix,
         QStringLiteral("/var/opt/mssql/data/"), QStringLiteral("OrvaneCrm.2024.bak"),
         QStringLiteral("OrvaneCrm.2024"), QStringLiteral("bak")},
        {QStringLiteral("C:"), posix, {}, QStringLiteral("C:"), QStringLiteral("C:"), {}},
        {QStringLiteral("a\\b.bak"),
         posix,
         {},
         QStringLiteral("a\\b.bak"),
         QStringLiteral("a\\b"),
         QStringLiteral("bak")},
        {QString(), posix, {}, {}, {}, {}},
    };
    for (const SplitCase& c : cases) {
        // Outputs hold old text: every part must be written.
        QString folder = QStringLiteral("old"), fileName = folder, baseName = folder, extension = folder;
        SplitPathName(c.path, folder, fileName, baseName, extension, c.style);
        const std::string label = c.path.toStdString() + (c.style == win ? " (Windows)" : " (POSIX)");
        EXPECT_EQ(folder, c.folder) << label;
        EXPECT_EQ(fileName, c.fileName) << label;
        EXPECT_EQ(baseName, c.baseName) << label;
        EXPECT_EQ(extension, c.extension) << label;
    }
}

TEST(SplitPathName, WindowsIsTheDefaultStyle)
{
    QString folder, fileName, baseName, extension;
    SplitPathName(QStringLiteral("C:\\a/b\\c.d"), folder, fileName, baseName, extension);
    EXPECT_EQ(folder, QStringLiteral("C:\\a/b\\"));
    EXPECT_EQ(fileName, QStringLiteral("c.d"));
}

struct TextCase
{
    const char* name;
    QVariant value;
    QString format;
    QString nullText;
    QString expected;
};

TEST(ValueToText, PlainTextAndNullText)
{
    const TextCase cases[] = {
        {"null, no null text", QVariant(), {}, {}, QString()},
        {"null", QVariant(), {}, QStringLiteral("(无)"), QStringLiteral("(无)")},
        {"null with a format", QVariant(), QStringLiteral("0.00"), QStringLiteral("-"), QStringLiteral("-")},
        {"invalid date", QVariant(QDate()), {}, QStringLiteral("-"), QStringLiteral("-")},
        {"five", 5, {}, QStringLiteral("-"), QStringLiteral("5")},
        {"five as double", 5.0, {}, {}, QStringLiteral("5")},
        {"fraction", 0.1, {}, {}, QStringLiteral("0.1")},
        {"large", 1e20, {}, {}, QStringLiteral("100000000000000000000")},
        {"small", -1.5e-7, {}, {}, QStringLiteral("-0.00000015")},
        {"negative zero", -0.0, {}, {}, QStringLiteral("0")},
        {"boolean", true, {}, {}, QStringLiteral("True")},
        {"text", QStringLiteral("abc"), {}, QStringLiteral("-"), QStringLiteral("abc")},
        {"empty text is not null", QString(), {}, QStringLiteral("-"), QString()},
        {"date-time",
         QDateTime(QDate(2024, 3, 7), QTime(9, 5, 1)),
         {},
         {},
         QStringLiteral("2024-03-07 09:05:01")},
        {"time", QTime(23, 59, 58), {}, {}, QStringLiteral("23:59:58")},
        {"list has no text", QVariant(QStringList{QStringLiteral("a")}), {}, QStringLiteral("-"), QString()},
    };
    for (const TextCase& c : cases)
        EXPECT_EQ(ValueToText(c.value, c.format, c.nullText), c.expected) << c.name;
}

TEST(ValueToText, DatePatterns)
{
    const QDateTime morning(QDate(2024, 3, 7), QTime(9, 5, 1)); // a Thursday
    const QDateTime evening(QDate(2024, 3, 7), QTime(21, 5, 1));
    const TextCase cases[] = {
        {"log time",
         morning,
         QStringLiteral("mm/dd/yyyy HH:NN:SS"),
         {},
         QStringLiteral("03/07/2024 09:05:01")},
        {"backup name", morning, QStringLiteral("yyyymmddhhnn"), {}, QStringLiteral("202403070905")},
        {"short fields", morning, QStringLiteral("m/d/yy h:n:s"), {}, QStringLiteral("3/7/24 9:5:1")},
        {"m after an hour is the minute", morning, QStringLiteral("hh:mm"), {}, QStringLiteral("09:05")},
        {"m before a second is the minute", morning, QStringLiteral("mm:ss"), {}, QStringLiteral("05:01")},
        {"12-hour clock", evening, QStringLiteral("h:nn AM/PM"), {}, QStringLiteral("9:05 PM")},
        {"12-hour clock, small letters",
         QDateTime(QDate(2024, 3, 7), QTime(0, 30)),
         QStringLiteral("hh:nn a/p"),
         {},
         QStringLiteral("12:30 a")},
        {"quarter, day of year, weekday", morning, QStringLiteral("q y w"), {}, QStringLiteral("1 67 5")},
        {"quoted and escaped",
         morning,
         QStringLiteral("yyyy\"年\"m\"月\"d\\d"),
         {},
         QStringLiteral("2024年3月7d")},
        {"date only",
         QDate(2024, 3, 7),
         QStringLiteral("yyyy-mm-dd hh:nn"),
         {},
         QStringLiteral("2024-03-07 00:00")},
        {"time only",
         QTime(13, 14, 15),
         QStringLiteral("yyyy-mm-dd hh:nn:ss"),
         {},
         QStringLiteral("1899-12-30 13:14:15")},
        {"week: 1 January is in week 1", QDate(2022, 1, 1), QStringLiteral("ww"), {}, QStringLiteral("1")},
        {"week: the first Sunday starts week 2",
         QDate(2022, 1, 2),
         QStringLiteral("ww"),
         {},
         QStringLiteral("2")},
        {"week: last day of the year", QDate(2022, 12, 31), QStringLiteral("ww"), {}, QStringLiteral("53")},
        {"week: year starting on Sunday", QDate(2023, 1, 7), QStringLiteral("ww"), {}, QStringLiteral("1")},
        {"week: in March", QDate(2024, 3, 7), QStringLiteral("ww"), {}, QStringLiteral("10")},
    };
    for (const TextCase& c : cases)
        EXPECT_EQ(ValueToText(c.value, c.format, c.nullText), c.expected) << c.name;
}

TEST(ValueToText, NamesComeFromTheDefaultLocale)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(ValueToText(QDate(2024, 3, 7), QStringLiteral("ddd dddd mmm mmmm")),
              QStringLiteral("Thu Thursday Mar March"));
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    EXPECT_EQ(ValueToText(QDate(2024, 3, 7), QStringLiteral("dddd")), QStringLiteral("星期四"));
    QLocale::setDefault(saved);
}

TEST(ValueToText, NumberPatterns)
{
    const TextCase cases[] = {
        {"thousands and decimals", 1234.5, QStringLiteral("#,##0.00"), {}, QStringLiteral("1,234.50")},
        {"millions", 1234567, QStringLiteral("#,##0"), {}, QStringLiteral("1,234,567")},
        {"round half away from zero", 2.5, QStringLiteral("0"), {}, QStringLiteral("3")},
        {"negative half", -2.5, QStringLiteral("0"), {}, QStringLiteral("-3")},
        {"decimal rounding, not binary", 1.005, QStringLiteral("0.00"), {}, QStringLiteral("1.01")},
        {"carry into the integer", 9.995, QStringLiteral("0.00"), {}, QStringLiteral("10.00")},
        {"carry into a new group", 999.5, QStringLiteral("#,##0"), {}, QStringLiteral("1,000")},
        {"negative rounding to zero has no sign", -0.001, QStringLiteral("0.00"), {}, QStringLiteral("0.00")},
        {"percent", 0.256, QStringLiteral("0.0%"), {}, QStringLiteral("25.6%")},
        {"leading zeros", 5, QStringLiteral("000"), {}, QStringLiteral("005")},
        {"integer part never cut", 1234, QStringLiteral("00"), {}, QStringLiteral("1234")},
        {"optional decimals", 1.5, QStringLiteral("0.##"), {}, QStringLiteral("1.5")},
        {"optional decimals, whole number", 1, QStringLiteral("0.##"), {}, QStringLiteral("1.")},
        {"no integer placeholder, below 1", 0.5, QStringLiteral("#.##"), {}, QStringLiteral(".5")},
        {"no integer placeholder, above 1", 12.5, QStringLiteral(".00"), {}, QStringLiteral("12.50")},
        {"literals between digits", 5551234, QStringLiteral("000-0000"), {}, QStringLiteral("555-1234")},
        {"negative section", -5, QStringLiteral("0;(0)"), {}, QStringLiteral("(5)")},
        {"zero section", 0, QStringLiteral("0;(0);\"零\""), {}, QStringLiteral("零")},
        {"positive with sections", 7, QStringLiteral("0;(0);\"零\""), {}, QStringLiteral("7")},
        {"large number", 1e20, QStringLiteral("0"), {}, QStringLiteral("100000000000000000000")},
        {"number in a text", QStringLiteral(" 5 "), QStringLiteral("0.00"), {}, QStringLiteral("5.00")},
        {"text ignores the format", QStringLiteral("abc"), QStringLiteral("0.00"), {}, QStringLiteral("abc")},
    };
    for (const TextCase& c : cases)
        EXPECT_EQ(ValueToText(c.value, c.format, c.nullText), c.expected) << c.name;
}

TEST(TrimBlanks, RemovesOnlySpacesAtTheEnds)
{
    const struct
    {
        const char* text;
        const char* trimmed;
    } cases[] = {
        {"  a b  ", "a b"},         {"", ""},           {"   ", ""},
        {"\ta\t", "\ta\t"},         {" \t a", "\t a"},  {"a\r\n ", "a\r\n"},
        {"\xc2\xa0x", "\xc2\xa0x"}, {" 张三 ", "张三"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mdlCommon::TrimBlanks(QString::fromUtf8(c.text)), QString::fromUtf8(c.trimmed)) << c.text;
}

TEST(ArrayUpperBound, ListsGiveTheirLastIndexEverythingElseMinusOne)
{
    const struct
    {
        const char* name;
        QVariant value;
        int expected;
    } cases[] = {
        {"unset", QVariant(), -1},
        {"empty text", QString(), -1},
        {"text", QStringLiteral("abc"), -1},
        {"number", 5, -1},
        {"empty list", QVariant(QVariantList{}), -1},
        {"one element", QVariant(QVariantList{QStringLiteral("a")}), 0},
        {"string list", QVariant(QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}),
         2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ArrayUpperBound(c.value), c.expected) << c.name;
}

// Points the documents folder somewhere known for one test: HOME and the XDG
// configuration folder (whose user-dirs.dirs may name the documents folder).
class DocumentsPath : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    void writeUserDirs(const QByteArray& documentsDir)
    {
        QFile file(m_dir.filePath(QStringLiteral("config/user-dirs.dirs")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("XDG_DOCUMENTS_DIR=\"" + documentsDir + "\"\n");
    }

    ovtest::ScopedHome m_dir;
};

TEST_F(DocumentsPath, EndsWithOneSeparator)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    // Without user-dirs.dirs the documents folder is ~/Documents.
    EXPECT_EQ(GetMyDocumentsPath(), m_dir.path() + QStringLiteral("/Documents/"));

    writeUserDirs("$HOME/我的文档");
    EXPECT_EQ(GetMyDocumentsPath(), m_dir.path() + QStringLiteral("/我的文档/"));

    writeUserDirs(QFile::encodeName(m_dir.path()) + "/Docs/");
    EXPECT_EQ(GetMyDocumentsPath(), m_dir.path() + QStringLiteral("/Docs/"));

    // A folder that already ends with the separator gets no second one.
    writeUserDirs("/");
    EXPECT_EQ(GetMyDocumentsPath(), QStringLiteral("/"));
#else
    const QString path = GetMyDocumentsPath();
    ASSERT_FALSE(path.isEmpty());
    EXPECT_TRUE(path.endsWith(QDir::separator()));
    EXPECT_FALSE(path.endsWith(QString(QDir::separator()) + QDir::separator()));
#endif
}

} // namespace
