#pragma once

#include <QPoint>
#include <QRegion>

#include <optional>

class QWidget;

namespace vennimo {

// Where nothing composites windows, the rope window keeps its pixels under the cut panels that
// float over it and take no input (so a press on a print still flying back reaches the rope);
// those pixels are clear, and the X server shows them black wherever the panel no longer covers
// them. The rope must give up what a panel is about to leave before the panel leaves it: these
// moves and hides announce, on the panel, the part of it that stays covered throughout, which the
// rope window follows (GalleryWindow) ahead of the panel's own request to the X server.
class PanelCover {
public:
    PanelCover() = delete;

    // The dynamic property that carries the announcement; a change of it reaches the application's
    // event filters as QEvent::DynamicPropertyChange.
    static constexpr const char* kProperty = "vennimoPanelCoverDuringChange";

    static void move(QWidget* panel, QPoint to);
    static void hide(QWidget* panel);
    // What a panel covers for certain while it changes, on the screen: none while it announces
    // nothing.
    static std::optional<QRegion> duringChange(const QWidget* panel);

private:
    static void announce(QWidget* panel, const std::optional<QRegion>& covered);
};

} // namespace vennimo
