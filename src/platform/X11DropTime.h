#pragma once

#include <cstdint>
#include <optional>

namespace vennimo {

// The time stamp of the last drop this program received from another one on X11. A request for
// the drop's data must carry it: sources tell the drops they are still answering for apart by it.
class X11DropTime {
public:
    // Starts watching for drops; does nothing off X11 or when it already watches. Main thread.
    static void watch();
    // Nothing before the first drop that was watched.
    static std::optional<std::uint32_t> last();
    // The time stamp the source gave with its last position over one of our windows, for reading
    // the data of the drag that moves over it; nothing before the first such position.
    static std::optional<std::uint32_t> lastPosition();

    // Who sent the last position message, and to which of our windows.
    struct Windows {
        std::uint32_t source = 0;
        std::uint32_t target = 0;
    };
    // Nothing before the first position that was watched.
    static std::optional<Windows> lastPositionWindows();
    // How many drags of other programs entered our windows since watching began. Qt tells a widget
    // of a new drag only after the last one left it, and a source that died over it never said
    // it left: the next drag then seems to go on with the dead one's.
    static std::uint64_t enters();
};

} // namespace vennimo
