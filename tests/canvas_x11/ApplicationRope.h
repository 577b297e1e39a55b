#pragma once

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "ApplicationSession.h"
#include "rope/ClotheslineRopeGeometry.h"
#include "support/ScreenGrab.h"

#include <QColor>
#include <QJsonObject>
#include <QMap>

#include <functional>
#include <optional>

namespace vennimo::test {

// Helpers for tests that run the application itself under the test's X server.

// The folder for the application's screenshots under the build folder.
QString applicationShots();
// The test home's Desktop, made together with Downloads: the two folders the application watches.
QString makeWatchedFolders();
// Where a test may put files that the application it starts must take as the user's own, hanging
// them where they lie instead of copying them in: the build folder, or, when that lies in a folder
// the application counts as temporary (a checkout under /tmp or $TMPDIR), a folder of the test home
// mounted at an empty system folder for this thread and the programs it starts. None when neither
// can be had (no right to mount); the test says so and skips.
std::optional<QString> userFilesParent();
// Starts the application in the test's temporary home and lets its first scan of the still
// empty folders pass, the baseline later arrivals are told against; false when it did not start.
// With `keepErrors` its standard error stays readable through the process instead of passing on.
bool startApplication(QProcess& app, bool keepErrors = false);
// The X ids of the application's visible windows, its tray icon among them.
QStringList visibleWindowIds(qint64 pid);
// The frames of the application's visible top-level windows but its tray icon, and of the widest one, its
// rope window; none when it shows nothing.
QList<QRect> applicationWindows(qint64 pid);
std::optional<QRect> applicationWindow(qint64 pid);
// Runs xdotool with the arguments and waits a little for the pointer routing to follow.
bool xdotool(const QStringList& arguments, int settleMs = 60);

// Where the rope screen puts its canvas inside the window: below the toolbar's room while prints
// are selected, and inside the window's sides.
constexpr int kCanvasTop = 8;
constexpr int kToolbarRoom = 52;
constexpr int kCollapsedHeight = 466;
constexpr int kSideInset = 10;
constexpr double kRopeInset = 12;
// From a print's peg down into its paper, clear of peg and border whatever the picture's shape.
constexpr double kPegToPaper = 150;

// The application's storage folder in the test's home, and a JSON state file read whole.
QString storage();
QJsonObject readJson(const QString& path);
// The rope window's frame as the application saved it in its defaults.
QJsonObject savedRopePosition();
// Placement x by record key, as "clothesline-positions.json" holds them, and the xs sorted.
QMap<QString, double> placements();
QList<double> placementXs();
// Photos the line history marks as taken down.
int takenDownCount();
// The rope of a window at rest with no prints, the canvas's top in the window, a canvas point on
// the screen, and the screen point on the paper of the print hanging at placement x.
ClotheslineRopeGeometry restingRope(const QRect& window);
int canvasTop(const QRect& window);
QPoint onScreen(const QRect& window, QPointF canvasPoint);
QPoint printPoint(const QRect& window, double x);
// The same for an application drawing at `scale` device pixels a point, `window` in device pixels.
QPoint scaledPrintPoint(const QRect& window, double x, double scale);
bool near(const QPoint& a, const QPoint& b, int tolerance = 3);
// Saves `count` photograph-like pictures named "<prefix>-1.jpg"... into the Desktop folder and
// waits until all of them have places on the rope and the rope has settled under them.
bool hangDesktopPhotos(const QString& desktop, const QString& prefix, int count, int seed);
// The peg of the print at x on the rope of the rope window `window` as it rests under prints at
// `loads`.
QPoint pegPoint(const QRect& window, double x, const QList<double>& loads);
// The X id of the application's widest window, its rope window.
QString widestWindowId(qint64 pid);
// Activates the rope window and presses Control-Z there; false when it shows no rope window.
bool undoInRopeWindow(qint64 pid);
// Press at `from`, move in steps to `to`, optionally shoot at the end of the way, release (or,
// with `finish`, let it end the gesture instead, for instance with Escape).
void pegGesture(QPoint from, QPoint to, const std::function<void()>& halfway = {},
                const std::function<void()>& finish = {});
// xdotool arguments that press at `from`, carry to `through` in steps, let go, press again
// `pauseSeconds` later and carry on to `to`, all in one run of xdotool, so no other event comes
// in between: a print taken up again right after its release. With `again` the second press is
// there instead of where the first let go.
QStringList letGoAndTakeAgain(QPoint from, QPoint through, QPoint to, const QString& pauseSeconds,
                              std::optional<QPoint> again = std::nullopt);

// A window of another program under the rope: a soft gradient that the rope's tan and the
// toolbar's light material stand out against, or one plain blue, counting the clicks that pass
// through to it.
class Backdrop : public QWidget {
public:
    enum class Tone { Light, Dark, Plain };
    explicit Backdrop(Tone tone = Tone::Light);
    // Covers the primary screen's free area; false when it never came on screen.
    bool cover();
    QList<QPoint> presses;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QColor m_from;
    QColor m_to;
};

// Paints the root window the plain backdrop's blue. What a window gives up then shows that blue at
// once, drawn by the X server itself; a window of this process shows it only once this process draws
// there again, which a test busy grabbing the screen puts off. False off X11.
bool paintRootPlain();

// The rope toolbar's capsule: its left and right ends on a row just inside its top edge, above its
// texts; none while it does not show.
std::optional<std::pair<int, int>> capsuleEnds(const QRect& window);

} // namespace vennimo::test
