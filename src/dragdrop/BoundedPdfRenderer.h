#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QImage>

#include <chrono>
#include <functional>

namespace vennimo {

struct PdfRenderLimits {
    std::chrono::milliseconds deadline{5'000};
    // On top of what the process holds when the child starts.
    qint64 memoryBytes = qint64(1) << 30;
};

// Renders the one page of a dropped PDF in a child process that is killed past a deadline and
// cannot allocate past a memory bound: a small document can describe unbounded work (forms that
// draw each other many times over), and the import must neither hang nor exhaust memory on it.
class BoundedPdfRenderer {
public:
    BoundedPdfRenderer() = delete;

    using Limits = PdfRenderLimits;

    // The page at a scale of at most maxScale and a longer side of at most maxSidePixels, with
    // its transparency kept. Refuses with the drop's messages: what is not a one-page document,
    // or takes longer or more memory than allowed, is "not a readable image". The child is killed
    // as soon as `stop` answers true.
    static Result<QImage> render(const QByteArray& pdf, double maxScale, double maxSidePixels,
                                 const Limits& limits = {}, const std::function<bool()>& stop = {});
};

} // namespace vennimo
