#include "rendering/ClotheslineImagePreparation.h"

#include "rendering/ClotheslineMaterialAssets.h"
#include "rendering/PhotoPreviewImageLoader.h"
#include "rendering/PolaroidRenderer.h"

#include "platform/LargeTurn.h"

namespace vennimo {

ClotheslineImagePreparation::ClotheslineImagePreparation(Render render)
    : m_render(render ? std::move(render) : Render([](const Photo& photo, double scale, const Stop& stop) {
        return PolaroidRenderer::image(photo, PolaroidRenderer::defaultSize, scale, PolaroidRenderer::kPaper,
                                       false, false, true, stop);
    })) {}

ClotheslineImagePreparation::~ClotheslineImagePreparation() {
    // The workers are waited for: a camera photo being read would otherwise hold the exit for
    // as long as its whole decode takes.
    m_stopped->store(true);
    m_queue.cancelAll();
}

QString ClotheslineImagePreparation::key(const Photo& photo, double scale) {
    return PolaroidRenderer::imageKey(photo, PolaroidRenderer::defaultSize, scale, PolaroidRenderer::kPaper);
}

bool ClotheslineImagePreparation::request(const Photo& photo, double scale, Completion completion) {
    const QString requestKey = key(photo, scale);
    if (m_pending.size() - m_aside.size() >= kMaxPending || m_aside.size() >= kMaxAside ||
        m_pending.contains(requestKey))
        return false;
    m_pending.insert(requestKey);
    const std::uint64_t generation = m_generation;
    std::weak_ptr<int> alive = m_alive;
    m_queue.async([this, alive, generation, requestKey, photo, scale, render = m_render, stopped = m_stopped,
                   completion = std::move(completion)] {
        if (stopped->load())
            return;
        const QString before = PhotoPreviewImageLoader::version(photo);
        // A large picture waiting for its turn leaves the worker to the next print; this runs
        // again once the turn is its.
        const LargeTurn::PutBackScope aside;
        QImage image = render(photo, scale, [stopped, &aside] { return stopped->load() || aside.putBack(); });
        if (aside.putBack()) {
            postToMain([this, alive, generation, requestKey] {
                if (!alive.expired() && m_generation == generation)
                    m_aside.insert(requestKey);
            });
            return;
        }
        if (PhotoPreviewImageLoader::version(photo) != before)
            image = QImage();
        postToMain([this, alive, generation, requestKey, completion, image] {
            if (alive.expired() || m_generation != generation)
                return;
            m_pending.remove(requestKey);
            m_aside.remove(requestKey);
            if (completion)
                completion(image);
        });
    });
    return true;
}

void ClotheslineImagePreparation::prepareArtwork() {
    // Two tasks, so both pictures decode at once; later calls find them loaded.
    m_queue.async([] { ClotheslineMaterialAssets::tack(); });
    m_queue.async([] { PolaroidRenderer::pegMaterial(); });
}

void ClotheslineImagePreparation::cancel() {
    ++m_generation;
    m_stopped->store(true);
    m_stopped = std::make_shared<std::atomic<bool>>(false);
    m_pending.clear();
    m_aside.clear();
    m_queue.cancelAll();
}

} // namespace vennimo
