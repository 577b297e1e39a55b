#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <vector>

namespace vennimo {

// Keeps the updater's windows (its offer, progress and alerts) above our floating windows while
// an update check the user asked for runs, and puts them back as they were when the session ends.
// The updater itself lives elsewhere; it tells the presenter which windows are its own through
// `isUpdaterWindow` and reports its alerts and the end of each session through the calls below.
class UpdateWindowPresenter : public QObject {
    Q_OBJECT

public:
    static constexpr int kUpdaterLevel = 5;

    // Without a recogniser no window counts as the updater's, so nothing is ever lifted.
    explicit UpdateWindowPresenter(std::function<bool(QWidget*)> isUpdaterWindow = {},
                                   QObject* parent = nullptr);
    ~UpdateWindowPresenter() override;

    void setUpdaterWindowRecognizer(std::function<bool(QWidget*)> isUpdaterWindow);

    bool foregroundRequested() const { return m_foregroundRequested; }
    // Set by the check-for-updates actions before they ask the updater to check.
    void setForegroundRequested(bool requested) { m_foregroundRequested = requested; }
    bool showingModalAlert() const { return m_showingModalAlert; }

    // Lifts and raises every visible updater window while a check was asked for.
    void bringExistingUpdateForward();

    void willShowModalAlert() { m_showingModalAlert = true; }
    void didShowModalAlert() { m_showingModalAlert = false; }
    void willFinishUpdateSession();

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct OriginalWindowState {
        QPointer<QWidget> window;
        int level = 0;
        bool allWorkspaces = false;
    };

    bool isUpdateWindow(QWidget* window) const;
    void lift(QWidget* window);

    std::function<bool(QWidget*)> m_isUpdaterWindow;
    std::vector<OriginalWindowState> m_originals;
    bool m_foregroundRequested = false;
    bool m_showingModalAlert = false;
};

} // namespace vennimo
