#include "canvas/PegDropSurfaces.h"

#include "canvas/PegTakeDownView.h"
#include "canvas/RopeWindowPort.h"
#include "rope/RopeDiagnostic.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStringList>

namespace vennimo {

namespace {

// The file managers known to answer a direct save with the folder they show (and their desktops).
const QStringList& directSaveClasses() {
    static const QStringList classes{QStringLiteral("thunar"), QStringLiteral("pcmanfm"),
                                     QStringLiteral("pcmanfm-qt"), QStringLiteral("xfdesktop")};
    return classes;
}

} // namespace

PegDropSurfaces::PegDropSurfaces(ClotheslineCanvasView* source, RopeWindowPort* gallery, bool compositing)
    : m_gallery(gallery) {
    if (compositing)
        for (QScreen* screen : QGuiApplication::screens()) {
            auto* catcher = new PegTakeDownView(source);
            catcher->setGeometry(screen->geometry());
            m_windows.append(catcher);
        }
    RopeDiagnostic::event("SurfaceBegin", QStringLiteral("screens=%1 opacity=%2 galleryLevel=%3")
                                              .arg(m_windows.size())
                                              .arg(RopeDiagnostic::number(PegTakeDownView::kAlpha / 255.0))
                                              .arg(m_gallery ? m_gallery->clotheslineWindowLevel() : 0));
}

PegDropSurfaces::~PegDropSurfaces() {
    close();
}

QList<PegTakeDownView*> PegDropSurfaces::catchers() const {
    QList<PegTakeDownView*> windows;
    for (const QPointer<PegTakeDownView>& window : m_windows)
        if (window)
            windows.append(window.data());
    return windows;
}

int PegDropSurfaces::catchersShown() const {
    int shown = 0;
    for (PegTakeDownView* window : catchers())
        shown += window->isVisible() ? 1 : 0;
    return shown;
}

void PegDropSurfaces::route(QPointF point, bool receiving, bool native) {
    if (m_closed || m_lastPoint == point)
        return;
    m_lastPoint = point;
    // Over the rope the catchers keep their state: the rope window lies above them.
    if (receiving)
        return;
    if (m_lastNative != native) {
        RopeDiagnostic::event("SurfaceNative",
                              QStringLiteral("native=%1 x=%2 y=%3")
                                  .arg(native ? u"true" : u"false")
                                  .arg(RopeDiagnostic::number(point.x()), RopeDiagnostic::number(point.y())));
        m_lastNative = native;
    }
    applyNativeRoute(native);
}

void PegDropSurfaces::applyNativeRoute(bool native) {
    if (m_closed || m_windows.isEmpty())
        return;
    bool orderedFront = false;
    for (PegTakeDownView* window : catchers()) {
        if (native && window->isVisible()) {
            window->hide();
            RopeDiagnostic::event("SurfaceOrder", QStringLiteral("out"));
        } else if (!native && !window->isVisible()) {
            window->show();
            orderedFront = true;
            RopeDiagnostic::event("SurfaceOrder", QStringLiteral("front id=%1").arg(window->winId()));
        }
    }
    if (!orderedFront || !m_gallery)
        return;
    const int level = m_gallery->clotheslineWindowLevel();
    if (level <= kCatcherLevel) {
        RopeDiagnostic::event("GalleryLevel",
                              QStringLiteral("catcher old=%1 new=%2").arg(level).arg(kRaisedLevel));
        m_raisedGallery = true;
    }
    // Above the catchers in any case, so the rope still takes its own pegs.
    m_gallery->raiseClotheslineWindow(std::max(level, kRaisedLevel));
}

void PegDropSurfaces::close() {
    if (m_closed)
        return;
    m_closed = true;
    for (PegTakeDownView* window : catchers()) {
        if (window->isVisible())
            RopeDiagnostic::event("SurfaceOrder", QStringLiteral("close id=%1").arg(window->winId()));
        window->hide();
        // The drop that ends the drag may still be on its way through this window.
        window->deleteLater();
    }
    m_windows.clear();
    if (m_raisedGallery && m_gallery) {
        const int old = m_gallery->clotheslineWindowLevel();
        m_gallery->restoreClotheslineWindowLevel();
        RopeDiagnostic::event(
            "GalleryLevel",
            QStringLiteral("finish old=%1 new=%2").arg(old).arg(m_gallery->clotheslineWindowLevel()));
    }
    RopeDiagnostic::event("SurfaceEnd",
                          QStringLiteral("raised=%1").arg(m_raisedGallery ? u"true" : u"false"));
}

bool PegDropSurfaces::takesDirectSave(const X11WindowStack::Hit& hit) {
    const QStringList& classes = directSaveClasses();
    return classes.contains(hit.instance.toLower()) || classes.contains(hit.className.toLower());
}

bool PegDropSurfaces::yieldsToNativeDestination(QPointF screenPoint) {
    const std::optional<X11WindowStack::Hit> hit = X11WindowStack::topClientAt(screenPoint.toPoint());
    return hit && takesDirectSave(*hit);
}

} // namespace vennimo
