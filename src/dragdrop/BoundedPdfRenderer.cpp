#include "dragdrop/BoundedPdfRenderer.h"

#include "platform/BoundedChildProcess.h"

#include <QPainter>

#include <poppler-qt6.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace vennimo {

namespace {

// What the child reports with the pixels.
enum class Outcome : qint32 { Rendered, NotADocument, InvalidSize, RenderFailed };

Error notImageError() {
    return Error::failure(QStringLiteral("来源提供的内容不是可读取的图片。"));
}

Outcome renderPage(const QByteArray& pdf, double maxScale, double maxSidePixels, QImage& image) {
    std::unique_ptr<Poppler::Document> document = Poppler::Document::loadFromData(pdf);
    if (!document || document->isLocked() || document->numPages() != 1)
        return Outcome::NotADocument;
    std::unique_ptr<Poppler::Page> page = document->page(0);
    if (!page)
        return Outcome::NotADocument;
    const QSizeF box = page->pageSizeF();
    const double scale = std::min(maxScale, maxSidePixels / std::max(box.width(), box.height()));
    if (!(box.width() > 0) || !(box.height() > 0) || !std::isfinite(scale) || !(scale > 0))
        return Outcome::InvalidSize;
    const int width = std::max(1, int(std::ceil(box.width() * scale)));
    const int height = std::max(1, int(std::ceil(box.height() * scale)));
    document->setRenderHint(Poppler::Document::Antialiasing);
    document->setRenderHint(Poppler::Document::TextAntialiasing);
    // No paper behind the page: what the document leaves transparent stays so.
    document->setRenderHint(Poppler::Document::IgnorePaperColor);
    const QImage rendered = page->renderToImage(72.0 * scale, 72.0 * scale, 0, 0, width, height);
    if (rendered.isNull())
        return Outcome::RenderFailed;
    image = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return Outcome::RenderFailed;
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(0, 0, rendered);
    }
    return Outcome::Rendered;
}

} // namespace

Result<QImage> BoundedPdfRenderer::render(const QByteArray& pdf, double maxScale, double maxSidePixels,
                                          const Limits& limits, const std::function<bool()>& stop) {
    const BoundedChildLimits childLimits{.deadline = limits.deadline, .memoryBytes = limits.memoryBytes};
    auto answer = BoundedChildProcess::run(
        [&](BoundedChildAnswer& child) {
            child.code = qint32(renderPage(pdf, maxScale, maxSidePixels, child.image));
        },
        int(std::ceil(maxSidePixels)), childLimits, stop);
    if (!answer)
        return notImageError();
    switch (Outcome(answer->code)) {
    case Outcome::Rendered:
        if (answer->image.isNull())
            return notImageError();
        return answer->image;
    case Outcome::InvalidSize:
        return Error::failure(QStringLiteral("文档中的图片尺寸无效。"));
    case Outcome::RenderFailed:
        return Error::failure(QStringLiteral("无法转换文档图片。"));
    case Outcome::NotADocument:
        break;
    }
    return notImageError();
}

} // namespace vennimo
