#include "canvas/OpaquePegPreview.h"

#include "canvas/PanelCover.h"
#include "rendering/AlphaMaskedPicture.h"

#include "platform/DisplayLink.h"
#include "platform/ReduceMotion.h"
#include "platform/X11DropRefusal.h"
#include "platform/X11InputShape.h"
#include "platform/X11WindowStack.h"
#include "rope/RopeDiagnostic.h"

#include <QGuiApplication>
#include <QLineF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace vennimo {

namespace {

// One print's panel: it never takes the pointer or the focus and draws its image at a sub-pixel
// place inside a window that sits on whole pixels. A masked panel (nothing composites) is cut to
// its print's outline instead and shows only while it draws.
class OpaquePreviewPanel : public QWidget {
public:
    // A panel that carries prints is marked as taking no input, and the rope window, cut where
    // nothing composites, keeps its pixels under it so a press there reaches the rope. A picture
    // flying back from a system drag carries none: nothing of the rope's stays under it, where
    // the rope would show its clear pixels, black, the moment the picture moves on. X passes
    // presses through both alike (an empty input shape).
    OpaquePreviewPanel(QImage image, bool masked, bool carriesPrints)
        : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint |
                               (carriesPrints ? Qt::WindowTransparentForInput : Qt::Widget) |
                               Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint)
        , m_image(std::move(image))
        , m_masked(masked) {
        if (!masked)
            setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        // Under the pointer all the way: a system drag must look past it for its target.
        create();
        X11DropRefusal::install(windowHandle());
    }
    QRectF imageRect;
    bool masked() const { return m_masked; }
    bool drawn() const { return m_drawn; }
    const QImage& image() const { return m_image; }
    // Shown at once (`now`) or on the next paint.
    void setDrawn(bool on, bool now) {
        m_drawn = on;
        if (m_masked) {
            if (on) {
                updateShape();
                show();
                // A press there must reach the rope, so the print can be picked up again.
                X11InputShape::apply(windowHandle(), QRegion());
            } else {
                PanelCover::hide(this);
                return;
            }
        }
        if (now)
            repaint();
        else
            update();
    }
    void setImage(const QImage& image) {
        if (image.isNull() || image.cacheKey() == m_image.cacheKey())
            return;
        m_image = image;
        if (m_masked && m_drawn)
            updateShape();
        // The new outline and the new picture in the same frame.
        if (m_drawn && isVisible())
            repaint();
        else
            update();
    }
    // After a move or a new image rectangle.
    void placed() {
        if (m_masked && m_drawn)
            updateShape();
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        if (m_masked) {
            painter.drawImage(QPointF(0, 0), m_shape.image());
            return;
        }
        painter.fillRect(rect(), Qt::transparent);
        if (!m_drawn)
            return;
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(imageRect, m_image);
    }

private:
    // The outline follows the picture; a panel only moving keeps the one it has.
    void updateShape() {
        const double ratio = std::max(devicePixelRatioF(), 1.0);
        const ShapeKey key{m_image.cacheKey(), imageRect, size(), ratio};
        if (!m_shape.isNull() && key == m_shapeKey)
            return;
        QImage picture((QSizeF(size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        picture.setDevicePixelRatio(ratio);
        picture.fill(Qt::transparent);
        {
            QPainter painter(&picture);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(imageRect, m_image);
        }
        m_shape = AlphaMaskedPicture(picture);
        m_shapeKey = key;
        setMask(m_shape.region());
    }
    struct ShapeKey {
        qint64 image = 0;
        QRectF rect;
        QSize size;
        double ratio = 1;
        bool operator==(const ShapeKey&) const = default;
    };

    QImage m_image;
    bool m_masked = false;
    bool m_drawn = false;
    AlphaMaskedPicture m_shape;
    ShapeKey m_shapeKey;
};

OpaquePreviewPanel* asPanel(const QPointer<QWidget>& widget) {
    return static_cast<OpaquePreviewPanel*>(widget.data());
}

QString rectText(const QRectF& r) {
    return QStringLiteral("{{%1,%2},{%3,%4}}")
        .arg(RopeDiagnostic::number(r.x()), RopeDiagnostic::number(r.y()), RopeDiagnostic::number(r.width()),
             RopeDiagnostic::number(r.height()));
}

} // namespace

OpaquePegPreview::OpaquePegPreview(QPointF point, std::function<void()> revealSource, Pointer pointer,
                                   Clock clock)
    : m_startPoint(point)
    , m_revealSource(std::move(revealSource))
    , m_pointer(std::move(pointer))
    , m_clock(clock ? std::move(clock) : Clock(&DisplayLink::now)) {}

std::unique_ptr<OpaquePegPreview> OpaquePegPreview::make(const QList<Item>& items, QPointF point,
                                                         std::function<void()> revealSource, Pointer pointer,
                                                         Clock clock, bool driven,
                                                         std::unique_ptr<OpaquePegPreview> replacing,
                                                         bool masked, bool carriesPrints) {
    bool valid = !items.isEmpty();
    for (const Item& item : items)
        valid = valid && !item.image.isNull();
    if (!valid) {
        if (replacing)
            replacing->close();
        return nullptr;
    }
    std::unique_ptr<OpaquePegPreview> preview(
        new OpaquePegPreview(point, std::move(revealSource), std::move(pointer), std::move(clock)));
    preview->m_masked = masked;
    if (replacing && replacing->m_phase == Phase::returning) {
        // Its return stops where it is; the panels of the prints picked up again carry on.
        replacing->m_heldForPickup = true;
        preview->m_predecessor = std::move(replacing);
    } else if (replacing) {
        replacing->close();
    }
    OpaquePegPreview* predecessor = preview->m_predecessor.get();
    QStringList frames;
    QStringList windows;
    for (const Item& item : items) {
        const int index = int(preview->m_panels.size());
        const QSize panelSize(int(std::ceil(item.frame.width())) + 1,
                              int(std::ceil(item.frame.height())) + 1);
        const qsizetype held = predecessor ? predecessor->m_photoIDs.indexOf(item.photoID) : -1;
        OpaquePreviewPanel* old = held >= 0 ? asPanel(predecessor->m_panels.value(held)) : nullptr;
        const QRectF oldRect = old ? old->imageRect.translated(old->pos()) : QRectF();
        if (old && old->isVisible() && old->drawn() && old->masked() == masked &&
            old->imageRect.size() == item.frame.size() && old->width() >= panelSize.width() &&
            old->height() >= panelSize.height()) {
            predecessor->m_panels[held] = nullptr;
            preview->m_panels.append(old);
            preview->m_adoptedContent.insert(index, item.image);
            preview->m_restFrames.append(oldRect);
            ++preview->m_reusedCount;
        } else {
            auto* panel = new OpaquePreviewPanel(item.image, masked, carriesPrints);
            // One device pixel larger than the image, so a sub-pixel image never loses its edge.
            panel->resize(panelSize);
            preview->m_panels.append(panel);
            // A print still flying back starts from where its old panel is now.
            preview->m_restFrames.append(old ? oldRect : item.restFrame);
            preview->place(index, preview->m_restFrames.last());
            // Ordered in hidden, so the swap-in only draws. A masked panel cannot hide by
            // drawing nothing: it shows only from then on.
            if (!masked) {
                panel->show();
                // A panel flying back lies over its print: a press there must reach the rope, so
                // the print can be picked up again before the panel is gone.
                X11InputShape::apply(panel->windowHandle(), QRegion());
            }
        }
        windows.append(QString::number(preview->m_panels.last()->winId()));
        preview->m_photoIDs.append(item.photoID);
        preview->m_initialFrames.append(item.frame);
        frames.append(rectText(item.frame));
    }
    RopeDiagnostic::event("OpaqueBegin",
                          QStringLiteral("count=%1 reused=%2 windows=%3 frames=%4")
                              .arg(items.size())
                              .arg(preview->m_reusedCount)
                              .arg(windows.join(QLatin1Char(',')), frames.join(QLatin1Char(' '))));
    if (driven) {
        OpaquePegPreview* raw = preview.get();
        preview->m_link.setInterval(DisplayLink::kFrameIntervalMilliseconds);
        QObject::connect(&preview->m_link, &QTimer::timeout, raw, [raw] { raw->tick(); });
        preview->m_link.start();
    }
    return preview;
}

std::unique_ptr<OpaquePegPreview> OpaquePegPreview::flyBack(const QImage& picture, QPointF origin,
                                                            Destinations destination, bool masked,
                                                            std::function<void()> completion, Clock clock,
                                                            bool driven) {
    std::unique_ptr<OpaquePegPreview> preview = standBy(picture, origin, masked, std::move(clock), driven);
    if (preview)
        preview->takeOver(origin, std::move(destination), std::move(completion));
    return preview;
}

std::unique_ptr<OpaquePegPreview> OpaquePegPreview::standBy(const QImage& picture, QPointF origin,
                                                            bool masked, Clock clock, bool driven) {
    if (picture.isNull() || ReduceMotion::isOn())
        return nullptr;
    const QRectF from(origin, picture.deviceIndependentSize());
    // Its frames run only once it is taken over.
    std::unique_ptr<OpaquePegPreview> preview =
        make({{QString(), picture, from, from}}, origin, {}, {}, std::move(clock), false, {}, masked, false);
    if (preview)
        preview->m_driven = driven;
    return preview;
}

void OpaquePegPreview::takeOver(QPointF origin, Destinations destination, std::function<void()> completion,
                                Sprites landing) {
    if (m_phase != Phase::pending || m_initialFrames.size() != 1)
        return;
    // It starts where the drag left it: shown now, with nothing to glide to.
    const QRectF from(origin, m_initialFrames.first().size());
    m_initialFrames = {from};
    m_restFrames = {from};
    m_startPoint = origin;
    m_lastPoint = origin;
    place(0, from);
    showPanelsAndHideSource();
    finish(std::move(destination), {}, std::move(completion));
    m_landingSprites = std::move(landing);
    m_finishStarted.reset();
    m_steppedFlight = true;
    m_flightElapsed = 0;
    if (m_driven && !m_link.isActive()) {
        m_link.setInterval(DisplayLink::kFrameIntervalMilliseconds);
        QObject::connect(&m_link, &QTimer::timeout, this, [this] { tick(); });
        m_link.start();
    }
}

bool OpaquePegPreview::panelsNeedMask() {
    return QGuiApplication::platformName() == QLatin1String("xcb") && !X11WindowStack::compositorRunning();
}

OpaquePegPreview::~OpaquePegPreview() {
    m_link.stop();
    for (const QPointer<QWidget>& panel : std::as_const(m_panels)) {
        // A panel still shown goes the way a hidden one does, the rope's cut first.
        PanelCover::hide(panel.data());
        delete panel.data();
    }
}

void OpaquePegPreview::place(int index, const QRectF& rect) {
    OpaquePreviewPanel* panel = asPanel(m_panels.value(index));
    if (!panel)
        return;
    // Where nothing composites, the print snaps to the panel's whole pixels too, so its outline is
    // cut once per picture and not again at every step.
    const QPoint origin =
        m_masked ? rect.topLeft().toPoint() : QPoint(int(std::floor(rect.x())), int(std::floor(rect.y())));
    PanelCover::move(panel, origin);
    panel->imageRect = QRectF(rect.topLeft() - QPointF(origin), rect.size());
    if (m_masked)
        panel->imageRect.moveTopLeft({0, 0});
    panel->placed();
}

void OpaquePegPreview::tick() {
    switch (m_phase) {
    case Phase::pending:
        m_lastPoint = m_pointer ? m_pointer() : m_startPoint;
        showPanelsAndHideSource();
        break;
    case Phase::dragging:
        if (m_pointer)
            move(m_pointer());
        break;
    case Phase::returning:
        returnFrame(m_clock());
        break;
    case Phase::revealed:
        if (++m_framesSinceSwap >= kTeardownFrames)
            teardown();
        break;
    case Phase::closed:
        m_link.stop();
        break;
    }
}

void OpaquePegPreview::showPanelsAndHideSource() {
    if (m_phase != Phase::pending)
        return;
    const std::function<void()> reveal = std::exchange(m_revealSource, nullptr);
    for (int i = 0; i < m_panels.size(); ++i)
        if (OpaquePreviewPanel* panel = asPanel(m_panels[i])) {
            if (const auto adopted = m_adoptedContent.constFind(i); adopted != m_adoptedContent.cend())
                panel->setImage(*adopted);
            panel->setDrawn(true, true);
        }
    m_adoptedContent.clear();
    // The rope stops drawing these prints before the predecessor's end lets it draw its own
    // again: its completion repaints the rope, and no frame may show a print picked up in flight
    // both on the rope and in its panel.
    if (reveal)
        reveal();
    if (std::unique_ptr<OpaquePegPreview> predecessor = std::move(m_predecessor))
        predecessor->close();
    m_phase = Phase::dragging;
    m_swappedAt = m_clock();
    m_pickupComplete = false;
    RopeDiagnostic::event("OpaqueSwapIn", QStringLiteral("count=%1").arg(m_panels.size()));
    layoutDrag(*m_swappedAt);
}

void OpaquePegPreview::move(QPointF point) {
    if (m_phase > Phase::dragging || (m_pickupComplete && m_lastPoint == point))
        return;
    m_lastPoint = point;
    layoutDrag(m_clock());
}

void OpaquePegPreview::layoutDrag(double now) {
    if (m_phase != Phase::dragging || !m_lastPoint)
        return;
    double progress = 1;
    if (m_swappedAt && !ReduceMotion::isOn()) {
        const double t = std::min((now - *m_swappedAt) / kGlideSeconds, 1.0);
        progress = 1 - std::pow(1 - t, 3);
    }
    const QPointF travel = *m_lastPoint - m_startPoint;
    for (int i = 0; i < m_panels.size(); ++i) {
        const QRectF target = m_initialFrames[i].translated(travel);
        const QRectF& rest = m_restFrames[i];
        const QPointF origin = rest.topLeft() + progress * (target.topLeft() - rest.topLeft());
        place(i, QRectF(origin, target.size()));
    }
    m_pickupComplete = progress >= 1;
}

void OpaquePegPreview::finish(Destinations destinations, std::function<bool()> ready,
                              std::function<void()> completion, Sprites sprites) {
    if (m_phase != Phase::pending && m_phase != Phase::dragging)
        return;
    m_completion = std::move(completion);
    if (m_phase == Phase::pending) {
        m_revealSource = nullptr;
        close();
        return;
    }
    m_ready = std::move(ready);
    m_gate = {};
    m_finishFrames = imageRects();
    m_destinations = std::move(destinations);
    m_finalSprites = std::move(sprites);
    m_finishStarted = m_clock();
    m_phase = Phase::returning;
    QPointer<OpaquePegPreview> self(this);
    QTimer::singleShot(int(kWatchdogSeconds * 1000), this, [self] {
        if (self && self->m_phase == Phase::returning && !self->m_heldForPickup)
            self->close();
    });
    QStringList frames;
    for (const QRectF& frame : std::as_const(m_finishFrames))
        frames.append(rectText(frame));
    RopeDiagnostic::event("OpaqueFinish",
                          QStringLiteral("mode=stable frames=%1").arg(frames.join(QLatin1Char(' '))));
}

void OpaquePegPreview::returnFrame(double now) {
    if (m_heldForPickup)
        return;
    // A picture taken over from a system drag starts its flight where it first shows.
    if (!m_finishStarted) {
        m_finishStarted = now;
        m_lastFlightFrame = now;
    }
    double elapsed = now - *m_finishStarted;
    if (m_steppedFlight) {
        m_flightElapsed += std::clamp(now - m_lastFlightFrame, 0.0, kMaxFlightStepSeconds);
        m_lastFlightFrame = now;
        elapsed = m_flightElapsed;
    }
    // The panels land showing the prints as the rope will draw them, not as they were picked up.
    const QList<QImage> sprites = m_finalSprites ? m_finalSprites() : QList<QImage>();
    std::optional<QList<QImage>> landing;
    const double e = std::pow(1 - std::min(elapsed / kReturnSeconds, 1.0), 3);
    const OpaqueHandoffGate::Targets targets =
        m_destinations ? m_destinations() : OpaqueHandoffGate::Targets{};
    for (int i = 0; i < m_panels.size(); ++i) {
        OpaquePreviewPanel* panel = asPanel(m_panels[i]);
        if (!panel)
            continue;
        if (i >= targets.size() || !targets[i]) {
            panel->setDrawn(false, false);
            continue;
        }
        const QRectF& from = m_finishFrames.value(i);
        const QRectF& to = *targets[i];
        const QRectF rect(from.topLeft() + (1 - e) * (to.topLeft() - from.topLeft()), to.size());
        // Within a pixel of its place the panel stands where it lands: it shows what it lands as.
        if (m_landingSprites &&
            (elapsed >= kReturnSeconds || QLineF(rect.topLeft(), to.topLeft()).length() < 1)) {
            if (!landing)
                landing = m_landingSprites();
            panel->setImage(landing->value(i));
        } else {
            panel->setImage(sprites.value(i));
        }
        place(i, rect);
    }
    const bool sourceReady = m_ready ? m_ready() : true;
    if (const auto reason = m_gate.update(elapsed, targets, sourceReady)) {
        RopeDiagnostic::event(
            "OpaqueHandoff",
            QStringLiteral("reason=%1 elapsed=%2").arg(*reason, RopeDiagnostic::number(elapsed)));
        close();
    }
}

void OpaquePegPreview::close() {
    if (m_phase == Phase::revealed || m_phase == Phase::closed)
        return;
    const std::function<void()> completion = std::exchange(m_completion, nullptr);
    m_heldForPickup = false;
    m_finalSprites = nullptr;
    m_landingSprites = nullptr;
    m_destinations = nullptr;
    m_ready = nullptr;
    m_revealSource = nullptr;
    for (const QPointer<QWidget>& widget : std::as_const(m_panels))
        if (OpaquePreviewPanel* panel = asPanel(widget)) {
            panel->setDrawn(false, true);
        }
    if (std::unique_ptr<OpaquePegPreview> predecessor = std::move(m_predecessor))
        predecessor->close();
    m_phase = Phase::revealed;
    m_framesSinceSwap = 0;
    RopeDiagnostic::event("OpaqueSwapOut", QStringLiteral("count=%1").arg(m_panels.size()));
    if (!m_link.isActive()) {
        QPointer<OpaquePegPreview> self(this);
        QTimer::singleShot(int(kGlideSeconds * 1000), this, [self] {
            if (self)
                self->teardown();
        });
    }
    if (completion)
        completion();
}

void OpaquePegPreview::teardown() {
    if (m_phase == Phase::closed)
        return;
    if (m_phase != Phase::revealed)
        close();
    m_phase = Phase::closed;
    m_link.stop();
    for (const QPointer<QWidget>& panel : std::as_const(m_panels))
        delete panel.data();
    m_panels.clear();
    RopeDiagnostic::event("OpaqueEnd", QStringLiteral("closed"));
}

QList<QRectF> OpaquePegPreview::imageRects() const {
    QList<QRectF> rects;
    for (const QPointer<QWidget>& widget : m_panels) {
        const OpaquePreviewPanel* panel = asPanel(widget);
        rects.append(panel ? panel->imageRect.translated(panel->pos()) : QRectF());
    }
    return rects;
}

QList<qint64> OpaquePegPreview::panelImageKeys() const {
    QList<qint64> keys;
    for (const QPointer<QWidget>& widget : m_panels) {
        const OpaquePreviewPanel* panel = asPanel(widget);
        keys.append(panel ? panel->image().cacheKey() : 0);
    }
    return keys;
}

QList<QWidget*> OpaquePegPreview::panelWindows() const {
    QList<QWidget*> windows;
    for (const QPointer<QWidget>& widget : m_panels)
        windows.append(widget.data());
    return windows;
}

QList<bool> OpaquePegPreview::panelsShown() const {
    QList<bool> shown;
    for (const QPointer<QWidget>& widget : m_panels) {
        const OpaquePreviewPanel* panel = asPanel(widget);
        shown.append(panel && panel->isVisible() && panel->drawn());
    }
    return shown;
}

} // namespace vennimo
