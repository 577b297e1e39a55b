#include "rendering/PhotoPreviewPreloader.h"

#include "platform/Dates.h"
#include "rendering/PolaroidPreviewGeometry.h"

#include <QCoreApplication>
#include <QSet>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace vennimo {

namespace {

QString dateText(std::optional<double> date) {
    return date ? formatUnixSeconds(unixSecondsFromDate(*date)) : QStringLiteral("nil");
}

} // namespace

PhotoPreviewPreloader::PhotoPreviewPreloader(PhotoPreviewImageLoader::Decode decode)
    : m_decode(decode ? std::move(decode)
                      : PhotoPreviewImageLoader::Decode(
                            [](const Photo& photo, int maxPixels, const PhotoPreviewImageLoader::Stop& stop) {
                                return PhotoPreviewImageLoader::decodeFile(photo.path, maxPixels, stop);
                            })) {}

PhotoPreviewPreloader::~PhotoPreviewPreloader() {
    if (m_cancelled)
        m_cancelled->store(true);
    m_queue.cancelAll();
}

void PhotoPreviewPreloader::schedule(const QList<Photo>& photos, const QRectF& visibleFrame,
                                     double backingScale, double delaySeconds) {
    QList<Photo> planned;
    QSet<QString> seen;
    for (const Photo& photo : photos) {
        if (planned.size() == kMaxPhotos)
            break;
        if (seen.contains(photo.id))
            continue;
        seen.insert(photo.id);
        planned.push_back(photo);
    }
    QStringList lines;
    for (const Photo& photo : planned) {
        const QChar bar = QLatin1Char('|');
        lines.push_back(photo.id + bar + photo.path + bar +
                        formatUnixSeconds(unixSecondsFromDate(photo.modified)) + bar +
                        QString::number(photo.size) + bar + dateText(photo.thumbnailModified));
    }
    const QString key = lines.join(QLatin1Char('\n')) +
                        QStringLiteral("|(%1, %2, %3, %4)|")
                            .arg(visibleFrame.x())
                            .arg(visibleFrame.y())
                            .arg(visibleFrame.width())
                            .arg(visibleFrame.height()) +
                        QString::number(backingScale);
    if (key == m_planKey)
        return;
    cancel();
    m_planKey = key;
    if (planned.isEmpty())
        return;
    const std::uint64_t ticket = ++m_scheduled;
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    m_cancelled = cancelled;
    std::weak_ptr<int> alive = m_alive;
    const int delayMs = int(std::lround(std::max(delaySeconds, 0.0) * 1000));
    QTimer::singleShot(delayMs, qApp, [this, alive, ticket, cancelled, planned, visibleFrame, backingScale] {
        if (alive.expired() || ticket != m_scheduled || cancelled->load())
            return;
        m_queue.async([this, alive, planned, visibleFrame, backingScale, cancelled] {
            if (alive.expired())
                return;
            run(planned, visibleFrame, backingScale, cancelled);
        });
    });
}

void PhotoPreviewPreloader::run(const QList<Photo>& photos, const QRectF& visibleFrame, double backingScale,
                                const std::shared_ptr<std::atomic<bool>>& cancelled) {
    for (const Photo& photo : photos) {
        if (cancelled->load())
            return;
        const QString v = PhotoPreviewImageLoader::version(photo);
        std::optional<QImage> probe = PhotoPreviewImageLoader::cachedImage(v, 0);
        if (!probe)
            probe = PhotoPreviewImageLoader::thumbnail(photo, v);
        if (!probe || cancelled->load())
            continue;
        const auto layout = PolaroidPreviewGeometry::layout(QSizeF(probe->size()), visibleFrame);
        const int target =
            PhotoPreviewImageLoader::targetPixels(QSizeF(probe->size()), layout.image.size(), backingScale);
        if (PhotoPreviewImageLoader::cachedImage(v, target))
            continue;
        if (cancelled->load())
            return;
        const QImage image = m_decode(photo, target, [cancelled] { return cancelled->load(); });
        if (!image.isNull() && !cancelled->load() && PhotoPreviewImageLoader::version(photo) == v)
            PhotoPreviewImageLoader::store(image, v, target);
    }
}

void PhotoPreviewPreloader::cancel() {
    ++m_scheduled;
    if (m_cancelled)
        m_cancelled->store(true);
    m_cancelled.reset();
    m_queue.cancelAll();
    m_planKey.clear();
}

} // namespace vennimo
