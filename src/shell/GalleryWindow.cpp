#include "shell/GalleryWindow.h"

#include "model/ClotheslineChrome.h"
#include "model/GalleryModel.h"
#include "platform/UserDefaults.h"
#include "shell/FramePaintedProbe.h"
#include "shell/GalleryWindowLayer.h"
#include "shell/WindowActivation.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QWindow>

#include <cmath>
#include <limits>

namespace vennimo {

namespace {

// The widget limits take whole pixels; QWIDGETSIZE_MAX stands for "no limit".
int pixels(double length) {
    return int(std::lround(std::min(length, double(QWIDGETSIZE_MAX))));
}

QRect toPixels(const QRectF& r) {
    return QRect(int(std::lround(r.x())), int(std::lround(r.y())), int(std::lround(r.width())),
                 int(std::lround(r.height())));
}

QList<ScreenArea> systemScreens() {
    QList<ScreenArea> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas.append({QRectF(screen->geometry()), QRectF(screen->availableGeometry())});
    return areas;
}

constexpr const char* kUndoTitle = "撤销";
constexpr const char* kRedoTitle = "重做";

// The undo or redo item: the text field being edited answers with its own history, the rope
// history otherwise.
GalleryWindow::MenuItemState historyMenuItem(const GalleryModel* model, const QWidget* focus, bool redo) {
    const QString title = QString::fromUtf8(redo ? kRedoTitle : kUndoTitle);
    if (auto* line = qobject_cast<const QLineEdit*>(focus))
        return {title, redo ? line->isRedoAvailable() : line->isUndoAvailable()};
    const QTextDocument* document = nullptr;
    if (auto* text = qobject_cast<const QTextEdit*>(focus))
        document = text->document();
    else if (auto* plain = qobject_cast<const QPlainTextEdit*>(focus))
        document = plain->document();
    if (document)
        return {title, redo ? document->isRedoAvailable() : document->isUndoAvailable()};
    if (model && (redo ? model->canRedoRopeAction() : model->canUndoRopeAction()))
        return {redo ? model->ropeRedoTitle() : model->ropeUndoTitle(), true};
    return {title, false};
}

} // namespace

GalleryWindow::GalleryWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint)
    , m_clotheslineHeight(ClotheslineChrome::fullHeightWithPhotos())
    , m_positionDefaults(&UserDefaults::standard())
    , m_screens(systemScreens)
    , m_pointerPosition([] { return QPointF(QCursor::pos()); })
    , m_mouseButtons([] { return QGuiApplication::mouseButtons(); })
    , m_frameWatch([this] { return windowHandle(); }) {
    // The visual is chosen when the native window is made, so the window is translucent in both
    // styles; the grid style paints its own opaque background.
    setAttribute(Qt::WA_TranslucentBackground);
    m_pointerTimer.setInterval(kRoutingInterval);
    m_pointerTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_pointerTimer, &QTimer::timeout, this, &GalleryWindow::routePointer);
    connect(&m_compositorWatch, &X11CompositorWatch::runningChanged, this, &GalleryWindow::checkCompositor);
    connect(&m_frameWatch, &X11FrameWatch::framed, this, &GalleryWindow::handleFramed);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    new FramePaintedProbe(this, [this] { cutBeforeFlush(); });
    // The local monitor of mouse events: it routes the pointer and carries rope moves. It does
    // nothing unless one of them runs.
    qApp->installEventFilter(this);
}

GalleryWindow::~GalleryWindow() {
    if (qApp)
        qApp->removeEventFilter(this);
    if (m_moveStart)
        QGuiApplication::restoreOverrideCursor();
}

void GalleryWindow::setScreensSource(std::function<QList<ScreenArea>()> screens) {
    m_screens = screens ? std::move(screens) : systemScreens;
}

void GalleryWindow::setPointerSource(std::function<QPointF()> position,
                                     std::function<Qt::MouseButtons()> buttons) {
    m_pointerPosition = std::move(position);
    m_mouseButtons = std::move(buttons);
}

void GalleryWindow::setPositionDefaults(UserDefaults* defaults) {
    m_positionDefaults = defaults ? defaults : &UserDefaults::standard();
}

QList<ScreenArea> GalleryWindow::screens() const {
    return m_screens();
}

void GalleryWindow::setClotheslineChrome(ClotheslineChrome* chrome) {
    m_clotheslineChrome = chrome;
}

void GalleryWindow::setContentWidget(QWidget* content) {
    if (m_content == content)
        return;
    if (m_content)
        layout()->removeWidget(m_content);
    m_content = content;
    if (content)
        layout()->addWidget(content);
}

QWidget* GalleryWindow::contentView() const {
    return m_content ? m_content.data() : const_cast<GalleryWindow*>(this);
}

void GalleryWindow::showWithoutActivating() {
    setAttribute(Qt::WA_ShowWithoutActivating);
    create();
    // Some window managers give focus to any window that accepts it, whatever the user time says.
    windowHandle()->setFlag(Qt::WindowDoesNotAcceptFocus, true);
    show();
    QTimer::singleShot(std::chrono::milliseconds(500), this, [this] {
        if (windowHandle())
            windowHandle()->setFlag(Qt::WindowDoesNotAcceptFocus, false);
    });
    if (m_clotheslineStyle.value_or(false))
        startPointerRouting();
}

bool GalleryWindow::busy() const {
    return m_clotheslineDragActive || m_clotheslineRepositionActive || m_knotResize || m_moveStart;
}

QRectF GalleryWindow::frame() const {
    return QRectF(geometry());
}

void GalleryWindow::setFrame(const QRectF& frame) {
    const QRect target = toPixels(frame);
    if (target != geometry())
        setGeometry(target);
}

std::optional<ScreenArea> GalleryWindow::screenContaining(QPointF point, bool byFrame) const {
    for (const ScreenArea& screen : m_screens()) {
        const QRectF& area = byFrame ? screen.frame : screen.available;
        // Half-open like the screens themselves: the right and bottom edges belong to the next one.
        if (point.x() >= area.left() && point.x() < area.right() && point.y() >= area.top() &&
            point.y() < area.bottom())
            return screen;
    }
    return std::nullopt;
}

std::optional<ScreenArea> GalleryWindow::windowScreen() const {
    const QRectF f = frame();
    if (auto screen = screenContaining(f.center(), true))
        return screen;
    std::optional<ScreenArea> best;
    double bestArea = 0;
    for (const ScreenArea& screen : m_screens()) {
        const QRectF overlap = screen.frame.intersected(f);
        if (overlap.width() * overlap.height() > bestArea) {
            bestArea = overlap.width() * overlap.height();
            best = screen;
        }
    }
    return best;
}

void GalleryWindow::applyStyleAppearance(bool clothesline, const std::function<void()>& placeWindow) {
    const bool wasVisible = isVisible();
    const Qt::WindowFlags flags = clothesline
                                      ? Qt::Tool | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint
                                      : Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                            Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
    const Qt::WindowFlags kept = windowFlags() & Qt::WindowStaysOnTopHint;
    if ((windowFlags() & ~Qt::WindowStaysOnTopHint) != flags)
        setWindowFlags(flags | kept);
    setAutoFillBackground(!clothesline);
    GalleryWindowLayer::registerWindow(this, false);
    // Changing the window type hides the window: it comes back where the new style belongs, since a
    // window manager may not follow a move that comes right after the window was mapped.
    placeWindow();
    if (wasVisible && !isVisible())
        show();
}

void GalleryWindow::setFrameWithHeight(const QRectF& target, int minimumHeight, int maximumHeight) {
    // Limits that admit both heights first: a limit the window does not meet resizes it on its own,
    // keeping its top, and that resize could land after the move that keeps the rope still.
    const int now = height();
    setMinimumHeight(std::min(minimumHeight, now));
    setMaximumHeight(std::max(maximumHeight, now));
    setFrame(target);
    setMinimumHeight(minimumHeight);
    setMaximumHeight(maximumHeight);
}

void GalleryWindow::setClotheslineStyle(bool clothesline) {
    if (m_clotheslineStyle == clothesline)
        return;
    finishKnotResize(false);
    if (m_clotheslineStyle == true) {
        syncNativePosition();
        m_compactFrame = frame();
        if (m_placement)
            m_compactFrame->moveTopLeft(*m_placement);
        m_compactCanvasTop = m_clotheslineCanvasTop;
    } else if (m_clotheslineStyle == false) {
        m_normalFrame = frame();
    }
    const QRectF current = frame();
    m_clotheslineStyle = clothesline;
    setIgnoresMouseEvents(false);
    m_interactiveAreas.clear();
    m_canvasPaths.clear();
    m_canvasRegions.clear();
    m_knotResizePaths.clear();
    m_ropeMovePath.reset();
    m_pointerGeometryRevision += 4;

    if (clothesline) {
        QRectF target;
        if (m_compactFrame) {
            // The rope keeps its screen height even when the canvas top changed meanwhile.
            const double top = m_compactFrame->top() + m_compactCanvasTop - m_requestedCanvasTop;
            target = QRectF(m_compactFrame->left(), top, std::max(m_compactFrame->width(), kRopeMinimumWidth),
                            m_clotheslineHeight);
        } else {
            target = QRectF(current.left(), current.top(), std::max(current.width(), kRopeMinimumWidth),
                            m_clotheslineHeight);
        }
        m_clotheslineCanvasTop = m_requestedCanvasTop;
        m_placement = target.topLeft();
        applyStyleAppearance(true, [&] {
            setMinimumWidth(pixels(kRopeMinimumWidth));
            setMaximumWidth(QWIDGETSIZE_MAX);
            setFrameWithHeight(target, pixels(m_clotheslineHeight), pixels(m_clotheslineHeight));
        });
        if (isVisible())
            startPointerRouting();
        else
            stopPointerRouting();
    } else {
        QRectF target;
        if (m_normalFrame)
            target = QRectF(m_normalFrame->topLeft(),
                            QSizeF(std::max(m_normalFrame->width(), kGridMinimumWidth),
                                   std::max(m_normalFrame->height(), kGridMinimumHeight)));
        else
            target = QRectF(current.left(), current.top(), std::max(current.width(), kGridMinimumWidth),
                            kGridFirstHeight);
        m_placement.reset();
        applyStyleAppearance(false, [&] {
            setMinimumWidth(pixels(kGridMinimumWidth));
            setMaximumWidth(QWIDGETSIZE_MAX);
            setFrameWithHeight(target, pixels(kGridMinimumHeight), QWIDGETSIZE_MAX);
        });
        stopPointerRouting();
        // Only the user switches to the grid; it comes with the keyboard, ready for a search.
        if (isVisible())
            WindowActivation::activate(this);
    }
    checkCompositor();
}

void GalleryWindow::setClotheslineLayout(double height, double canvasTop) {
    if (height == m_clotheslineHeight && canvasTop == m_requestedCanvasTop)
        return;
    m_clotheslineHeight = height;
    m_requestedCanvasTop = canvasTop;
    if (m_clotheslineStyle == true && !busy())
        fitClotheslineHeight();
}

void GalleryWindow::fitClotheslineHeight() {
    if (busy())
        return;
    // Right after the window was mapped anew, as a style switch does, Qt may take its place inside
    // the window manager's frame for its place on the screen, or the window manager may have put
    // it where it liked; fitting from there would move the rope and remember it there.
    syncNativePosition();
    QRectF current = frame();
    if (m_placement)
        current.moveTopLeft(*m_placement);
    // A taller top margin pushes the top up by the difference, so the rope line stays put.
    const double delta = m_requestedCanvasTop - m_clotheslineCanvasTop;
    double top = current.top() - delta;
    if (delta < 0) {
        top -= m_topRestoration;
        m_topRestoration = 0;
    }
    if (delta > 0) {
        if (const auto screen = windowScreen(); screen && top < screen->available.top()) {
            m_topRestoration += screen->available.top() - top;
            top = screen->available.top();
        }
    }
    m_clotheslineCanvasTop = m_requestedCanvasTop;
    const int height = pixels(m_clotheslineHeight);
    if (m_placement)
        m_placement = QPointF(current.left(), top);
    setFrameWithHeight(QRectF(current.left(), top, current.width(), m_clotheslineHeight), height, height);
    m_compactFrame = frame();
    if (m_placement)
        m_compactFrame->moveTopLeft(*m_placement);
    m_compactCanvasTop = m_clotheslineCanvasTop;
    saveClotheslinePosition();
}

void GalleryWindow::saveClotheslinePosition() {
    if (!m_remembersPosition || m_clotheslineStyle != true || busy())
        return;
    const QRectF f = frame();
    // Where the rope would hang had the top not been pushed down to stay on screen.
    m_positionDefaults->setClotheslineWindowPosition(
        {f.left(), f.top() + m_clotheslineCanvasTop - m_topRestoration, f.width()});
}

void GalleryWindow::restoreClotheslinePosition() {
    m_remembersPosition = true;
    m_placement.reset();
    const std::optional<ClotheslineWindowPosition> saved = m_positionDefaults->clotheslineWindowPosition();
    if (!saved)
        return;
    QRectF area = frame();
    if (const auto screen = screenContaining({saved->x, saved->ropeY}, false))
        area = screen->available;
    else if (const auto own = windowScreen())
        area = own->available;
    const double width = std::min(saved->width, std::max(area.width(), kRopeMinimumWidth));
    m_topRestoration = 0;
    const QRectF target(saved->x, saved->ropeY - m_clotheslineCanvasTop, width, m_clotheslineHeight);
    setFrame(clampedClotheslineFrame(target));
    m_compactFrame = frame();
    m_compactCanvasTop = m_clotheslineCanvasTop;
}

QRectF GalleryWindow::clampedClotheslineFrame(const QRectF& frame) const {
    const double ropeY = frame.top() + m_clotheslineCanvasTop;
    std::optional<ScreenArea> screen = screenContaining({frame.center().x(), ropeY}, true);
    if (!screen)
        screen = windowScreen();
    if (!screen) {
        const QList<ScreenArea> all = m_screens();
        if (all.isEmpty())
            return frame;
        screen = all.first();
    }
    const QRectF& v = screen->available;
    QRectF result = frame;
    const double lowestX = v.left() - kHorizontalOverhang;
    const double highestX = v.right() + kHorizontalOverhang - frame.width();
    result.moveLeft(highestX < lowestX ? v.center().x() - frame.width() / 2
                                       : std::min(std::max(frame.left(), lowestX), highestX));
    const double highestRope = v.top() + kRopeHighestBelowTop;
    const double lowestRope = v.bottom() - kRopeLowestAboveBottom;
    if (highestRope <= lowestRope)
        result.moveTop(frame.top() + std::min(std::max(ropeY, highestRope), lowestRope) - ropeY);
    return result;
}

void GalleryWindow::beginKnotResize(ClotheslineKnotEdge edge, QPointF screenPoint) {
    if (m_clotheslineStyle != true || m_clotheslineDragActive || m_clotheslineRepositionActive || m_moveStart)
        return;
    const QRectF f = frame();
    const auto screen = windowScreen();
    const QRectF area = screen ? screen->available : f;
    const double limit =
        edge == ClotheslineKnotEdge::right ? area.right() - f.left() : f.right() - area.left();
    m_placement.reset();
    m_knotResize = KnotResize{edge, screenPoint, f, std::max(kRopeMinimumWidth, std::max(limit, f.width()))};
    setIgnoresMouseEvents(false);
}

void GalleryWindow::updateKnotResize(QPointF screenPoint) {
    if (!m_knotResize)
        return;
    const KnotResize& k = *m_knotResize;
    const double travel = k.edge == ClotheslineKnotEdge::right ? screenPoint.x() - k.origin.x()
                                                               : k.origin.x() - screenPoint.x();
    const double width = std::min(std::max(k.frame.width() + travel, kRopeMinimumWidth), k.maximumWidth);
    const double x = k.edge == ClotheslineKnotEdge::right ? k.frame.left() : k.frame.right() - width;
    setFrame(QRectF(x, k.frame.top(), width, k.frame.height()));
    if (layout())
        layout()->activate();
}

void GalleryWindow::finishKnotResize(bool cancelled) {
    if (!m_knotResize)
        return;
    const QRectF start = m_knotResize->frame;
    m_knotResize.reset();
    if (cancelled)
        setFrame(start);
    m_compactFrame = frame();
    m_ownsMouseSequence = false;
    setIgnoresMouseEvents(false);
    if (m_clotheslineStyle == true)
        resumeAfterGesture();
}

void GalleryWindow::resumeAfterGesture() {
    if (m_clotheslineChrome)
        m_clotheslineChrome->resume();
    fitClotheslineHeight();
    saveClotheslinePosition();
    routePointer();
}

void GalleryWindow::moveClothesline(QPointF screenPoint) {
    // The canvas may already have flagged the reposition through the port before it asks.
    if (m_clotheslineStyle != true || m_knotResize || m_clotheslineDragActive || m_moveStart)
        return;
    // Moving follows the mouse events the application filter sees until the button goes up, so
    // nothing else waits behind a loop of our own.
    m_clotheslineRepositionActive = true;
    m_placement.reset();
    setIgnoresMouseEvents(false);
    QGuiApplication::setOverrideCursor(Qt::ClosedHandCursor);
    m_moveStart = screenPoint;
    m_moveOrigin = frame().topLeft();
}

void GalleryWindow::handleMoveEvent(QPointF global) {
    QRectF candidate = frame();
    candidate.moveTopLeft(m_moveOrigin + (global - *m_moveStart));
    const QRectF clamped = clampedClotheslineFrame(candidate);
    if (toPixels(clamped).topLeft() != pos())
        move(toPixels(clamped).topLeft());
}

void GalleryWindow::finishMove() {
    if (!m_moveStart)
        return;
    m_moveStart.reset();
    QGuiApplication::restoreOverrideCursor();
    m_clotheslineRepositionActive = false;
    setFrame(clampedClotheslineFrame(frame()));
    m_topRestoration = 0;
    resumeAfterGesture();
}

void GalleryWindow::setGalleryModel(GalleryModel* model) {
    m_galleryModel = model;
}

void GalleryWindow::undo() {
    QWidget* focus = QApplication::focusWidget();
    if (auto* line = qobject_cast<QLineEdit*>(focus))
        line->undo();
    else if (auto* text = qobject_cast<QTextEdit*>(focus))
        text->undo();
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(focus))
        plain->undo();
    else if (m_galleryModel)
        m_galleryModel->undoRopeAction();
}

void GalleryWindow::redo() {
    QWidget* focus = QApplication::focusWidget();
    if (auto* line = qobject_cast<QLineEdit*>(focus))
        line->redo();
    else if (auto* text = qobject_cast<QTextEdit*>(focus))
        text->redo();
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(focus))
        plain->redo();
    else if (m_galleryModel)
        m_galleryModel->redoRopeAction();
}

GalleryWindow::MenuItemState GalleryWindow::undoMenuItem() const {
    return historyMenuItem(m_galleryModel, focusWidget(), false);
}

GalleryWindow::MenuItemState GalleryWindow::redoMenuItem() const {
    return historyMenuItem(m_galleryModel, focusWidget(), true);
}

bool GalleryWindow::galleryKeysAllowed() const {
    // A dialog waits for an answer, or a text field keeps its own keys.
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != this)
        return false;
    const QWidget* focus = QApplication::focusWidget();
    return !qobject_cast<const QLineEdit*>(focus) && !qobject_cast<const QTextEdit*>(focus) &&
           !qobject_cast<const QPlainTextEdit*>(focus);
}

void GalleryWindow::keyPressEvent(QKeyEvent* event) {
    if (m_galleryKeyboardHandler && galleryKeysAllowed() && m_galleryKeyboardHandler(event)) {
        event->accept();
        return;
    }
    const bool undoKey = event->matches(QKeySequence::Undo);
    const bool redoKey =
        event->matches(QKeySequence::Redo) ||
        event->keyCombination() == QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_Z);
    if (undoKey || redoKey) {
        undoKey ? undo() : redo();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void GalleryWindow::closeEvent(QCloseEvent* event) {
    finishKnotResize(false);
    finishMove();
    stopPointerRouting();
    event->accept();
}

} // namespace vennimo
