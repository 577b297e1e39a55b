#include "shell/GalleryShortcutController.h"

#include "platform/UserDefaults.h"
#include "platform/XcbHotKey.h"

namespace vennimo {

GalleryShortcutController::GalleryShortcutController(UserDefaults& defaults,
                                                     std::unique_ptr<GlobalHotKey> hotKey, QObject* parent)
    : QObject(parent)
    , m_shortcut(defaults.galleryQuickOpenShortcut())
    , m_defaults(defaults)
    , m_hotKey(hotKey ? std::move(hotKey) : std::make_unique<XcbHotKey>()) {
    connect(m_hotKey.get(), &GlobalHotKey::pressed, this, &GalleryShortcutController::onPressed);
    connect(m_hotKey.get(), &GlobalHotKey::released, this, &GalleryShortcutController::onReleased);
}

GalleryShortcutController::~GalleryShortcutController() {
    stop();
}

QString GalleryShortcutController::registrationFailedMessage(const GalleryShortcut& shortcut) {
    return QStringLiteral("无法注册 ") + shortcut.label() +
           QStringLiteral("，可能已被其他应用占用；请换一个组合。");
}

void GalleryShortcutController::setError(const std::optional<QString>& error) {
    m_error = error;
}

void GalleryShortcutController::start() {
    if (m_hotKey->handlerInstalled())
        return;
    if (!m_hotKey->installHandler()) {
        setError(QString::fromUtf8(kUnavailableMessage));
        Q_EMIT changed();
        return;
    }
    apply(m_shortcut, false);
}

bool GalleryShortcutController::apply(const GalleryShortcut& shortcut, bool persist) {
    if (!shortcut.isValid()) {
        setError(QString::fromUtf8(kInvalidMessage));
        return false;
    }
    if (shortcut == m_shortcut && registered()) {
        setError(std::nullopt);
        return true;
    }
    if (conflictsWithSystem(shortcut)) {
        setError(QString::fromUtf8(kSystemConflictMessage));
        Q_EMIT changed();
        return false;
    }
    if (!m_hotKey->handlerInstalled()) {
        setError(QString::fromUtf8(kUnavailableMessage));
        return false;
    }
    const Result<int> id = m_hotKey->registerKey(shortcut);
    if (!id) {
        setError(registrationFailedMessage(shortcut));
        Q_EMIT changed();
        return false;
    }
    // A combination that cannot be stored would be lost at the next start while the user
    // believes it kept: the older key stays in force instead.
    if (persist && !m_defaults.setGalleryQuickOpenShortcut(shortcut)) {
        m_hotKey->unregisterKey(*id);
        setError(m_defaults.writeStatus().error().localizedDescription());
        Q_EMIT changed();
        return false;
    }
    if (m_hotKeyId != 0)
        m_hotKey->unregisterKey(m_hotKeyId);
    m_hotKeyId = *id;
    m_shortcut = shortcut;
    m_pressed = false;
    setError(std::nullopt);
    Q_EMIT changed();
    return true;
}

void GalleryShortcutController::stop() {
    if (m_hotKeyId != 0)
        m_hotKey->unregisterKey(m_hotKeyId);
    m_hotKeyId = 0;
    m_hotKey->removeHandler();
    m_pressed = false;
}

bool GalleryShortcutController::conflictsWithSystem(const GalleryShortcut& shortcut) const {
    return m_systemShortcuts && m_systemShortcuts(shortcut);
}

void GalleryShortcutController::onPressed(int id) {
    if (id != m_hotKeyId || m_hotKeyId == 0 || m_pressed)
        return;
    m_pressed = true;
    Q_EMIT toggleRequested();
}

void GalleryShortcutController::onReleased(int id) {
    if (id == m_hotKeyId)
        m_pressed = false;
}

} // namespace vennimo
