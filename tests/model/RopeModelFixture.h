#pragma once

#include "core/PhotoIdentity.h"
#include "model/GalleryModel.h"
#include "platform/FileIdentity.h"
#include "support/TestEnvironment.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QUuid>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace vennimo::test {

// A state writer that fails with ENOSPC while `failing` is set.
inline DeferredStateWriter::Options
switchableStateWriter(std::shared_ptr<std::atomic<bool>> failing,
                      std::chrono::milliseconds debounce = std::chrono::milliseconds(10)) {
    DeferredStateWriter::Options options;
    options.debounceDelay = debounce;
    options.fileWriter = [failing](const QJsonObject& value, const QString& path) -> Status {
        if (failing->load())
            return Error::fromErrno(ENOSPC, path);
        return DeferredStateWriter::write(value, path);
    };
    return options;
}

// A photo of a real file written with the bytes, identified as a scan would.
inline Photo photoFileAt(const QString& path, const QByteArray& bytes) {
    writeFile(path, bytes);
    const auto id = currentIdentity(path);
    const auto file = FileIdentity::read(path);
    EXPECT_TRUE(id.ok() && file.ok()) << path.toStdString();
    return {.id = id->id,
            .path = path,
            .source = QStringLiteral("源"),
            .modified = file->modified,
            .size = file->size,
            .created = id->created,
            .usageID = id->usageID};
}

// The same, in a folder of its own.
inline Photo photoFileNamed(const QString& name, const QByteArray& bytes) {
    return photoFileAt(makeFolder("files-" + QUuid::createUuid().toString(QUuid::WithoutBraces)) + "/" + name,
                       bytes);
}

inline QByteArray pngBytes(QColor color, int width = 8, int height = 6) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(makeImage(width, height, color));
    return bytes;
}

// Puts a new file at the path through a rename, so it is surely another file than the one there.
inline void replaceFile(const QString& path, const QByteArray& bytes) {
    const QString staged = path + QStringLiteral(".new");
    writeFile(staged, bytes);
    ASSERT_EQ(std::rename(QFile::encodeName(staged).constData(), QFile::encodeName(path).constData()), 0);
}

// Holds a work queue until opened or gone, so that a scan or an import stays in flight.
struct QueueGate {
    std::shared_ptr<std::atomic<bool>> isOpen = std::make_shared<std::atomic<bool>>(false);
    explicit QueueGate(WorkQueue& queue) {
        queue.async([open = isOpen] {
            while (!open->load())
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        });
    }
    ~QueueGate() { open(); }
    void open() { isOpen->store(true); }
};

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
    // Called at each step of an exhibition import, on the thread that takes it, while set.
    std::shared_ptr<ExhibitionImportStepHook> importStep = std::make_shared<ExhibitionImportStepHook>();
    QString storage = makeFolder("storage-" + QUuid::createUuid().toString(QUuid::WithoutBraces));
    std::unique_ptr<GalleryModel> model;
    QList<Photo> photos;

    explicit RopeModel(int count, std::chrono::milliseconds debounce = std::chrono::milliseconds(10),
                       ExternalImageDrop::ImportOptions dropImport = {}) {
        GalleryModel::Options options;
        options.dropImport = std::move(dropImport);
        options.lineWriter = switchableStateWriter(lineFails, debounce);
        options.placementsWriter = switchableStateWriter(placementsFail, debounce);
        options.interactionsWriter = switchableStateWriter(interactionsFail, debounce);
        options.importStepHook = [step = importStep](ExhibitionImportStep at) {
            if (*step)
                (*step)(at);
        };
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
