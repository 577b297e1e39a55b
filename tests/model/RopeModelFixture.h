#pragma once

#include "model/GalleryModel.h"
#include "support/TestEnvironment.h"

#include <QUuid>

#include <atomic>
#include <memory>

namespace vennimo::test {

// A state writer that fails with ENOSPC while `failing` is set.
inline DeferredStateWriter::Options switchableStateWriter(std::shared_ptr<std::atomic<bool>> failing,
                                                          std::chrono::milliseconds debounce) {
    DeferredStateWriter::Options options;
    options.debounceDelay = debounce;
    options.fileWriter = [failing](const QJsonObject& value, const QString& path) -> Status {
        if (failing->load())
            return Error::fromErrno(ENOSPC, path);
        return DeferredStateWriter::write(value, path);
    };
    return options;
}

// A photo that exists only as a record: enough for the line history and the placements.
inline Photo recordPhoto(int number, double created = 1000) {
    Photo photo;
    photo.id = QStringLiteral("77-%1").arg(number);
    photo.path = QStringLiteral("/nowhere/p%1.jpg").arg(number);
    photo.source = QStringLiteral("源");
    photo.created = created + number;
    return photo;
}

// A model without source folders whose photos were set directly, all hanging, each state file
// written through a writer the test can make fail.
struct RopeModel {
    std::shared_ptr<std::atomic<bool>> lineFails = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> placementsFail = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> interactionsFail = std::make_shared<std::atomic<bool>>(false);
    QString storage = makeFolder("storage-" + QUuid::createUuid().toString(QUuid::WithoutBraces));
    std::unique_ptr<GalleryModel> model;
    QList<Photo> photos;

    explicit RopeModel(int count, std::chrono::milliseconds debounce = std::chrono::milliseconds(10)) {
        GalleryModel::Options options;
        options.lineWriter = switchableStateWriter(lineFails, debounce);
        options.placementsWriter = switchableStateWriter(placementsFail, debounce);
        options.interactionsWriter = switchableStateWriter(interactionsFail, debounce);
        model = std::make_unique<GalleryModel>(std::make_unique<Indexer>(QList<SourceRoot>{}, storage), false,
                                               std::move(options));
        // The first observation marks what is present as used; later arrivals hang.
        model->observeClothesline({});
        for (int i = 0; i < count; ++i)
            photos.append(recordPhoto(i));
        show(photos);
    }

    // The list a refresh would bring, with newcomers hung.
    void show(const QList<Photo>& list) {
        model->setPhotos(list);
        model->observeClothesline(list);
    }

    GalleryModel* operator->() const { return model.get(); }
    GalleryModel& operator*() const { return *model; }
};

} // namespace vennimo::test
