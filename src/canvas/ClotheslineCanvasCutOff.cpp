#include "canvas/ClotheslineCanvasView.h"

#include "platform/X11Connection.h"
#include "rope/RopeDiagnostic.h"

#include <QDrag>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

namespace vennimo {

void ClotheslineCanvasView::abandonDrag(const char* reason) {
    if (!m_sessionInProgress)
        return;
    RopeDiagnostic::event("DragCutOff", QStringLiteral("reason=%1").arg(QLatin1String(reason)));
    m_dragCancelled = true;
    // A system drag ends in its own loop, which the cancelled mark keeps from doing anything.
    if (m_systemDrag && !m_localPeg) {
        QDrag::cancel();
        return;
    }
    finishDrag(Qt::IgnoreAction, false);
}

void ClotheslineCanvasView::watchForCutOffDrag() {
    QWindow* own = window() ? window()->windowHandle() : nullptr;
    m_sessionHadFocus = own && QGuiApplication::focusWindow() == own;
    m_releasedPolls = 0;
    m_releaseProbe.reset();
    if (!m_leftButtonTest) {
        m_releaseProbe = std::make_unique<X11ReleaseProbe>();
        if (!m_releaseProbe->available())
            m_releaseProbe.reset();
    }
    m_lostReleaseTimer = std::make_unique<QTimer>();
    m_lostReleaseTimer->setInterval(kLostReleasePollMs);
    QPointer<ClotheslineCanvasView> self(this);
    QObject::connect(m_lostReleaseTimer.get(), &QTimer::timeout, this, [self] {
        // The system's drag loop sees its own release; only a drag the canvas runs itself can
        // lose one, when another program grabbed the pointer.
        if (!self || !self->localPegDragActive())
            return;
        const std::optional<bool> down =
            self->m_leftButtonTest ? self->m_leftButtonTest() : X11Connection::leftButtonDown();
        if (!down || *down) {
            self->m_releasedPolls = 0;
            return;
        }
        // A busy machine reads a release late and hands it on later still: the drag is cut off
        // only once the server has nothing of it left to send.
        if (self->m_releaseProbe) {
            self->m_releaseProbe->ask([self](bool released) {
                if (self && !released && self->localPegDragActive())
                    self->abandonDrag("release-lost");
            });
            return;
        }
        // Up twice in a row: a release on its way to the canvas would have arrived by now.
        if (++self->m_releasedPolls >= 2)
            self->abandonDrag("release-lost");
    });
    m_lostReleaseTimer->start();
}

void ClotheslineCanvasView::focusWindowChanged(QWindow* focus) {
    if (!m_sessionInProgress)
        return;
    QWindow* own = window() ? window()->windowHandle() : nullptr;
    if (own && focus == own) {
        m_sessionHadFocus = true;
        return;
    }
    if (m_sessionHadFocus)
        abandonDrag("focus-lost");
}

} // namespace vennimo
