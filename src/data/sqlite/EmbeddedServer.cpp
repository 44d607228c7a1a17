#include "data/sqlite/EmbeddedServer.h"

#include "common/mdlCommon.h"
#include "data/DataBackend.h"
#include "data/Identifiers.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QRegularExpression>

#include <algorithm>

namespace ov::embedded {

namespace {
const QLatin1String kPrefix("sqlite:");
const QLatin1String kSuffix(".sqlite");
// The longest file a database's name goes into is its journal,
// "NAME.sqlite-journal" (its locks ".NAME.sqlite-task" and ".NAME.sqlite-use"
// are shorter): a longer name would be refused by the file system halfway
// through a task, as "File name too long".
constexpr qsizetype kMaxNameBytes = 255 - 15;

// The folder that relative server folders are taken from; empty means the
// current folder.
QString& folderOfProgram()
{
    static QString folder;
    return folder;
}
} // namespace

void setProgramFolder(const QString& folder)
{
    folderOfProgram() = QDir::fromNativeSeparators(folder);
}

QString programFolder()
{
    return folderOfProgram();
}

QString errorSource()
{
    return QStringLiteral("Orvane embedded engine");
}

QLatin1String serverPrefix()
{
    return kPrefix;
}

QString serverFolder(const QString& server)
{
    const QString folder = server.trimmed().mid(kPrefix.size()).trimmed();
    if (QDir::isAbsolutePath(folder))
        return QDir::cleanPath(folder);
    const QString base = folderOfProgram().isEmpty() ? QDir::currentPath() : folderOfProgram();
    return QDir::cleanPath(QDir(base).absoluteFilePath(folder));
}

bool isTempdb(const QString& name)
{
    return unquotedName(name).trimmed().compare(QLatin1String("Tempdb"), Qt::CaseInsensitive) == 0;
}

QString engineMessage(const QString& sqliteText)
{
    // Each pattern matches SQLite's whole text; %1 is its first capture.
    static const struct
    {
        const char* pattern;
        const char* text;
    } messages[] = {
        {"no such table: (.+)", "对象名 %1 无效：数据库中没有这个表。"},
        {"no such column: (.+)", "列名 %1 无效：表中没有这一列。"},
        {"no such index: (.+)", "索引 %1 不存在。"},
        {"no such function: (.+)", "函数 %1 不存在。"},
        {"table (.+) already exists", "数据库中已经有名为 %1 的表。"},
        {"index (.+) already exists", "数据库中已经有名为 %1 的索引。"},
        {"view (.+) already exists", "数据库中已经有名为 %1 的视图。"},
        {"duplicate column name: (.+)", "列名 %1 重复。"},
        {"near \\\"(.*)\\\": syntax error", "“%1”附近有语法错误。"},
        {"(incomplete input)", "语句不完整。"},
        {"UNIQUE constraint failed: (.+)", "违反了唯一约束：%1 不能有重复的值。"},
        {"NOT NULL constraint failed: (.+)", "不能将 NULL 值插入列 %1，该列不允许空值。"},
        {"CHECK constraint failed: (.+)", "违反了检查约束 %1。"},
        {"(FOREIGN KEY constraint failed)", "违反了外键约束。"},
        {"(database is locked)", "数据库正被另一个连接锁定。"},
        {"database table is locked: (.+)", "数据库中的表 %1 正被锁定。"},
        {"(database table is locked)", "数据库中的表正被锁定。"},
        {"(disk I/O error)", "磁盘读写错误。"},
        {"(database or disk is full)", "数据库或磁盘已满。"},
        {"(file is not a database)", "文件不是数据库。"},
        {"(database disk image is malformed)", "数据库文件已损坏。"},
        {"(attempt to write a readonly database)", "数据库是只读的，不能写入。"},
        {"(unable to open database file)", "无法打开数据库文件。"},
        {"(interrupted)", "操作被中断。"},
        {"(out of memory)", "内存不足。"},
    };
    for (const auto& m : messages) {
        const QRegularExpression re(QLatin1Char('^') + QLatin1String(m.pattern) + QLatin1Char('$'));
        const QRegularExpressionMatch match = re.match(sqliteText);
        if (!match.hasMatch())
            continue;
        const QString text = QString::fromUtf8(m.text);
        return text.contains(QLatin1String("%1")) ? text.arg(match.captured(1)) : text;
    }
    return sqliteText;
}

bool checkName(const QString& name, const QString& what, DataError& error)
{
    QString reason;
    if (name.trimmed().isEmpty())
        reason = QStringLiteral("名称为空");
    else if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        reason = QStringLiteral("名称中含有路径分隔符（/ 或 \\）");
    else if (name.contains(QLatin1Char(':')))
        reason = QStringLiteral("名称中含有“:”");
    else if (name.contains(QLatin1String("..")))
        reason = QStringLiteral("名称中含有“..”");
    else if (std::any_of(name.begin(), name.end(), mdlCommon::IsControlCharacter))
        reason = QStringLiteral("名称中含有控制字符");
    else if (std::max(name.toUtf8().size(), name.toCaseFolded().toUtf8().size()) > kMaxNameBytes)
        reason = QStringLiteral("名称太长，最多 %1 个字节（一个汉字占 3 个字节）").arg(kMaxNameBytes);
    if (reason.isEmpty())
        return true;
    setDataError(
        error, DataErr::InvalidArgument,
        QStringLiteral("%1名称“%2”不能使用：%3。").arg(what, mdlCommon::ShowControlCharacters(name), reason),
        errorSource());
    return false;
}

namespace {

// The databases this process builds under side files, by folder and name.
struct StagedDatabases
{
    QMutex mutex;
    // By folder and name without case: the folder, the name as given, the
    // side file.
    QHash<QString, QStringList> sideFiles;
};

QString canonicalFolder(const QString& folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(folder) : canonical;
}

StagedDatabases& staged()
{
    static StagedDatabases s;
    return s;
}

QString stagingKey(const QString& folder, const QString& name)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return (canonical.isEmpty() ? QDir::cleanPath(folder) : canonical) + QLatin1Char('/') +
           name.toCaseFolded();
}

} // namespace

void stageDatabase(const QString& folder, const QString& name, const QString& sideFile)
{
    QMutexLocker guard(&staged().mutex);
    staged().sideFiles.insert(stagingKey(folder, name), {canonicalFolder(folder), name, sideFile});
}

void unstageDatabase(const QString& folder, const QString& name)
{
    QMutexLocker guard(&staged().mutex);
    staged().sideFiles.remove(stagingKey(folder, name));
}

QString stagedDatabaseFile(const QString& folder, const QString& name)
{
    QMutexLocker guard(&staged().mutex);
    if (staged().sideFiles.isEmpty())
        return QString();
    return staged().sideFiles.value(stagingKey(folder, name)).value(2);
}

namespace {

// The names of the databases this process builds in folder.
QStringList stagedNames(const QString& folder)
{
    QMutexLocker guard(&staged().mutex);
    QStringList names;
    if (staged().sideFiles.isEmpty())
        return names;
    const QString canonical = canonicalFolder(folder);
    for (const QStringList& entry : std::as_const(staged().sideFiles)) {
        if (entry.value(0) == canonical)
            names << entry.value(1);
    }
    return names;
}

} // namespace

QString sideFilePrefix(const QString& name)
{
    return QLatin1Char('.') + name + kSuffix + QLatin1Char('~');
}

QString sideFileDatabase(const QString& fileName, QString* sideFileName)
{
    // ".NAME.sqlite~XXXXXX", its journals ("-journal", "-wal", "-shm") and
    // the use lock of a connection to it ("." before it, "-use" after it).
    static const QRegularExpression side(
        QStringLiteral("^\\.(.+)\\.sqlite~([A-Za-z0-9]{6})(-journal|-wal|-shm)?$"));
    static const QRegularExpression use(QStringLiteral("^\\.\\.(.+)\\.sqlite~([A-Za-z0-9]{6})-use$"));
    QRegularExpressionMatch m = use.match(fileName);
    if (!m.hasMatch())
        m = side.match(fileName);
    if (!m.hasMatch())
        return QString();
    if (sideFileName)
        *sideFileName = sideFilePrefix(m.captured(1)) + m.captured(2);
    return m.captured(1);
}

QString findDatabaseFile(const QString& folder, const QString& name)
{
    const QString side = stagedDatabaseFile(folder, name);
    if (!side.isEmpty())
        return side;
    const QString exact = newDatabaseFile(folder, name);
    if (QFileInfo(exact).isFile())
        return exact;
    const QDir dir(folder);
    const QStringList files = dir.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& file : files) {
        if (file.compare(name + kSuffix, Qt::CaseInsensitive) == 0)
            return dir.filePath(file);
    }
    return QString();
}

QString newDatabaseFile(const QString& folder, const QString& name)
{
    return QDir(folder).filePath(name + kSuffix);
}

QString taskLockFile(const QString& folder, const QString& name)
{
    return QDir(folder).filePath(QLatin1Char('.') + name.toCaseFolded() + kSuffix + QStringLiteral("-task"));
}

QString useLockFile(const QString& databaseFile)
{
    const QFileInfo file(databaseFile);
    return file.dir().filePath(QLatin1Char('.') + file.fileName() + QStringLiteral("-use"));
}

QStringList listDatabases(const QString& folder)
{
    QStringList names;
    const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    for (const QString& file : files) {
        if (!file.endsWith(kSuffix, Qt::CaseInsensitive) || file.size() <= kSuffix.size())
            continue;
        const QString name = file.left(file.size() - kSuffix.size());
        DataError ignored;
        if (checkName(name, QString(), ignored))
            names.append(name);
    }
    // In the process that builds them, the new databases are there by name.
    for (const QString& name : stagedNames(folder)) {
        if (!names.contains(name, Qt::CaseInsensitive))
            names.append(name);
    }
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

QString catalogStatement()
{
    return QStringLiteral(
        "SELECT m.name AS TABLE_NAME, p.name AS COLUMN_NAME, p.type AS DATA_TYPE, "
        "NULL AS CHARACTER_MAXIMUM_LENGTH, NULL AS NUMERIC_PRECISION, NULL AS NUMERIC_SCALE, "
        "CASE WHEN p.\"notnull\" = 0 AND p.pk = 0 THEN 'YES' ELSE 'NO' END AS IS_NULLABLE "
        "FROM sqlite_master AS m JOIN pragma_table_info(m.name) AS p "
        "WHERE m.type = 'table' AND m.name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
        "ORDER BY m.name, p.cid");
}

} // namespace ov::embedded
