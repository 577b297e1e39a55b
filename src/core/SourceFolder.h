#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace vennimo {

// One watched folder of the user's list: one of the two built-in folders (a kind) or a folder
// the user chose.
struct SourceFolder {
    static constexpr auto kDesktopKind = "desktop";
    static constexpr auto kDownloadsKind = "downloads";

    QString id{};
    std::optional<QString> kind{};
    // As last resolved.
    QString path{};
    // Empty while no grant for the folder is held.
    std::optional<QByteArray> bookmark{};
    bool enabled = true;

    // "桌面" and "下载" for the built-in folders, else the folder's own name.
    QString name() const;

    bool operator==(const SourceFolder&) const = default;
};

// "sources.json": a compact JSON array; "kind" and "bookmark" are left out when empty and the
// bookmark is Base64.
QByteArray encodeSourceFolders(const QList<SourceFolder>& folders);
// Every entry needs "id", "path" and "enabled"; any entry that does not decode fails the list.
Result<QList<SourceFolder>> decodeSourceFolders(const QByteArray& bytes);

} // namespace vennimo
