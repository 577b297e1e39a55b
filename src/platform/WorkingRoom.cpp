#include "platform/WorkingRoom.h"

#include <algorithm>

namespace vennimo {

namespace {

// Counted in MiB.
constexpr int kBudgetMebibytes = int(WorkingRoom::kBudgetBytes >> 20);

QSemaphore& budget() {
    static QSemaphore room(kBudgetMebibytes);
    return room;
}

int mebibytesOf(qint64 bytes) {
    return int(std::clamp<qint64>((bytes + (1 << 20) - 1) >> 20, 1, kBudgetMebibytes));
}

} // namespace

QSemaphoreReleaser WorkingRoom::take(qint64 bytes) {
    if (bytes <= 0)
        return {};
    const int mebibytes = mebibytesOf(bytes);
    budget().acquire(mebibytes);
    return QSemaphoreReleaser(budget(), mebibytes);
}

std::optional<QSemaphoreReleaser> WorkingRoom::take(qint64 bytes, const std::function<bool()>& stop) {
    if (bytes <= 0)
        return QSemaphoreReleaser();
    const int mebibytes = mebibytesOf(bytes);
    while (!budget().tryAcquire(mebibytes, kStopLookMs)) {
        if (stop && stop())
            return std::nullopt;
    }
    return QSemaphoreReleaser(budget(), mebibytes);
}

qint64 WorkingRoom::available() {
    return qint64(budget().available()) << 20;
}

} // namespace vennimo
