#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QHashFunctions>
#include <QString>

#include <array>
#include <cstdint>

namespace vennimo {

// The quick-open key combination as stored: a Carbon virtual key code and a Carbon modifier
// mask. The hot-key layer maps them to X11 key codes and modifier bits.
struct GalleryShortcut {
    static constexpr std::uint32_t kCommandMask = 0x100;
    static constexpr std::uint32_t kShiftMask = 0x200;
    static constexpr std::uint32_t kOptionMask = 0x800;
    static constexpr std::uint32_t kControlMask = 0x1000;
    static constexpr std::uint32_t kAllowedModifiersMask =
        kCommandMask | kShiftMask | kOptionMask | kControlMask;
    static constexpr std::uint32_t kDefaultKeyCode = 35; // P
    static constexpr std::uint32_t kDefaultModifiers = kControlMask | kOptionMask;

    struct Key {
        char name = 0;
        std::uint32_t keyCode = 0;
    };
    // The allowed keys: the letters A to Z, then the digits 0 to 9.
    static const std::array<Key, 36>& keys();

    std::uint32_t keyCode = kDefaultKeyCode;
    std::uint32_t modifiers = kDefaultModifiers;

    bool operator==(const GalleryShortcut&) const = default;

    // A letter or digit with Control or Command, and no modifier beyond the four known ones.
    bool isValid() const;
    // "Ctrl+Alt+Shift+Super+P": the modifiers' key names in that order, then the key ("?" when
    // the key is not in the table).
    QString label() const;
};

// {"keyCode": ..., "modifiers": ...}, both unsigned 32-bit integers.
QByteArray toJson(const GalleryShortcut& shortcut);
// Fails unless both fields are integers that fit in 32 unsigned bits; validity is not checked.
Result<GalleryShortcut> galleryShortcutFromJson(const QByteArray& json);

inline size_t qHash(const GalleryShortcut& shortcut, size_t seed = 0) {
    return qHashMulti(seed, shortcut.keyCode, shortcut.modifiers);
}

} // namespace vennimo
