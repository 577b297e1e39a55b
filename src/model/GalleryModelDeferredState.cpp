#include "model/GalleryModel.h"

namespace vennimo {

namespace {

constexpr auto kDeletingReason = "正在删除照片";
constexpr auto kImportingReason = "正在保存照片";

} // namespace

Status GalleryModel::flushDeferredState() {
    // Each writer's text is cleared by its own success: one failing store must not hide that
    // the other is now on disk.
    const QString placementPrefix = QString::fromUtf8(kPlacementUnsavedPrefix);
    const QString interactionsPrefix = QString::fromUtf8(kInteractionsUnsavedPrefix);
    const Status placements = m_placements->deferredWriter().flush();
    if (!placements)
        publish(m_placementError,
                std::optional<QString>(placementPrefix + placements.error().localizedDescription()),
                &GalleryModel::placementErrorChanged);
    else if (m_placementError && m_placementError->startsWith(placementPrefix))
        publish(m_placementError, std::optional<QString>(), &GalleryModel::placementErrorChanged);
    const Status interactions = m_interactions->deferredWriter().flush();
    if (!interactions)
        publish(m_actionError,
                std::optional<QString>(interactionsPrefix + interactions.error().localizedDescription()),
                &GalleryModel::actionErrorChanged);
    else if (m_actionError && m_actionError->startsWith(interactionsPrefix))
        publish(m_actionError, std::optional<QString>(), &GalleryModel::actionErrorChanged);
    // Arrivals write the line history without waiting; what they still owe is written here.
    const bool lineOwed = m_lineHistory->deferredWriter().needsSave();
    const Status line = m_lineHistory->deferredWriter().flush();
    if (!line)
        lineWriteFinished(line.error());
    else if (lineOwed)
        lineWriteFinished(std::nullopt);
    if (!interactions)
        return interactions;
    return placements ? line : placements;
}

void GalleryModel::discardDeferredState() {
    m_placements->deferredWriter().discardPending();
    m_interactions->deferredWriter().discardPending();
    m_lineHistory->deferredWriter().discardPending();
    if (m_placementError && m_placementError->startsWith(QString::fromUtf8(kPlacementUnsavedPrefix)))
        publish(m_placementError, std::optional<QString>(), &GalleryModel::placementErrorChanged);
    if (m_actionError && m_actionError->startsWith(QString::fromUtf8(kInteractionsUnsavedPrefix)))
        publish(m_actionError, std::optional<QString>(), &GalleryModel::actionErrorChanged);
}

std::optional<QString> GalleryModel::terminationBlockReason() const {
    if (m_deleting)
        return QString::fromUtf8(kDeletingReason);
    if (m_importing)
        return QString::fromUtf8(kImportingReason);
    return std::nullopt;
}

} // namespace vennimo
