#pragma once

#include "core/Photo.h"
#include "platform/WorkQueue.h"

#include <QImage>
#include <QSet>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace vennimo {

// Renders the "paper" images of prints in the background for the rope canvas: at most four
// outstanding besides those waiting for the large pictures' turn, never two for one key, results
// dropped when the photo's files changed during the render or when a cancel came in between. A
// cancel, and the preparation going away, stop the renders under way at their next read of a
// photo. One per canvas; main thread only.
class ClotheslineImagePreparation {
public:
    // Answers true once the render's result would be thrown away.
    using Stop = std::function<bool()>;
    using Render = std::function<QImage(const Photo&, double scale, const Stop& stop)>;
    // A null image means the photo's files changed while it rendered.
    using Completion = std::function<void(const QImage&)>;

    static constexpr int kMaxPending = 4;
    // Renders waiting aside for the large pictures' turn, beyond those: they hold no worker and
    // no memory, and ordinary prints go on past them.
    static constexpr int kMaxAside = 16;
    static constexpr int kWorkers = 2;

    // Without a render function: the renderer's "paper" layer at the default print size, using
    // the shared paper bases and cache hits but storing nothing (the canvas stores on delivery).
    explicit ClotheslineImagePreparation(Render render = {});
    ~ClotheslineImagePreparation();
    ClotheslineImagePreparation(const ClotheslineImagePreparation&) = delete;
    ClotheslineImagePreparation& operator=(const ClotheslineImagePreparation&) = delete;

    // False when refused: four renders are pending, or this one is.
    bool request(const Photo& photo, double scale, Completion completion);
    bool request(const Photo& photo, Completion completion) {
        return request(photo, 2, std::move(completion));
    }
    // Drops everything queued and every result still to come.
    void cancel();
    // Decodes the peg and tack artwork on the workers, once per process, so that the first frame
    // of a canvas finds it ready instead of decoding it while it paints.
    void prepareArtwork();

    const QSet<QString>& pending() const { return m_pending; }
    std::uint64_t generation() const { return m_generation; }

    static QString key(const Photo& photo, double scale);

private:
    Render m_render;
    QSet<QString> m_pending;
    // The pending ones waiting aside for their turn.
    QSet<QString> m_aside;
    std::uint64_t m_generation = 0;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    // Set for the renders of the current generation when it ends.
    std::shared_ptr<std::atomic<bool>> m_stopped = std::make_shared<std::atomic<bool>>(false);
    WorkQueue m_queue{QStringLiteral("local.vennimo.paper"), kWorkers};
};

} // namespace vennimo
