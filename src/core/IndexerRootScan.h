#pragma once

#include "core/Indexer.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <utility>

namespace vennimo {

// The records a scan produces, one per id (a later record for an id replaces the earlier one),
// kept in a list so that they need not be copied out of a hash at the end.
struct ScanResult {
    QList<Photo> photos;
    QHash<QString, qsizetype> positions;

    bool contains(const QString& id) const { return positions.contains(id); }
    void insert(Photo photo) {
        if (auto it = positions.constFind(photo.id); it != positions.constEnd()) {
            photos[*it] = std::move(photo);
        } else {
            positions.insert(photo.id, photos.size());
            photos.append(std::move(photo));
        }
    }
};

// The state of one root while it is scanned.
struct Indexer::RootScan {
    int rootIndex = 0;
    SourceRoot root{};
    bool needsBaseline = false;
    bool generateThumbnails = false;
    double scanTime = 0;
    // The record the library holds for an id, if any.
    std::function<const Photo*(const QString& id)> previous{};
    // Where the records go; a share of a walk has none and collects them in `found` instead,
    // in the order found, to be merged in the order a walk on one thread would have found them.
    ScanResult* result = nullptr;
    QList<Photo> found{};
    int visited = 0;
    // Entries whose names no path can name: folder and name.
    QList<std::pair<QString, QByteArray>> undecodable{};
    QStringList errors{};
    bool incomplete = false;
    QHash<std::uint64_t, std::optional<QString>> volumeByDevice{};
    QString thumbnailPrefix{};
    const QSet<QString>* thumbnailNames = nullptr;
    // The thumbnails folder, open, or -1.
    int thumbnailFolderFd = -1;
    // Baseline-pending places below the root as the scan began, and what the scan did not see.
    QStringList pendingBelow{};
    QStringList unseen{};

    // The same root, with nothing found yet.
    RootScan share() const {
        RootScan part;
        part.rootIndex = rootIndex;
        part.root = root;
        part.needsBaseline = needsBaseline;
        part.generateThumbnails = generateThumbnails;
        part.scanTime = scanTime;
        part.previous = previous;
        part.volumeByDevice = volumeByDevice;
        part.thumbnailPrefix = thumbnailPrefix;
        part.thumbnailNames = thumbnailNames;
        part.thumbnailFolderFd = thumbnailFolderFd;
        part.pendingBelow = pendingBelow;
        return part;
    }
    void fail(const QString& path, const QString& error) {
        errors.append(error);
        incomplete = true;
        unseen.append(path);
    }
    bool isBaseline(const QString& path) const {
        return needsBaseline ||
               std::any_of(pendingBelow.cbegin(), pendingBelow.cend(),
                           [&path](const QString& pending) { return pathIsWithin(path, pending); });
    }
};

} // namespace vennimo
