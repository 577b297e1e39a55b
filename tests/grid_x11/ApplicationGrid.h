#pragma once

#include "grid/PhotoGridLayout.h"

#include <QImage>
#include <QRect>
#include <QSize>

#include <optional>

namespace vennimo::test {

// Helpers for tests that run the application itself and look at its grid screen.

// Where the cards of a grid window lie on the screen: the columns from the grid's layout, the top
// of the first row found where the first card's white field starts below the header.
struct Cards {
    QRect window;
    PhotoGridLayout layout;
    int top = 0;

    QRect card(int index) const;
    // Well inside the card's picture, whatever its shape: for looks at the photograph.
    QRect picture(int index) const;
    // Where the card draws the picture of a photo of `photoSize`'s shape, on whole pixels.
    QRect pictureOf(int index, QSize photoSize) const;
};
// The cards of a grid window showing `count` photos; none while no card shows below the header.
// The window's reported top may lie below its content's top under a window manager's frame, so
// the search starts above it.
std::optional<Cards> findCards(const QRect& window, int count);
// How much a patch of the screen varies: a photograph varies, a flat background does not.
double spread(const QImage& image);
// Switches the application's rope window to the titled grid window by its toolbar's "普通窗口"
// button (a click on the print at the rope's middle brings the toolbar, unless it shows) and answers the grid
// window's frame once its title bar is on the screen; none, with the test failed for the step
// that did not come, when the grid window did not show.
std::optional<QRect> switchToGrid(qint64 pid);

} // namespace vennimo::test
