// Waits until the X server named by DISPLAY has a window manager that shows the windows it is
// asked to and an owner for each selection given, so a test starts only once the desktop it
// relies on is there.
//   x11-session-ready SECONDS [SELECTION...]
//   x11-session-ready --server SECONDS
// Exits 0 when all are there, 1 when the time ran out (naming what was missing), 2 when the server
// cannot be reached. With --server it only waits until the server takes a client, so the programs
// of the desktop are started on a server that answers, not on one that is still coming up.

#include <sys/socket.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    const Reply<xcb_intern_atom_reply_t> reply{
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name),
                              nullptr),
        &std::free};
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The window the manager names on the root, and names itself on that window: the check other
// programs use to tell that a compliant window manager runs.
bool hasWindowManager(xcb_connection_t* c, xcb_window_t root, xcb_atom_t check) {
    auto supporting = [&](xcb_window_t window) -> xcb_window_t {
        const Reply<xcb_get_property_reply_t> reply{
            xcb_get_property_reply(c, xcb_get_property(c, 0, window, check, XCB_ATOM_WINDOW, 0, 1), nullptr),
            &std::free};
        if (!reply || xcb_get_property_value_length(reply.get()) < 4)
            return XCB_WINDOW_NONE;
        return *static_cast<xcb_window_t*>(xcb_get_property_value(reply.get()));
    };
    const xcb_window_t window = supporting(root);
    return window != XCB_WINDOW_NONE && supporting(window) == window;
}

bool owned(xcb_connection_t* c, xcb_atom_t selection) {
    const Reply<xcb_get_selection_owner_reply_t> reply{
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr), &std::free};
    return reply && reply->owner != XCB_WINDOW_NONE;
}

// Maps a small window of its own and waits until it shows: a window manager names itself on the
// root before it has read its theme and fonts, and only then frames and maps the windows it is
// asked to, a second or more later on a busy machine. A test's first window should not wait for it.
// How a window the manager did not show stands, for the failure message: whether the manager took
// it into a frame at all, and which process serves the connection, so that a server other than the
// session's own shows as such.
std::string describeUnshown(xcb_connection_t* c, xcb_window_t probe, xcb_window_t root) {
    std::string text;
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(xcb_get_file_descriptor(c), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0)
        text += "served by pid " + std::to_string(peer.pid);
    const Reply<xcb_query_tree_reply_t> tree{xcb_query_tree_reply(c, xcb_query_tree(c, probe), nullptr),
                                             &std::free};
    if (!tree)
        return text + "; the window is gone";
    const auto mapState = [c](xcb_window_t window) -> std::string {
        const Reply<xcb_get_window_attributes_reply_t> attributes{
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr), &std::free};
        if (!attributes)
            return "gone";
        static const char* const names[] = {"unmapped", "unviewable", "viewable"};
        return attributes->map_state < 3 ? names[attributes->map_state] : "unknown";
    };
    const Reply<xcb_get_property_reply_t> extents{
        xcb_get_property_reply(
            c, xcb_get_property(c, 0, probe, atom(c, "_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 0, 4),
            nullptr),
        &std::free};
    text += extents && xcb_get_property_value_length(extents.get()) == 16 ? "; the manager answered a nudge"
                                                                          : "; the manager answered no nudge";
    text += tree->parent == root ? "; the window was never framed"
                                 : "; the window is in a frame, which is " + mapState(tree->parent);
    return text + ", the window itself " + mapState(probe);
}

bool mapsWindows(xcb_connection_t* c, const xcb_screen_t& screen,
                 std::chrono::steady_clock::time_point deadline, std::string& unshown) {
    const xcb_window_t probe = xcb_generate_id(c);
    const uint32_t events = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, screen.root, 0, 0, 16, 16, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    const char title[] = "x11-session-ready";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, probe, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        uint32_t(sizeof title - 1), title);
    xcb_map_window(c, probe);
    xcb_flush(c);
    // Seen on a loaded machine: openbox, its name set, sleeping in its main loop with the map
    // requests of the tray and of this window never handled, as if they had been read off its
    // connection while it waited for a reply and were then left in its queue. Any new event that
    // reaches it wakes it, so a request it answers by itself (the frame's extents of this window)
    // is sent every two seconds while the window is not shown.
    const xcb_atom_t request = atom(c, "_NET_REQUEST_FRAME_EXTENTS");
    auto nudged = std::chrono::steady_clock::now();
    int nudges = 0;
    bool mapped = false;
    while (!mapped && xcb_connection_has_error(c) == 0 && std::chrono::steady_clock::now() < deadline) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                reinterpret_cast<xcb_map_notify_event_t*>(event)->window == probe)
                mapped = true;
            std::free(event);
        }
        if (mapped)
            break;
        if (std::chrono::steady_clock::now() - nudged >= std::chrono::seconds(2)) {
            nudged = std::chrono::steady_clock::now();
            ++nudges;
            xcb_client_message_event_t message{};
            message.response_type = XCB_CLIENT_MESSAGE;
            message.format = 32;
            message.window = probe;
            message.type = request;
            xcb_send_event(c, 0, screen.root,
                           XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                           reinterpret_cast<const char*>(&message));
            xcb_flush(c);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Said also when the window did show: how soon after the last nudge tells a manager that
    // slept from one that was only slow.
    if (nudges > 0)
        std::fprintf(
            stderr,
            "x11-session-ready: the window manager was nudged %d time%s; the window %s %.0f ms after "
            "the last nudge\n",
            nudges, nudges == 1 ? "" : "s", mapped ? "showed" : "had not shown",
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - nudged).count());
    if (!mapped && xcb_connection_has_error(c) == 0)
        unshown = describeUnshown(c, probe, screen.root);
    xcb_destroy_window(c, probe);
    xcb_flush(c);
    return mapped;
}

// Connects again and again until the server takes the client or the deadline passes.
int awaitServer(std::chrono::steady_clock::time_point deadline, const char* seconds) {
    for (;;) {
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        const bool taken = xcb_connection_has_error(c) == 0 && xcb_get_setup(c) != nullptr;
        xcb_disconnect(c);
        if (taken)
            return 0;
        if (std::chrono::steady_clock::now() >= deadline) {
            std::fprintf(stderr, "x11-session-ready: the X server took no client in %s s\n", seconds);
            return 2;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace

int main(int argc, char** argv) {
    const bool serverOnly = argc >= 2 && std::strcmp(argv[1], "--server") == 0;
    if (serverOnly) {
        --argc;
        ++argv;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: x11-session-ready [--server] SECONDS [SELECTION...]\n");
        return 2;
    }
    const auto begun = std::chrono::steady_clock::now();
    const std::chrono::seconds budget(std::atoi(argv[1]));
    const auto deadline = begun + budget;
    if (serverOnly)
        return awaitServer(deadline, argv[1]);
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "x11-session-ready: cannot reach the X server\n");
        return 2;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_atom_t check = atom(c, "_NET_SUPPORTING_WM_CHECK");
    std::vector<std::pair<std::string, xcb_atom_t>> selections;
    for (int i = 2; i < argc; ++i)
        selections.emplace_back(argv[i], atom(c, argv[i]));

    std::vector<std::string> missing;
    for (;;) {
        missing.clear();
        if (!hasWindowManager(c, root, check))
            missing.emplace_back("a window manager");
        for (const auto& [name, selection] : selections)
            if (!owned(c, selection))
                missing.push_back("an owner of " + name);
        if (missing.empty() || xcb_connection_has_error(c) || std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Mapping a window gets at least half the time of its own: on a machine busy enough for the
    // desktop's programs to take most of theirs, what was left could be too short for a window
    // manager still reading its theme. Not more, so three tries stay within a test's time.
    const auto named = std::chrono::steady_clock::now();
    std::string unshown;
    if (missing.empty() && !mapsWindows(c, *xcb_setup_roots_iterator(xcb_get_setup(c)).data,
                                        std::max(deadline, named + budget / 2), unshown))
        missing.emplace_back("window shown by the window manager (" + unshown + ")");
    const bool lost = xcb_connection_has_error(c) != 0;
    xcb_disconnect(c);
    if (lost) {
        std::fprintf(stderr, "x11-session-ready: lost the X server\n");
        return 2;
    }
    const auto seconds = [](auto from, auto to) { return std::chrono::duration<double>(to - from).count(); };
    for (const std::string& what : missing)
        std::fprintf(stderr,
                     "x11-session-ready: still no %s after %s s (the desktop's programs took %.1f s, then "
                     "%.1f s went by)\n",
                     what.c_str(), argv[1], seconds(begun, named),
                     seconds(named, std::chrono::steady_clock::now()));
    return missing.empty() ? 0 : 1;
}
