#pragma once

#include "rope/HangingStyle.h"
#include "rope/PhotoPendulum.h"

#include <QList>
#include <QSizeF>
#include <QTimer>
#include <QWidget>

#include <array>

namespace vennimo {

// A miniature rope with three blank prints showing how one hanging style behaves: while on
// screen after a start or a replay the rope gives a small damped bounce and, in the natural
// styles, the prints swing from a kick back to their rest tilt; after 100 ticks of 0.03 s all
// rests. Under Reduce Motion it shows the rest poses on a still rope at once. The prints use
// the rope's own rest poses, pendulums and print outlines, in flat colours.
class HangingMotionPreview : public QWidget {
    Q_OBJECT

public:
    static constexpr int kTickCount = 100;
    static constexpr double kTickSeconds = 0.03;
    static constexpr double kRestElapsedSeconds = 3.0;
    static constexpr double kKickDegrees = 3.2;
    static constexpr QSizeF kPrintCanvas{112, 112};
    static constexpr int kHeight = 118;

    explicit HangingMotionPreview(HangingStyle style, QWidget* parent = nullptr);

    const HangingStyle& style() const { return m_style; }
    int replay() const { return m_replay; }
    // A new replay value restarts the run.
    void setReplay(int replay);
    // The animation key: offCenter, strictlyVertical, replay and Reduce Motion joined by "-".
    QString animationKey() const;

    const QList<PhotoPendulum>& poses() const { return m_poses; }
    double elapsed() const { return m_elapsed; }
    bool running() const { return m_timer.isActive(); }
    // The aspect of each print's picture: landscape, portrait, square.
    static const std::array<QSizeF, 3>& ratios();
    static QString identity(int index);
    // The three pendulums a run starts from.
    static QList<PhotoPendulum> startPoses(const HangingStyle& style);
    // The rope's downward bounce `elapsed` seconds into a run.
    static double bounce(double elapsed, bool reduceMotion);

    // Advances one tick at once (tests); a no-op when no run is going.
    void tick();
    // Starts a run as coming on screen does.
    void restart();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void settle();

    HangingStyle m_style;
    int m_replay = 0;
    QList<PhotoPendulum> m_poses;
    double m_elapsed = kRestElapsedSeconds;
    int m_ticks = 0;
    bool m_reduceMotion = false;
    QTimer m_timer;
};

} // namespace vennimo
