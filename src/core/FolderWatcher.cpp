#include "core/FolderWatcher.h"

#include "core/PathRules.h"

#include <QDir>
#include <QFileInfo>

namespace vennimo {

FolderWatcher::FolderWatcher(const QStringList& roots, const QStringList& ignoredRoots, Handler onEvents)
    : m_onEvents(std::move(onEvents)) {
    QStringList excluded;
    for (const QString& ignored : ignoredRoots) {
        // The roots are watched under their real paths, so a folder named through a link is
        // left out under its real path too.
        QStringList names{QDir::cleanPath(ignored)};
        if (const QString real = QFileInfo(ignored).canonicalFilePath(); !real.isEmpty() && real != names[0])
            names.append(real);
        for (const QString& name : names) {
            m_ignoredRoots.append(filesystemPathKey(name));
            excluded.append(name);
        }
    }
    m_source = std::make_unique<InotifyWatcher>(roots, excluded,
                                                [this](const QList<FileEvent>& events) { receive(events); });
}

FolderWatcher::FolderWatcher(const QStringList& roots, const QStringList& ignoredRoots,
                             std::function<void()> onChange)
    : FolderWatcher(roots, ignoredRoots, [onChange = std::move(onChange)](const QList<FolderChange>&) {
        if (onChange)
            onChange();
    }) {}

FolderWatcher::~FolderWatcher() {
    stop();
}

void FolderWatcher::activate() {
    if (m_running || m_dead)
        return;
    if (m_watchLimit >= 0)
        m_source->setWatchLimitForTesting(m_watchLimit);
    if (!m_source->start()) {
        m_dead = true;
        return;
    }
    m_running = true;
}

void FolderWatcher::stop() {
    m_pending.reset();
    m_changes.clear();
    if (m_source)
        m_source->stop();
    m_running = false;
    m_dead = true;
}

void FolderWatcher::receive(const QList<FileEvent>& events) {
    if (m_dead)
        return;
    for (const FileEvent& event : events) {
        const QString key = filesystemPathKey(event.path);
        if ((event.flags & FolderChange::kReconciliationMask) == 0) {
            bool ignored = false;
            for (const QString& root : m_ignoredRoots)
                ignored = ignored || pathIsWithin(key, root);
            if (ignored)
                continue;
        }
        m_changes[key] |= event.flags;
    }
    if (m_changes.isEmpty() || m_pending)
        return;
    // A fixed window from the first event: later events join the batch without moving it, so a
    // steady trickle still gets delivered.
    m_pending = std::make_unique<QTimer>();
    m_pending->setSingleShot(true);
    QObject::connect(m_pending.get(), &QTimer::timeout, [this] { deliver(); });
    m_pending->start(m_window);
}

void FolderWatcher::deliver() {
    // The timer is the sender of this call; delete it once control has returned to the loop.
    m_pending.release()->deleteLater();
    QList<FolderChange> batch;
    batch.reserve(m_changes.size());
    for (auto it = m_changes.cbegin(); it != m_changes.cend(); ++it)
        batch.append({it.key(), it.value()});
    m_changes.clear();
    if (m_onEvents)
        m_onEvents(batch);
}

} // namespace vennimo
