#include "shell/GalleryPresenceController.h"

#include "model/GalleryModel.h"
#include "platform/ReduceMotion.h"
#include "shell/GalleryWindow.h"
#include "shell/GalleryWindowLayer.h"

#include <QApplication>
#include <QEvent>
#include <QMetaMethod>
#include <QWindow>

namespace vennimo {

GalleryPresenceController::GalleryPresenceController(GalleryModel& model, GalleryWindow* window,
                                                     QObject* parent)
    : QObject(parent)
    , m_model(model)
    , m_window(window) {
    // Every published change of the model may change what hangs or what is selected.
    const QMetaObject& meta = GalleryModel::staticMetaObject;
    const QMetaMethod pass = staticMetaObject.method(staticMetaObject.indexOfSlot("schedule()"));
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        if (method.methodType() == QMetaMethod::Signal && method.parameterCount() == 0)
            connect(&m_model, method, this, pass);
    }
    m_sheetAttached = [this] {
        if (!m_window)
            return false;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget != m_window && widget->isVisible() && widget->isModal() && widget->parentWidget() &&
                widget->parentWidget()->window() == m_window)
                return true;
        }
        return false;
    };
    if (m_window)
        m_window->installEventFilter(this);
}

GalleryPresenceController::~GalleryPresenceController() {
    if (m_window)
        m_window->removeEventFilter(this);
}

bool GalleryPresenceController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window) {
        // A dialog of the window ended: the pass it held back may run.
        if (event->type() == QEvent::WindowUnblocked)
            schedule();
        else if (event->type() == QEvent::Close)
            windowWillClose();
    }
    return QObject::eventFilter(watched, event);
}

void GalleryPresenceController::windowWillClose() {
    m_manuallyCollapsed = true;
    m_clearSelectionWhenReady = false;
    if (m_model.emptyClotheslineRequested())
        m_model.setEmptyClotheslineRequested(false);
    else
        schedule();
}

void GalleryPresenceController::schedule() {
    if (m_scheduled)
        return;
    m_scheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_scheduled = false;
            reconcile();
        },
        Qt::QueuedConnection);
}

QSet<QString> GalleryPresenceController::hangingIDs() const {
    QSet<QString> ids;
    for (const Photo& photo : m_model.photos()) {
        if (m_model.hangs(photo))
            ids.insert(photo.id);
    }
    return ids;
}

void GalleryPresenceController::reconcile() {
    if (!m_window || m_model.deleting() || m_model.importing() || (m_sheetAttached && m_sheetAttached()))
        return;
    if (m_clearSelectionWhenReady) {
        m_model.endSelection();
        m_clearSelectionWhenReady = false;
    }
    const QSet<QString> hanging = hangingIDs();
    const bool firstPass = !m_previousHangingIDs.has_value();
    const QSet<QString> arrived =
        firstPass ? hanging : QSet<QString>(hanging).subtract(*m_previousHangingIDs);
    if (m_manuallyCollapsed) {
        m_pendingArrivalIDs.unite(arrived);
        m_pendingArrivalIDs.intersect(hanging);
    }
    m_previousHangingIDs = hanging;
    if (!hanging.isEmpty() && m_model.emptyClotheslineRequested())
        m_model.setEmptyClotheslineRequested(false);
    if (!arrived.isEmpty() && !m_manuallyCollapsed) {
        if (!m_model.clotheslineMode())
            m_model.endSelection();
        m_model.setClotheslineMode(true);
    }
    ClotheslineChrome& chrome = m_model.clotheslineChrome();
    if (chrome.window() != static_cast<GalleryWindowPort*>(m_window.data())) {
        chrome.setWindow(m_window.data(), m_window.data());
        m_window->setClotheslineChrome(&chrome);
    }
    chrome.request(!hanging.isEmpty(), !m_model.selectedIDs().isEmpty(), ReduceMotion::isOn());
    m_window->setClotheslineStyle(m_model.clotheslineMode());
    if (!m_manuallyCollapsed && (firstPass || !arrived.isEmpty()))
        front();
    ++m_passCount;
    if (m_visibilityChanged)
        m_visibilityChanged();
}

void GalleryPresenceController::front() {
    ++m_frontCount;
    if (m_window->isMinimized())
        m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    if (m_window->isVisible())
        GalleryWindowLayer::raise(m_window);
    else
        m_window->showWithoutActivating();
    if (m_window->clotheslineStyle().value_or(false))
        m_window->startPointerRouting();
}

void GalleryPresenceController::prepareExplicitOpen(ExplicitOpen request) {
    m_manuallyCollapsed = false;
    m_pendingArrivalIDs.clear();
    m_clearSelectionWhenReady = true;
    // The grid asked for by name is where the library's photos are reached when none hangs.
    if (request == ExplicitOpen::gallery && hangingIDs().isEmpty())
        m_model.requestGalleryMode(true);
    reconcile();
}

} // namespace vennimo
