#pragma once

#include <QByteArray>
#include <QString>

namespace vennimo::fuzz {

// A Qt application on the offscreen platform and a private temporary storage folder, made once.
void initialize();
const QString& storage();

// Whether a picture's decode stays within what one input may cost here. A PNG's rows and pixels
// pass one by one through the shrinking loop, whose instrumentation costs about 0.35 us a row
// and 0.07 us a pixel: a picture a million rows long took 0.4 s of processor time a run, twice
// that on a loaded machine. Larger pictures reach no code that smaller ones do not, and their
// cost in the product is what their size asks.
bool withinCostBound(const QByteArray& picture);

} // namespace vennimo::fuzz
