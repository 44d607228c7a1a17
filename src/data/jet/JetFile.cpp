#include "data/jet/JetFile.h"

// libmdb's header needs glib's declarations first.
#include <glib.h>

#include <mdbtools.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace ov {

namespace {

constexpr int kPageSize = 4096;
// Data pages: the row count at 0x0C, the owning table definition at 4.
constexpr int kRowCountOffset = 0x0C;
constexpr quint8 kDataPage = 0x01;
constexpr int kRowDeleted = 0x4000;
constexpr int kRowOffsetMask = 0x1FFF;
// The 12-byte head of a memo or OLE value in the row.
constexpr int kLongValueHead = 12;
constexpr quint32 kLongValueInline = 0x80;
constexpr quint32 kLongValueOnePage = 0x40;

const char kSource[] = "Microsoft JET Database Engine";

quint16 get16(const unsigned char* p)
{
    return quint16(p[0] | (p[1] << 8));
}

quint32 get32(const unsigned char* p)
{
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}

qint64 get64(const unsigned char* p)
{
    return qint64(quint64(get32(p)) | (quint64(get32(p + 4)) << 32));
}

double getDouble(const unsigned char* p)
{
    const quint64 bits = quint64(get64(p));
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

float getFloat(const unsigned char* p)
{
    const quint32 bits = get32(p);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// XORs data with the RC4 key stream of key.
void rc4(const unsigned char* key, int keyLength, unsigned char* data, int length)
{
    unsigned char s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<unsigned char>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % keyLength]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    for (int n = 0, i = 0, j = 0; n < length; ++n) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        data[n] ^= s[(s[i] + s[j]) & 0xFF];
    }
}

void fail(DataError& error, qint32 number, const QString& text)
{
    setDataError(error, number, text, QLatin1String(kSource));
}

int adoType(int jetType)
{
    switch (jetType) {
    case MDB_BOOL:
        return adBoolean;
    case MDB_BYTE:
        return adUnsignedTinyInt;
    case MDB_INT:
        return adSmallInt;
    case MDB_LONGINT:
        return adInteger;
    case MDB_MONEY:
        return adCurrency;
    case MDB_FLOAT:
        return adSingle;
    case MDB_DOUBLE:
        return adDouble;
    case MDB_DATETIME:
        return adDate;
    case MDB_BINARY:
        return adVarBinary;
    case MDB_TEXT:
        return adVarWChar;
    case MDB_OLE:
        return adLongVarBinary;
    case MDB_MEMO:
        return adLongVarWChar;
    case MDB_REPID:
        return adGUID;
    case MDB_NUMERIC:
        return adNumeric;
    default:
        return adVarBinary;
    }
}

// The bytes a fixed-size value of the type takes; 0 for variable ones.
int fixedSize(int jetType)
{
    switch (jetType) {
    case MDB_BYTE:
        return 1;
    case MDB_INT:
        return 2;
    case MDB_LONGINT:
    case MDB_FLOAT:
        return 4;
    case MDB_MONEY:
    case MDB_DOUBLE:
    case MDB_DATETIME:
        return 8;
    case MDB_REPID:
        return 16;
    case MDB_NUMERIC:
        return 17;
    default:
        return 0;
    }
}

QString nonNull(QString text)
{
    // An empty text is a value, not NULL: keep it a non-null QString.
    return text.isNull() ? QString(QLatin1String("")) : text;
}

QString guidText(const unsigned char* p)
{
    return QString::asprintf("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", get32(p), get16(p + 4),
                             get16(p + 6), p[8], p[9], p[10], p[11], p[12], p[13], p[14], p[15]);
}

} // namespace

QString decodeJetText(const char* data, int size)
{
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    if (size >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        // At most one character per byte.
        QString text(size - 2, Qt::Uninitialized);
        QChar* out = text.data();
        QChar* const begin = out;
        bool compressed = true;
        for (int i = 2; i < size;) {
            if (p[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                *out++ = QChar(char16_t(p[i]));
                ++i;
            } else if (i + 1 < size) {
                *out++ = QChar(char16_t(get16(p + i)));
                i += 2;
            } else {
                break;
            }
        }
        text.truncate(int(out - begin));
        return nonNull(text);
    }
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    // UCS-2 little-endian is QString's own form here.
    return nonNull(QString(reinterpret_cast<const QChar*>(data), size / 2));
#else
    QString text(size / 2, Qt::Uninitialized);
    for (int i = 0; i < size / 2; ++i)
        text[i] = QChar(char16_t(get16(p + 2 * i)));
    return nonNull(text);
#endif
}

QDateTime oleDateToDateTime(double value)
{
    // 0100-01-01 and the end of 9999-12-31.
    if (!std::isfinite(value) || value <= -657435.0 || value >= 2958466.0)
        return QDateTime();
    const double days = std::trunc(value);
    qint64 ms = std::llround(std::fabs(value - days) * 86400000.0);
    QDate date = QDate(1899, 12, 30).addDays(qint64(days));
    if (ms >= 86400000) {
        // Rounded up to the next midnight, which is the next day on both
        // sides of 1899-12-30: the time runs forward there too.
        ms -= 86400000;
        date = date.addDays(1);
    }
    // Qt::UTC keeps the stored wall-clock value as it is: no conversion
    // through the local time zone, which would move times that fall in a
    // daylight-saving gap (and costs a look at the zone file per value).
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(ms)), Qt::UTC);
}

QString currencyText(qint64 units)
{
    const bool negative = units < 0;
    // The magnitude as unsigned, so the smallest value has one too.
    const quint64 magnitude = negative ? quint64(0) - quint64(units) : quint64(units);
    return QStringLiteral("%1%2.%3")
        .arg(negative ? QStringLiteral("-") : QString())
        .arg(magnitude / 10000)
        .arg(magnitude % 10000, 4, 10, QLatin1Char('0'));
}

// ---- JetFile ------------------------------------------------------------------

struct JetFile::Handle
{
    MdbHandle* mdb = nullptr;
    ~Handle()
    {
        if (mdb)
            mdb_close(mdb);
    }
};

namespace {

// The pages a usage map names, found forward from a page, as libmdb's
// mdb_map_find_next finds them, but reading each map page once for all the
// pages it covers instead of once for each page found. An inline map (type 0)
// is a bitmap of the pages from a first page on; a reference map (type 1)
// lists map pages, each a bitmap of (page size - 4) * 8 pages.
class UsageMap
{
public:
    UsageMap(MdbHandle* mdb, const unsigned char* map, unsigned int size)
        : m_mdb(mdb), m_map(map), m_size(size)
    {}

    // The first page after page that the map names; 0 when there is none,
    // -1 when a map page cannot be read or the map's type is unknown.
    gint32 next(guint32 page)
    {
        if (m_size < 1)
            return -1;
        if (m_map[0] == 0)
            return nextInline(page);
        if (m_map[0] == 1)
            return nextByReference(page);
        return -1;
    }

private:
    static bool bit(const unsigned char* bitmap, guint32 i) { return bitmap[i / 8] & (1u << (i % 8)); }

    gint32 nextInline(guint32 page) const
    {
        if (m_size < 5)
            return 0;
        const guint32 first = get32(m_map + 1);
        const guint32 bits = (m_size - 5) * 8;
        for (guint32 i = page >= first ? page - first + 1 : 0; i < bits; ++i) {
            if (bit(m_map + 5, i))
                return gint32(first + i);
        }
        return 0;
    }

    gint32 nextByReference(guint32 page)
    {
        const guint32 bits = guint32(m_mdb->fmt->pg_size - 4) * 8;
        const guint32 mapPages = (m_size - 1) / 4;
        guint32 from = (page + 1) % bits;
        for (guint32 index = (page + 1) / bits; index < mapPages; ++index, from = 0) {
            const guint32 mapPage = get32(m_map + 1 + 4 * index);
            // An empty entry names no page of its range. The map page after it
            // is read from its first page on: libmdb keeps the place to start
            // from over an empty entry and so never reads the first page of
            // the next map page's range (the rows on it would be lost).
            if (mapPage == 0)
                continue;
            if (mapPage != m_cachedPage) {
                if (mdb_read_alt_pg(m_mdb, mapPage) != m_mdb->fmt->pg_size)
                    return -1;
                m_bitmap.assign(m_mdb->alt_pg_buf + 4, m_mdb->alt_pg_buf + m_mdb->fmt->pg_size);
                m_cachedPage = mapPage;
            }
            for (guint32 i = from; i < bits; ++i) {
                if (bit(m_bitmap.data(), i))
                    return gint32(index * bits + i);
            }
        }
        return 0;
    }

    MdbHandle* m_mdb;
    const unsigned char* m_map;
    unsigned int m_size;
    guint32 m_cachedPage = 0; // the map page m_bitmap holds; 0 for none
    std::vector<unsigned char> m_bitmap;
};

// Reads page into the handle's page buffer, as mdb_read_pg does, with one
// positioned read instead of libmdb's two seeks and a look at the file's
// size for every page. The pages of a file with a database key are
// encrypted: libmdb reads and decrypts those.
bool readDataPage(MdbHandle* mdb, guint32 page)
{
    if (mdb->f->db_key != 0)
        return mdb_read_pg(mdb, page) != 0;
    const ssize_t size = mdb->fmt->pg_size;
    ssize_t got = 0;
    do {
        got = pread(fileno(mdb->f->stream), mdb->pg_buf, size_t(size), off_t(page) * size);
    } while (got < 0 && errno == EINTR);
    if (got != size)
        return false;
    mdb->cur_pg = page;
    mdb->cur_pos = 0;
    return true;
}

} // namespace

struct JetTable::Handle
{
    MdbHandle* mdb = nullptr;
    MdbTableDef* table = nullptr;
    // The table's usage map, as nextDataPage walks it.
    std::unique_ptr<UsageMap> map;
    ~Handle()
    {
        if (table)
            mdb_free_tabledef(table);
        if (mdb)
            mdb_close(mdb);
    }
};

namespace {

// Every page the usage map of table names lies inside the file.
bool checkUsageMap(MdbHandle* mdb, MdbTableDef* table, quint32 pageCount, QString* problem)
{
    if (!table->usage_map || table->map_sz < 1) {
        *problem = QStringLiteral("table '%1' has no usage map").arg(QString::fromUtf8(table->name));
        return false;
    }
    UsageMap map(mdb, static_cast<const unsigned char*>(table->usage_map), unsigned(table->map_sz));
    guint32 page = 0;
    for (quint32 seen = 0; seen <= pageCount; ++seen) {
        const gint32 next = map.next(page);
        if (next == 0)
            return true;
        if (next < 0 || guint32(next) <= page) {
            *problem = QStringLiteral("the usage map of table '%1' cannot be read")
                           .arg(QString::fromUtf8(table->name));
            return false;
        }
        if (guint32(next) >= pageCount) {
            *problem = QStringLiteral("table '%1' names page %2, beyond the end of the file (%3 pages)")
                           .arg(QString::fromUtf8(table->name))
                           .arg(next)
                           .arg(pageCount);
            return false;
        }
        page = guint32(next);
    }
    *problem = QStringLiteral("the usage map of table '%1' names more pages than the file has")
                   .arg(QString::fromUtf8(table->name));
    return false;
}

} // namespace

std::unique_ptr<JetFile> JetFile::open(const QString& path, DataError& error)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) {
        fail(error, JetErr::CannotOpen, QStringLiteral("Could not find file '%1'.").arg(path));
        return nullptr;
    }
    if (info.isDir()) {
        fail(error, JetErr::CannotOpen, QStringLiteral("'%1' is a folder, not a database file.").arg(path));
        return nullptr;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(error, JetErr::CannotOpen,
             QStringLiteral("The file '%1' cannot be opened: %2").arg(path, file.errorString()));
        return nullptr;
    }
    const qint64 size = file.size();
    QByteArray head = file.read(kPageSize);
    file.close();

    auto notJet = [&](const QString& why) {
        fail(error, JetErr::CannotOpen,
             QStringLiteral("Unrecognized database format '%1': %2").arg(path, why));
        return nullptr;
    };
    auto damaged = [&](const QString& why) {
        fail(error, JetErr::CannotOpen,
             QStringLiteral("The database '%1' is damaged and cannot be read: %2").arg(path, why));
        return nullptr;
    };

    static const char kJet[] = "Standard Jet DB";
    static const char kAce[] = "Standard ACE DB";
    const bool headOk = head.size() >= 0x15 && head.at(0) == 0;
    if (headOk && std::memcmp(head.constData() + 4, kAce, sizeof kAce) == 0)
        return notJet(QStringLiteral("an Access 2007 or later file, not a Jet 4 database."));
    if (!headOk || std::memcmp(head.constData() + 4, kJet, sizeof kJet) != 0)
        return notJet(QStringLiteral("the file is not a Jet database."));
    const int version = static_cast<unsigned char>(head.at(0x14));
    if (version == 0)
        return notJet(QStringLiteral("a Jet 3 (Access 97) database; only Jet 4 databases are read."));
    if (version != 1)
        return notJet(QStringLiteral("unknown Jet version %1.").arg(version));
    if (size % kPageSize != 0 || size < 3 * kPageSize)
        return damaged(QStringLiteral("its size (%1 bytes) is not a whole number of %2-byte pages of at "
                                      "least three; the file may be truncated.")
                           .arg(size)
                           .arg(kPageSize));

    std::unique_ptr<JetFile> db(new JetFile);
    db->m_path = path;
    db->m_pageCount = quint32(size / kPageSize);

    // The header fields from 0x18 are masked with RC4 under a fixed key; the
    // password inside them is further XORed with the creation date's day.
    auto* h = reinterpret_cast<unsigned char*>(head.data());
    static const unsigned char kHeaderKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
    rc4(kHeaderKey, 4, h + 0x18, 128);
    unsigned char password[40];
    std::memcpy(password, h + 0x42, sizeof password);
    const double created = getDouble(h + 0x72);
    const double createdDay = std::isfinite(created) ? std::floor(created) : 0.0;
    const qint32 day = createdDay >= -2147483648.0 && createdDay <= 2147483647.0 ? qint32(createdDay) : 0;
    unsigned char mask[4];
    for (int i = 0; i < 4; ++i)
        mask[i] = static_cast<unsigned char>(quint32(day) >> (8 * i));
    bool empty = true;
    for (int i = 0; i < 40; ++i) {
        password[i] ^= mask[i % 4];
        empty = empty && password[i] == 0;
    }
    if (!empty) {
        QString text = decodeJetText(reinterpret_cast<const char*>(password), 40);
        const int end = text.indexOf(QChar(0));
        db->m_password = end >= 0 ? text.left(end) : text;
    }

    db->m_handle = std::make_unique<Handle>();
    MdbHandle* mdb = mdb_open(QFile::encodeName(path).constData(), MDB_NOFLAGS);
    if (!mdb)
        return notJet(QStringLiteral("the file is not a Jet database."));
    db->m_handle->mdb = mdb;

    // The catalog's own table: libmdb stops quietly where a page is missing,
    // so its pages are checked first.
    MdbCatalogEntry catalog;
    std::memset(&catalog, 0, sizeof catalog);
    catalog.mdb = mdb;
    catalog.object_type = MDB_TABLE;
    catalog.table_pg = 2;
    std::snprintf(catalog.object_name, sizeof catalog.object_name, "%s", "MSysObjects");
    MdbTableDef* catalogTable = mdb_read_table(&catalog);
    if (!catalogTable)
        return damaged(QStringLiteral("the catalog's table definition (page 2) cannot be read."));
    QString problem;
    const bool mapOk = checkUsageMap(mdb, catalogTable, db->m_pageCount, &problem);
    mdb_free_tabledef(catalogTable);
    if (!mapOk)
        return damaged(problem + QLatin1Char('.'));

    if (!mdb_read_catalog(mdb, MDB_TABLE))
        return damaged(QStringLiteral("its catalog cannot be read."));
    for (unsigned int i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (mdb_is_user_table(entry))
            db->m_tables << QString::fromUtf8(entry->object_name);
    }
    return db;
}

JetFile::~JetFile() = default;

std::unique_ptr<JetTable> JetFile::openTable(const QString& name, DataError& error) const
{
    MdbHandle* mdb = m_handle->mdb;
    MdbCatalogEntry* found = nullptr;
    for (unsigned int i = 0; i < mdb->num_catalog && !found; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (mdb_is_user_table(entry) &&
            QString::fromUtf8(entry->object_name).compare(name, Qt::CaseInsensitive) == 0)
            found = entry;
    }
    if (!found) {
        fail(error, JetErr::NoSuchTable,
             QStringLiteral("The Microsoft Jet database engine cannot find the input table or query '%1'. "
                            "Make sure it exists and that its name is spelled correctly.")
                 .arg(name));
        return nullptr;
    }
    auto damaged = [&](const QString& why) {
        fail(error, JetErr::CannotOpen,
             QStringLiteral("The database '%1' is damaged and cannot be read: %2").arg(m_path, why));
        return nullptr;
    };
    if (found->table_pg < 3 || found->table_pg >= m_pageCount)
        return damaged(QStringLiteral("the definition of table '%1' lies outside the file.").arg(name));

    // A handle of its own (sharing the open file), so that tables read at the
    // same time do not share a page buffer.
    std::unique_ptr<JetTable> t(new JetTable);
    t->m_handle = std::make_unique<JetTable::Handle>();
    MdbHandle* own = mdb_clone_handle(mdb);
    t->m_handle->mdb = own;
    MdbCatalogEntry* entry = nullptr;
    for (unsigned int i = 0; i < own->num_catalog && !entry; ++i) {
        auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(own->catalog, i));
        if (e->table_pg == found->table_pg)
            entry = e;
    }
    MdbTableDef* table = entry ? mdb_read_table(entry) : nullptr;
    if (!table)
        return damaged(QStringLiteral("the definition of table '%1' cannot be read.").arg(name));
    t->m_handle->table = table;
    if (!mdb_read_columns(table) || table->num_cols == 0)
        return damaged(QStringLiteral("the columns of table '%1' cannot be read.").arg(name));
    QString problem;
    if (!checkUsageMap(own, table, m_pageCount, &problem))
        return damaged(problem + QLatin1Char('.'));

    t->m_handle->map = std::make_unique<UsageMap>(own, static_cast<const unsigned char*>(table->usage_map),
                                                  unsigned(table->map_sz));
    t->m_table = table;
    t->m_name = QString::fromUtf8(entry->object_name);
    t->m_path = m_path;
    t->m_pageCount = m_pageCount;
    for (unsigned int i = 0; i < table->num_cols; ++i) {
        const auto* col = static_cast<const MdbColumn*>(g_ptr_array_index(table->columns, i));
        ColumnInfo info;
        info.name = QString::fromUtf8(col->name);
        info.type = adoType(col->col_type);
        info.nativeType = col->col_type;
        info.size = col->col_type == MDB_TEXT ? col->col_size / 2 : col->col_size;
        info.decimals = col->col_type == MDB_NUMERIC ? col->col_scale : 0;
        t->m_columns << info;
    }
    return t;
}

// ---- JetTable -----------------------------------------------------------------

JetTable::~JetTable() = default;

qint64 JetTable::storedRowCount() const
{
    return m_table ? qint64(m_table->num_rows) : 0;
}

bool JetTable::damaged(DataError& error, const QString& what)
{
    m_ended = true;
    fail(error, JetErr::CannotOpen,
         QStringLiteral("The database '%1' is damaged and cannot be read: %2 (table '%3').")
             .arg(m_path, what, m_name));
    return false;
}

bool JetTable::nextDataPage(DataError& error)
{
    MdbHandle* mdb = m_handle->mdb;
    for (quint32 seen = 0; seen <= m_pageCount; ++seen) {
        const gint32 next = m_handle->map->next(m_table->cur_phys_pg);
        if (next == 0) {
            // The pages the map names hold every row of the table, as many as
            // its definition records; other numbers mean pages out of reach of
            // the map or a damaged count, and a read of part of a table must
            // never pass for the whole.
            if (m_rowsRead != storedRowCount())
                return damaged(error, QStringLiteral("its pages hold %1 rows, its definition records %2")
                                          .arg(m_rowsRead)
                                          .arg(storedRowCount()));
            m_ended = true;
            return false;
        }
        if (next < 0 || guint32(next) <= m_table->cur_phys_pg)
            return damaged(error, QStringLiteral("its usage map cannot be read"));
        if (guint32(next) >= m_pageCount)
            return damaged(error, QStringLiteral("page %1 lies beyond the end of the file").arg(next));
        if (!readDataPage(mdb, guint32(next)))
            return damaged(error, QStringLiteral("page %1 cannot be read").arg(next));
        m_table->cur_phys_pg = guint32(next);
        // A data page the map names that belongs to another table is passed
        // over, as libmdb does (maps may keep a stale bit); a page that is no
        // data page at all is damage.
        if (mdb->pg_buf[0] != kDataPage)
            return damaged(
                error,
                QStringLiteral("page %1, named by the table's usage map, is not a data page").arg(next));
        if (get32(mdb->pg_buf + 4) == m_table->entry->table_pg)
            return true;
    }
    return damaged(error, QStringLiteral("its usage map names more pages than the file has"));
}

CursorBackend::Fetch JetTable::next(QVector<QVariant>* row, DataError& error)
{
    if (m_ended)
        return CursorBackend::Fetch::End;
    MdbHandle* mdb = m_handle->mdb;
    if (!m_started) {
        m_started = true;
        m_row = 0;
        m_table->cur_phys_pg = 0;
        if (!nextDataPage(error))
            return error.isSet() ? CursorBackend::Fetch::Failed : CursorBackend::Fetch::End;
    }
    const unsigned int columnCount = m_table->num_cols;
    MdbField fields[MDB_MAX_COLS];
    if (columnCount > MDB_MAX_COLS) {
        damaged(error, QStringLiteral("the table has more columns than Jet allows"));
        return CursorBackend::Fetch::Failed;
    }
    for (;;) {
        const unsigned int rows = get16(mdb->pg_buf + kRowCountOffset);
        if (m_row >= rows) {
            m_row = 0;
            if (!nextDataPage(error))
                return error.isSet() ? CursorBackend::Fetch::Failed : CursorBackend::Fetch::End;
            continue;
        }
        int start = 0;
        size_t size = 0;
        const int found = mdb_find_row(mdb, int(m_row), &start, &size);
        ++m_row;
        if (found != 0 || size == 0 || (start & kRowDeleted))
            continue;
        start &= kRowOffsetMask;
        ++m_rowsRead;
        if (mdb_crack_row(m_table, start, size, fields) < 0) {
            damaged(
                error,
                QStringLiteral("row %1 of page %2 cannot be read").arg(m_row - 1).arg(m_table->cur_phys_pg));
            return CursorBackend::Fetch::Failed;
        }
        if (!row)
            return CursorBackend::Fetch::Row;
        row->resize(int(columnCount));
        for (unsigned int i = 0; i < columnCount; ++i) {
            const MdbField& f = fields[i];
            if (!decodeField(f.colnum, f.is_null, f.start, f.siz, (*row)[int(i)], error))
                return CursorBackend::Fetch::Failed;
        }
        return CursorBackend::Fetch::Row;
    }
}

bool JetTable::decodeField(int column, bool isNull, int start, int size, QVariant& value, DataError& error)
{
    MdbHandle* mdb = m_handle->mdb;
    const auto* col = static_cast<const MdbColumn*>(g_ptr_array_index(m_table->columns, column));
    const int type = col->col_type;
    if (type == MDB_BOOL) {
        // A yes/no value is its bit in the null mask: set means yes.
        value = QVariant(!isNull);
        return true;
    }
    if (isNull) {
        value = QVariant();
        return true;
    }
    const int needed = fixedSize(type);
    if (start < 0 || size < needed || start + size > kPageSize)
        return damaged(
            error,
            QStringLiteral("a value of column '%1' lies outside its row").arg(QString::fromUtf8(col->name)));
    const unsigned char* p = mdb->pg_buf + start;
    switch (type) {
    case MDB_BYTE:
        value = QVariant(int(p[0]));
        return true;
    case MDB_INT:
        value = QVariant(int(qint16(get16(p))));
        return true;
    case MDB_LONGINT:
        value = QVariant(int(qint32(get32(p))));
        return true;
    case MDB_MONEY:
        value = QVariant(currencyText(get64(p)));
        return true;
    case MDB_FLOAT:
        value = QVariant(getFloat(p));
        return true;
    case MDB_DOUBLE:
        value = QVariant(getDouble(p));
        return true;
    case MDB_DATETIME: {
        const QDateTime at = oleDateToDateTime(getDouble(p));
        if (!at.isValid())
            return damaged(error, QStringLiteral("a date of column '%1' is outside the years 100 to 9999")
                                      .arg(QString::fromUtf8(col->name)));
        value = QVariant(at);
        return true;
    }
    case MDB_TEXT:
        value = QVariant(decodeJetText(reinterpret_cast<const char*>(p), size));
        return true;
    case MDB_BINARY:
        value = QVariant(QByteArray(reinterpret_cast<const char*>(p), size));
        return true;
    case MDB_REPID:
        value = QVariant(guidText(p));
        return true;
    case MDB_NUMERIC: {
        char* text = mdb_numeric_to_string(mdb, start, col->col_scale, col->col_prec);
        value = QVariant(QString::fromUtf8(text));
        g_free(text);
        return true;
    }
    case MDB_MEMO:
    case MDB_OLE: {
        QByteArray bytes;
        if (!readLongValue(start, size, bytes, error))
            return false;
        if (type == MDB_MEMO)
            value = QVariant(decodeJetText(bytes.constData(), int(bytes.size())));
        else
            value = QVariant(bytes);
        return true;
    }
    default:
        value = QVariant(QByteArray(reinterpret_cast<const char*>(p), size));
        return true;
    }
}

bool JetTable::readLongValue(int start, int size, QByteArray& bytes, DataError& error)
{
    MdbHandle* mdb = m_handle->mdb;
    if (size < kLongValueHead)
        return damaged(error, QStringLiteral("a memo value is cut short"));
    const unsigned char* head = mdb->pg_buf + start;
    const quint32 word = get32(head);
    const qint64 length = word & 0xFFFFFF;
    const quint32 flags = word >> 24;
    if (flags & kLongValueInline) {
        bytes = QByteArray(reinterpret_cast<const char*>(head + kLongValueHead), size - kLongValueHead);
        return true;
    }

    // One row of a long-value page, checked to lie in the file on such a page.
    auto lvalRow = [&](quint32 pgRow, const unsigned char** data, size_t* rowSize) {
        const quint32 page = pgRow >> 8;
        if (page < 3 || page >= m_pageCount)
            return damaged(error,
                           QStringLiteral("a memo value points to page %1, outside the file").arg(page));
        void* buf = nullptr;
        int offset = 0;
        if (mdb_find_pg_row(mdb, int(pgRow), &buf, &offset, rowSize) != 0)
            return damaged(error,
                           QStringLiteral("a memo value points to a missing row of page %1").arg(page));
        const auto* pageBytes = static_cast<const unsigned char*>(buf);
        if (pageBytes[0] != kDataPage || std::memcmp(pageBytes + 4, "LVAL", 4) != 0)
            return damaged(
                error, QStringLiteral("a memo value points to page %1, which holds no memo data").arg(page));
        *data = pageBytes + offset;
        return true;
    };

    const quint32 first = get32(head + 4);
    if (flags & kLongValueOnePage) {
        const unsigned char* data = nullptr;
        size_t rowSize = 0;
        if (!lvalRow(first, &data, &rowSize))
            return false;
        bytes =
            QByteArray(reinterpret_cast<const char*>(data), qsizetype(qMin<qint64>(qint64(rowSize), length)));
        return true;
    }
    if (flags != 0)
        return damaged(
            error, QStringLiteral("a memo value has unknown flags %1").arg(flags, 2, 16, QLatin1Char('0')));

    // A chain of rows, each beginning with the pointer to the next.
    bytes.clear();
    bytes.reserve(length);
    quint32 pgRow = first;
    for (quint32 hops = 0; bytes.size() < length; ++hops) {
        if (pgRow == 0 || hops > m_pageCount)
            return damaged(error, QStringLiteral("a memo value ends before its length"));
        const unsigned char* data = nullptr;
        size_t rowSize = 0;
        if (!lvalRow(pgRow, &data, &rowSize))
            return false;
        if (rowSize < 4)
            return damaged(error, QStringLiteral("a memo value has an empty part"));
        const qint64 take = qMin<qint64>(qint64(rowSize) - 4, length - bytes.size());
        bytes.append(reinterpret_cast<const char*>(data + 4), qsizetype(take));
        pgRow = get32(data);
    }
    return true;
}

} // namespace ov
