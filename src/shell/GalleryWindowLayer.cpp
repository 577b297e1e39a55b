#include "shell/GalleryWindowLayer.h"

#include "platform/UserDefaults.h"
#include "platform/X11WindowHints.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <tuple>
#include <vector>

namespace vennimo {

namespace {

constexpr auto kLevelProperty = "vennimoWindowLevel";
constexpr auto kAllWorkspacesProperty = "vennimoAllWorkspaces";
constexpr auto kHintKeeperProperty = "vennimoWorkspaceHintKept";

struct Entry {
    QPointer<QWidget> window;
    bool auxiliary = false;
};

std::vector<Entry>& registry() {
    static std::vector<Entry> entries;
    return entries;
}

void dropGone() {
    std::erase_if(registry(), [](const Entry& e) { return e.window.isNull(); });
}

// The workspace hint lives on the native window, which Qt makes at the first show and may make
// again: set it each time the window is shown.
class WorkspaceHintKeeper : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::WindowActivate) {
            // The window manager raises a window the user clicks; what floats higher goes back over
            // it. On the next turn, once the window's own requests went out.
            const int level = GalleryWindowLayer::level(static_cast<QWidget*>(watched));
            QTimer::singleShot(0, this, [level] { GalleryWindowLayer::raiseAbove(level); });
            return false;
        }
        if (event->type() != QEvent::Show)
            return false;
        // Qt sets the current workspace when it maps the window, after this event; once mapped, the
        // window manager takes a request instead.
        QPointer<QWidget> widget = static_cast<QWidget*>(watched);
        const auto apply = [widget] {
            if (widget)
                X11WindowHints::setOnAllDesktops(widget->windowHandle(),
                                                 GalleryWindowLayer::onAllWorkspaces(widget));
        };
        apply();
        for (const int ms : {0, 300})
            QTimer::singleShot(std::chrono::milliseconds(ms), this, apply);
        // A window the window manager maps comes on top of its layer; the map request leaves
        // after this event, so the windows above it are raised on the next turn.
        const int level = GalleryWindowLayer::level(widget);
        QTimer::singleShot(0, this, [level] { GalleryWindowLayer::raiseAbove(level); });
        return false;
    }
};

} // namespace

bool GalleryWindowLayer::enabled() {
    return UserDefaults::standard().galleryAlwaysOnTop();
}

void GalleryWindowLayer::registerWindow(QWidget* window, bool auxiliary) {
    if (!window)
        return;
    dropGone();
    auto& entries = registry();
    const auto it =
        std::find_if(entries.begin(), entries.end(), [&](const Entry& e) { return e.window == window; });
    if (it == entries.end())
        entries.push_back({window, auxiliary});
    else
        auxiliary = it->auxiliary;
    apply(window, auxiliary);
}

void GalleryWindowLayer::refresh() {
    dropGone();
    // A copy: applying can show or hide windows, which must not disturb the walk.
    std::vector<Entry> ordered;
    for (const Entry& e : registry())
        if (!e.window->parentWidget())
            ordered.push_back(e);
    for (const Entry& e : registry())
        if (e.window->parentWidget())
            ordered.push_back(e);
    for (const Entry& e : ordered)
        if (e.window)
            apply(e.window, e.auxiliary);
}

bool GalleryWindowLayer::isRegistered(const QWidget* window) {
    return std::any_of(registry().begin(), registry().end(),
                       [&](const Entry& e) { return e.window && e.window == window; });
}

int GalleryWindowLayer::level(const QWidget* window) {
    return window ? window->property(kLevelProperty).toInt() : kNormalLevel;
}

bool GalleryWindowLayer::onAllWorkspaces(const QWidget* window) {
    return window && window->property(kAllWorkspacesProperty).toBool();
}

void GalleryWindowLayer::applyLevel(QWidget* window, int level, bool allWorkspaces) {
    if (!window)
        return;
    if (!window->property(kHintKeeperProperty).toBool()) {
        window->setProperty(kHintKeeperProperty, true);
        window->installEventFilter(new WorkspaceHintKeeper(window));
    }
    window->setProperty(kLevelProperty, level);
    window->setProperty(kAllWorkspacesProperty, allWorkspaces);
    const bool above = level > kNormalLevel;
    // QWidget::setWindowFlags would hide a visible window; the native window takes the flag as is.
    if (QWindow* handle = window->windowHandle())
        handle->setFlag(Qt::WindowStaysOnTopHint, above);
    if (window->testAttribute(Qt::WA_WState_Created)) {
        // Keeps QWidget's own idea of the flags in step without recreating anything.
        window->overrideWindowFlags(above ? window->windowFlags() | Qt::WindowStaysOnTopHint
                                          : window->windowFlags() & ~Qt::WindowStaysOnTopHint);
    } else {
        window->setWindowFlag(Qt::WindowStaysOnTopHint, above);
    }
    X11WindowHints::setOnAllDesktops(window->windowHandle(), allWorkspaces);
    // Levels above the floating one have no X11 state of their own: raising keeps them on top of
    // the floating windows that are already there.
    if (level > kFloatingLevel && window->isVisible()) {
        window->raise();
        X11WindowHints::flush();
    }
}

void GalleryWindowLayer::raise(QWidget* window) {
    if (!window)
        return;
    window->raise();
    raiseAbove(level(window));
}

void GalleryWindowLayer::raiseAbove(int floor) {
    std::vector<QWidget*> higher;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && level(window) > floor)
            higher.push_back(window);
    std::stable_sort(higher.begin(), higher.end(),
                     [](const QWidget* a, const QWidget* b) { return level(a) < level(b); });
    for (QWidget* window : higher)
        window->raise();
    X11WindowHints::flush();
}

QWidget* GalleryWindowLayer::topmostShown() {
    dropGone();
    // Higher levels first; among equals (all of them while floating is off) the active window,
    // then an auxiliary one, which would float higher.
    const auto rank = [](const Entry& e) {
        return std::tuple(level(e.window), e.window->isActiveWindow(), e.auxiliary);
    };
    const Entry* best = nullptr;
    for (const Entry& e : registry()) {
        if (!e.window->isVisible() || e.window->isMinimized())
            continue;
        if (!best || rank(e) > rank(*best))
            best = &e;
    }
    return best ? best->window.data() : nullptr;
}

void GalleryWindowLayer::apply(QWidget* window, bool auxiliary) {
    const bool on = enabled();
    const int level = on ? (auxiliary ? kAuxiliaryLevel : kFloatingLevel) : kNormalLevel;
    applyLevel(window, level, on);
}

} // namespace vennimo
