#include "model/ImageClipboardData.h"

#include "platform/ImageDecoder.h"

#include <QBuffer>
#include <QImageWriter>

namespace vennimo {

namespace {

constexpr auto kGnomeCopiedFiles = "x-special/gnome-copied-files";

} // namespace

void setCopiedFileUrls(QMimeData& data, const QList<QUrl>& urls) {
    data.setUrls(urls);
    // GNOME-family file managers paste files only from their own list: the operation first.
    QByteArray gnome("copy");
    for (const QUrl& url : urls)
        gnome += '\n' + url.toEncoded();
    data.setData(QString::fromLatin1(kGnomeCopiedFiles), gnome);
}

ImageClipboardData::ImageClipboardData(const QUrl& file, std::optional<QByteArray> source, Render render)
    : m_source(std::move(source))
    , m_render(std::move(render)) {
    setCopiedFileUrls(*this, {file});
}

QStringList ImageClipboardData::formats() const {
    QStringList types = QMimeData::formats();
    if (m_source)
        types.append(QString::fromLatin1(kImageType));
    return types;
}

bool ImageClipboardData::hasFormat(const QString& mimeType) const {
    return formats().contains(mimeType);
}

std::optional<QByteArray> ImageClipboardData::image() const {
    if (!m_source)
        return std::nullopt;
    if (!m_rendered)
        m_rendered = m_render ? m_render(*m_source) : std::nullopt;
    return *m_rendered;
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
    const auto image = ImageDecoder::decode(source);
    if (!image)
        return std::nullopt;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!QImageWriter(&buffer, "png").write(*image))
        return std::nullopt;
    return bytes;
}

} // namespace vennimo
