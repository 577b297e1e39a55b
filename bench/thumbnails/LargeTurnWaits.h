#pragma once

#include <QStringList>

namespace vennimo::bench {

// bench_thumbnails --large-turn [LARGE] [ORDINARY]: see LargeTurnWaits.cpp.
int runLargeTurnWaits(const QStringList& arguments);

} // namespace vennimo::bench
