#pragma once

#include <QByteArray>
#include <QMimeData>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace vennimo {

// The clipboard content of one copied photo: its file URL at once, and the image as PNG made
// only when a reader asks, from the bytes the file had when it was copied, not from whatever
// the file holds by then.
class ImageClipboardData : public QMimeData {
    Q_OBJECT

public:
    using Render = std::function<std::optional<QByteArray>(const QByteArray& source)>;

    static constexpr auto kImageType = "image/png";

    // Without `source` only the file URL is offered.
    ImageClipboardData(const QUrl& file, std::optional<QByteArray> source, Render render = &png);

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;
    // Everything rendered now, in a plain object that no longer needs this process's help.
    std::unique_ptr<QMimeData> materialized() const;

    // PNG of any image the decoder reads; nothing for data it cannot read.
    static std::optional<QByteArray> png(const QByteArray& source);

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    std::optional<QByteArray> image() const;

    std::optional<QByteArray> m_source;
    Render m_render;
    // Rendered once; a failed rendering is not retried either.
    mutable std::optional<std::optional<QByteArray>> m_rendered;
};

// Sets the file URLs the way browsers and file managers read copied files.
void setCopiedFileUrls(QMimeData& data, const QList<QUrl>& urls);

} // namespace vennimo
