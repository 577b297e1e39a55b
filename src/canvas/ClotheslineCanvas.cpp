#include "canvas/ClotheslineCanvas.h"

#include "canvas/ClotheslineScrollView.h"
#include "canvas/RopeWindowPort.h"
#include "model/GalleryModel.h"
#include "platform/UserDefaults.h"

#include <QTimer>

namespace vennimo {

ClotheslineCanvas::ClotheslineCanvas(GalleryModel& model, QWidget* parent)
    : QObject(parent)
    , m_model(&model) {
    m_scrollView = new ClotheslineScrollView(parent);
    m_scrollView->setWidget(new ClotheslineCanvasView);
    connect(m_scrollView, &ClotheslineScrollView::contentSizeChanged, this,
            &ClotheslineCanvas::scheduleUpdate);
    m_onSelect = [model = QPointer<GalleryModel>(&model)](const Photo& photo) {
        if (model)
            activate(*model, photo);
    };
    m_onPreview = [model = QPointer<GalleryModel>(&model)](const Photo& photo) {
        if (model)
            selectForPreview(*model, photo);
    };

    const auto schedule = [this] { scheduleUpdate(); };
    for (const auto signal : {&GalleryModel::photosChanged, &GalleryModel::selectedIDsChanged,
                              &GalleryModel::selectionModeChanged, &GalleryModel::keyboardRevealIDChanged,
                              &GalleryModel::deletingChanged, &GalleryModel::importingChanged,
                              &GalleryModel::arrivalRevisionChanged, &GalleryModel::placementErrorChanged,
                              &GalleryModel::lineErrorChanged, &GalleryModel::modelChanged})
        connect(&model, signal, this, schedule);
    connect(&UserDefaults::standard(), &UserDefaults::changed, this, [this](const QString& key) {
        if (key == QLatin1String(UserDefaults::kClotheslineOffCenterPegKey) ||
            key == QLatin1String(UserDefaults::kClotheslineStrictVerticalKey))
            scheduleUpdate();
    });
    scheduleUpdate();
}

ClotheslineCanvas::~ClotheslineCanvas() {
    // The port may already be half destroyed when the window deletes its children, so only
    // the canvas's own motion stops here; the window dismantles the host before it goes.
    if (ClotheslineCanvasView* view = canvas()) {
        view->stopPhysics();
        view->setWindowPort(nullptr);
    }
}

ClotheslineCanvasView* ClotheslineCanvas::canvas() const {
    return m_scrollView ? m_scrollView->canvas() : nullptr;
}

void ClotheslineCanvas::activate(GalleryModel& model, const Photo& photo) {
    if (model.selectionMode())
        model.toggleSelection(photo);
    else
        model.setSelection({photo});
}

void ClotheslineCanvas::selectForPreview(GalleryModel& model, const Photo& photo) {
    if (model.deleting() || model.selectedIDs().contains(photo.id))
        return;
    model.toggleSelection(photo);
}

void ClotheslineCanvas::setWindowPort(RopeWindowPort* port) {
    m_port = port;
    if (ClotheslineCanvasView* view = canvas())
        view->setWindowPort(port);
}

void ClotheslineCanvas::setPreviewing(bool previewing) {
    if (m_previewing == previewing)
        return;
    m_previewing = previewing;
    scheduleUpdate();
}

void ClotheslineCanvas::setOpenSettings(std::function<void()> callback) {
    if (ClotheslineCanvasView* view = canvas())
        view->setOnOpenSettings(std::move(callback));
}

void ClotheslineCanvas::setSwitchToNormal(std::function<void()> callback) {
    if (ClotheslineCanvasView* view = canvas())
        view->setOnSwitchToNormal(std::move(callback));
}

void ClotheslineCanvas::setPlacementRequest(ClotheslineCanvasView::PlacementRequest request) {
    if (ClotheslineCanvasView* view = canvas())
        view->setPlacementRequest(std::move(request));
}

void ClotheslineCanvas::scheduleUpdate() {
    if (m_updateScheduled || m_dismantled)
        return;
    m_updateScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_updateScheduled = false;
        updateCanvas();
    });
}

void ClotheslineCanvas::updateCanvas() {
    ClotheslineCanvasView* view = canvas();
    if (!view || !m_model || m_dismantled)
        return;
    ++m_updateCount;
    const HangingStyle style = HangingStyle::current();
    const QSizeF viewport = m_scrollView->contentSize();
    view->refresh(m_model, viewport, m_previewing, style, m_onSelect, m_onPreview);
    // The refresh may have changed what the layout gives the scroll view; one follow-up
    // catches a viewport that moved meanwhile.
    QPointer<ClotheslineScrollView> scroll = m_scrollView;
    QTimer::singleShot(0, this, [this, scroll, viewport, style] {
        ClotheslineCanvasView* current = scroll ? scroll->canvas() : nullptr;
        if (!current || !m_model || m_dismantled || scroll->contentSize() == viewport)
            return;
        current->refresh(m_model, scroll->contentSize(), m_previewing, style, m_onSelect, m_onPreview);
    });
}

void ClotheslineCanvas::dismantle() {
    if (m_dismantled)
        return;
    m_dismantled = true;
    if (ClotheslineCanvasView* view = canvas()) {
        view->stopPhysics();
        view->setWindowPort(nullptr);
    }
    if (m_port) {
        m_port->finishKnotResize(false);
        m_port->setKnotResizePaths({});
        m_port->setCanvasPaths({});
        m_port->setRopeDropPath(std::nullopt);
        m_port->setRopeMovePath(std::nullopt);
    }
}

} // namespace vennimo
