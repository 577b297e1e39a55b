#pragma once

#include "platform/GlobalHotKey.h"

#include <QAbstractNativeEventFilter>
#include <QList>

#include <cstdint>

struct xcb_connection_t;

namespace vennimo {

// Global keys on X11: passive grabs on the root window of Qt's own connection, one for every
// combination of the lock keys (Caps Lock, Num Lock) so the key works whatever they are, read
// back through Qt's native event filter. Carbon modifiers map Control to Control, Option to Alt
// (Mod1), Shift to Shift and Command to Super (Mod4).
class XcbHotKey : public GlobalHotKey, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    // X's error code for a grab that another client already holds.
    static constexpr int kBadAccess = 10;

    explicit XcbHotKey(QObject* parent = nullptr);
    ~XcbHotKey() override;

    bool installHandler() override;
    void removeHandler() override;
    bool handlerInstalled() const override { return m_connection != nullptr; }
    Result<int> registerKey(const GalleryShortcut& shortcut) override;
    void unregisterKey(int id) override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    // The X modifier bits of a Carbon modifier mask.
    static std::uint16_t xModifiers(std::uint32_t carbonModifiers);

private:
    struct Grab {
        int id = 0;
        std::uint8_t keyCode = 0;
        std::uint16_t modifiers = 0;
        std::uint16_t lockMask = 0;
        // Between a press and the release of its key, whatever the modifiers do meanwhile.
        bool down = false;
        std::uint32_t lastReleaseTime = 0;
    };
    std::uint16_t numLockMask() const;
    QList<std::uint16_t> lockVariants(std::uint16_t numLock) const;
    void ungrab(std::uint8_t keyCode, std::uint16_t modifiers, const QList<std::uint16_t>& variants);

    xcb_connection_t* m_connection = nullptr;
    std::uint32_t m_root = 0;
    QList<Grab> m_grabs;
    int m_nextId = 1;
};

} // namespace vennimo
