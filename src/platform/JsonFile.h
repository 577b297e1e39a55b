#pragma once

#include "platform/LeftoverTemporaries.h"
#include "platform/Result.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace vennimo {

inline constexpr auto kJsonErrorDomain = "Vennimo.JSON";

// State files: written whole and atomically (a temporary file in the same folder, fsync,
// rename, fsync of the folder), so a crash leaves either the old or the new content.
class JsonFile {
public:
    static Status writeAtomically(const QString& path, const QByteArray& bytes);
    // Removes the temporaries of writes into `folder` that a killed process left behind, never
    // one a running writer holds; answers how many went. Run at start.
    static int removeLeftoverTemporaries(
        const QString& folder,
        LeftoverTemporaries::Clock::time_point changedBefore = LeftoverTemporaries::processStart());
    // Compact JSON; QJsonObject keeps its keys sorted.
    static QByteArray encode(const QJsonObject& object);
    static Status write(const QString& path, const QJsonObject& object);

    // Strict: a missing file keeps its errno (ENOENT), anything that is not a JSON object fails.
    static Result<QJsonObject> read(const QString& path);
    static Result<QJsonObject> parse(const QByteArray& bytes);
    // A regular file only: anything else is refused (EINVAL, EISDIR) without waiting on it.
    static Result<QByteArray> readBytes(const QString& path);
};

// Field readers for fromJson functions: nothing when the key is absent or holds another type.
std::optional<QString> jsonString(const QJsonObject& object, QLatin1StringView key);
std::optional<double> jsonDouble(const QJsonObject& object, QLatin1StringView key);
// Integers only: a fractional number is ill-typed.
std::optional<qint64> jsonInt64(const QJsonObject& object, QLatin1StringView key);
std::optional<bool> jsonBool(const QJsonObject& object, QLatin1StringView key);
std::optional<QJsonObject> jsonObject(const QJsonObject& object, QLatin1StringView key);
std::optional<QJsonArray> jsonArray(const QJsonObject& object, QLatin1StringView key);
// Strict Base64 (no stray characters).
std::optional<QByteArray> jsonData(const QJsonObject& object, QLatin1StringView key);

// The error of a record that does not decode; `what` says which key or record.
Error decodeError(const QString& what);

} // namespace vennimo
