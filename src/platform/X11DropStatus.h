#pragma once

namespace vennimo {

// Answers the source of a drag over one of our windows on X11 between its position messages.
// Qt answers each position as it comes; a drag that rests sends none, so what was learnt about it
// afterwards would otherwise reach its source only with its next move, or never.
class X11DropStatus {
public:
    // Tells the source of the last position message that its drag is refused, from the window the
    // message went to, and asks for every further position. Does nothing off X11 or before the
    // first position that X11DropTime watched.
    static void refuse();
};

} // namespace vennimo
