#include "ModelTestSupport.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QUuid>
#include <gtest/gtest.h>

namespace vennimo::test {

std::unique_ptr<GalleryModel> makeModel(const QList<SourceRoot>& roots, bool establishBaseline,
                                        GalleryModel::Options options) {
    return std::make_unique<GalleryModel>(std::make_unique<Indexer>(roots, storageFolder()),
                                          establishBaseline, std::move(options));
}

bool settle(GalleryModel& model, int timeoutMs) {
    return QTest::qWaitFor([&] { return !model.scanInFlight() && !model.scanning(); }, timeoutMs);
}

QString copyImageInto(const QString& folder, const QString& name) {
    const QString staging = makeFolder("staging-" + QUuid::createUuid().toString(QUuid::WithoutBraces));
    const QString source = staging + "/" + name;
    saveImage(makeImage(24, 16), source);
    const QString target = QDir::cleanPath(folder + "/" + name);
    EXPECT_TRUE(QFile::copy(source, target)) << target.toStdString();
    return target;
}

std::optional<Photo> photoAt(const GalleryModel& model, const QString& path) {
    const QString wanted = QFileInfo(path).canonicalFilePath();
    for (const Photo& photo : model.photos()) {
        if (photo.path == path || QFileInfo(photo.path).canonicalFilePath() == wanted)
            return photo;
    }
    return std::nullopt;
}

} // namespace vennimo::test
