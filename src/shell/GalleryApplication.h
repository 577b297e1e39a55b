#pragma once

#include "shell/GalleryApplicationParts.h"
#include "shell/GalleryPresenceController.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace vennimo {

class GalleryMainMenu;
class GalleryModel;
class GalleryShortcutController;
class GalleryStatusItem;
class GalleryView;
class GalleryWindow;
class GlobalHotKey;
class Indexer;
class LoginSetting;
class ModalWindowPresenter;
class SessionWatcher;
class SettingsEditorPort;
class SettingsWindow;
class ShellSettingsServices;
class SingleInstance;
class SourceStore;
class UnixSignals;
class UpdateWindowPresenter;
class UpdateWindows;
class Updater;
class UserDefaults;

// Where the application shows in the taskbar: an accessory has no entry; it is regular while
// the gallery window or the settings window is on screen.
enum class ActivationPolicy { accessory, regular };

// What made the application want to end.
enum class QuitCause {
    // The menu, or Ctrl+C in a terminal: someone is there to answer.
    user,
    // Logout, shutdown or SIGTERM: nobody can be asked, and pending state is given up when it
    // cannot be written.
    sessionEnd,
};

// Builds, wires and owns every long-lived part of the application in its launch order, opens
// and closes its windows, and runs the one way out of the process. Main thread only.
class GalleryApplication : public QObject {
    Q_OBJECT

public:
    static constexpr double kFallbackRescanSeconds = 60;
    static constexpr auto kWindowTitle = "Vennimo";
    static constexpr double kRopeWidth = 980;
    static constexpr double kRopeScreenTop = 40;

    explicit GalleryApplication(GalleryApplicationParts parts = GalleryApplicationParts::standard(),
                                QObject* parent = nullptr);
    ~GalleryApplication() override;

    // Builds everything and starts the model. Answers the exit status when the process should
    // end at once: another instance runs (it was asked to show), or the storage folder failed.
    std::optional<int> launch();

    // The user opens the gallery: it comes forward with the keyboard.
    void show();
    // The tray's 普通窗口: the grid, asked for by name, stands whether or not prints hang.
    void showNormalGallery();
    // Opens the gallery, or closes it when it is open.
    void toggleGallery();
    void showSettings();
    void updateActivationPolicy(const QWidget* excluding = nullptr);
    ActivationPolicy activationPolicy() const { return m_activationPolicy; }
    // Brings the tray's texts and icon up to date.
    void updateQuickOpenStatus();

    // The one way out. Answers whether the process is ending; a refusal or the user's cancel
    // answers false, and such a quit is forgotten. The user is told why a delete or an import
    // holds the quit. A session end, which nobody answers, stops a drop where it is and is
    // carried out as soon as the delete or the import holding it has finished; a quit asked while
    // it waits is part of it. One alert at a
    // time asks or tells: a quit asked again while one is up brings it forward instead.
    //
    // It is also where an updater that installs and restarts the program would enter: the same
    // flush of deferred state (a cancel in its alert stops the restart) and clipboard hand-over
    // must run before the process is replaced. The updater here only offers a download, so
    // nothing restarts the program yet.
    bool quit(QuitCause cause);
    bool quitting() const { return m_quitting; }
    bool quitPending() const { return m_pendingQuit.has_value(); }
    // The alert that says why a quit waits, while it is up.
    QWidget* quitBlockedAlert() const;

    GalleryModel* model() const { return m_model.get(); }
    GalleryWindow* window() const { return m_window.get(); }
    GalleryMainMenu* mainMenu() const { return m_mainMenu.get(); }
    GalleryView* rootView() const;
    SourceStore* sourceStore() const { return m_sourceStore.get(); }
    LoginSetting* loginSetting() const { return m_loginSetting.get(); }
    GalleryStatusItem* statusItem() const { return m_statusItem.get(); }
    GalleryPresenceController* presence() const { return m_presence.get(); }
    GalleryShortcutController* shortcutController() const { return m_shortcutController.get(); }
    SessionWatcher* sessionWatcher() const { return m_sessionWatcher.get(); }
    SettingsWindow* settingsWindow() const { return m_settingsWindow.get(); }
    Updater* updater() const { return m_updater.get(); }
    const QString& storage() const { return m_storage; }

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void step(const QString& name) const;
    void buildWindow();
    void placeRope();
    void buildStatusItem();
    void buildShortcutController();
    void checkForUpdates();
    void rememberActiveWindow();
    void windowWillClose(QWidget* window);
    bool ourWindow(unsigned id) const;
    void open(GalleryPresenceController::ExplicitOpen request);
    // The settings window's draft while the window shows, and whether it is being saved.
    SettingsEditorPort* visibleSettingsEditor() const;
    bool settingsSaving() const;
    void showQuitBlocked(const QString& reason);
    void settleQuitBlocked();
    void retryPendingQuit();

    GalleryApplicationParts m_parts;
    QString m_storage;
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<UnixSignals> m_unixSignals;
    std::unique_ptr<UpdateWindowPresenter> m_updateWindowPresenter;
    std::unique_ptr<ModalWindowPresenter> m_modalWindowPresenter;
    std::unique_ptr<Updater> m_updater;
    std::unique_ptr<UpdateWindows> m_updateWindows;
    std::unique_ptr<SourceStore> m_sourceStore;
    std::unique_ptr<LoginSetting> m_loginSetting;
    std::unique_ptr<GalleryModel> m_model;
    std::unique_ptr<SessionWatcher> m_sessionWatcher;
    std::unique_ptr<GalleryWindow> m_window;
    std::unique_ptr<GalleryMainMenu> m_mainMenu;
    QPointer<GalleryView> m_rootView;
    std::unique_ptr<GalleryStatusItem> m_statusItem;
    std::unique_ptr<GalleryPresenceController> m_presence;
    std::unique_ptr<GalleryShortcutController> m_shortcutController;
    std::unique_ptr<ShellSettingsServices> m_settingsServices;
    std::unique_ptr<SettingsWindow> m_settingsWindow;
    ActivationPolicy m_activationPolicy = ActivationPolicy::accessory;
    // The window that was active before ours took the keyboard; it gets it back when the
    // gallery closes.
    std::optional<unsigned> m_previousActiveWindow;
    std::optional<QuitCause> m_pendingQuit;
    bool m_quitting = false;
    // The alert that refused a quit, and the reason it names; it goes when that work ends.
    std::unique_ptr<QWidget> m_quitBlockedAlert;
    QString m_quitBlockedReason;
    // A quit waits for the user's answer about state it could not write.
    bool m_askingToQuit = false;
};

} // namespace vennimo
