#pragma once

#include <QByteArray>
#include <QString>

// The checksum of an embedded backup's content: SHA-256 over the backup file
// as it lies on the disk, page by page, leaving out the one page that holds
// the checksum itself (the only page of its one-row table) and counting as
// zeros the bytes of the file header that say nothing of the content and
// that SQLite rewrites on its own: the write counter and the version numbers
// beside it (offsets 24-27 and 92-99) and the journal mode (18-19). Every
// other byte counts, so one changed byte of any row, of the schema or of the
// backup's description changes it; and a backup reproduces it exactly, since
// nothing writes the file after the checksum is stored. It is read as a
// stream, in pieces, and costs a read of the file.
namespace ov::embedded {

// The checksum of the SQLite file at path, leaving out page skipPage (1 is
// the first page), as 64 lower-case hexadecimal digits; an empty text with
// error set when the file cannot be read or is no SQLite file.
QByteArray backupDigest(const QString& path, qint64 skipPage, QString& error);

} // namespace ov::embedded
