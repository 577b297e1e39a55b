#include "core/Indexer.h"

#include "core/IndexerRootScan.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace vennimo {

// One folder of a walk: listed on any thread, taken in on the scan's.
struct Indexer::FolderWalkNode {
    QString path{};
    bool first = false;
    RootScan part{};
    std::vector<FolderWalkNode*> children{};
    bool listed = false;
};

// Shared with the listing tasks, which may still be leaving when the scan has taken in the last
// folder.
struct Indexer::FolderWalk {
    RootScan base{};
    std::mutex mutex;
    std::condition_variable listed;
    std::deque<FolderWalkNode> nodes;
    // Listings queued or under way.
    std::size_t unlisted = 0;
};

// The folders are listed side by side, but what they hold is taken in folder by folder in the
// order of a walk on one thread (depth first, the last subfolder met first): the same records in
// the same order, the same errors, whichever folder is listed first. Inline thumbnails are made
// on the scan's thread, so a walk that makes them lists one folder after the other.
void Indexer::enumerate(RootScan& scan, const QString& folder) {
    if (scan.generateThumbnails) {
        QStringList stack{folder};
        bool first = true;
        while (!stack.isEmpty()) {
            if (stopped()) {
                scan.incomplete = true;
                return;
            }
            const QString current = stack.takeLast();
            RootScan part = scan.share();
            QStringList subfolders;
            listFolder(part, current, first, subfolders);
            first = false;
            absorb(scan, part);
            stack += subfolders;
        }
        return;
    }

    auto walk = std::make_shared<FolderWalk>();
    walk->base = scan.share();
    FolderWalkNode* root = &walk->nodes.emplace_back();
    root->path = folder;
    root->first = true;
    walk->unlisted = 1;
    walkQueue().async([this, walk, root] { listWalkFolder(walk, root); });

    std::vector<FolderWalkNode*> stack{root};
    while (!stack.empty()) {
        if (stopped()) {
            // The listings under way end at their next entry, and the queued ones list nothing;
            // but a listing reads what this scan holds (the thumbnails folder, the previous
            // records), so the scan ends only after the last of them.
            std::unique_lock lock(walk->mutex);
            walk->listed.wait(lock, [&walk] { return walk->unlisted == 0; });
            scan.incomplete = true;
            return;
        }
        FolderWalkNode* node = stack.back();
        stack.pop_back();
        {
            std::unique_lock lock(walk->mutex);
            walk->listed.wait(lock, [node] { return node->listed; });
        }
        absorb(scan, node->part);
        stack.insert(stack.end(), node->children.cbegin(), node->children.cend());
    }
}

void Indexer::listWalkFolder(const std::shared_ptr<FolderWalk>& walk, FolderWalkNode* node) {
    node->part = walk->base.share();
    QStringList subfolders;
    if (stopped())
        node->part.incomplete = true;
    else
        listFolder(node->part, node->path, node->first, subfolders);
    std::vector<FolderWalkNode*> children;
    children.reserve(subfolders.size());
    {
        const std::lock_guard lock(walk->mutex);
        for (const QString& path : std::as_const(subfolders)) {
            FolderWalkNode* child = &walk->nodes.emplace_back();
            child->path = path;
            children.push_back(child);
        }
        walk->unlisted += children.size();
    }
    for (FolderWalkNode* child : children)
        walkQueue().async([this, walk, child] { listWalkFolder(walk, child); });
    {
        const std::lock_guard lock(walk->mutex);
        node->children = std::move(children);
        node->listed = true;
        --walk->unlisted;
    }
    walk->listed.notify_all();
}

WorkQueue& Indexer::walkQueue() {
    if (!m_walkQueue)
        m_walkQueue = std::make_unique<WorkQueue>(QStringLiteral("local.vennimo.index.walk"), kWalkWidth);
    return *m_walkQueue;
}

int Indexer::folderOpenFault(const QString& folder) {
    // A test's seam, not written for several threads.
    static std::mutex mutex;
    const std::lock_guard lock(mutex);
    return m_folderOpenFault(folder);
}

void Indexer::absorb(RootScan& scan, RootScan& part) {
    for (Photo& photo : part.found)
        scan.result->insert(std::move(photo));
    part.found.clear();
    scan.errors += part.errors;
    scan.unseen += part.unseen;
    scan.incomplete = scan.incomplete || part.incomplete;
    scan.visited += part.visited;
    for (const auto& [folder, name] : std::as_const(part.undecodable))
        skipUndecodableName(folder, name.constData());
}

} // namespace vennimo
