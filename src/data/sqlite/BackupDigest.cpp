#include "data/sqlite/BackupDigest.h"

#include <QFile>

#include <openssl/evp.h>

#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <type_traits>

namespace ov::embedded {

namespace {

// OpenSSL's digest, loaded the first time a checksum is made rather than
// when the program starts: only backups and restores need it, and loading
// it cost every start of the program a share of its time to the first
// window.
struct Crypto
{
    decltype(&::EVP_MD_CTX_new) ctxNew = nullptr;
    decltype(&::EVP_MD_CTX_free) ctxFree = nullptr;
    decltype(&::EVP_sha256) sha256 = nullptr;
    decltype(&::EVP_DigestInit_ex) init = nullptr;
    decltype(&::EVP_DigestUpdate) update = nullptr;
    decltype(&::EVP_DigestFinal_ex) final = nullptr;
};

// The functions, or null when the library cannot be loaded.
const Crypto* crypto()
{
    static std::once_flag once;
    static Crypto loaded;
    static bool ok = false;
    std::call_once(once, [] {
        // The library stays loaded until the program ends.
        void* library = dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return;
        const auto find = [library](auto& pointer, const char* name) {
            pointer = reinterpret_cast<std::remove_reference_t<decltype(pointer)>>(dlsym(library, name));
            return pointer != nullptr;
        };
        ok = find(loaded.ctxNew, "EVP_MD_CTX_new") && find(loaded.ctxFree, "EVP_MD_CTX_free") &&
             find(loaded.sha256, "EVP_sha256") && find(loaded.init, "EVP_DigestInit_ex") &&
             find(loaded.update, "EVP_DigestUpdate") && find(loaded.final, "EVP_DigestFinal_ex");
    });
    return ok ? &loaded : nullptr;
}

} // namespace

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
    const Crypto* const c = crypto();
    if (!c) {
        error = QStringLiteral("无法计算 SHA-256 校验和（无法载入 libcrypto.so.3）");
        return QByteArray();
    }
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> hash(c->ctxNew(), c->ctxFree);
    if (!hash || c->init(hash.get(), c->sha256(), nullptr) != 1) {
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
            if (c->update(hash.get(), buffer.constData() + at, size_t(length)) != 1) {
                error = QStringLiteral("SHA-256 校验和计算失败");
                return QByteArray();
            }
        }
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (c->final(hash.get(), digest, &length) != 1) {
        error = QStringLiteral("SHA-256 校验和计算失败");
        return QByteArray();
    }
    return QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex();
}

} // namespace ov::embedded
