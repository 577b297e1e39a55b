#include "shell/GalleryApplication.h"

#include "core/Indexer.h"
#include "model/ClotheslineChrome.h"
#include "model/DeferredStateExit.h"
#include "model/GalleryModel.h"
#include "platform/Logging.h"
#include "platform/SessionWatcher.h"
#include "platform/SingleInstance.h"
#include "platform/UnixSignals.h"
#include "platform/Updater.h"
#include "platform/UserDefaults.h"
#include "platform/X11WindowHints.h"
#include "preview/PhotoPreviewPresenter.h"
#include "rendering/PhotoDimensions.h"
#include "settings/GallerySettingsEditor.h"
#include "shell/GalleryMainMenu.h"
#include "shell/GalleryPresenceController.h"
#include "shell/GalleryShortcutController.h"
#include "shell/GalleryStatusItem.h"
#include "shell/GalleryView.h"
#include "shell/GalleryWindow.h"
#include "shell/GalleryWindowLayer.h"
#include "shell/LoginSetting.h"
#include "shell/ModalWindowPresenter.h"
#include "shell/QtTranslations.h"
#include "shell/SettingsWindow.h"
#include "shell/ShellSettingsServices.h"
#include "shell/SourceStore.h"
#include "shell/SourceWiring.h"
#include "shell/UpdateWindowPresenter.h"
#include "shell/UpdateWindows.h"
#include "shell/WindowActivation.h"
#include "widgets/AlertPresenters.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <csignal>
#include <cstdio>

namespace vennimo {

namespace {

// How long after the application lost the keyboard the window manager has named the new owner.
constexpr std::chrono::milliseconds kActiveWindowSettleTime{150};

} // namespace

GalleryApplication::GalleryApplication(GalleryApplicationParts parts, QObject* parent)
    : QObject(parent)
    , m_parts(std::move(parts)) {
    m_updateWindowPresenter = std::make_unique<UpdateWindowPresenter>(&UpdateWindows::isUpdateWindow);
    m_modalWindowPresenter = std::make_unique<ModalWindowPresenter>(&UpdateWindows::isUpdateWindow);
}

GalleryApplication::~GalleryApplication() {
    // The canvas publishes shapes on the window; it lets go before the window goes, and the window
    // goes off the screen first, so the shapes the canvas leaves behind reach no window on it.
    if (m_window)
        m_window->hide();
    if (m_rootView)
        m_rootView->dismantle();
    if (m_window)
        m_window->removeEventFilter(this);
    m_presence.reset();
    if (m_shortcutController)
        m_shortcutController->stop();
}

GalleryView* GalleryApplication::rootView() const {
    return m_rootView;
}

void GalleryApplication::step(const QString& name) const {
    if (m_parts.launchStep)
        m_parts.launchStep(name);
}

std::optional<int> GalleryApplication::launch() {
    // Before any window: Qt's own buttons and dialogs speak the screens' language.
    [[maybe_unused]] static const bool translated = QtTranslations::install(*QCoreApplication::instance());
    rememberActiveWindow();
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        // Coming to the user's attention is a good moment to catch up with the folders. The tray
        // menu takes the keyboard while it is open, which X reports as activation, but opening
        // it is no visit: a full rescan of every folder then would be work nobody asked for, and
        // a quit chosen from the menu would only stop it again.
        const bool statusMenuOpen = m_statusItem && m_statusItem->menu().isVisible();
        if (state == Qt::ApplicationActive && m_model && m_model->started() && !statusMenuOpen)
            m_model->refresh(std::nullopt, true);
        else if (state != Qt::ApplicationActive)
            QTimer::singleShot(kActiveWindowSettleTime, this, [this] { rememberActiveWindow(); });
    });

    if (const QIcon icon(m_parts.applicationIcon);
        !m_parts.applicationIcon.isEmpty() && !icon.availableSizes().isEmpty())
        QApplication::setWindowIcon(icon);

    const Result<QString> storage = m_parts.storage();
    step(QStringLiteral("storage"));
    if (!storage) {
        qCCritical(lcApp) << "cannot create the storage folder:" << storage.error().message
                          << storage.error().failureReason;
        return 1;
    }
    m_storage = *storage;

    // Before anything writes to the storage folder: a second start only asks the running one
    // to show its window.
    m_instance = m_parts.singleInstance(m_storage);
    step(QStringLiteral("singleInstance"));
    const Result<bool> primary = m_instance->acquire();
    if (!primary) {
        qCCritical(lcApp) << "cannot lock the storage folder:" << primary.error().message
                          << primary.error().failureReason;
        return 1;
    }
    if (!*primary) {
        if (m_instance->requestShow())
            return 0;
        std::fprintf(stderr, "vennimo-gallery: another instance is running but does not answer.\n");
        return 1;
    }
    connect(m_instance.get(), &SingleInstance::showGalleryRequested, this, &GalleryApplication::show);
    // Read while the model loads its stores: the rope's first frame then hangs its prints in
    // their real shapes, with no picture header read first.
    PhotoDimensions::restoreFrom(m_storage);

    if (m_parts.removeLeftovers)
        m_parts.removeLeftovers(m_storage);
    step(QStringLiteral("leftovers"));
    if (m_parts.unixSignals) {
        m_unixSignals = m_parts.unixSignals();
        // A terminal's Ctrl+C has someone in front of the screen; SIGTERM comes from the session
        // or a service manager, SIGHUP from a closed terminal or right behind SIGTERM, and neither
        // can wait for answers.
        connect(m_unixSignals.get(), &UnixSignals::terminationRequested, this, [this](int signalNumber) {
            quit(signalNumber == SIGINT ? QuitCause::user : QuitCause::sessionEnd);
        });
    }

    m_updater = m_parts.updater(UserDefaults::standard());
    step(QStringLiteral("updater"));
    m_updateWindows = std::make_unique<UpdateWindows>(*m_updater);
    connect(m_updateWindows.get(), &UpdateWindows::windowShown, m_updateWindowPresenter.get(),
            &UpdateWindowPresenter::bringExistingUpdateForward);
    connect(m_updateWindows.get(), &UpdateWindows::sessionFinished, m_updateWindowPresenter.get(),
            &UpdateWindowPresenter::willFinishUpdateSession);
    m_updater->start();

    m_sourceStore = m_parts.sourceStore(m_storage, m_parts.home);
    step(QStringLiteral("sourceStore"));
    m_loginSetting = m_parts.loginSetting();
    m_loginSetting->refresh();
    step(QStringLiteral("loginSetting"));
    std::unique_ptr<Indexer> indexer = m_parts.indexer(m_sourceStore->resolvedRoots(), m_storage);
    step(QStringLiteral("indexer"));
    // The model applies a journal a crash left behind before it loads its stores.
    m_model = m_parts.model(std::move(indexer));
    step(QStringLiteral("model"));
    // The sizes file keeps only the photos the index holds.
    PhotoDimensions::setIndexedPhotos(m_model->photos());
    connect(m_model.get(), &GalleryModel::photosChanged, this,
            [this] { PhotoDimensions::setIndexedPhotos(m_model->photos()); });
    installAlertPresenters(*m_model, [this]() -> QWidget* {
        return m_window && m_window->isVisible() ? m_window.get() : nullptr;
    });
    for (const auto changed : {&GalleryModel::deletingChanged, &GalleryModel::importingChanged}) {
        connect(m_model.get(), changed, this, &GalleryApplication::settleQuitBlocked);
        connect(m_model.get(), changed, this, &GalleryApplication::retryPendingQuit);
    }

    m_sessionWatcher = m_parts.sessionWatcher();
    step(QStringLiteral("sessionWatcher"));
    connect(m_sessionWatcher.get(), &SessionWatcher::sleepStarting, this,
            [this] { DeferredStateExit::prepareForSleep(*m_model); });
    connect(m_sessionWatcher.get(), &SessionWatcher::sessionEnding, this,
            [this] { quit(QuitCause::sessionEnd); });

    connectSourceStore(*m_sourceStore, *m_model);
    step(QStringLiteral("wiring"));
    buildWindow();
    step(QStringLiteral("window"));
    buildStatusItem();
    step(QStringLiteral("statusItem"));

    m_presence = std::make_unique<GalleryPresenceController>(*m_model, m_window.get());
    m_presence->setVisibilityChanged([this] {
        updateActivationPolicy();
        updateQuickOpenStatus();
    });
    step(QStringLiteral("presence"));
    buildShortcutController();
    step(QStringLiteral("shortcutController"));
    // The rope comes forward once at start, even empty, without taking the keyboard.
    m_presence->reconcile();
    step(QStringLiteral("firstPresencePass"));
    m_model->start(kFallbackRescanSeconds);
    step(QStringLiteral("modelStarted"));
    return std::nullopt;
}

void GalleryApplication::buildWindow() {
    m_window = std::make_unique<GalleryWindow>();
    m_window->setWindowTitle(QString::fromUtf8(kWindowTitle));
    m_window->setGalleryModel(m_model.get());
    m_window->setClotheslineStyle(true);
    m_mainMenu = std::make_unique<GalleryMainMenu>(
        *m_window, m_model.get(),
        GalleryMainMenu::Actions{.showSettings = [this] { showSettings(); },
                                 .checkForUpdates = [this] { checkForUpdates(); },
                                 .quit = [this] { quit(QuitCause::user); }});
    const auto followMode = [this] { m_mainMenu->setGridStyle(!m_model->clotheslineMode()); };
    connect(m_model.get(), &GalleryModel::clotheslineModeChanged, this, followMode);
    followMode();
    // The preview floats with the application's other auxiliary windows.
    PhotoPreviewPresenter::setPanelRegistrar(
        [menu = QPointer<GalleryMainMenu>(m_mainMenu.get())](QWidget* panel) {
            GalleryWindowLayer::registerWindow(panel, true);
            if (menu)
                menu->addWindowKeys(panel);
        });
    m_rootView = new GalleryView(*m_model, *m_window, [this] { showSettings(); });
    placeRope();
    m_window->installEventFilter(this);
}

void GalleryApplication::placeRope() {
    // Collapsed with prints, centred near the top of the screen, unless a remembered place wins;
    // the presence pass shows it.
    const double height = ClotheslineChrome::heightFor(true, false);
    m_window->setClotheslineLayout(height, ClotheslineChrome::kCollapsedCanvasTop);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        m_window->setFrame(QRectF(area.x() + (area.width() - kRopeWidth) / 2, area.y() + kRopeScreenTop,
                                  kRopeWidth, height));
    }
    m_window->restoreClotheslinePosition();
}

void GalleryApplication::buildStatusItem() {
    m_statusItem = std::make_unique<GalleryStatusItem>();
    GalleryStatusItem* item = m_statusItem.get();
    connect(item, &GalleryStatusItem::clicked, this, &GalleryApplication::toggleGallery);
    connect(item, &GalleryStatusItem::toggleRequested, this, &GalleryApplication::toggleGallery);
    connect(item, &GalleryStatusItem::undoRequested, this, [this] {
        m_model->undoRopeAction();
        show();
    });
    connect(item, &GalleryStatusItem::redoRequested, this, [this] {
        m_model->redoRopeAction();
        show();
    });
    connect(item, &GalleryStatusItem::normalGalleryRequested, this, &GalleryApplication::showNormalGallery);
    connect(item, &GalleryStatusItem::settingsRequested, this, &GalleryApplication::showSettings);
    connect(item, &GalleryStatusItem::checkForUpdatesRequested, this, &GalleryApplication::checkForUpdates);
    connect(item, &GalleryStatusItem::automaticUpdatesToggled, this, [this] {
        m_updater->setAutomaticallyChecksForUpdates(!m_updater->automaticallyChecksForUpdates());
    });
    connect(item, &GalleryStatusItem::refreshRequested, this,
            [this] { m_model->refresh(std::nullopt, true); });
    connect(item, &GalleryStatusItem::quitRequested, this, [this] { quit(QuitCause::user); });
    connect(item, &GalleryStatusItem::menuAboutToOpen, this, [this] {
        updateQuickOpenStatus();
        GalleryStatusItem::MenuState state;
        if (m_model->canUndoRopeAction())
            state.undoTitle = m_model->ropeUndoTitle();
        if (m_model->canRedoRopeAction())
            state.redoTitle = m_model->ropeRedoTitle();
        state.normalGalleryEnabled = !m_model->deleting() && !m_model->importing();
        state.automaticChecks = m_updater->automaticallyChecksForUpdates();
        m_statusItem->applyMenu(state);
    });
    // A window of ours that the menu brought forward is a visit after all, once the menu is gone
    // and unless the menu's choice was to quit.
    connect(&item->menu(), &QMenu::aboutToHide, this, [this] {
        QTimer::singleShot(kActiveWindowSettleTime, this, [this] {
            if (!m_quitting && m_model && m_model->started() && QApplication::activeWindow() &&
                QGuiApplication::applicationState() == Qt::ApplicationActive)
                m_model->refresh(std::nullopt, true);
        });
    });
    updateQuickOpenStatus();
    item->show();
}

void GalleryApplication::buildShortcutController() {
    m_shortcutController = std::make_unique<GalleryShortcutController>(
        UserDefaults::standard(), m_parts.hotKey ? m_parts.hotKey() : nullptr);
    connect(m_shortcutController.get(), &GalleryShortcutController::toggleRequested, this,
            &GalleryApplication::toggleGallery);
    connect(m_shortcutController.get(), &GalleryShortcutController::changed, this,
            &GalleryApplication::updateQuickOpenStatus);
    m_shortcutController->start();
}

void GalleryApplication::checkForUpdates() {
    m_updateWindowPresenter->setForegroundRequested(true);
    m_updateWindowPresenter->bringExistingUpdateForward();
    m_updater->checkForUpdates();
    m_updateWindowPresenter->bringExistingUpdateForward();
}

void GalleryApplication::show() {
    open(GalleryPresenceController::ExplicitOpen::gallery);
}

void GalleryApplication::showNormalGallery() {
    if (!m_window)
        return;
    m_model->requestGalleryMode(false);
    open(GalleryPresenceController::ExplicitOpen::grid);
}

void GalleryApplication::open(GalleryPresenceController::ExplicitOpen request) {
    if (!m_window)
        return;
    rememberActiveWindow();
    m_model->refresh(std::nullopt, true);
    m_presence->prepareExplicitOpen(request);
    m_activationPolicy = ActivationPolicy::regular;
    if (m_window->isMinimized())
        m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    // The user asked for it: it takes the keyboard, whatever a quiet fronting set before.
    if (QWindow* handle = m_window->windowHandle())
        handle->setFlag(Qt::WindowDoesNotAcceptFocus, false);
    m_window->show();
    if (m_window->clotheslineStyle().value_or(false))
        m_window->startPointerRouting();
    WindowActivation::activate(m_window.get());
    updateQuickOpenStatus();
}

void GalleryApplication::toggleGallery() {
    if (!m_window)
        return;
    // A dialog waits for an answer: it comes forward instead.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        WindowActivation::activate(modal);
        return;
    }
    if (!m_window->isVisible() || m_window->isMinimized())
        show();
    else
        m_window->close();
}

void GalleryApplication::showSettings() {
    if (m_loginSetting)
        m_loginSetting->refresh();
    const bool opening = !m_settingsWindow || !m_settingsWindow->isVisible();
    if (!m_settingsWindow) {
        m_settingsWindow = std::make_unique<SettingsWindow>();
        SettingsWindow* settings = m_settingsWindow.get();
        connect(settings, &SettingsWindow::closing, this, [this, settings] { windowWillClose(settings); });
        if (m_mainMenu)
            m_mainMenu->addWindowKeys(settings);
    }
    // Every opening starts from the settings as they are now.
    if (!m_settingsWindow->isVisible() && m_sourceStore && m_loginSetting) {
        if (!m_settingsServices)
            m_settingsServices = std::make_unique<ShellSettingsServices>(
                *m_sourceStore, *m_loginSetting, m_shortcutController.get(), [this] { checkForUpdates(); });
        m_settingsWindow->open(
            std::make_unique<GallerySettingsEditor>(*m_settingsServices, UserDefaults::standard()));
    }
    // Centred at every opening, once it has its pane's height, which opening the editor gives it.
    if (QScreen* screen = QGuiApplication::primaryScreen(); opening && screen) {
        QRect frame = m_settingsWindow->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        m_settingsWindow->move(frame.topLeft());
    }
    m_activationPolicy = ActivationPolicy::regular;
    m_settingsWindow->show();
    WindowActivation::activate(m_settingsWindow.get());
}

void GalleryApplication::updateActivationPolicy(const QWidget* excluding) {
    bool regular = false;
    for (const QWidget* window :
         {static_cast<QWidget*>(m_window.get()), static_cast<QWidget*>(m_settingsWindow.get())}) {
        if (window && window != excluding && window->isVisible())
            regular = true;
    }
    m_activationPolicy = regular ? ActivationPolicy::regular : ActivationPolicy::accessory;
}

void GalleryApplication::updateQuickOpenStatus() {
    if (!m_statusItem)
        return;
    QuickOpenStatusInput input;
    input.open = m_window && m_window->isVisible() && !m_window->isMinimized();
    if (m_shortcutController) {
        input.shortcutLabel = m_shortcutController->shortcut().label();
        input.shortcutRegistered = m_shortcutController->registered();
    }
    if (m_presence) {
        input.arrivals = int(m_presence->pendingArrivalIDs().size());
        input.collecting = m_presence->manuallyCollapsed();
    }
    m_statusItem->apply(quickOpenStatus(input));
}

bool GalleryApplication::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window.get() && event->type() == QEvent::Close)
        windowWillClose(m_window.get());
    return QObject::eventFilter(watched, event);
}

bool GalleryApplication::ourWindow(unsigned id) const {
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
        // The handle's id, not QWidget::winId(), which goes stale once Qt replaces the X window.
        const QWindow* handle = widget->windowHandle();
        if (widget->testAttribute(Qt::WA_WState_Created) && handle && unsigned(handle->winId()) == id)
            return true;
    }
    return false;
}

void GalleryApplication::rememberActiveWindow() {
    const std::optional<unsigned> active = X11WindowHints::activeWindow();
    if (active && *active != 0 && !ourWindow(*active))
        m_previousActiveWindow = active;
}

void GalleryApplication::windowWillClose(QWidget* window) {
    const bool settingsShown =
        m_settingsWindow && m_settingsWindow->isVisible() && window != m_settingsWindow.get();
    const bool handBack = window == m_window.get() &&
                          QGuiApplication::applicationState() == Qt::ApplicationActive && !settingsShown;
    updateActivationPolicy(window);
    QTimer::singleShot(0, this, [this, handBack] {
        updateQuickOpenStatus();
        if (!handBack || !m_previousActiveWindow)
            return;
        // Only when nobody else took the keyboard meanwhile.
        const std::optional<unsigned> active = X11WindowHints::activeWindow();
        if (!active || *active == 0 || ourWindow(*active))
            X11WindowHints::activateWindow(*m_previousActiveWindow);
    });
}

} // namespace vennimo
