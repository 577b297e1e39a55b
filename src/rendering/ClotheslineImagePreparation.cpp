#include "rendering/ClotheslineImagePreparation.h"

#include "rendering/ClotheslineMaterialAssets.h"
#include "rendering/PhotoPreviewImageLoader.h"
#include "rendering/PolaroidRenderer.h"

namespace vennimo {

ClotheslineImagePreparation::ClotheslineImagePreparation(Render render)
    : m_render(render ? std::move(render) : Render([](const Photo& photo, double scale) {
        return PolaroidRenderer::image(photo, PolaroidRenderer::defaultSize, scale, PolaroidRenderer::kPaper,
                                       false, false, true);
    })) {}

ClotheslineImagePreparation::~ClotheslineImagePreparation() {
    m_queue.cancelAll();
}

QString ClotheslineImagePreparation::key(const Photo& photo, double scale) {
    return PolaroidRenderer::imageKey(photo, PolaroidRenderer::defaultSize, scale, PolaroidRenderer::kPaper);
}

bool ClotheslineImagePreparation::request(const Photo& photo, double scale, Completion completion) {
    const QString requestKey = key(photo, scale);
    if (m_pending.size() >= kMaxPending || m_pending.contains(requestKey))
        return false;
    m_pending.insert(requestKey);
    const std::uint64_t generation = m_generation;
    std::weak_ptr<int> alive = m_alive;
    m_queue.async([this, alive, generation, requestKey, photo, scale, render = m_render,
                   completion = std::move(completion)] {
        const QString before = PhotoPreviewImageLoader::version(photo);
        QImage image = render(photo, scale);
        if (PhotoPreviewImageLoader::version(photo) != before)
            image = QImage();
        postToMain([this, alive, generation, requestKey, completion, image] {
            if (alive.expired() || m_generation != generation)
                return;
            m_pending.remove(requestKey);
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
    m_pending.clear();
    m_queue.cancelAll();
}

} // namespace vennimo
