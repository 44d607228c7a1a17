#include "jet/writer/Writer.h"

#include "jet/writer/JetEncoding.h"

#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

namespace jet {

using namespace detail;

namespace {

// Pages 0 to 2 have fixed roles: the database header, the database-wide usage
// map, and the table definition of the catalog.
constexpr quint32 kHeaderPage = 0;
constexpr quint32 kGlobalMapPage = 1;
constexpr quint32 kCatalogPage = 2;

// Owner field of long-value pages: the bytes "LVAL".
constexpr quint32 kLvalOwner = 0x4C41564Cu;
// Access writes this number after the length of every table definition and
// repeats it in every column entry.
constexpr quint32 kTdefMagic = 1625;
// Sort order "General" (1033), version 0.
constexpr quint16 kSortOrderGeneral = 0x0409;
constexpr quint16 kCodePage = 1252;

constexpr int kTdefHeaderSize = 63;
constexpr int kColumnEntrySize = 25;

// Usage maps are rows of 69 bytes: a type byte, then either a start page and a
// 64-byte bitmap (type 0, 512 pages), or 17 pointers to usage-map pages of
// type 0x05 (type 1), each a bitmap of the pages in its range of 32736.
constexpr int kMapBitmapBytes = 64;
constexpr int kMapRowSize = 1 + 4 + kMapBitmapBytes;
constexpr int kMapPagePointers = (kMapRowSize - 1) / 4;
constexpr quint32 kPagesPerMapPage = (kPageSize - 4) * 8;

// Identifiers of the catalog's fixed rows.
constexpr qint32 kContainerRoot = 0x0F000000;
constexpr qint32 kTablesContainer = 0x0F000001;
constexpr qint32 kDatabasesContainer = 0x0F000002;
constexpr qint32 kRelationshipsContainer = 0x0F000003;
constexpr qint32 kMSysDbId = 0x10000000;
constexpr qint32 kSystemObjectFlag = qint32(0x80000000u);

// A data page (or long-value page) being filled. Rows are packed downwards
// from the end of the page; each row's start goes into the offset table after
// the header, so row n ends where row n-1 starts.
class RowPage
{
public:
    explicit RowPage(quint32 owner) : m_bytes(kPageSize, '\0')
    {
        m_bytes[0] = 0x01;
        m_bytes[1] = 0x01;
        put32(m_bytes.data() + 4, owner);
    }
    int rowCount() const { return m_rows; }
    int freeSpace() const { return m_top - (kDataPageHeader + 2 * m_rows); }
    bool fits(int length) const { return m_rows < kMaxRowsPerPage && freeSpace() >= length + 2; }
    int add(const QByteArray& row)
    {
        m_top -= int(row.size());
        std::memcpy(m_bytes.data() + m_top, row.constData(), size_t(row.size()));
        put16(m_bytes.data() + kDataPageHeader + 2 * m_rows, quint32(m_top));
        return m_rows++;
    }
    QByteArray finished() const
    {
        QByteArray page = m_bytes;
        put16(page.data() + 2, quint32(freeSpace()));
        put16(page.data() + 12, quint32(m_rows));
        return page;
    }

private:
    QByteArray m_bytes;
    int m_top = kPageSize;
    int m_rows = 0;
};

quint32 pageRow(quint32 page, int row)
{
    return (page << 8) | quint32(row);
}

// The file being written: pages are numbered as they are handed out and
// written in any order into a temporary file that commit() renames over the
// target.
class PageFile
{
public:
    explicit PageFile(const QString& path) : m_file(path) {}

    quint32 allocate() { return m_next++; }
    quint32 pageCount() const { return m_next; }
    // Hands out page next; the pages before it that were not handed out are
    // never written, a hole in the file that reads as zeros.
    void skipTo(quint32 page)
    {
        Q_ASSERT(page >= m_next);
        m_skipped += page - m_next;
        m_next = page;
    }

    bool write(quint32 page, const QByteArray& bytes, QString* error)
    {
        Q_ASSERT(bytes.size() == kPageSize && page < m_next);
        if (page >= kMaxPages) {
            *error = QStringLiteral("the database would exceed 2 GiB");
            return false;
        }
        if (!m_file.isOpen() && !m_file.open(QIODevice::WriteOnly)) {
            *error = QStringLiteral("cannot create %1: %2").arg(m_file.fileName(), m_file.errorString());
            return false;
        }
        if (!m_file.seek(qint64(page) * kPageSize) || m_file.write(bytes) != kPageSize) {
            *error = QStringLiteral("cannot write %1: %2").arg(m_file.fileName(), m_file.errorString());
            return false;
        }
        ++m_written;
        return true;
    }

    bool commit(QString* error)
    {
        // Every page handed out is written exactly once.
        Q_ASSERT(m_written + m_skipped == m_next);
        if (!m_file.commit()) {
            *error = QStringLiteral("cannot write %1: %2").arg(m_file.fileName(), m_file.errorString());
            return false;
        }
        return true;
    }

private:
    QSaveFile m_file;
    quint32 m_next = 0;
    quint32 m_written = 0;
    quint32 m_skipped = 0;
};

// The pages of one long-value column, and the page its short values are
// being gathered on.
struct LongValueStore
{
    std::vector<quint32> pages;
    std::optional<RowPage> current;
    quint32 currentPage = 0;
    quint32 ownedMap = 0;
    quint32 freeMap = 0;
};

struct ColumnDef
{
    QString name;
    quint8 type = 0;
    quint16 length = 0; // bytes; 0 for long values
    int textChars = 0;
    bool fixed = false;
    bool longValue = false;
    bool compressible = false;
    quint16 fixedOffset = 0;
    quint16 varIndex = 0;
    int longValueIndex = -1;
};

struct Table
{
    QString name;
    bool system = false;
    quint32 tdefPage = 0;
    std::vector<ColumnDef> columns;
    int fixedSize = 0;
    int varCount = 0;
    quint32 rowCount = 0;
    std::vector<quint32> dataPages;
    std::optional<RowPage> current;
    quint32 currentPage = 0;
    std::vector<LongValueStore> longValues;
    quint32 ownedMap = 0;
    quint32 freeMap = 0;
};

ColumnDef columnDef(const Column& c)
{
    ColumnDef d;
    d.name = c.name;
    d.fixed = true;
    switch (c.type) {
    case ColumnType::Bool:
        d.type = kTypeBool;
        d.length = 1;
        break;
    case ColumnType::Byte:
        d.type = kTypeByte;
        d.length = 1;
        break;
    case ColumnType::Integer:
        d.type = kTypeInt;
        d.length = 2;
        break;
    case ColumnType::Long:
        d.type = kTypeLong;
        d.length = 4;
        break;
    case ColumnType::Currency:
        d.type = kTypeMoney;
        d.length = 8;
        break;
    case ColumnType::Single:
        d.type = kTypeFloat;
        d.length = 4;
        break;
    case ColumnType::Double:
        d.type = kTypeDouble;
        d.length = 8;
        break;
    case ColumnType::DateTime:
        d.type = kTypeDateTime;
        d.length = 8;
        break;
    case ColumnType::Text:
        d.type = kTypeText;
        d.textChars = c.textLength;
        d.length = quint16(2 * c.textLength);
        d.fixed = false;
        d.compressible = true;
        break;
    case ColumnType::Memo:
        d.type = kTypeMemo;
        d.fixed = false;
        d.longValue = true;
        d.compressible = true;
        break;
    }
    return d;
}

// Fixed columns take their place in column order (yes/no columns live in the
// null mask and take none); variable columns are numbered in column order,
// long values after the others, as Access does.
void layOut(Table& t)
{
    int fixedOffset = 0;
    int varIndex = 0;
    for (ColumnDef& c : t.columns) {
        if (c.fixed && c.type != kTypeBool) {
            c.fixedOffset = quint16(fixedOffset);
            fixedOffset += c.length;
        } else if (!c.fixed && !c.longValue) {
            c.varIndex = quint16(varIndex++);
        }
    }
    for (ColumnDef& c : t.columns) {
        if (c.longValue) {
            c.varIndex = quint16(varIndex++);
            c.longValueIndex = int(t.longValues.size());
            t.longValues.emplace_back();
        }
    }
    t.fixedSize = fixedOffset;
    t.varCount = varIndex;
}

// Access refuses these in object names.
bool validName(const QString& name, QString* error, const char* what)
{
    if (name.isEmpty() || name.size() > 64) {
        *error = QStringLiteral("%1 name '%2' must have 1 to 64 characters").arg(QLatin1String(what), name);
        return false;
    }
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c == QLatin1Char('.') || c == QLatin1Char('!') || c == QLatin1Char('`') ||
            c == QLatin1Char('[') || c == QLatin1Char(']')) {
            *error = QStringLiteral("%1 name '%2' may not contain . ! ` [ ] or control characters")
                         .arg(QLatin1String(what), name);
            return false;
        }
    }
    if (name.startsWith(QLatin1Char(' '))) {
        *error = QStringLiteral("%1 name '%2' may not begin with a space").arg(QLatin1String(what), name);
        return false;
    }
    return true;
}

QByteArray ucs2(const QString& s)
{
    QByteArray b(2 * s.size(), Qt::Uninitialized);
    for (int i = 0; i < s.size(); ++i)
        put16(b.data() + 2 * i, s[i].unicode());
    return b;
}

} // namespace

struct Writer::Impl
{
    explicit Impl(const QString& path) : file(path) {}

    PageFile file;
    QString password;
    QDateTime created = QDateTime::currentDateTime();
    std::vector<Table> tables; // [0] is the catalog
    QString error;
    bool saved = false;

    bool fail(const QString& message)
    {
        if (error.isEmpty())
            error = message;
        return false;
    }

    Table* find(const QString& name)
    {
        for (Table& t : tables)
            if (t.name.compare(name, Qt::CaseInsensitive) == 0)
                return &t;
        return nullptr;
    }

    void addCatalogTable();
    std::optional<QByteArray> encodeRow(Table& t, const QList<Value>& values, QString* why);
    QByteArray longValueField(LongValueStore& store, const QByteArray& data, bool inRow, QString* why);
    bool placeRow(Table& t, const QByteArray& row);
    bool flushDataPage(Table& t);
    bool flushLongValuePage(LongValueStore& store);
    bool addCatalogRows();
    std::optional<QByteArray> usageMap(const std::vector<quint32>& pages);
    bool writeUsageMaps();
    bool writeTableDefinition(const Table& t);
    bool writeGlobalMap();
    bool writeHeader();
};

void Writer::Impl::addCatalogTable()
{
    struct Spec
    {
        const char* name;
        quint8 type;
        quint16 length;
    };
    // The catalog's columns as Access defines them.
    static const Spec specs[] = {
        {"Id", kTypeLong, 4},
        {"ParentId", kTypeLong, 4},
        {"Name", kTypeText, 510},
        {"Type", kTypeInt, 2},
        {"DateCreate", kTypeDateTime, 8},
        {"DateUpdate", kTypeDateTime, 8},
        {"Owner", kTypeBinary, 510},
        {"Flags", kTypeLong, 4},
        {"Database", kTypeMemo, 0},
        {"Connect", kTypeMemo, 0},
        {"ForeignName", kTypeText, 510},
        {"RmtInfoShort", kTypeBinary, 510},
        {"RmtInfoLong", kTypeOle, 0},
        {"Lv", kTypeOle, 0},
        {"LvProp", kTypeOle, 0},
        {"LvModule", kTypeOle, 0},
        {"LvExtra", kTypeOle, 0},
    };
    Table t;
    t.name = QStringLiteral("MSysObjects");
    t.system = true;
    t.tdefPage = kCatalogPage;
    for (const Spec& s : specs) {
        ColumnDef c;
        c.name = QString::fromLatin1(s.name);
        c.type = s.type;
        c.length = s.length;
        c.textChars = s.length / 2;
        c.fixed = s.type != kTypeText && s.type != kTypeMemo && s.type != kTypeBinary && s.type != kTypeOle;
        c.longValue = s.type == kTypeMemo || s.type == kTypeOle;
        t.columns.push_back(c);
    }
    layOut(t);
    tables.push_back(std::move(t));
}

// Encodes one row: the column count, the fixed-length area, the variable
// data, then (when the table has variable columns) the end-of-data offset,
// the variable columns' offsets last to first and their count, and finally
// the null mask, one bit per column, set when the value is present (for
// yes/no columns, set when true).
std::optional<QByteArray> Writer::Impl::encodeRow(Table& t, const QList<Value>& values, QString* why)
{
    const int n = int(t.columns.size());
    if (values.size() != n) {
        *why = QStringLiteral("table %1 has %2 columns, the row has %3 values")
                   .arg(t.name)
                   .arg(n)
                   .arg(values.size());
        return std::nullopt;
    }
    QByteArray fixed(t.fixedSize, '\0');
    QByteArray nullMask((n + 7) / 8, '\0');
    std::vector<QByteArray> var(size_t(t.varCount));
    // Long values wait until the row is known to fit.
    std::vector<std::pair<int, QByteArray>> longValues;

    for (int i = 0; i < n; ++i) {
        const ColumnDef& c = t.columns[size_t(i)];
        const Value& v = values[i];
        const bool isNull = !v.isValid() || v.isNull();
        const auto markPresent = [&] { nullMask[i / 8] = char(nullMask[i / 8] | (1 << (i % 8))); };
        if (c.type == kTypeBool) {
            if (!isNull && v.toBool())
                markPresent();
            continue;
        }
        if (isNull)
            continue;
        markPresent();

        QString reason;
        char* slot = fixed.data() + c.fixedOffset;
        bool ok = true;
        switch (c.type) {
        case kTypeByte:
        case kTypeInt:
        case kTypeLong: {
            const qint64 min = c.type == kTypeByte ? 0 : c.type == kTypeInt ? -32768 : qint64(INT32_MIN);
            const qint64 max = c.type == kTypeByte ? 255 : c.type == kTypeInt ? 32767 : qint64(INT32_MAX);
            qint64 x = 0;
            ok = toInteger(v, min, max, &x, &reason);
            if (ok) {
                if (c.type == kTypeByte)
                    slot[0] = char(x);
                else if (c.type == kTypeInt)
                    put16(slot, quint32(x) & 0xFFFF);
                else
                    put32(slot, quint32(x));
            }
            break;
        }
        case kTypeMoney: {
            qint64 x = 0;
            ok = toCurrency(v, &x, &reason);
            if (ok)
                put64(slot, quint64(x));
            break;
        }
        case kTypeFloat:
        case kTypeDouble: {
            double x = 0;
            ok = toReal(v, &x, &reason);
            if (ok && c.type == kTypeFloat && std::isfinite(x) &&
                std::fabs(x) > std::numeric_limits<float>::max()) {
                ok = false;
                reason = QStringLiteral("%1 is outside the range of Single").arg(x);
            }
            if (ok && c.type == kTypeFloat)
                putFloat(slot, float(x));
            else if (ok)
                putDouble(slot, x);
            break;
        }
        case kTypeDateTime: {
            double x = 0;
            ok = toOleDate(v, &x, &reason);
            if (ok)
                putDouble(slot, x);
            break;
        }
        case kTypeText:
        case kTypeMemo: {
            const QString s = v.toString();
            if (c.type == kTypeText && s.size() > c.textChars) {
                ok = false;
                reason = QStringLiteral("the text has %1 characters, the column holds %2")
                             .arg(s.size())
                             .arg(c.textChars);
                break;
            }
            const bool compress =
                c.compressible && (c.type == kTypeText || s.size() <= kMaxCompressedMemoChars);
            const std::optional<QByteArray> bytes = encodeText(s, compress);
            if (!bytes) {
                ok = false;
                reason = QStringLiteral(
                    "a text that begins with U+FEFF and holds a character U+xx00 cannot be stored");
            } else if (bytes->size() > kMaxMemoBytes) {
                ok = false;
                reason = QStringLiteral("the memo has %1 bytes, at most %2 fit")
                             .arg(bytes->size())
                             .arg(kMaxMemoBytes);
            } else if (c.longValue) {
                longValues.emplace_back(i, *bytes);
            } else {
                var[c.varIndex] = *bytes;
            }
            break;
        }
        default:
            // The catalog's binary and OLE columns are always left empty.
            ok = false;
            reason = QStringLiteral("values of this column are not supported");
            break;
        }
        if (!ok) {
            *why = QStringLiteral("table %1, column %2: %3").arg(t.name, c.name, reason);
            return std::nullopt;
        }
    }

    // A long value takes a 12-byte field in the row, followed by its data if
    // it is short and the row has room for it.
    const int trailer = t.varCount > 0 ? 2 + 2 * t.varCount + 2 : 0;
    int size = 2 + t.fixedSize + trailer + int(nullMask.size());
    for (const QByteArray& b : var)
        size += int(b.size());
    size += 12 * int(longValues.size());
    std::vector<bool> inRow(longValues.size(), false);
    for (size_t k = 0; k < longValues.size(); ++k) {
        const int extra = int(longValues[k].second.size());
        if (extra <= kMaxInlineMemo && size + extra <= kMaxRowSize) {
            inRow[k] = true;
            size += extra;
        }
    }
    if (size > kMaxRowSize) {
        *why = QStringLiteral("table %1: the row needs %2 bytes, a row holds at most %3")
                   .arg(t.name)
                   .arg(size)
                   .arg(kMaxRowSize);
        return std::nullopt;
    }
    for (size_t k = 0; k < longValues.size(); ++k) {
        const ColumnDef& c = t.columns[size_t(longValues[k].first)];
        var[c.varIndex] =
            longValueField(t.longValues[size_t(c.longValueIndex)], longValues[k].second, inRow[k], why);
        if (var[c.varIndex].isEmpty())
            return std::nullopt;
    }

    QByteArray row;
    row.reserve(size);
    row.append(2, '\0');
    put16(row.data(), quint32(n));
    row.append(fixed);
    if (t.varCount > 0) {
        std::vector<quint16> offsets(size_t(t.varCount));
        for (int k = 0; k < t.varCount; ++k) {
            offsets[size_t(k)] = quint16(row.size());
            row.append(var[size_t(k)]);
        }
        QByteArray tail(2 + 2 * t.varCount + 2, '\0');
        put16(tail.data(), quint32(row.size()));
        for (int k = 0; k < t.varCount; ++k)
            put16(tail.data() + 2 + 2 * k, offsets[size_t(t.varCount - 1 - k)]);
        put16(tail.data() + 2 + 2 * t.varCount, quint32(t.varCount));
        row.append(tail);
    }
    row.append(nullMask);
    Q_ASSERT(row.size() == size);
    return row;
}

// The 12-byte field of a long value: its length in 24 bits, a flag byte (0x80
// data follows in the row, 0x40 data is one row of a long-value page, 0x00
// data is a chain of rows), the page/row of that data, and 4 unused bytes.
// A chain row starts with the page/row of the next one (0 at the end).
QByteArray Writer::Impl::longValueField(LongValueStore& store, const QByteArray& data, bool inRow,
                                        QString* why)
{
    QByteArray field(12, '\0');
    const quint32 length = quint32(data.size());
    if (inRow) {
        put32(field.data(), length | 0x80000000u);
        field.append(data);
        return field;
    }
    if (data.size() <= kMaxLvalData) {
        if (!store.current || !store.current->fits(int(data.size()))) {
            if (!flushLongValuePage(store)) {
                *why = error;
                return QByteArray();
            }
            store.currentPage = file.allocate();
            store.pages.push_back(store.currentPage);
            store.current.emplace(kLvalOwner);
        }
        const int row = store.current->add(data);
        put32(field.data(), length | 0x40000000u);
        put32(field.data() + 4, pageRow(store.currentPage, row));
        return field;
    }
    const int pieces = int((data.size() + kMaxLvalData - 1) / kMaxLvalData);
    std::vector<quint32> chain;
    for (int k = 0; k < pieces; ++k) {
        chain.push_back(file.allocate());
        store.pages.push_back(chain.back());
    }
    for (int k = 0; k < pieces; ++k) {
        QByteArray row(4, '\0');
        put32(row.data(), k + 1 < pieces ? pageRow(chain[size_t(k + 1)], 0) : 0);
        row.append(data.mid(qsizetype(k) * kMaxLvalData, kMaxLvalData));
        RowPage page(kLvalOwner);
        page.add(row);
        QString reason;
        if (!file.write(chain[size_t(k)], page.finished(), &reason)) {
            fail(reason);
            *why = reason;
            return QByteArray();
        }
    }
    put32(field.data(), length);
    put32(field.data() + 4, pageRow(chain.front(), 0));
    return field;
}

bool Writer::Impl::flushLongValuePage(LongValueStore& store)
{
    if (!store.current)
        return true;
    QString reason;
    if (!file.write(store.currentPage, store.current->finished(), &reason))
        return fail(reason);
    store.current.reset();
    return true;
}

bool Writer::Impl::flushDataPage(Table& t)
{
    if (!t.current)
        return true;
    QString reason;
    if (!file.write(t.currentPage, t.current->finished(), &reason))
        return fail(reason);
    t.current.reset();
    return true;
}

// A full page goes to disk at once; only the page being filled stays in memory.
bool Writer::Impl::placeRow(Table& t, const QByteArray& row)
{
    if (!t.current || !t.current->fits(int(row.size()))) {
        if (!flushDataPage(t))
            return false;
        t.currentPage = file.allocate();
        t.dataPages.push_back(t.currentPage);
        t.current.emplace(t.tdefPage);
    }
    t.current->add(row);
    ++t.rowCount;
    return true;
}

// The catalog rows readers need: the containers, the database object, the
// catalog itself, and one row per user table whose Id is the page of its
// table definition.
bool Writer::Impl::addCatalogRows()
{
    const QVariant date(created);
    const auto row = [&](qint32 id, qint32 parent, const char* name, qint16 type, qint32 flags) {
        return QList<Value>{id,         parent,     QString::fromUtf8(name),
                            type,       date,       date,
                            QVariant(), flags,      {},
                            {},         {},         {},
                            QVariant(), QVariant(), QVariant(),
                            QVariant(), QVariant()};
    };
    std::vector<QList<Value>> rows = {
        row(kTablesContainer, kContainerRoot, "Tables", 3, kSystemObjectFlag),
        row(kDatabasesContainer, kContainerRoot, "Databases", 3, kSystemObjectFlag),
        row(kRelationshipsContainer, kContainerRoot, "Relationships", 3, kSystemObjectFlag),
        row(kMSysDbId, kDatabasesContainer, "MSysDb", 2, kSystemObjectFlag),
        row(qint32(kCatalogPage), kTablesContainer, "MSysObjects", 1, kSystemObjectFlag),
    };
    for (size_t i = 1; i < tables.size(); ++i) {
        QList<Value> r = row(qint32(tables[i].tdefPage), kTablesContainer, "", 1, 0);
        r[2] = tables[i].name;
        rows.push_back(r);
    }
    Table& catalog = tables.front();
    for (const QList<Value>& r : rows) {
        QString why;
        const std::optional<QByteArray> bytes = encodeRow(catalog, r, &why);
        if (!bytes)
            return fail(why);
        if (!placeRow(catalog, *bytes))
            return false;
    }
    return flushDataPage(catalog);
}

// A usage-map row for the given pages (ascending): inline when they fall in a
// span of 512 pages, else by reference to 0x05 pages, which are written here.
std::optional<QByteArray> Writer::Impl::usageMap(const std::vector<quint32>& pages)
{
    QByteArray map(kMapRowSize, '\0');
    if (pages.empty())
        return map;
    const quint32 start = pages.front() & ~7u;
    if (pages.back() - start < kMapBitmapBytes * 8) {
        map[0] = 0x00;
        put32(map.data() + 1, start);
        for (const quint32 p : pages)
            map[5 + int((p - start) / 8)] = char(map[5 + int((p - start) / 8)] | (1 << ((p - start) % 8)));
        return map;
    }
    map[0] = 0x01;
    std::vector<QByteArray> bitmaps(kMapPagePointers);
    for (const quint32 p : pages) {
        const quint32 index = p / kPagesPerMapPage;
        if (index >= quint32(kMapPagePointers)) {
            fail(QStringLiteral("the database would exceed 2 GiB"));
            return std::nullopt;
        }
        QByteArray& bitmap = bitmaps[index];
        if (bitmap.isEmpty()) {
            bitmap = QByteArray(kPageSize, '\0');
            bitmap[0] = 0x05;
            bitmap[1] = 0x01;
        }
        const quint32 bit = p % kPagesPerMapPage;
        bitmap[4 + int(bit / 8)] = char(bitmap[4 + int(bit / 8)] | (1 << (bit % 8)));
    }
    for (int i = 0; i < kMapPagePointers; ++i) {
        if (bitmaps[size_t(i)].isEmpty())
            continue;
        const quint32 page = file.allocate();
        QString reason;
        if (!file.write(page, bitmaps[size_t(i)], &reason)) {
            fail(reason);
            return std::nullopt;
        }
        put32(map.data() + 1 + 4 * i, page);
    }
    return map;
}

// Every table has a map of the data pages it owns and one of those with room
// for more rows; every long-value column has the same two for its pages. The
// map rows go onto data pages of their own (owner 0).
bool Writer::Impl::writeUsageMaps()
{
    std::optional<RowPage> page;
    quint32 pageNumber = 0;
    QString reason;
    const auto place = [&](const std::vector<quint32>& pages, quint32* pointer) {
        const std::optional<QByteArray> map = usageMap(pages);
        if (!map)
            return false;
        if (!page || !page->fits(int(map->size()))) {
            if (page && !file.write(pageNumber, page->finished(), &reason))
                return fail(reason);
            pageNumber = file.allocate();
            page.emplace(0);
        }
        *pointer = pageRow(pageNumber, page->add(*map));
        return true;
    };
    for (Table& t : tables) {
        std::vector<quint32> withRoom;
        if (!t.dataPages.empty())
            withRoom.push_back(t.dataPages.back());
        if (!place(t.dataPages, &t.ownedMap) || !place(withRoom, &t.freeMap))
            return false;
        for (LongValueStore& store : t.longValues) {
            std::vector<quint32> pages = store.pages;
            std::sort(pages.begin(), pages.end());
            withRoom.clear();
            if (store.currentPage != 0)
                withRoom.push_back(store.currentPage);
            if (!place(pages, &store.ownedMap) || !place(withRoom, &store.freeMap))
                return false;
        }
    }
    if (page && !file.write(pageNumber, page->finished(), &reason))
        return fail(reason);
    return true;
}

// The table definition: a 63-byte header, a 25-byte entry per column, the
// column names (2-byte length, UCS-2), the usage maps of the long-value
// columns, and an end marker 0xFFFF. A definition longer than a page goes on
// in further pages, each with an 8-byte header and the next page's number
// in the previous one.
bool Writer::Impl::writeTableDefinition(const Table& t)
{
    QByteArray def(kTdefHeaderSize, '\0');
    char* h = def.data();
    h[0] = 0x02;
    h[1] = 0x01;
    put32(h + 12, kTdefMagic);
    put32(h + 16, t.rowCount);
    h[24] = 0x01; // makes autonumbers work in Access
    h[40] = t.system ? 0x53 : 0x4E;
    const int n = int(t.columns.size());
    put16(h + 41, quint32(n));
    put16(h + 43, quint32(t.varCount));
    put16(h + 45, quint32(n));
    put32(h + 55, t.ownedMap);
    put32(h + 59, t.freeMap);

    for (int i = 0; i < n; ++i) {
        const ColumnDef& c = t.columns[size_t(i)];
        char e[kColumnEntrySize] = {};
        e[0] = char(c.type);
        put32(e + 1, kTdefMagic);
        put16(e + 5, quint32(i));
        put16(e + 7, c.fixed ? 0 : c.varIndex);
        put16(e + 9, quint32(i));
        if (c.type == kTypeText || c.type == kTypeMemo)
            put16(e + 11, kSortOrderGeneral);
        e[15] = char((c.fixed ? 0x01 : 0x00) | 0x02);
        e[16] = char(c.compressible ? 0x01 : 0x00);
        put16(e + 21, c.fixed ? c.fixedOffset : 0);
        put16(e + 23, c.length);
        def.append(e, kColumnEntrySize);
    }
    for (const ColumnDef& c : t.columns) {
        const QByteArray name = ucs2(c.name);
        char len[2];
        put16(len, quint32(name.size()));
        def.append(len, 2);
        def.append(name);
    }
    for (int i = 0; i < n; ++i) {
        const ColumnDef& c = t.columns[size_t(i)];
        if (!c.longValue)
            continue;
        const LongValueStore& store = t.longValues[size_t(c.longValueIndex)];
        char entry[10];
        put16(entry, quint32(i));
        put32(entry + 2, store.ownedMap);
        put32(entry + 6, store.freeMap);
        def.append(entry, 10);
    }
    def.append(2, '\xFF');
    put32(def.data() + 8, quint32(def.size()));

    // The first page holds 4096 bytes of the definition, each further one 4088.
    QString reason;
    quint32 page = t.tdefPage;
    qsizetype pos = 0;
    while (true) {
        const int header = pos == 0 ? 0 : 8;
        QByteArray bytes(kPageSize, '\0');
        const qsizetype take = std::min<qsizetype>(kPageSize - header, def.size() - pos);
        std::memcpy(bytes.data() + header, def.constData() + pos, size_t(take));
        pos += take;
        bytes[0] = 0x02;
        bytes[1] = 0x01;
        put16(bytes.data() + 2, quint32(std::max(0, kPageSize - header - int(take) - 8)));
        const quint32 next = pos < def.size() ? file.allocate() : 0;
        put32(bytes.data() + 4, next);
        if (!file.write(page, bytes, &reason))
            return fail(reason);
        if (next == 0)
            return true;
        page = next;
    }
}

// Page 1 is a data page of two usage-map rows; the first marks the free
// pages, which for a freshly written file are those past its end.
bool Writer::Impl::writeGlobalMap()
{
    QByteArray freePages(kMapRowSize, '\0');
    for (quint32 p = file.pageCount(); p < kMapBitmapBytes * 8; ++p)
        freePages[5 + int(p / 8)] = char(freePages[5 + int(p / 8)] | (1 << (p % 8)));
    RowPage page(kGlobalMapPage);
    page.add(freePages);
    page.add(QByteArray(kMapRowSize, '\0'));
    QString reason;
    if (!file.write(kGlobalMapPage, page.finished(), &reason))
        return fail(reason);
    return true;
}

// Page 0: the signature and version, then 128 bytes masked with RC4 under a
// fixed key, holding the code page, the page-encryption key (0: none), the
// password, the sort order and the creation date. The password is UCS-2 in 40
// bytes, XORed with the integer part of the creation date (4 bytes, repeated).
bool Writer::Impl::writeHeader()
{
    QByteArray page(kPageSize, '\0');
    char* p = page.data();
    p[1] = 0x01;
    std::memcpy(p + 4, "Standard Jet DB", 15);
    p[0x14] = 0x01; // Jet 4
    put16(p + 0x3C, kCodePage);
    put32(p + 0x3E, 0);
    const double createdOle = oleDate(created.date(), created.time());
    QByteArray pw = ucs2(password).leftJustified(40, '\0');
    char mask[4];
    put32(mask, quint32(qint32(createdOle)));
    for (int i = 0; i < 40; ++i)
        pw[i] = char(pw[i] ^ mask[i % 4]);
    std::memcpy(p + 0x42, pw.constData(), 40);
    put16(p + 0x6E, kSortOrderGeneral);
    putDouble(p + 0x72, createdOle);
    rc4(QByteArray("\xC7\xDA\x39\x6B", 4), p + 0x18, 128);
    QString reason;
    if (!file.write(kHeaderPage, page, &reason))
        return fail(reason);
    return true;
}

Writer::Writer(QString path) : d(std::make_unique<Impl>(path))
{
    d->file.allocate(); // kHeaderPage
    d->file.allocate(); // kGlobalMapPage
    d->file.allocate(); // kCatalogPage
    d->addCatalogTable();
}

Writer::~Writer() = default;

void Writer::setPassword(const QString& pw)
{
    d->password = pw;
}

void Writer::setCreationDate(const QDateTime& date)
{
    d->created = date;
}

bool Writer::addTable(const QString& name, const QList<Column>& columns)
{
    QString why;
    if (d->saved)
        return d->fail(QStringLiteral("the database is already saved"));
    if (!validName(name, &why, "table"))
        return d->fail(why);
    if (d->find(name))
        return d->fail(QStringLiteral("table %1 already exists").arg(name));
    if (columns.isEmpty() || columns.size() > 255)
        return d->fail(QStringLiteral("table %1 must have 1 to 255 columns").arg(name));
    Table t;
    t.name = name;
    for (const Column& c : columns) {
        if (!validName(c.name, &why, "column"))
            return d->fail(QStringLiteral("table %1: %2").arg(name, why));
        for (const ColumnDef& other : t.columns)
            if (other.name.compare(c.name, Qt::CaseInsensitive) == 0)
                return d->fail(QStringLiteral("table %1: column %2 appears twice").arg(name, c.name));
        if (c.type == ColumnType::Text && (c.textLength < 1 || c.textLength > 255))
            return d->fail(
                QStringLiteral("table %1: text column %2 must hold 1 to 255 characters").arg(name, c.name));
        t.columns.push_back(columnDef(c));
    }
    layOut(t);
    if (2 + t.fixedSize + 2 + 2 * t.varCount + 2 + 12 * int(t.longValues.size()) +
            (int(columns.size()) + 7) / 8 >
        kMaxRowSize)
        return d->fail(QStringLiteral("table %1: its fixed-length columns exceed a row").arg(name));
    t.tdefPage = d->file.allocate();
    d->tables.push_back(std::move(t));
    return true;
}

bool Writer::addRow(const QString& table, const QList<Value>& values)
{
    if (d->saved)
        return d->fail(QStringLiteral("the database is already saved"));
    Table* t = d->find(table);
    if (!t || t->system)
        return d->fail(QStringLiteral("there is no table %1").arg(table));
    QString why;
    const std::optional<QByteArray> row = d->encodeRow(*t, values, &why);
    if (!row)
        return d->fail(why);
    return d->placeRow(*t, *row);
}

bool Writer::leaveEmptyUntil(quint32 page)
{
    if (d->saved)
        return d->fail(QStringLiteral("the database is already saved"));
    if (page < d->file.pageCount() || page >= kMaxPages)
        return d->fail(
            QStringLiteral("page %1 is not between the end of the file (%2) and the largest page (%3)")
                .arg(page)
                .arg(d->file.pageCount())
                .arg(kMaxPages - 1));
    d->file.skipTo(page);
    return true;
}

bool Writer::save(QString* error)
{
    const auto result = [&](bool ok) {
        if (!ok && error)
            *error = d->error;
        return ok;
    };
    if (d->saved)
        return result(d->fail(QStringLiteral("the database is already saved")));
    d->saved = true;
    if (!d->error.isEmpty())
        return result(false);
    if (d->password.size() > 20)
        return result(d->fail(QStringLiteral("the password has more than 20 characters")));
    if (!d->created.isValid())
        return result(d->fail(QStringLiteral("the creation date is not valid")));

    for (size_t i = 1; i < d->tables.size(); ++i) {
        Table& t = d->tables[i];
        if (!d->flushDataPage(t))
            return result(false);
        for (LongValueStore& store : t.longValues)
            if (!d->flushLongValuePage(store))
                return result(false);
    }
    if (!d->addCatalogRows() || !d->writeUsageMaps())
        return result(false);
    for (const Table& t : d->tables)
        if (!d->writeTableDefinition(t))
            return result(false);
    if (!d->writeGlobalMap() || !d->writeHeader())
        return result(false);
    QString reason;
    if (!d->file.commit(&reason))
        return result(d->fail(reason));
    return result(true);
}

QString Writer::errorString() const
{
    return d->error;
}

} // namespace jet
