#pragma once

#include "RopeModelFixture.h"
#include "support/FakePhotosLibrary.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QTimer>
#include <QUuid>
#include <gtest/gtest.h>

namespace vennimo::test {

inline QString trashFolder() {
    return qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash");
}

// A photo of an asset in the library, as a drop from the Photos app would name it.
inline Photo assetPhoto(const FakePhotosLibrary& library, const QString& id, const QString& photoID) {
    Photo photo;
    photo.id = photoID;
    photo.path = library.originalPath(id);
    photo.photosOrigin = PhotosOrigin{id, PhotosOrigin::libraryRoot(library.path())};
    return photo;
}

// A model over one source folder of real image files, all hanging, with the trash confirmation
// answered yes and failure alerts recorded.
struct TrashGallery {
    QString folder = makeFolder("Desktop-" + QUuid::createUuid().toString(QUuid::WithoutBraces));
    QString storage = makeFolder("storage-" + QUuid::createUuid().toString(QUuid::WithoutBraces));
    std::unique_ptr<GalleryModel> model;
    QStringList alerts;

    explicit TrashGallery(const QStringList& names, GalleryModel::Options options = {}) {
        model = std::make_unique<GalleryModel>(
            std::make_unique<Indexer>(QList<SourceRoot>{{"桌面", folder}}, storage), false,
            std::move(options));
        // The first look marks what is there as seen; files arriving afterwards hang.
        rescan();
        for (const QString& name : names)
            saveImage(makeImage(24, 16), folder + "/" + name);
        rescan();
        model->setRequestTrashConfirmation([](const QList<Photo>&) { return true; });
        model->setTrashFailureAlert([this](const QString& message, const QString& informative) {
            alerts.append(message + "|" + informative);
        });
    }

    void rescan() {
        model->refresh(std::nullopt, false);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !model->scanInFlight() && !model->scanning(); }, 10000));
    }
    // Waits for a delete to be applied and its refresh to end.
    bool settle() {
        return QTest::qWaitFor(
            [&] { return !model->deleting() && !model->scanInFlight() && !model->scanning(); }, 10000);
    }
    Photo photo(const QString& name) const {
        for (const Photo& photo : model->photos())
            if (QFileInfo(photo.path).fileName() == name)
                return photo;
        ADD_FAILURE() << "no photo " << name.toStdString();
        return {};
    }
    bool listed(const QString& name) const {
        for (const Photo& photo : model->photos())
            if (QFileInfo(photo.path).fileName() == name)
                return true;
        return false;
    }
    GalleryModel* operator->() const { return model.get(); }
};

} // namespace vennimo::test
