#include "shell/GalleryMainMenu.h"

#include <QApplication>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

namespace vennimo {

namespace {

using Command = EditMenuResponder::Command;

QAction* addItem(QMenu* menu, const QString& title, std::function<void()> action,
                 std::optional<QKeySequence> key = std::nullopt) {
    QAction* item = menu->addAction(title);
    if (key)
        item->setShortcut(*key);
    QObject::connect(item, &QAction::triggered, item, [action = std::move(action)] {
        if (action)
            action();
    });
    return item;
}

// The item shows its key after a tab, where a menu shows keys, but holds no shortcut: each window
// and text field handles these keys itself, and a shortcut would take them away from it.
QString editItemText(Command command, const QString& title) {
    return title + QLatin1Char('\t') +
           QKeySequence(EditMenuResponder::key(command)).toString(QKeySequence::NativeText);
}

} // namespace

GalleryMainMenu::GalleryMainMenu(QWidget& window, const GalleryModel* model, Actions actions, QObject* parent)
    : QObject(parent)
    , m_model(model) {
    m_menuBar = new QMenuBar(&window);
    if (window.layout() != nullptr)
        window.layout()->setMenuBar(m_menuBar);

    m_applicationMenu = m_menuBar->addMenu(QStringLiteral("Vennimo"));
    m_settingsAction = addItem(m_applicationMenu, QStringLiteral("设置…"), std::move(actions.showSettings),
                               QKeySequence(Qt::ControlModifier | Qt::Key_Comma));
    addItem(m_applicationMenu, QStringLiteral("检查更新…"), std::move(actions.checkForUpdates));
    m_applicationMenu->addSeparator();
    m_quitAction = addItem(m_applicationMenu, QStringLiteral("退出Vennimo"), std::move(actions.quit),
                           QKeySequence(Qt::ControlModifier | Qt::Key_Q));
    for (QAction* action : {m_settingsAction, m_quitAction})
        action->setShortcutContext(Qt::WindowShortcut);
    addWindowKeys(&window);

    m_editMenu = m_menuBar->addMenu(QStringLiteral("编辑"));
    for (const Command command :
         {Command::undo, Command::redo, Command::cut, Command::copy, Command::paste, Command::selectAll})
        m_editActions.insert(command,
                             addItem(m_editMenu, editItemText(command, EditMenuResponder::title(command)),
                                     [this, command] { EditMenuResponder::perform(command, editWindow()); }));
    connect(m_editMenu, &QMenu::aboutToShow, this, &GalleryMainMenu::updateEditMenu);
    // An open menu follows the keyboard when it moves, as when the window's activation comes in.
    connect(qApp, &QApplication::focusChanged, this, [this] {
        if (m_editMenu && m_editMenu->isVisible())
            updateEditMenu();
    });
    setGridStyle(false);
}

void GalleryMainMenu::addWindowKeys(QWidget* window) {
    if (window == nullptr)
        return;
    window->addAction(m_settingsAction);
    window->addAction(m_quitAction);
}

void GalleryMainMenu::setGridStyle(bool grid) {
    if (m_menuBar)
        m_menuBar->setVisible(grid);
}

QWidget* GalleryMainMenu::editWindow() const {
    // A click on the window's own menu bar opens the menu before the window manager's activation
    // of the window arrives; until then no window of ours is active, and the menu's window is the
    // one the click meant.
    QWidget* active = QApplication::activeWindow();
    if (active == nullptr && m_menuBar && !m_menuBar->isNativeMenuBar())
        return m_menuBar->window();
    return active;
}

void GalleryMainMenu::updateEditMenu() {
    QWidget* window = editWindow();
    for (auto it = m_editActions.cbegin(); it != m_editActions.cend(); ++it) {
        const EditMenuResponder::State state = EditMenuResponder::state(it.key(), m_model, window);
        it.value()->setText(editItemText(it.key(), state.title));
        it.value()->setEnabled(state.enabled);
    }
}

} // namespace vennimo
