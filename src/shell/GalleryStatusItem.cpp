#include "shell/GalleryStatusItem.h"

#include "shell/StatusIconArtwork.h"

#include <QAction>
#include <QCursor>
#include <QGuiApplication>
#include <QSystemTrayIcon>

namespace vennimo {

GalleryStatusItem::GalleryStatusItem(QObject* parent)
    : QObject(parent)
    , m_menu(std::make_unique<QMenu>()) {
    m_menu->setAccessibleName(QStringLiteral("Vennimo"));
    m_toggle = addItem(QStringLiteral("展开Vennimo"), &GalleryStatusItem::toggleRequested);
    m_collection = m_menu->addAction(QStringLiteral("后台接收中"));
    m_collection->setEnabled(false);
    m_collection->setVisible(false);
    m_undo = addItem(QStringLiteral("撤销取下"), &GalleryStatusItem::undoRequested);
    m_redo = addItem(QStringLiteral("重做"), &GalleryStatusItem::redoRequested);
    m_normalGallery = addItem(QStringLiteral("普通窗口"), &GalleryStatusItem::normalGalleryRequested);
    m_settings = addItem(QStringLiteral("设置…"), &GalleryStatusItem::settingsRequested);
    m_checkForUpdates = addItem(QStringLiteral("检查更新…"), &GalleryStatusItem::checkForUpdatesRequested);
    m_automaticUpdates = addItem(QStringLiteral("自动检查更新"), &GalleryStatusItem::automaticUpdatesToggled);
    m_automaticUpdates->setCheckable(true);
    m_refresh = addItem(QStringLiteral("立即刷新"), &GalleryStatusItem::refreshRequested);
    m_menu->addSeparator();
    m_quit = addItem(QStringLiteral("退出Vennimo"), &GalleryStatusItem::quitRequested);
    connect(m_menu.get(), &QMenu::aboutToShow, this, &GalleryStatusItem::menuAboutToOpen);

    m_tray = new QSystemTrayIcon(this);
    m_tray->setContextMenu(m_menu.get());
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason != QSystemTrayIcon::Trigger)
            return;
        // A Control-click opens the menu, as a right click does.
        if (QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier)) {
            m_menu->popup(QCursor::pos());
            return;
        }
        Q_EMIT clicked();
    });
    apply(quickOpenStatus({}));
}

GalleryStatusItem::~GalleryStatusItem() {
    m_tray->setContextMenu(nullptr);
}

QAction* GalleryStatusItem::addItem(const QString& title, void (GalleryStatusItem::*signal)()) {
    QAction* action = m_menu->addAction(title);
    connect(action, &QAction::triggered, this, signal);
    return action;
}

void GalleryStatusItem::show() {
    m_tray->show();
}

void GalleryStatusItem::apply(const QuickOpenStatus& status) {
    m_status = status;
    m_toggle->setText(status.toggleTitle);
    m_collection->setVisible(status.collectionVisible);
    m_collection->setText(status.collectionTitle);
    if (m_tray->toolTip() != status.toolTip)
        m_tray->setToolTip(status.toolTip);
    // The tray has no accessible name of its own; assistive tools read the menu's.
    m_menu->setAccessibleDescription(status.accessibleName);
    if (m_dotShown != status.dot) {
        m_dotShown = status.dot;
        m_tray->setIcon(StatusIconArtwork::icon(status.dot));
    }
}

void GalleryStatusItem::applyMenu(const MenuState& state) {
    m_undo->setVisible(state.undoTitle.has_value());
    m_undo->setText(state.undoTitle.value_or(QStringLiteral("撤销取下")));
    m_redo->setVisible(state.redoTitle.has_value());
    m_redo->setText(state.redoTitle.value_or(QStringLiteral("重做")));
    m_normalGallery->setEnabled(state.normalGalleryEnabled);
    m_automaticUpdates->setChecked(state.automaticChecks);
}

} // namespace vennimo
