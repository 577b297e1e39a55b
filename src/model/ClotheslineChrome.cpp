#include "model/ClotheslineChrome.h"

#include "rendering/PolaroidRenderer.h"

namespace vennimo {

double ClotheslineChrome::fullCanvasHeight() {
    return PolaroidRenderer::defaultSize.height() + kCanvasExtraHeight;
}

double ClotheslineChrome::fullHeightWithPhotos() {
    return fullCanvasHeight() + kCanvasMarginAbove + kCanvasMarginBelow;
}

double ClotheslineChrome::heightFor(bool hasPhotos, bool expanded) {
    return (hasPhotos ? fullHeightWithPhotos() : kHeightWithoutPhotos) - (expanded ? 0 : kCollapseHeight);
}

ClotheslineChrome::ClotheslineChrome(QObject* parent)
    : QObject(parent) {}

ClotheslineChrome::~ClotheslineChrome() {
    cancelTransition();
}

void ClotheslineChrome::setWindow(GalleryWindowPort* window, QObject* lifetime) {
    m_window = window;
    m_windowLifetime = lifetime;
}

GalleryWindowPort* ClotheslineChrome::window() const {
    return m_windowLifetime ? m_window : nullptr;
}

bool ClotheslineChrome::windowBlocked() const {
    const GalleryWindowPort* w = window();
    return w != nullptr &&
           (w->clotheslineDragActive() || w->clotheslineRepositionActive() || w->knotResizeActive());
}

void ClotheslineChrome::applyGeometry(bool expanded) {
    const double canvasTop = expanded ? kExpandedCanvasTop : kCollapsedCanvasTop;
    if (GalleryWindowPort* w = window())
        w->setClotheslineLayout(heightFor(m_wantsPhotos, expanded), canvasTop);
    if (m_hasPhotos != m_wantsPhotos) {
        m_hasPhotos = m_wantsPhotos;
        Q_EMIT hasPhotosChanged();
    }
    if (m_expanded != expanded) {
        m_expanded = expanded;
        Q_EMIT expandedChanged();
    }
}

void ClotheslineChrome::setOpacity(double opacity, std::chrono::milliseconds animation) {
    m_opacityAnimation = animation;
    m_opacity = opacity;
    Q_EMIT opacityChanged();
}

void ClotheslineChrome::cancelTransition() {
    if (m_transition == nullptr)
        return;
    m_transition->stop();
    m_transition->deleteLater();
    m_transition = nullptr;
}

void ClotheslineChrome::request(bool hasPhotos, bool expanded, bool reduceMotion) {
    if (hasPhotos == m_wantsPhotos && expanded == m_wantsExpanded && reduceMotion == m_reduceMotion) {
        // Only a window that lost its geometry (rebuilt, say) gets the same shape again.
        const GalleryWindowPort* w = window();
        if (w == nullptr || w->clotheslineStyle() != true)
            return;
        if (w->clotheslineCanvasTop() == (m_expanded ? kExpandedCanvasTop : kCollapsedCanvasTop))
            return;
    }
    const bool restart = expanded != m_wantsExpanded || reduceMotion != m_reduceMotion;
    m_wantsPhotos = hasPhotos;
    m_wantsExpanded = expanded;
    m_reduceMotion = reduceMotion;
    // A pending collapse picks up a changed prints flag by itself.
    if (m_transition == nullptr || restart) {
        ++m_revision;
        cancelTransition();
        resume();
    }
}

void ClotheslineChrome::resume() {
    if (windowBlocked() || m_transition != nullptr)
        return;
    if (m_wantsExpanded) {
        applyGeometry(true);
        if (m_opacity == 1)
            return;
        if (m_reduceMotion) {
            setOpacity(1, std::chrono::milliseconds(0));
            return;
        }
        // Fade in once the window has its new size.
        const std::uint64_t revision = m_revision;
        QTimer::singleShot(0, this, [this, revision] {
            if (m_revision == revision && m_expanded && m_wantsExpanded)
                setOpacity(1, kFadeDuration);
        });
        return;
    }
    if (m_reduceMotion || !m_expanded || m_opacity == 0) {
        setOpacity(0, std::chrono::milliseconds(0));
        applyGeometry(false);
        return;
    }
    setOpacity(0, kFadeDuration);
    const std::uint64_t revision = m_revision;
    m_transition = new QTimer(this);
    m_transition->setSingleShot(true);
    connect(m_transition, &QTimer::timeout, this, [this, revision] {
        if (m_revision != revision)
            return;
        cancelTransition();
        if (windowBlocked())
            return;
        applyGeometry(false);
    });
    m_transition->start(m_fadeDelay);
}

} // namespace vennimo
