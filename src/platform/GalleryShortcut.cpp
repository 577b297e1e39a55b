#include "platform/GalleryShortcut.h"

#include "platform/JsonFile.h"

#include <limits>

namespace vennimo {

const std::array<GalleryShortcut::Key, 36>& GalleryShortcut::keys() {
    // Carbon's ANSI virtual key codes.
    static const std::array<Key, 36> table{{
        {'A', 0},  {'B', 11}, {'C', 8},  {'D', 2},  {'E', 14}, {'F', 3},  {'G', 5},  {'H', 4},  {'I', 34},
        {'J', 38}, {'K', 40}, {'L', 37}, {'M', 46}, {'N', 45}, {'O', 31}, {'P', 35}, {'Q', 12}, {'R', 15},
        {'S', 1},  {'T', 17}, {'U', 32}, {'V', 9},  {'W', 13}, {'X', 7},  {'Y', 16}, {'Z', 6},  {'0', 29},
        {'1', 18}, {'2', 19}, {'3', 20}, {'4', 21}, {'5', 23}, {'6', 22}, {'7', 26}, {'8', 28}, {'9', 25},
    }};
    return table;
}

namespace {

const GalleryShortcut::Key* findKey(std::uint32_t keyCode) {
    for (const GalleryShortcut::Key& key : GalleryShortcut::keys()) {
        if (key.keyCode == keyCode)
            return &key;
    }
    return nullptr;
}

} // namespace

bool GalleryShortcut::isValid() const {
    return findKey(keyCode) != nullptr && (modifiers & (kControlMask | kCommandMask)) != 0 &&
           (modifiers & ~kAllowedModifiersMask) == 0;
}

QString GalleryShortcut::label() const {
    // The names a Linux keyboard and desktop use: Option is Alt, Command is the Super key.
    QString text;
    if (modifiers & kControlMask)
        text += QLatin1String("Ctrl+");
    if (modifiers & kOptionMask)
        text += QLatin1String("Alt+");
    if (modifiers & kShiftMask)
        text += QLatin1String("Shift+");
    if (modifiers & kCommandMask)
        text += QLatin1String("Super+");
    const Key* key = findKey(keyCode);
    text += key ? QChar::fromLatin1(key->name) : QChar(u'?');
    return text;
}

QByteArray toJson(const GalleryShortcut& shortcut) {
    QJsonObject object;
    object.insert(QLatin1String("keyCode"), static_cast<qint64>(shortcut.keyCode));
    object.insert(QLatin1String("modifiers"), static_cast<qint64>(shortcut.modifiers));
    return JsonFile::encode(object);
}

Result<GalleryShortcut> galleryShortcutFromJson(const QByteArray& json) {
    Result<QJsonObject> object = JsonFile::parse(json);
    if (!object)
        return object.error();
    const std::optional<qint64> keyCode = jsonInt64(*object, QLatin1String("keyCode"));
    const std::optional<qint64> modifiers = jsonInt64(*object, QLatin1String("modifiers"));
    constexpr qint64 kMax = std::numeric_limits<std::uint32_t>::max();
    if (!keyCode || *keyCode < 0 || *keyCode > kMax)
        return decodeError(QStringLiteral("keyCode"));
    if (!modifiers || *modifiers < 0 || *modifiers > kMax)
        return decodeError(QStringLiteral("modifiers"));
    GalleryShortcut shortcut;
    shortcut.keyCode = static_cast<std::uint32_t>(*keyCode);
    shortcut.modifiers = static_cast<std::uint32_t>(*modifiers);
    return shortcut;
}

} // namespace vennimo
