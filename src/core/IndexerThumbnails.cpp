#include "core/Indexer.h"

#include "platform/Dates.h"
#include "platform/FileMove.h"
#include "platform/FreedesktopThumbnailer.h"
#include "platform/ImageDecoder.h"
#include "platform/JsonFile.h"
#include "platform/LargeTurn.h"
#include "platform/Logging.h"
#include "platform/ProcessExit.h"

#include <QFile>
#include <QImageWriter>
#include <QJsonArray>
#include <QPainter>
#include <QSaveFile>
#include <QUuid>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace vennimo {

namespace {

QString jsonStringLiteral(const QString& text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString jsonNumber(double value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? QString::fromLatin1(buffer, static_cast<int>(end - buffer))
                             : QStringLiteral("0");
}

std::optional<Indexer::ThumbnailFailure> failureFromJson(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    auto version = jsonString(object, QLatin1String("version"));
    auto attempts = jsonInt64(object, QLatin1String("attempts"));
    auto retryAfter = jsonDouble(object, QLatin1String("retryAfter"));
    if (!version || !attempts || !retryAfter || *attempts < 1 || *attempts > 1'000'000 ||
        !std::isfinite(*retryAfter))
        return std::nullopt;
    return Indexer::ThumbnailFailure{*version, static_cast<int>(*attempts), *retryAfter};
}

} // namespace

QString Indexer::thumbnailVersion(const Photo& photo) {
    const QString created =
        photo.created ? formatUnixSeconds(unixSecondsFromDate(*photo.created)) : formatUnixSeconds(0);
    return QStringList{photo.usageID.value_or(photo.id), created,
                       formatUnixSeconds(unixSecondsFromDate(photo.modified)), QString::number(photo.size),
                       photo.path}
        .join(QLatin1Char('|'));
}

double Indexer::retryDelaySeconds(int attempts) {
    const int doublings = std::clamp(attempts - 1, 0, kMaxRetryDoublings);
    return std::min(kFirstRetrySeconds * std::ldexp(1.0, doublings), kMaxRetrySeconds);
}

void Indexer::loadThumbnailFailures() {
    const auto bytes = readStateOrSetAside(thumbnailFailuresPath());
    if (!bytes)
        return;
    auto object = JsonFile::parse(*bytes);
    std::map<QString, ThumbnailFailure> failures;
    bool good = object.ok();
    if (good) {
        for (auto it = object->constBegin(); it != object->constEnd() && good; ++it) {
            auto failure = failureFromJson(it.value());
            good = failure.has_value();
            if (good)
                failures.emplace(it.key(), *failure);
        }
    }
    if (!good) {
        // Losing the back-off only costs early retries; the bytes are kept for inspection.
        qCWarning(lcApp)
            << "thumbnail-failures.json does not decode - kept as thumbnail-failures.json.corrupt";
        if (!JsonFile::writeAtomically(thumbnailFailuresPath() + QStringLiteral(".corrupt"), *bytes))
            qCWarning(lcApp) << "thumbnail-failures.json.corrupt could not be written";
        return;
    }
    m_thumbnailFailures = std::move(failures);
}

// Written by hand: each record keeps the field order version, attempts, retryAfter.
void Indexer::writeThumbnailFailures() const {
    QStringList entries;
    for (const auto& [id, failure] : m_thumbnailFailures) {
        entries.append(jsonStringLiteral(id) + QStringLiteral(":{\"version\":") +
                       jsonStringLiteral(failure.version) + QStringLiteral(",\"attempts\":") +
                       QString::number(failure.attempts) + QStringLiteral(",\"retryAfter\":") +
                       jsonNumber(failure.retryAfter) + QLatin1Char('}'));
    }
    const QString text = QLatin1Char('{') + entries.join(QLatin1Char(',')) + QLatin1Char('}');
    if (auto status = JsonFile::writeAtomically(thumbnailFailuresPath(), text.toUtf8()); !status)
        qCWarning(lcApp) << "thumbnail-failures.json not written:" << status.error().message;
}

void Indexer::recordThumbnailResult(const Photo& photo, bool succeeded) {
    if (succeeded) {
        if (m_thumbnailFailures.erase(photo.id) > 0)
            writeThumbnailFailures();
        return;
    }
    const QString version = thumbnailVersion(photo);
    int attempts = 1;
    if (auto it = m_thumbnailFailures.find(photo.id);
        it != m_thumbnailFailures.end() && it->second.version == version)
        attempts = it->second.attempts + 1;
    m_thumbnailFailures[photo.id] =
        ThumbnailFailure{version, attempts, Clock::now() + retryDelaySeconds(attempts)};
    writeThumbnailFailures();
}

QString Indexer::thumbnailPathFor(const Photo& photo) const {
    return thumbnailFolder() + QLatin1Char('/') + photo.id + QStringLiteral(".jpg");
}

bool Indexer::shouldMakeThumbnail(const Photo& photo) const {
    if (QFile::exists(thumbnailPathFor(photo)))
        return false;
    if (m_pendingThumbnails.contains(photo.id))
        return false;
    if (auto it = m_thumbnailFailures.find(photo.id);
        it != m_thumbnailFailures.end() && it->second.version == thumbnailVersion(photo))
        return it->second.retryAfter <= Clock::now();
    return true;
}

bool Indexer::thumbnailSourceMatches(const Photo& photo) {
    auto file = FileIdentity::read(photo.path);
    if (!file || !file->isRegularFile())
        return false;
    return file->modified == photo.modified && file->size == photo.size &&
           sameFileBirth(file->created, photo.created) && file->idString() == photo.id;
}

void Indexer::rebuildThumbnailPlanIfNeeded() {
    if (!m_thumbnailPlanNeedsRebuild)
        return;
    // The walk goes over the library as it is now, which stays so until the next scan sets the
    // flag: no copy of its ids, whatever its size.
    m_thumbnailCandidates.clear();
    m_thumbnailPlanSize = m_library.photos.size();
    m_thumbnailCursor = 0;
    m_thumbnailPlanNeedsRebuild = false;
}

qsizetype Indexer::thumbnailPosition(const QString& id) const {
    if (m_recordIndex.valid())
        return m_recordIndex.position(m_library.photos, id);
    // Where an id repeats, its last record is the one the walk finds.
    for (qsizetype i = m_library.photos.size() - 1; i >= 0; --i) {
        if (m_library.photos[i].id == id)
            return i;
    }
    return -1;
}

void Indexer::prepareThumbnails(WorkQueue* queue, ThumbnailUpdate onUpdate) {
    m_callerQueue = queue;
    m_thumbnailUpdate = std::move(onUpdate);
    refillThumbnails();
}

void Indexer::refillThumbnails() {
    if (m_callerQueue == nullptr || stopped())
        return;
    rebuildThumbnailPlanIfNeeded();
    int checked = 0;
    while (m_pendingThumbnails.size() - m_thumbnailsAside.size() < kMaxPendingThumbnails &&
           m_thumbnailsAside.size() < kMaxThumbnailsAside &&
           m_thumbnailCursor < m_thumbnailPlanSize + m_thumbnailCandidates.size()) {
        if (checked == kThumbnailChecksPerTurn) {
            // A library whose thumbnails all exist is walked to its end after every scan: in
            // turns, so that the next change's scan does not wait for the walk.
            if (!m_thumbnailWalkResumeQueued) {
                m_thumbnailWalkResumeQueued = true;
                m_callerQueue->async([lifetime = std::weak_ptr<int>(m_lifetime), this] {
                    if (lifetime.expired())
                        return;
                    m_thumbnailWalkResumeQueued = false;
                    refillThumbnails();
                });
            }
            return;
        }
        const qsizetype at = m_thumbnailCursor++;
        const qsizetype position = at < m_thumbnailPlanSize
                                       ? at
                                       : thumbnailPosition(m_thumbnailCandidates[at - m_thumbnailPlanSize]);
        if (position < 0 || position >= m_library.photos.size())
            continue;
        ++checked;
        const Photo& candidate = m_library.photos.at(position);
        const QString id = candidate.id;
        ++m_thumbnailCandidateChecks;
        if (!shouldMakeThumbnail(candidate))
            continue;
        const Photo photo = candidate;
        const QString version = thumbnailVersion(photo);
        m_pendingThumbnails.insert(id, version);
        ++m_thumbnailAttemptCount;
        const QString temporary = m_storage + QStringLiteral("/thumbnail-") +
                                  QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
                                  QStringLiteral(".jpg");
        m_thumbnailQueue->async([photo, temporary, version, renderer = m_thumbnailRenderer,
                                 queue = m_callerQueue, lifetime = std::weak_ptr<int>(m_lifetime), this] {
            // A stop leaves the queued renderings undone: not failures, just not made this time.
            if (stopped())
                return;
            // A large picture waiting for its turn leaves the worker to the next photo: this runs
            // again once the turn is its, and nothing is done meanwhile.
            const LargeTurn::PutBackScope aside;
            if (thumbnailSourceMatches(photo)) {
                if (renderer)
                    renderer(photo.path, temporary);
                else
                    makeThumbnail(
                        photo.path, temporary, [this] { return stopped(); },
                        [this, &aside] { return stopped() || aside.putBack(); });
            }
            if (aside.putBack()) {
                queue->async([id = photo.id, lifetime, this] {
                    if (lifetime.expired())
                        return;
                    m_thumbnailsAside.insert(id);
                    refillThumbnails();
                });
                return;
            }
            queue->async([photo, temporary, version, lifetime, this] {
                if (lifetime.expired()) {
                    QFile::remove(temporary);
                    return;
                }
                completeThumbnail(photo, temporary, version);
            });
        });
    }
}

void Indexer::completeThumbnail(const Photo& photo, const QString& temporary, const QString& version) {
    rebuildThumbnailPlanIfNeeded();
    m_pendingThumbnails.remove(photo.id);
    m_thumbnailsAside.remove(photo.id);
    [&] {
        const qsizetype position = thumbnailPosition(photo.id);
        if (position < 0)
            return;
        Photo& current = m_library.photos[position];
        if (thumbnailVersion(current) != version) {
            // The file changed while it rendered: no failure, just another turn in this walk.
            m_thumbnailCandidates.append(photo.id);
            return;
        }
        if (!QFile::exists(temporary) || !thumbnailSourceMatches(photo)) {
            // A render a stop cut short failed at nothing: the next start makes it.
            if (!stopped())
                recordThumbnailResult(photo, false);
            return;
        }
        // Never the path the record holds: one read from a damaged index could name any file.
        // The id is the rendered file's own (the source matched it), so the path stays inside.
        current.thumbnail = thumbnailPathFor(current);
        QFile::remove(current.thumbnail);
        if (!FileMove::moveNoReplace(temporary, current.thumbnail)) {
            recordThumbnailResult(photo, false);
            return;
        }
        recordThumbnailResult(photo, true);
        if (auto file = FileIdentity::read(current.thumbnail))
            current.thumbnailModified = file->modified;
        if (!m_thumbnailPublicationDue) {
            m_thumbnailPublicationDue = true;
            m_callerQueue->asyncAfter(kPublicationDelay, [lifetime = std::weak_ptr<int>(m_lifetime), this] {
                if (!lifetime.expired())
                    publishThumbnails();
            });
        }
    }();
    QFile::remove(temporary);
    refillThumbnails();
}

void Indexer::publishThumbnails() {
    m_thumbnailPublicationDue = false;
    saveLibrary();
    if (m_thumbnailUpdate)
        m_thumbnailUpdate(m_library.photos);
    // Off the path of the next change, which would otherwise copy what was just shared.
    takeLibraryBack();
}

void Indexer::makeThumbnail(const QString& source, const QString& destination,
                            const std::function<bool()>& cancelled, const std::function<bool()>& abandoned) {
    // A thumbnail drawn while the process ends is thrown away with it.
    const auto given = [&abandoned] { return ProcessExit::announced() || (abandoned && abandoned()); };
    auto image = ImageDecoder::decodeScaled(source, kMaxThumbnailPixels, given);
    if (given())
        return;
    if (!image) {
        // What the decoder refused in a format of its own as damaged, a thumbnailer would spend its
        // whole time limit on at every retry. A picture refused only for its pixels is one the
        // desktop's thumbnailers draw in moments: a stitched panorama, a scan.
        const bool tooLarge = image.error().domain == QLatin1String(kImageErrorDomain) &&
                              image.error().code == kImageTooLargeCode;
        if (!tooLarge && ImageDecoder::readsFormatOf(source))
            return;
        // What the decoder cannot read, the desktop's thumbnail cache or thumbnailers may.
        // A thumbnailer run for a picture given up is cut short as well, not waited out.
        image =
            FreedesktopThumbnailer::thumbnail(source, kMaxThumbnailPixels, FreedesktopThumbnailer::kTimeout,
                                              [&] { return given() || (cancelled && cancelled()); });
        if (!image)
            return;
        if (std::max(image->width(), image->height()) > kMaxThumbnailPixels)
            *image = image->scaled(ImageDecoder::boundedSize(image->size(), kMaxThumbnailPixels),
                                   Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    // Its result is thrown away: not worth a sync to the disk.
    if (given())
        return;
    save(*image, destination);
}

bool Indexer::save(const QImage& image, const QString& destination) {
    if (image.isNull())
        return false;
    // The destination appears only on commit, so "the file exists" means "the file is complete".
    QSaveFile file(destination);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QImageWriter writer(&file, "jpeg");
    writer.setQuality(kJpegQualityPercent);
    const QImage opaque = image.hasAlphaChannel() ? [&image] {
        QImage flat(image.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter painter(&flat);
        painter.drawImage(0, 0, image);
        return flat;
    }()
                                                  : image;
    if (!writer.write(opaque)) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace vennimo
