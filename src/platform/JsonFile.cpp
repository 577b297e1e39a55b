#include "platform/JsonFile.h"

#include "platform/DurableCalls.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vennimo {

namespace {

Status writeAll(int fd, const QByteArray& bytes, const QString& path) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Error::fromErrno(errno, path);
        }
        done += n;
    }
    return {};
}

} // namespace

Status JsonFile::writeAtomically(const QString& path, const QByteArray& bytes) {
    const DurableCalls calls = DurableCalls::current();
    const QFileInfo info(path);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    QByteArray temp = folder + "/." + QFile::encodeName(info.fileName()) + ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return Error::fromErrno(errno, path);
    LeftoverTemporaries::holdWhileWriting(fd);
    Status status = writeAll(fd, bytes, path);
    if (status.ok() && fchmod(fd, 0644) != 0)
        status = Error::fromErrno(errno, path);
    if (status.ok() && calls.fsync(fd) != 0)
        status = Error::fromErrno(errno, path);
    if (close(fd) != 0 && status.ok())
        status = Error::fromErrno(errno, path);
    if (status.ok() && calls.rename(temp.constData(), QFile::encodeName(path).constData()) != 0)
        status = Error::fromErrno(errno, path);
    if (!status.ok()) {
        unlink(temp.constData());
        return status;
    }
    DurableCalls::syncFolder(folder.constData());
    return {};
}

int JsonFile::removeLeftoverTemporaries(const QString& folder,
                                        LeftoverTemporaries::Clock::time_point changedBefore) {
    // The names writeAtomically gives its temporaries: "." + the state file's name + six characters.
    static const QRegularExpression kTemporary(
        QStringLiteral("^\\..+\\.json(\\.corrupt)?\\.[A-Za-z0-9]{6}$"));
    return LeftoverTemporaries::remove(folder, kTemporary, changedBefore);
}

QByteArray JsonFile::encode(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

Status JsonFile::write(const QString& path, const QJsonObject& object) {
    return writeAtomically(path, encode(object));
}

Result<QByteArray> JsonFile::readBytes(const QString& path) {
    // Whatever came under the name since it was looked at, a FIFO or a device holds no open.
    const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return Error::fromErrno(errno, path);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        close(fd);
        return Error::fromErrno(err, path);
    }
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            close(fd);
            return Error::fromErrno(err, path);
        }
        if (n == 0)
            break;
        bytes.append(buffer, n);
    }
    close(fd);
    return bytes;
}

Result<QJsonObject> JsonFile::parse(const QByteArray& bytes) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return decodeError(parseError.errorString() + QStringLiteral(" @%1").arg(parseError.offset));
    if (!document.isObject())
        return decodeError(QStringLiteral("not a JSON object"));
    return document.object();
}

Result<QJsonObject> JsonFile::read(const QString& path) {
    auto bytes = readBytes(path);
    if (!bytes)
        return bytes.error();
    return parse(*bytes);
}

std::optional<QString> jsonString(const QJsonObject& object, QLatin1StringView key) {
    const QJsonValue v = object.value(key);
    return v.isString() ? std::optional(v.toString()) : std::nullopt;
}

std::optional<double> jsonDouble(const QJsonObject& object, QLatin1StringView key) {
    const QJsonValue v = object.value(key);
    return v.isDouble() ? std::optional(v.toDouble()) : std::nullopt;
}

std::optional<qint64> jsonInt64(const QJsonObject& object, QLatin1StringView key) {
    const QJsonValue v = object.value(key);
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    const qint64 i = v.toInteger(std::numeric_limits<qint64>::min());
    // toInteger answers the fallback for non-integral values; an exact integer stored as a
    // double (beyond 2^53) still converts.
    if (i == std::numeric_limits<qint64>::min() && d != static_cast<double>(i))
        return std::nullopt;
    return i;
}

std::optional<bool> jsonBool(const QJsonObject& object, QLatin1StringView key) {
    const QJsonValue v = object.value(key);
    return v.isBool() ? std::optional(v.toBool()) : std::nullopt;
}

std::optional<QJsonObject> jsonObject(const QJsonObject& object, QLatin1StringView key) {
    const QJsonValue v = object.value(key);
    return v.isObject() ? std::optional(v.toObject()) : std::nullopt;
}

std::optional<QJsonArray> jsonArray(const QJsonObject& object, QLatin1StringView key) {
    const QJsonValue v = object.value(key);
    return v.isArray() ? std::optional(v.toArray()) : std::nullopt;
}

std::optional<QByteArray> jsonData(const QJsonObject& object, QLatin1StringView key) {
    const auto text = jsonString(object, key);
    if (!text)
        return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(text->toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

Error decodeError(const QString& what) {
    Error e = Error::make(QString::fromLatin1(kJsonErrorDomain), 1, QStringLiteral("数据已损坏，无法读取。"));
    e.failureReason = what;
    return e;
}

} // namespace vennimo
