#pragma once

#include <QByteArray>
#include <QMimeData>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace vennimo {

class WorkQueue;

// The clipboard content of one copied photo: its file URL at once, and the image as PNG made
// from the bytes the file had when it was copied, not from whatever the file holds by then. The
// image is made when a reader asks, or ahead on a work queue, so that a reader asking meanwhile
// only waits for the rest and the thread it asks on does none of the work.
class ImageClipboardData : public QMimeData {
    Q_OBJECT

public:
    // Gives up, with nothing, once `stop` is set: nobody wants the image any more.
    using Render =
        std::function<std::optional<QByteArray>(const QByteArray& source, const std::atomic<bool>& stop)>;

    static constexpr auto kImageType = "image/png";

    // Without `source` only the file URL is offered.
    ImageClipboardData(const QUrl& file, std::optional<QByteArray> source, Render render = &pngUnlessStopped);
    // An image still being made is given up; nobody waits for it, and the queue it runs on (one
    // that the program's end waits for) is free again soon.
    ~ImageClipboardData() override;

    // Starts making the image on `queue` unless a reader already asked for it.
    void renderAhead(WorkQueue& queue);

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;
    // Everything rendered now, in a plain object that no longer needs this process's help.
    std::unique_ptr<QMimeData> materialized() const;

    // PNG of any image the decoder reads, at zlib's fastest level, which takes a quarter of the
    // default's time for a few per cent more bytes; nothing for data it cannot read.
    static std::optional<QByteArray> png(const QByteArray& source);
    // The same, broken off soon after `stop` is set or the process announced its end, in the
    // middle of decoding the picture or of writing the PNG.
    static std::optional<QByteArray> pngUnlessStopped(const QByteArray& source,
                                                      const std::atomic<bool>& stop);

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    struct Rendering;

    std::optional<QByteArray> image() const;

    const bool m_hasSource;
    // Shared with a rendering running on a queue, which may outlive this object.
    std::shared_ptr<Rendering> m_rendering;
};

// Sets the file URLs the way browsers and file managers read copied files.
void setCopiedFileUrls(QMimeData& data, const QList<QUrl>& urls);

} // namespace vennimo
