#pragma once

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

namespace vennimo {

class GalleryModel;
class GalleryWindow;

// Decides when the rope window comes forward by itself: whenever new prints start hanging it
// switches the model to the rope and shows the window without taking the keyboard from the
// user's application. Once the user closed the window it stays closed and only counts what
// arrives, until the user opens the gallery again. It also keeps the rope chrome told whether
// prints hang and whether a selection exists. Main thread only; passes never nest.
class GalleryPresenceController : public QObject {
    Q_OBJECT

public:
    // What the user opened: the gallery, which shows the rope when nothing hangs, or the grid by
    // name, which stands even then.
    enum class ExplicitOpen { gallery, grid };

    GalleryPresenceController(GalleryModel& model, GalleryWindow* window, QObject* parent = nullptr);
    ~GalleryPresenceController() override;

    bool manuallyCollapsed() const { return m_manuallyCollapsed; }
    const QSet<QString>& pendingArrivalIDs() const { return m_pendingArrivalIDs; }
    bool scheduled() const { return m_scheduled; }
    // Passes that ran to their end, and the times one brought the window forward.
    int passCount() const { return m_passCount; }
    int frontCount() const { return m_frontCount; }

    // Called at the end of every pass that ran to its end.
    void setVisibilityChanged(std::function<void()> callback) { m_visibilityChanged = std::move(callback); }
    // Whether a modal dialog belongs to the window; by default any visible modal child of it.
    void setSheetAttached(std::function<bool()> attached) { m_sheetAttached = std::move(attached); }

    // One pass now.
    void reconcile();
    // Before the user's explicit open: forget the closed state and the count, and pass at once.
    void prepareExplicitOpen(ExplicitOpen request = ExplicitOpen::gallery);

    bool eventFilter(QObject* watched, QEvent* event) override;

public Q_SLOTS:
    // Queues one pass for the next event-loop turn; further calls until then add nothing.
    void schedule();

private:
    QSet<QString> hangingIDs() const;
    void windowWillClose();
    void front();

    GalleryModel& m_model;
    QPointer<GalleryWindow> m_window;
    std::optional<QSet<QString>> m_previousHangingIDs;
    bool m_scheduled = false;
    bool m_manuallyCollapsed = false;
    QSet<QString> m_pendingArrivalIDs;
    bool m_clearSelectionWhenReady = false;
    std::function<void()> m_visibilityChanged;
    std::function<bool()> m_sheetAttached;
    int m_passCount = 0;
    int m_frontCount = 0;
};

} // namespace vennimo
