#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace vennimo {

// Whether the user asked the desktop for less motion; the rope and prints then jump to their
// targets. Read from GNOME's "enable-animations" through gsettings when that answers, else from
// KDE's animation speed; a desktop that says nothing leaves motion on. The answer is read once
// and kept, since every animation frame asks. Main thread only.
class ReduceMotion {
public:
    // Answers the desktop setting: true means reduced motion, nothing means unknown.
    using Reader = std::function<std::optional<bool>()>;

    static constexpr int kGsettingsTimeoutMilliseconds = 1000;

    ReduceMotion() = delete;

    static bool isOn();
    // Reads the desktop again at the next isOn().
    static void reload();
    // Replaces the desktop reader (tests, previews); an empty reader restores the real one.
    static void setReader(Reader reader);

    // "true"/"false" as gsettings prints them for enable-animations; nothing for anything else.
    static std::optional<bool> animationsFromGsettings(const QByteArray& output);
    // KDE's AnimationDurationFactor from a kdeglobals file: 0 means no animations.
    static std::optional<bool> animationsFromKdeGlobals(const QString& path);
    static std::optional<bool> readDesktop();
};

} // namespace vennimo
