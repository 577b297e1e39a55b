#pragma once

#include "shell/EditMenuResponder.h"

#include <QHash>
#include <QMenu>
#include <QMenuBar>
#include <QObject>
#include <QPointer>

#include <functional>

class QAction;
class QWidget;

namespace vennimo {

class GalleryModel;

// The application's main menu: "Vennimo" (settings, update check, quit) and "编辑", as a menu
// bar of the gallery window that shows in its grid style (a desktop with a global menu takes it
// from there). The settings and quit keys work in every window given to addWindowKeys; the edit
// items act where the keyboard is (EditMenuResponder), whose keys those windows handle already.
class GalleryMainMenu : public QObject {
    Q_OBJECT

public:
    struct Actions {
        std::function<void()> showSettings;
        std::function<void()> checkForUpdates;
        std::function<void()> quit;
    };

    GalleryMainMenu(QWidget& window, const GalleryModel* model, Actions actions, QObject* parent = nullptr);

    QMenuBar* menuBar() const { return m_menuBar; }
    QMenu* applicationMenu() const { return m_applicationMenu; }
    QMenu* editMenu() const { return m_editMenu; }
    QAction* editAction(EditMenuResponder::Command command) const { return m_editActions.value(command); }

    // The settings and quit keys answer in that window too.
    void addWindowKeys(QWidget* window);
    // Shown with the grid; the rope strip has no room for a menu.
    void setGridStyle(bool grid);
    // Titles and enabling of the edit items, from where the keyboard is now.
    void updateEditMenu();

private:
    // The window the edit items act in.
    QWidget* editWindow() const;

    const GalleryModel* m_model;
    QPointer<QMenuBar> m_menuBar;
    QPointer<QMenu> m_applicationMenu;
    QPointer<QMenu> m_editMenu;
    QAction* m_settingsAction = nullptr;
    QAction* m_quitAction = nullptr;
    QHash<EditMenuResponder::Command, QAction*> m_editActions;
};

} // namespace vennimo
