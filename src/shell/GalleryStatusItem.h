#pragma once

#include "shell/QuickOpenStatus.h"

#include <QMenu>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QAction;
class QSystemTrayIcon;

namespace vennimo {

// The application's handle in the tray: its icon (a left click toggles the gallery, a right
// click opens the menu) and the menu, whose titles tell whether the gallery is open, which key
// opens it and how many photos arrived while the rope was kept closed. It only shows and
// reports; the application decides. Main thread only.
class GalleryStatusItem : public QObject {
    Q_OBJECT

public:
    // What the undo, redo, normal-window and automatic-check items show when the menu opens.
    struct MenuState {
        std::optional<QString> undoTitle{};
        std::optional<QString> redoTitle{};
        bool normalGalleryEnabled = true;
        bool automaticChecks = false;
    };

    explicit GalleryStatusItem(QObject* parent = nullptr);
    ~GalleryStatusItem() override;

    // Puts the icon in the tray (when the desktop has one).
    void show();
    void apply(const QuickOpenStatus& status);
    void applyMenu(const MenuState& state);
    const QuickOpenStatus& status() const { return m_status; }
    QString accessibleName() const { return m_status.accessibleName; }

    QSystemTrayIcon& trayIcon() const { return *m_tray; }
    QMenu& menu() const { return *m_menu; }
    QAction* toggleAction() const { return m_toggle; }
    QAction* collectionAction() const { return m_collection; }
    QAction* undoAction() const { return m_undo; }
    QAction* redoAction() const { return m_redo; }
    QAction* normalGalleryAction() const { return m_normalGallery; }
    QAction* settingsAction() const { return m_settings; }
    QAction* checkForUpdatesAction() const { return m_checkForUpdates; }
    QAction* automaticUpdatesAction() const { return m_automaticUpdates; }
    QAction* refreshAction() const { return m_refresh; }
    QAction* quitAction() const { return m_quit; }

Q_SIGNALS:
    // A plain click on the icon.
    void clicked();
    // The menu is about to open: the owner brings its items up to date.
    void menuAboutToOpen();
    void toggleRequested();
    void undoRequested();
    void redoRequested();
    void normalGalleryRequested();
    void settingsRequested();
    void checkForUpdatesRequested();
    void automaticUpdatesToggled();
    void refreshRequested();
    void quitRequested();

private:
    QAction* addItem(const QString& title, void (GalleryStatusItem::*signal)());

    std::unique_ptr<QMenu> m_menu;
    QSystemTrayIcon* m_tray = nullptr;
    QAction* m_toggle = nullptr;
    QAction* m_collection = nullptr;
    QAction* m_undo = nullptr;
    QAction* m_redo = nullptr;
    QAction* m_normalGallery = nullptr;
    QAction* m_settings = nullptr;
    QAction* m_checkForUpdates = nullptr;
    QAction* m_automaticUpdates = nullptr;
    QAction* m_refresh = nullptr;
    QAction* m_quit = nullptr;
    QuickOpenStatus m_status;
    std::optional<bool> m_dotShown;
};

} // namespace vennimo
