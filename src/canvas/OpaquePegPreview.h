#pragma once

#include "canvas/OpaqueHandoffGate.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

namespace vennimo {

// Prints lifted by their pegs travel as small borderless windows of their own that draw each
// print as the rope draws it, so no system drag image is needed. They start hidden where the
// prints hang, show on the first frame (the rope then stops drawing the prints), glide under the
// pointer, follow it, and after the release fly back to where the rope will draw the prints and
// give them back once that place holds still (OpaqueHandoffGate).
class OpaquePegPreview : public QObject {
    Q_OBJECT

public:
    enum class Phase { pending, dragging, returning, revealed, closed };

    static constexpr double kGlideSeconds = 0.1;
    static constexpr double kReturnSeconds = OpaqueHandoffGate::kReturnSeconds;
    static constexpr double kWatchdogSeconds = 3.1;
    static constexpr int kTeardownFrames = 3;
    // The most a system drag's picture flies on in one frame, however late the frame comes: on a
    // busy machine it slides slower instead of jumping.
    static constexpr double kMaxFlightStepSeconds = 0.05;

    struct Item {
        QString photoID;
        // The print with its margin, at the device pixel ratio it carries.
        QImage image;
        // Screen rectangles: where the image lies when the drag begins, and where the print hung.
        QRectF frame;
        QRectF restFrame;
    };
    using Clock = std::function<double()>;
    using Pointer = std::function<QPointF()>;
    using Destinations = std::function<OpaqueHandoffGate::Targets()>;
    // Per panel, the picture to show while flying back (a null image keeps the one it has).
    using Sprites = std::function<QList<QImage>()>;

    // Nothing without items or with an item that has no image. `clock` answers seconds; the
    // frames run on a timer of their own unless `driven` is false (tests call tick()). A
    // preview still flying back (`replacing`) is held where it is: this one takes over the
    // panels of the same prints and closes it when its own panels show. `masked` panels, for a
    // desktop where nothing composites windows, are cut to their prints' outline by the alpha
    // (AlphaMaskedPicture) and sit with their prints on whole pixels. Panels that do not carry
    // the prints themselves (`carriesPrints` false: a system drag's picture) leave the rope
    // window nothing to keep under them.
    static std::unique_ptr<OpaquePegPreview> make(const QList<Item>& items, QPointF point,
                                                  std::function<void()> revealSource, Pointer pointer,
                                                  Clock clock = {}, bool driven = true,
                                                  std::unique_ptr<OpaquePegPreview> replacing = {},
                                                  bool masked = false, bool carriesPrints = true);
    // A system drag's picture that no target took (a cancel, or a drop refused or let go over
    // nothing): shown at once where the drag left it, with its top left at `origin`, it flies back
    // to `destination` as released panels do and hides there (`completion`). Nothing under
    // Reduce Motion, where the picture just goes, nor without a picture.
    static std::unique_ptr<OpaquePegPreview> flyBack(const QImage& picture, QPointF origin,
                                                     Destinations destination, bool masked,
                                                     std::function<void()> completion = {}, Clock clock = {},
                                                     bool driven = true);
    // The same picture made ready before the drag ends, so that taking the drag's picture over
    // only places and draws it: its panel waits where `origin` puts it, drawing nothing (not
    // mapped at all where it is cut). Nothing where flyBack gives nothing.
    static std::unique_ptr<OpaquePegPreview> standBy(const QImage& picture, QPointF origin, bool masked,
                                                     Clock clock = {}, bool driven = true);
    // Shows a standing-by picture at once with its top left at `origin` and flies it back as
    // flyBack does. Its flight's clock starts at its first frame, however late that comes, and
    // moves on by at most kMaxFlightStepSeconds a frame. Once landed it shows `landing`'s picture,
    // should that give one.
    void takeOver(QPointF origin, Destinations destination, std::function<void()> completion = {},
                  Sprites landing = {});
    // Whether panels must be cut to their pictures: on X11 while no compositing manager blends
    // windows.
    static bool panelsNeedMask();
    ~OpaquePegPreview() override;

    void move(QPointF point);
    // The panels fly back to `destinations` (nil: that panel hides); `completion` runs once, when
    // they hide. Only while pending or dragging.
    void finish(Destinations destinations, std::function<bool()> ready, std::function<void()> completion,
                Sprites sprites = {});
    void close();
    void tick();

    Phase phase() const { return m_phase; }
    bool masked() const { return m_masked; }
    // Where each panel's image lies on screen now.
    QList<QRectF> imageRects() const;
    QList<bool> panelsShown() const;
    // The panels' windows, for what a test reads off the screen.
    QList<QWidget*> panelWindows() const;
    bool pickupComplete() const { return m_pickupComplete; }
    const QStringList& photoIDs() const { return m_photoIDs; }
    // Taken over by a new drag while flying back: it waits, still, until that drag's panels show.
    bool heldForPickup() const { return m_heldForPickup; }
    int reusedCount() const { return m_reusedCount; }
    OpaquePegPreview* predecessor() const { return m_predecessor.get(); }
    // The picture each panel draws now.
    QList<qint64> panelImageKeys() const;

private:
    OpaquePegPreview(QPointF point, std::function<void()> revealSource, Pointer pointer, Clock clock);
    void showPanelsAndHideSource();
    void layoutDrag(double now);
    void returnFrame(double now);
    void place(int index, const QRectF& rect);
    void teardown();

    QList<QPointer<QWidget>> m_panels;
    std::unique_ptr<OpaquePegPreview> m_predecessor;
    bool m_heldForPickup = false;
    int m_reusedCount = 0;
    // Pictures of panels taken over from the predecessor, shown from the swap-in on.
    QHash<int, QImage> m_adoptedContent;
    Sprites m_finalSprites;
    Sprites m_landingSprites;
    QList<QRectF> m_initialFrames;
    QList<QRectF> m_restFrames;
    QList<QRectF> m_finishFrames;
    QStringList m_photoIDs;
    Phase m_phase = Phase::pending;
    bool m_masked = false;
    bool m_driven = false;
    QPointF m_startPoint;
    std::optional<QPointF> m_lastPoint;
    std::optional<double> m_finishStarted;
    // A taken-over picture's flight time, stepped frame by frame, and the last frame's time.
    bool m_steppedFlight = false;
    double m_flightElapsed = 0;
    double m_lastFlightFrame = 0;
    std::optional<double> m_swappedAt;
    bool m_pickupComplete = false;
    int m_framesSinceSwap = 0;
    OpaqueHandoffGate m_gate;
    Destinations m_destinations;
    std::function<bool()> m_ready;
    std::function<void()> m_completion;
    std::function<void()> m_revealSource;
    Pointer m_pointer;
    Clock m_clock;
    QTimer m_link;
};

} // namespace vennimo
