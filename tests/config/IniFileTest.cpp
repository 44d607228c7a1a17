#include "config/ConfigFiles.h"
#include "config/clsIniFile.h"

#include "common/Cp936.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using ovtest::readBytes;
using ovtest::writeBytes;

namespace {

class IniFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_ini.setFileName(path());
    }
    QString path() const { return m_dir.filePath(QStringLiteral("test.ini")); }
    QStringList folderEntries() const { return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden); }
    static mode_t modeOf(const QString& p)
    {
        struct stat st
        {};
        EXPECT_EQ(::stat(QFile::encodeName(p).constData(), &st), 0);
        return st.st_mode & 07777;
    }

    QTemporaryDir m_dir;
    clsIniFile m_ini;
};

QByteArray gbk(const char* utf8)
{
    return ov::cp936::encode(QString::fromUtf8(utf8));
}

TEST_F(IniFileTest, MissingFileReadsDefault)
{
    EXPECT_EQ(m_ini.ReadString(QStringLiteral("MAIN"), QStringLiteral("DBUser"), QStringLiteral("sa"), 1000),
              QStringLiteral("sa"));
    EXPECT_FALSE(QFile::exists(path()));
}

TEST_F(IniFileTest, ReadsByTheProfileRules)
{
    struct Case
    {
        const char* what;
        QByteArray content;
        const char* section;
        const char* key;
        const char* fallback;
        int size;
        QString expected;
    };
    const Case cases[] = {
        {"present but empty is empty", "[MAIN]\r\nDBUser=\r\n", "MAIN", "DBUser", "sa", 1000, ""},
        {"blanks around the value go", "[MAIN]\r\nDBName =   crm db  \r\n", "MAIN", "DBName", "x", 1000,
         "crm db"},
        {"tabs around the value go", "[MAIN]\r\nDBName=\tcrm\t\r\n", "MAIN", "DBName", "x", 1000, "crm"},
        {"double quotes go", "[M]\r\nk=\"a = b\"\r\n", "M", "k", "", 1000, "a = b"},
        {"single quotes go", "[M]\r\nk='x'\r\n", "M", "k", "", 1000, "x"},
        {"blanks inside quotes are trimmed too", "[M]\r\nk=\"  x  \"\r\n", "M", "k", "", 1000, "x"},
        {"unmatched quotes stay", "[M]\r\nk=\"x'\r\n", "M", "k", "", 1000, "\"x'"},
        {"a lone quote stays", "[M]\r\nk=\"\r\n", "M", "k", "", 1000, "\""},
        {"names match without case", "[main]\r\ndbname=crm\r\n", "MAIN", "DBName", "x", 1000, "crm"},
        {"blanks around names", "  [ MAIN ]  \r\n  DBName  = crm\r\n", "MAIN", "DBName", "x", 1000, "crm"},
        {"first of duplicate keys", "[M]\r\nk=first\r\nk=second\r\n", "M", "k", "", 1000, "first"},
        {"key of another section", "[OTHER]\r\nk=v\r\n[M]\r\nj=1\r\n", "M", "k", "dflt", 1000, "dflt"},
        {"key before any section", "k=v\r\n[M]\r\n", "M", "k", "dflt", 1000, "dflt"},
        {"comments are not keys", "[M]\r\n;k=c1\r\n  # k=c2\r\nk=v\r\n", "M", "k", "", 1000, "v"},
        {"LF line ends", "[M]\nk=v\nj=w", "M", "j", "", 1000, "w"},
        {"unterminated last line", "[M]\r\nk=v", "M", "k", "", 1000, "v"},
        {"cut to size - 1 bytes", "[M]\r\nk=abcdef\r\n", "M", "k", "", 4, "abc"},
        {"cut, then trimmed", "[M]\r\nk=ab  cd\r\n", "M", "k", "", 5, "ab"},
        {"text before a NUL", QByteArray("[M]\r\nk=ab") + '\0' + "cd\r\n", "M", "k", "", 1000, "ab"},
        {"size 1 leaves nothing", "[M]\r\nk=v\r\n", "M", "k", "", 1, ""},
        {"size 0 leaves nothing", "[M]\r\nk=v\r\n", "M", "k", "", 0, ""},
        {"default is trimmed", "[M]\r\n", "M", "k", "  dflt  ", 1000, "dflt"},
        {"default is cut too", "[M]\r\n", "M", "k", "abcdef", 3, "ab"},
        {"code page 936", "[M]\r\nk=" + gbk("中文") + "\r\n", "M", "k", "", 1000, QStringLiteral("中文")},
        // 中 and 文 take two bytes each: room for three bytes holds one of them.
        {"no half character", "[M]\r\nk=" + gbk("中文") + "\r\n", "M", "k", "", 4, QStringLiteral("中")},
        {"UTF-8 with mark", "\xEF\xBB\xBF[M]\r\nk=" + QByteArray("中文") + "\r\n", "M", "k", "", 1000,
         QStringLiteral("中文")},
    };
    for (const Case& c : cases) {
        writeBytes(path(), c.content);
        EXPECT_EQ(m_ini.ReadString(QString::fromUtf8(c.section), QString::fromUtf8(c.key),
                                   QString::fromUtf8(c.fallback), c.size),
                  c.expected)
            << c.what;
    }
}

TEST_F(IniFileTest, WritesChangeOnlyTheirOwnLine)
{
    // Comments, blank lines, odd spacing, other sections and bytes that are not
    // valid code page 936 (the 0x81 0x20 pair) must all come back as they were.
    const QByteArray base = "; " + gbk("配置") +
                            " \x81\x20\r\n[MAIN]\r\nDBServer = old\r\n# note\r\nDBName=crm\r\n\r\n"
                            "[OTHER]\r\nx=1\r\n";
    struct Case
    {
        const char* what;
        QByteArray before;
        const char* section;
        const char* key;
        QString value;
        QByteArray after;
    };
    const Case cases[] = {
        {"in place, spacing and other lines kept", base, "MAIN", "dbserver", "new",
         "; " + gbk("配置") +
             " \x81\x20\r\n[MAIN]\r\nDBServer = new\r\n# note\r\nDBName=crm\r\n\r\n[OTHER]\r\nx=1\r\n"},
        {"missing key after the section's last non-blank line", base, "main", "DBUser", "sa",
         "; " + gbk("配置") +
             " \x81\x20\r\n[MAIN]\r\nDBServer = old\r\n# "
             "note\r\nDBName=crm\r\nDBUser=sa\r\n\r\n[OTHER]\r\nx=1\r\n"},
        {"missing section at the end", base, "NEW", "k", "v", base + "[NEW]\r\nk=v\r\n"},
        {"in place with code page 936", "[M]\r\nk=1\r\n", "M", "k", QStringLiteral("中"),
         "[M]\r\nk=\xD6\xD0\r\n"},
        {"first of duplicate keys", "[M]\r\nk=1\r\nk=2\r\n", "M", "k", "3", "[M]\r\nk=3\r\nk=2\r\n"},
        {"unterminated last line replaced", "[m]\r\nKEY=x", "M", "key", "y", "[m]\r\nKEY=y"},
        {"unterminated last line gets an end before a new key", "[M]\r\nk=1", "M", "j", "2",
         "[M]\r\nk=1\r\nj=2\r\n"},
        {"unterminated last line gets an end before a new section", "[A]\r\nk=1", "B", "j", "2",
         "[A]\r\nk=1\r\n[B]\r\nj=2\r\n"},
        {"LF file stays LF", "[M]\nk=1\n\n[N]\n", "M", "j", "2", "[M]\nk=1\nj=2\n\n[N]\n"},
        {"empty value", "[M]\r\nk=1\r\n", "M", "k", "", "[M]\r\nk=\r\n"},
        {"empty file", "", "M", "k", "v", "[M]\r\nk=v\r\n"},
        {"UTF-8 file stays UTF-8 with its mark", "\xEF\xBB\xBF[M]\r\nk=1\r\n", "M", "k", QStringLiteral("中"),
         "\xEF\xBB\xBF[M]\r\nk=\xE4\xB8\xAD\r\n"},
    };
    for (const Case& c : cases) {
        writeBytes(path(), c.before);
        EXPECT_TRUE(m_ini.WriteString(QString::fromUtf8(c.section), QString::fromUtf8(c.key), c.value))
            << c.what;
        EXPECT_EQ(readBytes(path()), c.after) << c.what;
        EXPECT_EQ(m_ini.ReadString(QString::fromUtf8(c.section), QString::fromUtf8(c.key),
                                   QStringLiteral("?"), 1000),
                  c.value)
            << c.what;
    }
}

TEST_F(IniFileTest, NewFileIsPrivateWithCrLf)
{
    ASSERT_TRUE(m_ini.WriteString(QStringLiteral("MAIN"), QStringLiteral("DBUser"), QStringLiteral("sa")));
    EXPECT_EQ(readBytes(path()), QByteArray("[MAIN]\r\nDBUser=sa\r\n"));
    EXPECT_EQ(modeOf(path()), mode_t{0600});
    EXPECT_EQ(folderEntries(), QStringList{QStringLiteral("test.ini")});
}

TEST_F(IniFileTest, ExistingFileKeepsItsMode)
{
    writeBytes(path(), "[M]\r\nk=1\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), 0640), 0);
    ASSERT_TRUE(m_ini.WriteString(QStringLiteral("M"), QStringLiteral("k"), QStringLiteral("2")));
    EXPECT_EQ(readBytes(path()), QByteArray("[M]\r\nk=2\r\n"));
    EXPECT_EQ(modeOf(path()), mode_t{0640});
}

TEST_F(IniFileTest, NewContentReplacesTheFileInOneRename)
{
    // A second hard link keeps the old inode: had the file been rewritten in
    // place, the link would show the new content (or a torn mixture).
    writeBytes(path(), "[M]\r\nk=1\r\n");
    const QString link = m_dir.filePath(QStringLiteral("old-inode"));
    ASSERT_EQ(::link(QFile::encodeName(path()).constData(), QFile::encodeName(link).constData()), 0);
    ASSERT_TRUE(m_ini.WriteString(QStringLiteral("M"), QStringLiteral("k"), QStringLiteral("2")));
    EXPECT_EQ(readBytes(path()), QByteArray("[M]\r\nk=2\r\n"));
    EXPECT_EQ(readBytes(link), QByteArray("[M]\r\nk=1\r\n"));
    EXPECT_EQ(folderEntries().size(), 2) << folderEntries().join(QLatin1Char(' ')).toStdString();
}

TEST_F(IniFileTest, ReadOnlyFileIsLeftAlone)
{
    const QByteArray before = "[M]\r\nk=1\r\n";
    writeBytes(path(), before);
    ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), 0444), 0);
    EXPECT_FALSE(m_ini.WriteString(QStringLiteral("M"), QStringLiteral("k"), QStringLiteral("2")));
    EXPECT_FALSE(m_ini.WriteString(QStringLiteral("N"), QStringLiteral("j"), QStringLiteral("2")));
    EXPECT_EQ(readBytes(path()), before);
    EXPECT_EQ(modeOf(path()), mode_t{0444});
    EXPECT_EQ(folderEntries(), QStringList{QStringLiteral("test.ini")});
}

TEST_F(IniFileTest, UnwritableLocationFails)
{
    const QString dirAsFile = m_dir.filePath(QStringLiteral("folder.ini"));
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("folder.ini")));
    const QString paths[] = {
        m_dir.filePath(QStringLiteral("no-such-folder/test.ini")), // the folder is missing
        dirAsFile,                                                 // the path is a folder
    };
    for (const QString& p : paths) {
        clsIniFile ini;
        ini.setFileName(p);
        EXPECT_FALSE(ini.WriteString(QStringLiteral("M"), QStringLiteral("k"), QStringLiteral("v")))
            << p.toStdString();
        EXPECT_EQ(ini.ReadString(QStringLiteral("M"), QStringLiteral("k"), QStringLiteral("d"), 100),
                  QStringLiteral("d"));
    }
    EXPECT_FALSE(QFile::exists(m_dir.filePath(QStringLiteral("no-such-folder"))));
    EXPECT_TRUE(QDir(dirAsFile).isEmpty());
}

// In a folder that cannot be written, an existing writable file is written
// in place (a file shared with the main program may sit there); a new file
// cannot be made.
TEST_F(IniFileTest, ReadOnlyFolderTakesOnlyAnExistingWritableFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write into a read-only folder";
    const QString folder = m_dir.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString file = folder + QStringLiteral("/test.ini");
    writeBytes(file, "[M]\r\nk=1\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
    clsIniFile ini;
    ini.setFileName(file);
    EXPECT_TRUE(ini.WriteString(QStringLiteral("M"), QStringLiteral("k"), QStringLiteral("2")));
    clsIniFile fresh;
    fresh.setFileName(folder + QStringLiteral("/new.ini"));
    EXPECT_FALSE(fresh.WriteString(QStringLiteral("M"), QStringLiteral("k"), QStringLiteral("2")));
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    EXPECT_EQ(readBytes(file), QByteArray("[M]\r\nk=2\r\n"));
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/new.ini")));
}

TEST_F(IniFileTest, RefusesWhatWouldNotStayOnItsOwnLine)
{
    struct Case
    {
        const char* what;
        QString section;
        QString key;
        QString value;
    };
    const Case cases[] = {
        {"CR LF in the value", "M", "k", "x\r\nDBUser=evil"},
        {"LF in the value", "M", "k", "x\nj=2"},
        {"CR in the value", "M", "k", "x\rj=2"},
        {"NUL in the value", "M", "k", QStringLiteral("x") + QChar(0) + QStringLiteral("y")},
        {"line break in the key", "M", "k\r\n[N]\r\nj", "v"},
        {"equals sign in the key", "M", "a=b", "v"},
        {"line break in the section", "M]\r\nk=evil\r\n[N", "k", "v"},
        {"bracket in the section", "A]B", "k", "v"},
        {"empty section", "", "k", "v"},
        {"blank key", "M", "  ", "v"},
        {"key read back as a comment", "M", ";k", "v"},
        {"key read back as a section", "M", "[k]", "v"},
    };
    const QByteArray before = "[M]\r\nk=1\r\n";
    writeBytes(path(), before);
    for (const Case& c : cases) {
        EXPECT_FALSE(m_ini.WriteString(c.section, c.key, c.value)) << c.what;
        EXPECT_EQ(readBytes(path()), before) << c.what;
    }
    // A refused write never creates the file either.
    clsIniFile fresh;
    fresh.setFileName(m_dir.filePath(QStringLiteral("new.ini")));
    EXPECT_FALSE(fresh.WriteString(QStringLiteral("M"), QStringLiteral("k"), QStringLiteral("a\nb")));
    EXPECT_FALSE(QFile::exists(fresh.FileName()));
}

// Every value a write takes reads back exactly as it was given (a name of
// a server, database or user may hold any of these), in a new file and over
// an existing value; values in a matching pair of quotes too, which a
// reader would otherwise take off.
TEST_F(IniFileTest, ValuesReadBackExactlyAsWritten)
{
    const QString values[] = {
        QStringLiteral("\"q\""),
        QStringLiteral("'q'"),
        QStringLiteral("\"a\" and \"b\""),
        QStringLiteral("''"),
        QStringLiteral("\"\""),
        QStringLiteral("\"q"),
        QStringLiteral("q'"),
        QStringLiteral("\"q'"),
        QStringLiteral("a;b"),
        QStringLiteral(";a"),
        QStringLiteral("#a"),
        QStringLiteral("a]b"),
        QStringLiteral("[a]"),
        QStringLiteral("a=b"),
        QStringLiteral("a\tb"),
        QStringLiteral("中文库"),
        QStringLiteral("\u3000x\u3000"),
        QStringLiteral("\"中文\""),
    };
    for (const bool existing : {false, true}) {
        for (const QString& value : values) {
            SCOPED_TRACE((existing ? "over a value: " : "new file: ") + value.toStdString());
            QFile::remove(path());
            if (existing)
                writeBytes(path(), "[M]\r\nk=old\r\n");
            ASSERT_TRUE(m_ini.WriteString(QStringLiteral("M"), QStringLiteral("k"), value));
            EXPECT_EQ(m_ini.ReadString(QStringLiteral("M"), QStringLiteral("k"), QString(), 256), value);
        }
    }
}

TEST_F(IniFileTest, SeveralKeysChangeTogetherOrNotAtAll)
{
    writeBytes(path(), "[M]\r\nb=old\r\n; end of M\r\n\r\n[N]\r\n");
    ASSERT_TRUE(m_ini.WriteStrings(QStringLiteral("M"), {{QStringLiteral("a"), QStringLiteral("1")},
                                                         {QStringLiteral("B"), QStringLiteral("2")},
                                                         {QStringLiteral("c"), QStringLiteral("3")}}));
    const QByteArray after = "[M]\r\nb=2\r\n; end of M\r\na=1\r\nc=3\r\n\r\n[N]\r\n";
    EXPECT_EQ(readBytes(path()), after);

    // One bad value refuses the whole set: the good keys before it stay too.
    EXPECT_FALSE(m_ini.WriteStrings(QStringLiteral("M"), {{QStringLiteral("a"), QStringLiteral("9")},
                                                          {QStringLiteral("b"), QStringLiteral("x\ny")}}));
    EXPECT_EQ(readBytes(path()), after);
}

} // namespace
