#include "model/ImageClipboardData.h"

#include "platform/ImageDecoder.h"
#include "platform/PngWriter.h"
#include "platform/ProcessExit.h"
#include "platform/WorkQueue.h"

#include <condition_variable>
#include <mutex>

namespace vennimo {

namespace {

constexpr auto kGnomeCopiedFiles = "x-special/gnome-copied-files";
// A clipboard image is wanted soon rather than small.
constexpr int kFastestZlibLevel = 1;

} // namespace

// Made once, by whoever comes first: a task on a queue or a reader; a failed rendering is not
// retried either.
struct ImageClipboardData::Rendering {
    enum class State { Idle, Queued, Running, Done };

    std::mutex mutex;
    std::condition_variable done;
    State state = State::Idle;
    // Dropped once the data object is gone: nobody wants the image any more. `stop` tells a
    // rendering under way, without the lock.
    bool abandoned = false;
    std::atomic<bool> stop{false};
    QByteArray source;
    Render render;
    std::optional<QByteArray> image;

    // Called with `lock` held and the state just set to Running; releases it while rendering.
    void run(std::unique_lock<std::mutex>& lock) {
        const QByteArray input = source;
        const Render make = render;
        lock.unlock();
        std::optional<QByteArray> made = make ? make(input, stop) : std::nullopt;
        lock.lock();
        if (!abandoned)
            image = std::move(made);
        // Never made again, so the snapshot can go.
        source = QByteArray();
        state = State::Done;
        done.notify_all();
    }
};

void setCopiedFileUrls(QMimeData& data, const QList<QUrl>& urls) {
    data.setUrls(urls);
    // GNOME-family file managers paste files only from their own list: the operation first.
    QByteArray gnome("copy");
    for (const QUrl& url : urls)
        gnome += '\n' + url.toEncoded();
    data.setData(QString::fromLatin1(kGnomeCopiedFiles), gnome);
}

ImageClipboardData::ImageClipboardData(const QUrl& file, std::optional<QByteArray> source, Render render)
    : m_hasSource(source.has_value())
    , m_rendering(std::make_shared<Rendering>()) {
    if (source) {
        m_rendering->source = std::move(*source);
        m_rendering->render = std::move(render);
    }
    setCopiedFileUrls(*this, {file});
}

ImageClipboardData::~ImageClipboardData() {
    m_rendering->stop = true;
    const std::lock_guard lock(m_rendering->mutex);
    m_rendering->abandoned = true;
    m_rendering->source = QByteArray();
    m_rendering->render = nullptr;
    m_rendering->image.reset();
}

void ImageClipboardData::renderAhead(WorkQueue& queue) {
    if (!m_hasSource)
        return;
    {
        const std::lock_guard lock(m_rendering->mutex);
        if (m_rendering->state != Rendering::State::Idle)
            return;
        m_rendering->state = Rendering::State::Queued;
    }
    queue.async([rendering = m_rendering] {
        std::unique_lock lock(rendering->mutex);
        if (rendering->state != Rendering::State::Queued)
            return;
        if (rendering->abandoned) {
            rendering->state = Rendering::State::Done;
            rendering->done.notify_all();
            return;
        }
        rendering->state = Rendering::State::Running;
        rendering->run(lock);
    });
}

QStringList ImageClipboardData::formats() const {
    QStringList types = QMimeData::formats();
    if (m_hasSource)
        types.append(QString::fromLatin1(kImageType));
    return types;
}

bool ImageClipboardData::hasFormat(const QString& mimeType) const {
    return formats().contains(mimeType);
}

std::optional<QByteArray> ImageClipboardData::image() const {
    if (!m_hasSource)
        return std::nullopt;
    std::unique_lock lock(m_rendering->mutex);
    if (m_rendering->state == Rendering::State::Idle) {
        m_rendering->state = Rendering::State::Running;
        m_rendering->run(lock);
    }
    // Started ahead: only what is left of it is waited for.
    m_rendering->done.wait(lock, [this] { return m_rendering->state == Rendering::State::Done; });
    return m_rendering->image;
}

QVariant ImageClipboardData::retrieveData(const QString& mimeType, QMetaType type) const {
    if (mimeType != QLatin1String(kImageType))
        return QMimeData::retrieveData(mimeType, type);
    const auto data = image();
    return data ? QVariant(*data) : QVariant();
}

std::unique_ptr<QMimeData> ImageClipboardData::materialized() const {
    auto data = std::make_unique<QMimeData>();
    for (const QString& type : QMimeData::formats())
        data->setData(type, QMimeData::data(type));
    if (const auto rendered = image())
        data->setData(QString::fromLatin1(kImageType), *rendered);
    return data;
}

std::optional<QByteArray> ImageClipboardData::png(const QByteArray& source) {
    const std::atomic<bool> never{false};
    return pngUnlessStopped(source, never);
}

std::optional<QByteArray> ImageClipboardData::pngUnlessStopped(const QByteArray& source,
                                                               const std::atomic<bool>& stop) {
    // Nobody pastes from a process on its way out: its end stops the decoding and the encoding
    // as the dropped data does, at their next row, instead of holding the exit for a large photo.
    const auto stopped = [&stop] { return stop.load() || ProcessExit::announced(); };
    const auto image = ImageDecoder::decodeScaled(source, 0, stopped);
    if (!image || stopped())
        return std::nullopt;
    return PngWriter::encode(*image, kFastestZlibLevel, stopped);
}

} // namespace vennimo
