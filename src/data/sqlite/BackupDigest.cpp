#include "data/sqlite/BackupDigest.h"

#include <QFile>

#include <openssl/evp.h>

#include <memory>

namespace ov::embedded {

QByteArray backupDigest(const QString& path, qint64 skipPage, QString& error)
{
    error.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return QByteArray();
    }
    const QByteArray header = file.read(100);
    if (header.size() < 100 || !header.startsWith(QByteArray("SQLite format 3\0", 16))) {
        error = QStringLiteral("no SQLite file");
        return QByteArray();
    }
    int pageSize = (uchar(header[16]) << 8) | uchar(header[17]);
    if (pageSize == 1)
        pageSize = 65536;
    if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0) {
        error = QStringLiteral("no valid page size");
        return QByteArray();
    }
    if (!file.seek(0)) {
        error = file.errorString();
        return QByteArray();
    }
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> hash(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!hash || EVP_DigestInit_ex(hash.get(), EVP_sha256(), nullptr) != 1) {
        error = QStringLiteral("无法计算 SHA-256 校验和");
        return QByteArray();
    }
    // Whole pages at a time, about a megabyte.
    const qint64 chunk = qMax<qint64>(pageSize, 1 << 20);
    QByteArray buffer(int(chunk), Qt::Uninitialized);
    qint64 page = 1;
    for (;;) {
        const qint64 n = file.read(buffer.data(), chunk);
        if (n < 0) {
            error = file.errorString();
            return QByteArray();
        }
        if (n == 0)
            break;
        if (page == 1) {
            for (int i : {18, 19, 24, 25, 26, 27, 92, 93, 94, 95, 96, 97, 98, 99})
                buffer[i] = 0;
        }
        // The pages of this piece, the one left out skipped; a last page cut
        // short counts as it is.
        for (qint64 at = 0; at < n; at += pageSize, ++page) {
            if (page == skipPage)
                continue;
            const qint64 length = qMin<qint64>(pageSize, n - at);
            if (EVP_DigestUpdate(hash.get(), buffer.constData() + at, size_t(length)) != 1) {
                error = QStringLiteral("SHA-256 校验和计算失败");
                return QByteArray();
            }
        }
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(hash.get(), digest, &length) != 1) {
        error = QStringLiteral("SHA-256 校验和计算失败");
        return QByteArray();
    }
    return QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex();
}

} // namespace ov::embedded
