#pragma once

#include <QByteArray>

#include <optional>

namespace vennimo {

// Selection owners and window properties on X11, for protocols that talk through the window that
// owns a selection (the drag's XdndSelection). Off X11 every read answers nothing and every
// write does nothing.
class X11Selection {
public:
    // The window that owns the selection now, if any.
    static std::optional<unsigned> owner(const char* selection);
    // Whether the window was made by this program's own X connection.
    static bool ownWindow(unsigned window);
    // An 8-bit property of type `type` on the window.
    static void setProperty(unsigned window, const char* name, const char* type, const QByteArray& value);
    // An 8-bit property; nothing when it is absent, of another format or longer than `maxBytes`.
    static std::optional<QByteArray> property(unsigned window, const char* name, qsizetype maxBytes);
    static void deleteProperty(unsigned window, const char* name);
};

} // namespace vennimo
