#include "platform/ContentDigest.h"

#include <QByteArray>
#include <QFile>

#include <openssl/evp.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace vennimo {

namespace {

struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_MD_CTX, ContextFree>;

Context startSha256() {
    Context context(EVP_MD_CTX_new());
    // Only a failed allocation makes these fail, and the process is lost by then anyway.
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        qFatal("SHA-256 is not available from libcrypto");
    return context;
}

void add(const Context& context, const char* data, qsizetype size) {
    if (size > 0)
        EVP_DigestUpdate(context.get(), data, static_cast<size_t>(size));
}

QString finish(const Context& context) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    return QString::fromLatin1(
        QByteArray::fromRawData(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(length))
            .toHex());
}

} // namespace

QString ContentDigest::sha256Hex(QByteArrayView bytes) {
    const Context context = startSha256();
    add(context, bytes.data(), bytes.size());
    return finish(context);
}

Result<QString> ContentDigest::sha256HexOfFile(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Error::fromErrno(errno, path);
    const Context context = startSha256();
    QByteArray buffer(kReadChunkBytes, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), static_cast<size_t>(buffer.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            return Error::fromErrno(err, path);
        }
        if (n == 0)
            break;
        add(context, buffer.constData(), n);
    }
    ::close(fd);
    return finish(context);
}

} // namespace vennimo
