#pragma once

#include "model/GalleryModel.h"

#include <QString>

#include <memory>

namespace vennimo::test {

// A model over the given source folders and the test's storage folder.
std::unique_ptr<GalleryModel> makeModel(const QList<SourceRoot>& roots, bool establishBaseline = true,
                                        GalleryModel::Options options = {});
// Waits until no scan is in flight or pending and no progress is shown.
bool settle(GalleryModel& model, int timeoutMs = 5000);
// Writes an image elsewhere and copies it into `folder`, as a user would.
QString copyImageInto(const QString& folder, const QString& name);
// The model's photo at that path, if it lists one.
std::optional<Photo> photoAt(const GalleryModel& model, const QString& path);

} // namespace vennimo::test
