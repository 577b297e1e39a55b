#include "shell/UpdateWindowPresenter.h"

#include "shell/GalleryWindowLayer.h"

#include <QApplication>
#include <QEvent>

namespace vennimo {

UpdateWindowPresenter::UpdateWindowPresenter(std::function<bool(QWidget*)> isUpdaterWindow, QObject* parent)
    : QObject(parent)
    , m_isUpdaterWindow(std::move(isUpdaterWindow)) {
    // Showing and activation stand in for the window notifications an updater window sends.
    if (qApp)
        qApp->installEventFilter(this);
}

UpdateWindowPresenter::~UpdateWindowPresenter() {
    if (qApp)
        qApp->removeEventFilter(this);
}

void UpdateWindowPresenter::setUpdaterWindowRecognizer(std::function<bool(QWidget*)> isUpdaterWindow) {
    m_isUpdaterWindow = std::move(isUpdaterWindow);
}

bool UpdateWindowPresenter::isUpdateWindow(QWidget* window) const {
    if (!window || !window->isWindow())
        return false;
    if (m_showingModalAlert && window == QApplication::activeModalWidget())
        return true;
    return m_isUpdaterWindow && m_isUpdaterWindow(window);
}

void UpdateWindowPresenter::lift(QWidget* window) {
    const auto known = std::find_if(m_originals.begin(), m_originals.end(),
                                    [&](const OriginalWindowState& s) { return s.window == window; });
    // Only the first lift records: a second one must not take the lifted state for the original.
    if (known == m_originals.end())
        m_originals.push_back(
            {window, GalleryWindowLayer::level(window), GalleryWindowLayer::onAllWorkspaces(window)});
    const int level = std::max(GalleryWindowLayer::level(window), kUpdaterLevel);
    if (level != GalleryWindowLayer::level(window) || !GalleryWindowLayer::onAllWorkspaces(window))
        GalleryWindowLayer::applyLevel(window, level, true);
}

void UpdateWindowPresenter::bringExistingUpdateForward() {
    if (!m_foregroundRequested)
        return;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible() || !isUpdateWindow(window))
            continue;
        lift(window);
        window->raise();
        window->activateWindow();
    }
}

void UpdateWindowPresenter::willFinishUpdateSession() {
    m_foregroundRequested = false;
    m_showingModalAlert = false;
    for (const OriginalWindowState& state : m_originals)
        if (state.window)
            GalleryWindowLayer::applyLevel(state.window, state.level, state.allWorkspaces);
    m_originals.clear();
}

bool UpdateWindowPresenter::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::WindowActivate && type != QEvent::Show)
        return false;
    auto* window = qobject_cast<QWidget*>(watched);
    if (!isUpdateWindow(window))
        return false;
    if (type == QEvent::WindowActivate)
        m_foregroundRequested = true;
    if ((m_foregroundRequested || m_showingModalAlert) && window->isVisible())
        lift(window);
    return false;
}

} // namespace vennimo
