#pragma once

#include <QStringList>

namespace vennimo::bench {

// Pictures made to cost a decoder more than their bytes suggest, each decoded to thumbnail size in
// a process of its own: processor and wall time, how late a stop set mid-decode is answered, and
// the peak resident memory. `arguments` are bench_thumbnails' after --hostile.
int runHostileDecodes(const QStringList& arguments);

} // namespace vennimo::bench
