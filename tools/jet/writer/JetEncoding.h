#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>

#include <optional>

// Byte-level building blocks of the Jet 4 writer: page constants, little-endian
// stores, RC4, and the encodings of column values.
namespace jet::detail {

constexpr int kPageSize = 4096;
// Data pages: type, 1, free space (2), owner (4), unknown (4), row count (2),
// then one 2-byte offset per row; rows are packed from the end of the page.
constexpr int kDataPageHeader = 14;
// A row number in a page/row pointer is one byte.
constexpr int kMaxRowsPerPage = 255;
// Access's limit for one data row.
constexpr int kMaxRowSize = 4060;
// Long values: a page holding one row leaves 4096 - 14 - 2 = 4080 bytes, of
// which a row of a chain spends 4 on the pointer to the next row. Values up to
// that size take one row, longer ones a chain of rows, one page each.
constexpr int kMaxLvalData = kPageSize - kDataPageHeader - 2 - 4;
// Memo data up to this many bytes is kept inside the row.
constexpr int kMaxInlineMemo = 64;
// The memo field's length has 24 bits.
constexpr int kMaxMemoBytes = 0xFFFFFF;
// Only memo values up to this many characters may be compressed.
constexpr int kMaxCompressedMemoChars = 1024;
// Jet 4 files end at 2 GiB.
constexpr quint32 kMaxPages = 0x80000000u / kPageSize;

// Column type codes of the table definition.
enum TypeCode : quint8
{
    kTypeBool = 0x01,
    kTypeByte = 0x02,
    kTypeInt = 0x03,
    kTypeLong = 0x04,
    kTypeMoney = 0x05,
    kTypeFloat = 0x06,
    kTypeDouble = 0x07,
    kTypeDateTime = 0x08,
    kTypeBinary = 0x09,
    kTypeText = 0x0A,
    kTypeOle = 0x0B,
    kTypeMemo = 0x0C,
};

inline void put16(char* p, quint32 v)
{
    p[0] = char(v & 0xFF);
    p[1] = char((v >> 8) & 0xFF);
}
inline void put32(char* p, quint32 v)
{
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}
inline void put64(char* p, quint64 v)
{
    put32(p, quint32(v & 0xFFFFFFFFu));
    put32(p + 4, quint32(v >> 32));
}
void putDouble(char* p, double v);
void putFloat(char* p, float v);

// XORs data with the RC4 key stream of key.
void rc4(const QByteArray& key, char* data, int length);

// Days since 1899-12-30 with the time as the fraction of a day. Before that
// day the integer part counts backwards while the fraction still runs
// forwards (1899-12-29 06:00 is -1.25), as OLE automation dates do.
double oleDate(const QDate& date, const QTime& time);

// UCS-2 little-endian, or Jet 4's compressed form when allowed and shorter:
// the marker FF FE, then runs of one-byte characters (U+0001..U+00FF) and of
// two-byte characters, each switch of mode marked by a 0x00 byte. A text that
// begins with U+FEFF must be compressed (its plain form would look like the
// marker); returns nothing if it cannot be.
std::optional<QByteArray> encodeText(const QString& text, bool allowCompression);

// Converters from the caller's values; on failure they return false and put
// the reason into *error.
bool toInteger(const QVariant& v, qint64 min, qint64 max, qint64* out, QString* error);
bool toCurrency(const QVariant& v, qint64* out, QString* error);
bool toReal(const QVariant& v, double* out, QString* error);
bool toOleDate(const QVariant& v, double* out, QString* error);

} // namespace jet::detail
