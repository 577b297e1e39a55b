#pragma once

#include "canvas/ClotheslineCanvasView.h"

#include <QObject>
#include <QPointer>

#include <functional>

namespace vennimo {

class ClotheslineScrollView;
class GalleryModel;
class RopeWindowPort;

// Hosts the canvas in the rope screen: makes the scroll view with the canvas inside, and hands
// the canvas the model, the hanging style, the preview state and the callbacks whenever one of
// them changes: the model's published properties and its store changes, and the two style
// defaults, coalesced into one update per event-loop turn. Dismantling (or destruction) stops
// the canvas's display link and clears every shape the canvas published on the window.
// Until the screen installs its own callbacks, a clicked print is selected as the rope screen
// selects it, and a preview request selects the print (the preview panel comes with its own
// screen).
class ClotheslineCanvas : public QObject {
    Q_OBJECT

public:
    ClotheslineCanvas(GalleryModel& model, QWidget* parent);
    ~ClotheslineCanvas() override;

    ClotheslineScrollView* scrollView() const { return m_scrollView; }
    ClotheslineCanvasView* canvas() const;

    // The port's owner calls dismantle() before the port goes away; the canvas reaches the port
    // until then, even while its widgets are hidden during the window's destruction.
    void setWindowPort(RopeWindowPort* port);
    void setPreviewing(bool previewing);
    void setOnSelect(ClotheslineCanvasView::PhotoCallback callback) { m_onSelect = std::move(callback); }
    void setOnPreview(ClotheslineCanvasView::PhotoCallback callback) { m_onPreview = std::move(callback); }
    void setOpenSettings(std::function<void()> callback);
    void setSwitchToNormal(std::function<void()> callback);
    void setPlacementRequest(ClotheslineCanvasView::PlacementRequest request);

    // In selection mode the print joins or leaves the selection; otherwise it alone is selected.
    static void activate(GalleryModel& model, const Photo& photo);
    // The selection step of opening the preview: an unselected print joins the selection.
    static void selectForPreview(GalleryModel& model, const Photo& photo);

    // Runs one update at the next turn of the event loop; repeated calls meanwhile merge.
    void scheduleUpdate();
    // Hands the current inputs to the canvas now.
    void updateCanvas();
    void dismantle();
    int updateCount() const { return m_updateCount; }

private:
    QPointer<GalleryModel> m_model;
    QPointer<ClotheslineScrollView> m_scrollView;
    RopeWindowPort* m_port = nullptr;
    bool m_previewing = false;
    bool m_updateScheduled = false;
    bool m_dismantled = false;
    int m_updateCount = 0;
    ClotheslineCanvasView::PhotoCallback m_onSelect;
    ClotheslineCanvasView::PhotoCallback m_onPreview;
};

} // namespace vennimo
