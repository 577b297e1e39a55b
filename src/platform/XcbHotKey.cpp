#include "platform/XcbHotKey.h"

#include "platform/Logging.h"
#include "platform/X11Connection.h"

#include <QGuiApplication>

#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace vennimo {

namespace {

constexpr xcb_keysym_t kNumLockKeysym = 0xff7f;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

struct KeySymbols {
    explicit KeySymbols(xcb_connection_t* c)
        : symbols(xcb_key_symbols_alloc(c)) {}
    ~KeySymbols() {
        if (symbols)
            xcb_key_symbols_free(symbols);
    }
    KeySymbols(const KeySymbols&) = delete;
    KeySymbols& operator=(const KeySymbols&) = delete;

    // The first key code that produces the symbol, 0 when none does.
    xcb_keycode_t keyCode(xcb_keysym_t keysym) const {
        if (!symbols)
            return 0;
        XcbReply<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(symbols, keysym));
        return codes ? codes.get()[0] : 0;
    }

    xcb_key_symbols_t* symbols;
};

// Lower-case Latin letters and the digits are their own keysyms.
xcb_keysym_t keysymOf(std::uint32_t carbonKeyCode) {
    for (const GalleryShortcut::Key& key : GalleryShortcut::keys()) {
        if (key.keyCode != carbonKeyCode)
            continue;
        if (key.name >= 'A' && key.name <= 'Z')
            return xcb_keysym_t(key.name - 'A' + 'a');
        return xcb_keysym_t(key.name);
    }
    return 0;
}

Error hotKeyError(int code, const QString& reason) {
    Error error = Error::make(QLatin1String(kHotKeyErrorDomain), code, QStringLiteral("无法注册快捷键。"));
    error.failureReason = reason;
    return error;
}

} // namespace

XcbHotKey::XcbHotKey(QObject* parent)
    : GlobalHotKey(parent) {}

XcbHotKey::~XcbHotKey() {
    removeHandler();
}

std::uint16_t XcbHotKey::xModifiers(std::uint32_t carbon) {
    std::uint16_t mods = 0;
    if (carbon & GalleryShortcut::kControlMask)
        mods |= XCB_MOD_MASK_CONTROL;
    if (carbon & GalleryShortcut::kOptionMask)
        mods |= XCB_MOD_MASK_1;
    if (carbon & GalleryShortcut::kShiftMask)
        mods |= XCB_MOD_MASK_SHIFT;
    if (carbon & GalleryShortcut::kCommandMask)
        mods |= XCB_MOD_MASK_4;
    return mods;
}

bool XcbHotKey::installHandler() {
    if (m_connection)
        return true;
    m_connection = X11Connection::get();
    if (!m_connection)
        return false;
    m_root = X11Connection::root(m_connection);
    qGuiApp->installNativeEventFilter(this);
    return true;
}

void XcbHotKey::removeHandler() {
    if (!m_connection)
        return;
    while (!m_grabs.isEmpty())
        unregisterKey(m_grabs.constFirst().id);
    if (qGuiApp)
        qGuiApp->removeNativeEventFilter(this);
    m_connection = nullptr;
}

std::uint16_t XcbHotKey::numLockMask() const {
    const KeySymbols symbols(m_connection);
    const xcb_keycode_t numLock = symbols.keyCode(kNumLockKeysym);
    if (numLock == 0)
        return 0;
    XcbReply<xcb_get_modifier_mapping_reply_t> mapping(
        xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr));
    if (!mapping)
        return 0;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mapping.get());
    const int perModifier = mapping->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < perModifier; ++i) {
            if (codes[modifier * perModifier + i] == numLock)
                return std::uint16_t(1u << modifier);
        }
    }
    return 0;
}

QList<std::uint16_t> XcbHotKey::lockVariants(std::uint16_t numLock) const {
    QList<std::uint16_t> variants{0, XCB_MOD_MASK_LOCK};
    if (numLock != 0 && numLock != XCB_MOD_MASK_LOCK)
        variants << numLock << std::uint16_t(numLock | XCB_MOD_MASK_LOCK);
    return variants;
}

void XcbHotKey::ungrab(std::uint8_t keyCode, std::uint16_t modifiers, const QList<std::uint16_t>& variants) {
    for (std::uint16_t variant : variants)
        xcb_ungrab_key(m_connection, keyCode, m_root, std::uint16_t(modifiers | variant));
    xcb_flush(m_connection);
}

Result<int> XcbHotKey::registerKey(const GalleryShortcut& shortcut) {
    if (!m_connection)
        return hotKeyError(1, QStringLiteral("no X11 connection"));
    const xcb_keysym_t keysym = keysymOf(shortcut.keyCode);
    const xcb_keycode_t keyCode = keysym ? KeySymbols(m_connection).keyCode(keysym) : 0;
    if (keyCode == 0)
        return hotKeyError(2, QStringLiteral("no key produces the keysym"));
    const std::uint16_t modifiers = xModifiers(shortcut.modifiers);
    const std::uint16_t numLock = numLockMask();
    const QList<std::uint16_t> variants = lockVariants(numLock);
    QList<xcb_void_cookie_t> cookies;
    for (std::uint16_t variant : variants)
        cookies << xcb_grab_key_checked(m_connection, 1, m_root, std::uint16_t(modifiers | variant), keyCode,
                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    // Every cookie is checked, so a refusal of any variant undoes the others.
    int errorCode = 0;
    for (const xcb_void_cookie_t& cookie : cookies) {
        XcbReply<xcb_generic_error_t> error(xcb_request_check(m_connection, cookie));
        if (error && errorCode == 0)
            errorCode = error->error_code;
    }
    if (errorCode != 0) {
        // Ungrabbing a variant that another client holds leaves that client's grab alone.
        ungrab(keyCode, modifiers, variants);
        return hotKeyError(errorCode == kBadAccess ? 3 : 4,
                           QStringLiteral("grab refused with X error %1").arg(errorCode));
    }
    const int id = m_nextId++;
    m_grabs.append({id, keyCode, modifiers, std::uint16_t(XCB_MOD_MASK_LOCK | numLock)});
    return id;
}

void XcbHotKey::unregisterKey(int id) {
    for (qsizetype i = 0; i < m_grabs.size(); ++i) {
        const Grab grab = m_grabs[i];
        if (grab.id != id)
            continue;
        m_grabs.removeAt(i);
        // Past the application's end its connection is freed, and the server dropped our grabs
        // when it closed.
        if (m_connection && qGuiApp)
            ungrab(grab.keyCode, grab.modifiers,
                   lockVariants(std::uint16_t(grab.lockMask & ~XCB_MOD_MASK_LOCK)));
        return;
    }
}

bool XcbHotKey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || m_grabs.isEmpty())
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const std::uint8_t type = event->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
    for (Grab& grab : m_grabs) {
        if (key->detail != grab.keyCode)
            continue;
        if (type == XCB_KEY_RELEASE) {
            // The modifiers are often let go first, so a release counts by its key alone, and
            // only after a press of ours, so a plain key typed into our own windows stays theirs.
            if (!grab.down)
                continue;
            grab.down = false;
            grab.lastReleaseTime = key->time;
            Q_EMIT released(grab.id);
            return true;
        }
        // Only the eight modifier bits count; pointer buttons held meanwhile do not.
        const std::uint16_t state = std::uint16_t(key->state & 0xff & ~grab.lockMask);
        if (state != grab.modifiers)
            continue;
        const bool repeat = !grab.down && grab.lastReleaseTime != 0 && key->time == grab.lastReleaseTime;
        grab.down = true;
        // X repeats a held key as a release and a press with one timestamp: the press is dropped.
        if (!repeat)
            Q_EMIT pressed(grab.id);
        return true;
    }
    return false;
}

} // namespace vennimo
