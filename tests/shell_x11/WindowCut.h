#pragma once

#include <QRgb>
#include <QString>

namespace vennimo::test {

// Helpers for tests of the rope window cut to what it draws, as it is without a compositing
// manager, over the plain backdrop.

// The plain backdrop's blue, as the X server shows it.
bool backdropBlue(QRgb pixel);
// Whether the X server cuts the window to a bounding shape of its own.
bool boundingShaped(const QString& windowId);

} // namespace vennimo::test
