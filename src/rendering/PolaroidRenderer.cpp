#include "rendering/PolaroidRenderer.h"

#include "platform/Dates.h"
#include "platform/Logging.h"
#include "platform/WorkQueue.h"
#include "rendering/ClotheslineMaterialAssets.h"
#include "rendering/DropShadow.h"
#include "rendering/ImageReading.h"
#include "rendering/MemoryCache.h"
#include "rendering/PhotoDimensions.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

namespace vennimo {

namespace {

// The simplified-Chinese family, named so the C locale does not pick Japanese letterforms.
constexpr const char* kTagFontFamily = "Noto Sans CJK SC";
constexpr QStringView kPlaceholderPrefix = u"placeholder-";
constexpr QStringView kPaperBasePrefix = u"paper-base";

QColor rgb255(int r, int g, int b, double alpha = 1) {
    return QColor::fromRgbF(float(r / 255.0), float(g / 255.0), float(b / 255.0), float(alpha));
}

QColor rgbF(double r, double g, double b, double alpha = 1) {
    return QColor::fromRgbF(float(r), float(g), float(b), float(alpha));
}

QString number(double value) {
    return formatUnixSeconds(value);
}

QString sizeText(double w, double h, double s) {
    return number(w) + QLatin1Char('x') + number(h) + QLatin1Char('@') + number(s);
}

QString aspectText(const Photo& photo) {
    const QSizeF size = PhotoDimensions::imageSize(photo);
    return number(size.width() / size.height());
}

double unixOrZero(const std::optional<double>& date) {
    return date ? unixSecondsFromDate(*date) : 0;
}

QPainterPath roundedRect(const QRectF& rect, double radius) {
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    path.addRoundedRect(rect, radius, radius);
    return path;
}

struct State {
    MemoryCache<QImage> cache{PolaroidRenderer::kCacheCount, PolaroidRenderer::kCacheCostBytes};
    MemoryCache<QByteArray> paperBases{PolaroidRenderer::kPaperBaseCount,
                                       PolaroidRenderer::kPaperBaseCostBytes};
    MemoryCache<QImage> placeholders{PolaroidRenderer::kPlaceholderCount,
                                     PolaroidRenderer::kPlaceholderCostBytes};
    MemoryCache<QImage> marks{PolaroidRenderer::kMarkCount, PolaroidRenderer::kMarkCostBytes};
    std::atomic<int> renderCount{0};
    std::mutex baseLock;
    int baseRenderCount = 0;
    std::atomic<int> placeholderMainRenderCount{0};
    SerialQueue placeholderQueue{QStringLiteral("local.vennimo.placeholder")};
    // Main thread only.
    QHash<QString, std::vector<std::function<void()>>> placeholderRequests;
    std::mutex materialLock;
    bool materialLoaded = false;
    std::optional<PolaroidRenderer::PegMaterial> material;
};

State& state() {
    static State instance;
    return instance;
}

std::optional<PolaroidRenderer::PegMaterial> loadPegMaterial() {
    if (const auto& refined = ClotheslineMaterialAssets::peg())
        return PolaroidRenderer::PegMaterial{*refined, true};
    // The spare artwork is small enough to decode whole.
    constexpr QRect kSpareCrop(344, 51, 326, 1434);
    constexpr int kWholeImagePixels = 1 << 14;
    if (auto spare =
            ClotheslineMaterialAssets::load(QStringLiteral("ClotheslinePeg"), kSpareCrop, kWholeImagePixels))
        return PolaroidRenderer::PegMaterial{*spare, false};
    return std::nullopt;
}

void drawPaperBase(QPainter& p, const PolaroidGeometry& g, double u, double s) {
    const QPainterPath paper = roundedRect(g.paperRect, 3 * u);
    const QColor paperColor = rgb255(250, 248, 245);
    const auto fillPaper = [&](QPainter& painter) { painter.fillPath(paper, paperColor); };
    const QRectF bounds = g.paperRect;
    DropShadow{QPointF(0, 8 * u * s), 14 * u * s, rgbF(0, 0, 0, 0.22)}.paint(p, bounds, fillPaper);
    DropShadow{QPointF(0, u * s), 2 * u * s, rgbF(0, 0, 0, 0.10)}.paint(p, bounds, fillPaper);

    p.save();
    p.setClipPath(paper, Qt::IntersectClip);
    QLinearGradient sheen(g.paperRect.center().x(), g.paperRect.top(), g.paperRect.center().x(),
                          g.paperRect.bottom());
    sheen.setColorAt(0, paperColor);
    sheen.setColorAt(1, rgb255(242, 239, 233));
    p.fillRect(g.paperRect, sheen);
    p.setPen(QPen(rgbF(1, 1, 1, 0.8), 0.5 * u));
    p.drawLine(QPointF(g.paperRect.left() + 3 * u, g.paperRect.bottom() - 0.5 * u),
               QPointF(g.paperRect.right() - 3 * u, g.paperRect.bottom() - 0.5 * u));
    p.restore();
}

void drawPlaceholderWindow(QPainter& p, const QRectF& window, double u) {
    p.fillRect(window, rgbF(0.93, 0.92, 0.88));
    QPen pen(rgbF(0.61, 0.59, 0.53), 1.4 * u);
    pen.setJoinStyle(Qt::MiterJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QRectF f(window.center().x() - 14 * u, window.center().y() - 11 * u, 28 * u, 22 * u);
    p.drawRect(f);
    const QPointF mountains[] = {
        {f.left(), f.bottom() - 3 * u},
        {f.left() + 9 * u, f.center().y()},
        {f.center().x() + 2 * u, f.center().y() + 5 * u},
        {f.right() - 6 * u, f.top() + 6 * u},
        {f.right(), f.bottom() - 3 * u},
    };
    p.drawPolyline(mountains, 5);
}

void drawPhotoWindow(QPainter& p, const Photo& photo, const PolaroidGeometry& g, double u, double s,
                     bool placeholder, const std::function<bool()>& stop) {
    p.save();
    p.setClipPath(roundedRect(g.imageRect, u), Qt::IntersectClip);
    QImage picture;
    // Decoded at the window's own pixel size: the photo never shows larger than that, and a
    // JPEG shrinks while it loads.
    if (!placeholder)
        picture = PolaroidRenderer::thumbnail(
            photo, int(std::ceil(std::max(g.imageRect.width(), g.imageRect.height()) * s)), stop);
    if (!picture.isNull())
        p.drawImage(g.imageRect, picture);
    else
        drawPlaceholderWindow(p, g.imageRect, u);
    const double inset = 0.5 / s;
    p.setPen(QPen(rgbF(0, 0, 0, 0.08), 1 / s));
    p.setBrush(Qt::NoBrush);
    const double radius = std::max(u - inset, 0.0);
    p.drawRoundedRect(g.imageRect.adjusted(inset, inset, -inset, -inset), radius, radius);
    p.restore();
}

void drawSelection(QPainter& p, const PolaroidGeometry& g, double u, double s) {
    const QColor ring = rgb255(23, 101, 223);
    p.setPen(QPen(ring, 2.5 * u));
    p.setBrush(Qt::NoBrush);
    const double out = 1.5 * u;
    p.drawRoundedRect(g.paperRect.adjusted(-out, -out, out, out), 4.5 * u, 4.5 * u);

    const QRectF badge(g.paperRect.right() - 16 * u, g.paperRect.top() - 10 * u, 26 * u, 26 * u);
    p.setPen(Qt::NoPen);
    DropShadow{QPointF(0, u * s), 2 * u * s, rgbF(0, 0, 0, 0.18)}.paint(p, badge, [&](QPainter& painter) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(rgb255(250, 248, 245));
        painter.drawEllipse(badge);
    });
    p.setBrush(ring);
    p.drawEllipse(badge.adjusted(2 * u, 2 * u, -2 * u, -2 * u));

    QPen check(Qt::white, 2.3 * u, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(check);
    p.setBrush(Qt::NoBrush);
    const QPointF tick[] = {
        {badge.left() + 7.5 * u, badge.top() + 13 * u},
        {badge.left() + 11 * u, badge.top() + 16.5 * u},
        {badge.left() + 18.5 * u, badge.top() + 9 * u},
    };
    p.drawPolyline(tick, 3);
}

void drawArrival(QPainter& p, const PolaroidGeometry& g, double u, double s) {
    const QPainterPath tag = g.indicatorPath(false);
    const QRectF bounds = tag.boundingRect();
    DropShadow{QPointF(0, u * s), 2 * u * s, rgbF(0, 0, 0, 0.16)}.paint(
        p, bounds, [&](QPainter& painter) { painter.fillPath(tag, rgb255(255, 223, 159)); });
    p.setPen(QPen(rgb255(173, 108, 16), 0.75 * u));
    p.setBrush(Qt::NoBrush);
    p.drawPath(tag);

    QFont font(QString::fromLatin1(kTagFontFamily));
    font.setPixelSize(std::max(1, int(std::lround(12 * u * s))));
    font.setWeight(QFont::DemiBold);
    // The font is sized in device pixels so the glyphs are hinted for the bitmap they land in.
    p.save();
    p.scale(1 / s, 1 / s);
    p.setFont(font);
    p.setPen(rgb255(100, 54, 0));
    const QString text = QStringLiteral("新");
    const QFontMetricsF metrics(font, p.device());
    const QSizeF textSize(metrics.horizontalAdvance(text), metrics.height());
    const QPointF centre = bounds.center() * s;
    const QRectF box(centre.x() - textSize.width() / 2, centre.y() - textSize.height() / 2, textSize.width(),
                     textSize.height());
    p.drawText(box, Qt::AlignCenter, text);
    p.restore();
}

void drawPeg(QPainter& p, const PolaroidGeometry& g, double u, double s) {
    p.save();
    p.setTransform(g.pegTransform, true);
    const QRectF peg = g.pegRect;
    const auto material = PolaroidRenderer::pegMaterial();
    const bool refined = material && material->refined;
    if (!refined) {
        const QRectF contact(peg.left() + 2 * u, peg.bottom() - 4 * u, peg.width() - 4 * u, 3 * u);
        DropShadow{QPointF(0, 2 * u * s), 2 * u * s, rgbF(0, 0, 0, 0.25)}.paint(
            p, contact, [&](QPainter& painter) {
                painter.setPen(Qt::NoPen);
                painter.setBrush(rgbF(0.20, 0.13, 0.07));
                painter.drawEllipse(contact);
            });
    }
    if (material) {
        const QImage& art = material->image;
        double width = peg.width();
        if (refined && art.height() > 0)
            width = std::min(peg.width(), peg.height() * art.width() / art.height());
        const QRectF target(peg.center().x() - width / 2, peg.top(), width, peg.height());
        DropShadow{QPointF(0.75 * u * s, 1.4 * u * s), 1.3 * u * s, rgbF(0, 0, 0, 0.28)}.paint(
            p, target, [&](QPainter& painter) { painter.drawImage(target, art); });
    } else {
        const QPainterPath body = roundedRect(peg, 2.7 * u);
        DropShadow{QPointF(0.9 * u * s, 1.3 * u * s), 1.7 * u * s, rgbF(0, 0, 0, 0.31)}.paint(
            p, peg, [&](QPainter& painter) { painter.fillPath(body, rgbF(0.80, 0.58, 0.33)); });
        p.save();
        p.setClipPath(body, Qt::IntersectClip);
        QLinearGradient wood(peg.left(), 0, peg.right(), 0);
        wood.setColorAt(0, rgbF(0.91, 0.73, 0.47));
        wood.setColorAt(0.52, rgbF(0.76, 0.52, 0.28));
        wood.setColorAt(1, rgbF(0.86, 0.64, 0.37));
        p.fillRect(peg, wood);
        p.setPen(QPen(rgbF(0.40, 0.25, 0.11, 0.13), 0.55 * u));
        for (double f : {0.22, 0.62, 0.79}) {
            const double x = peg.left() + f * peg.width();
            p.drawLine(QPointF(x, peg.top() + 4 * u), QPointF(x + 0.6 * u, peg.bottom() - 4 * u));
        }
        p.restore();
        p.setPen(QPen(rgbF(0.40, 0.26, 0.12, 0.25), 0.7 * u));
        p.setBrush(Qt::NoBrush);
        p.drawPath(body);
        const QRectF band(peg.left() - 1.5 * u, peg.top() + 28 * u, peg.width() + 3 * u, 3.2 * u);
        p.setPen(Qt::NoPen);
        p.setBrush(rgbF(0.40, 0.40, 0.37));
        p.drawRoundedRect(band, 0.8 * u, 0.8 * u);
        p.fillRect(QRectF(band.left() + u, band.top() + 0.5 * u, band.width() - 2 * u, 0.65 * u),
                   rgbF(0.77, 0.77, 0.72));
    }
    p.restore();
}

QImage fallbackImage(double w, double h) {
    QImage empty(int(std::ceil(w)), int(std::ceil(h)), QImage::Format_ARGB32_Premultiplied);
    if (!empty.isNull())
        empty.fill(Qt::transparent);
    return empty;
}

// Fills the bitmap with the blank paper of this aspect, size and scale, drawn once and then
// copied in as raw bytes.
void fillPaperBase(QImage& bitmap, const Photo& photo, const PolaroidGeometry& g, double w, double h,
                   double s, double u, bool shared) {
    const auto draw = [&] {
        QPainter p(&bitmap);
        p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        p.scale(s, s);
        p.setTransform(g.paperTransform, true);
        drawPaperBase(p, g, u, s);
    };
    if (!shared) {
        draw();
        return;
    }
    State& st = state();
    const QString key = PolaroidRenderer::paperBaseKey(photo, QSizeF(w, h), s);
    const qsizetype bytes = bitmap.sizeInBytes();
    std::lock_guard lock(st.baseLock);
    if (auto base = st.paperBases.value(key); base && base->size() == bytes) {
        std::memcpy(bitmap.bits(), base->constData(), size_t(bytes));
        return;
    }
    draw();
    ++st.baseRenderCount;
    st.paperBases.insert(key, QByteArray(reinterpret_cast<const char*>(bitmap.constBits()), bytes), bytes);
}

bool isOneOf(QStringView layer, std::initializer_list<QStringView> names) {
    return std::find(names.begin(), names.end(), layer) != names.end();
}

MemoryCache<QImage>& cacheFor(QStringView layer, bool placeholder) {
    State& st = state();
    if (placeholder)
        return st.placeholders;
    return isOneOf(layer, {PolaroidRenderer::kPeg, PolaroidRenderer::kSelection, PolaroidRenderer::kArrival})
               ? st.marks
               : st.cache;
}

} // namespace

PolaroidRenderer::Geometry PolaroidRenderer::geometry(const Photo& photo, QSizeF size, double angle,
                                                      double offset) {
    return PolaroidGeometry::make(size, imageSize(photo), angle, offset);
}

QSizeF PolaroidRenderer::imageSize(const Photo& photo) {
    return PhotoDimensions::imageSize(photo);
}

QString PolaroidRenderer::imageKey(const Photo& photo, QSizeF size, double scale, QStringView layer) {
    const double w = PolaroidGeometry::atLeastOne(size.width());
    const double h = PolaroidGeometry::atLeastOne(size.height());
    const double s = PolaroidGeometry::atLeastOne(scale);
    const QChar bar = QLatin1Char('|');
    if (layer == kPeg)
        return QStringLiteral("peg|") + sizeText(w, h, s);
    if (layer == kSelection || layer == kArrival)
        return layer.toString() + bar + aspectText(photo) + bar + sizeText(size.width(), size.height(), s);
    return layer.toString() + bar + photo.id + bar + photo.path + bar + number(unixOrZero(photo.created)) +
           bar + photo.thumbnail + bar + number(unixSecondsFromDate(photo.modified)) + bar +
           number(unixOrZero(photo.thumbnailModified)) + bar + QString::number(photo.size) + bar +
           sizeText(w, h, s);
}

QString PolaroidRenderer::placeholderKey(const Photo& photo, QSizeF size, double scale, QStringView layer) {
    return kPlaceholderPrefix.toString() + layer.toString() + QLatin1Char('|') + aspectText(photo) +
           QLatin1Char('|') +
           sizeText(PolaroidGeometry::atLeastOne(size.width()), PolaroidGeometry::atLeastOne(size.height()),
                    PolaroidGeometry::atLeastOne(scale));
}

QString PolaroidRenderer::paperBaseKey(const Photo& photo, QSizeF size, double scale) {
    return kPaperBasePrefix.toString() + QLatin1Char('|') + aspectText(photo) + QLatin1Char('|') +
           sizeText(PolaroidGeometry::atLeastOne(size.width()), PolaroidGeometry::atLeastOne(size.height()),
                    PolaroidGeometry::atLeastOne(scale));
}

QImage PolaroidRenderer::image(const Photo& photo, QSizeF size, double scale, QStringView layer,
                               bool placeholder, bool cacheResult, bool sharedPaper,
                               const std::function<bool()>& stop) {
    const double w = PolaroidGeometry::atLeastOne(size.width());
    const double h = PolaroidGeometry::atLeastOne(size.height());
    const double s = PolaroidGeometry::atLeastOne(scale);
    State& st = state();
    MemoryCache<QImage>& store = cacheFor(layer, placeholder);
    // The size as asked for: the badge keys spell it unraised, and cachedImage looks them up so.
    const QString key =
        placeholder ? placeholderKey(photo, size, scale, layer) : imageKey(photo, size, scale, layer);
    if (sharedPaper) {
        if (auto hit = store.value(key))
            return *hit;
    }
    const bool onMain = isMainThread();
    if (placeholder && onMain)
        ++st.placeholderMainRenderCount;
    Signpost signpost("PaperRender");
    qCDebug(lcSignpost, "PaperRender placeholder=%d main=%d", placeholder ? 1 : 0, onMain ? 1 : 0);

    if (w * s > kMaxBitmapSidePixels || h * s > kMaxBitmapSidePixels)
        return {};
    ++st.renderCount;
    const int pw = int(std::ceil(w * s));
    const int ph = int(std::ceil(h * s));
    QImage bitmap(pw, ph, QImage::Format_ARGB32_Premultiplied);
    if (bitmap.isNull())
        return fallbackImage(w, h);
    bitmap.fill(Qt::transparent);

    const PolaroidGeometry g = PolaroidGeometry::make(QSizeF(w, h), imageSize(photo), 0, 0);
    const double u = std::min(w / PolaroidGeometry::kDesignWidth, h / PolaroidGeometry::kDesignHeight);
    const bool drawsPaper = !isOneOf(layer, {kPeg, kSelection, kArrival});
    const bool drawsPeg = !isOneOf(layer, {kPaper, kSelection, kArrival});

    // The paper base covers the whole bitmap, so it goes in before anything is painted.
    if (drawsPaper)
        fillPaperBase(bitmap, photo, g, w, h, s, u, sharedPaper);
    {
        QPainter p(&bitmap);
        p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform |
                         QPainter::TextAntialiasing);
        p.scale(s, s);
        if (drawsPaper) {
            p.save();
            p.setTransform(g.paperTransform, true);
            drawPhotoWindow(p, photo, g, u, s, placeholder, stop);
            p.restore();
        }
        if (layer == kSelection)
            drawSelection(p, g, u, s);
        else if (layer == kArrival)
            drawArrival(p, g, u, s);
        if (drawsPeg)
            drawPeg(p, g, u, s);
    }
    // A stopped drawing shows the empty window where the photo goes: it must not pass for the print.
    if (stop && stop())
        return {};
    bitmap.setDevicePixelRatio(s);
    if (cacheResult && sharedPaper)
        store.insert(key, bitmap, std::int64_t(pw) * ph * 4);
    return bitmap;
}

std::optional<QImage> PolaroidRenderer::cachedImage(const Photo& photo, QSizeF size, double scale,
                                                    QStringView layer) {
    return cacheFor(layer, false).value(imageKey(photo, size, scale, layer));
}

void PolaroidRenderer::storePrepared(const QImage& image, const Photo& photo, double scale) {
    const double s = PolaroidGeometry::atLeastOne(scale);
    const std::int64_t cost = std::int64_t(std::ceil(s * defaultSize.width())) *
                              std::int64_t(std::ceil(s * defaultSize.height())) * 4;
    state().cache.insert(imageKey(photo, defaultSize, s, kPaper), image, cost);
}

QImage PolaroidRenderer::emptyPaper() {
    static const QImage empty = [] {
        QImage image(int(defaultSize.width()), int(defaultSize.height()),
                     QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        return image;
    }();
    return empty;
}

QImage PolaroidRenderer::placeholder(const Photo& photo, double scale, std::function<void()> ready) {
    Q_ASSERT(isMainThread());
    State& st = state();
    const double s = PolaroidGeometry::atLeastOne(scale);
    const QString key = placeholderKey(photo, defaultSize, s, kPaper);
    if (auto hit = st.placeholders.value(key))
        return *hit;
    auto waiting = st.placeholderRequests.find(key);
    if (waiting != st.placeholderRequests.end()) {
        waiting->push_back(std::move(ready));
        return emptyPaper();
    }
    // A placeholder still drawing once the application is gone would paint with Qt's thread pool
    // after it was torn down and hang or crash the exit: the queue is emptied while Qt still runs.
    static const bool drainedAtExit = [] {
        qAddPostRoutine([] {
            State& st = state();
            st.placeholderQueue.cancelAll();
            st.placeholderQueue.waitUntilIdle();
        });
        return true;
    }();
    Q_UNUSED(drainedAtExit);
    st.placeholderRequests.insert(key, {std::move(ready)});
    st.placeholderQueue.async([photo, s, key] {
        image(photo, defaultSize, s, kPaper, true, true, true);
        postToMain([key] {
            const auto callbacks = state().placeholderRequests.take(key);
            for (const auto& callback : callbacks)
                if (callback)
                    callback();
        });
    });
    return emptyPaper();
}

bool PolaroidRenderer::placeholderReady(const Photo& photo, double scale) {
    Q_ASSERT(isMainThread());
    return state().placeholders.contains(
        placeholderKey(photo, defaultSize, PolaroidGeometry::atLeastOne(scale), kPaper));
}

QImage PolaroidRenderer::thumbnail(const Photo& photo, int maxPixelSize, const std::function<bool()>& stop) {
    for (const QString* path : {&photo.thumbnail, &photo.path}) {
        QImage decoded = ImageReading::decodeScaled(*path, maxPixelSize, stop);
        if (!decoded.isNull())
            return decoded;
    }
    return {};
}

int PolaroidRenderer::baseRenderCount() {
    State& st = state();
    std::lock_guard lock(st.baseLock);
    return st.baseRenderCount;
}

int PolaroidRenderer::renderCount() {
    return state().renderCount.load();
}

int PolaroidRenderer::placeholderMainRenderCount() {
    return state().placeholderMainRenderCount.load();
}

int PolaroidRenderer::cachedImageCount() {
    return state().cache.count();
}

std::int64_t PolaroidRenderer::cachedImageCost() {
    return state().cache.totalCost();
}

std::optional<PolaroidRenderer::PegMaterial> PolaroidRenderer::pegMaterial() {
    State& st = state();
    std::lock_guard lock(st.materialLock);
    if (!st.materialLoaded) {
        st.material = loadPegMaterial();
        st.materialLoaded = true;
    }
    return st.material;
}

void PolaroidRenderer::setPegMaterial(std::optional<PegMaterial> material) {
    State& st = state();
    std::lock_guard lock(st.materialLock);
    st.material = std::move(material);
    st.materialLoaded = true;
}

void PolaroidRenderer::clearCaches() {
    State& st = state();
    st.cache.clear();
    st.placeholders.clear();
    st.marks.clear();
    std::lock_guard lock(st.baseLock);
    st.paperBases.clear();
}

} // namespace vennimo
