#pragma once

#include "model/GalleryModel.h"
#include "preview/PhotoPreviewPresenter.h"
#include "support/TestEnvironment.h"

#include <QKeyEvent>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>

namespace vennimo::test {

// A model over a folder of pictures that arrived after the first scan (so they hang), a shown
// host window and a presenter anchored in it. Pictures are named p0.png, p1.png, ...
struct Preview {
    std::unique_ptr<GalleryModel> model;
    std::unique_ptr<QWidget> host;
    std::unique_ptr<PhotoPreviewPresenter> presenter;
    QString source;
    QStringList revealed;

    explicit Preview(const QList<QSize>& sizes) {
        static int made = 0;
        ++made;
        source = makeFolder(QString("pictures-%1").arg(made));
        const QString storage = makeFolder(QString("storage-%1").arg(made));
        model = std::make_unique<GalleryModel>(
            std::make_unique<Indexer>(QList<SourceRoot>{{"源", source}}, storage), false);
        model->refresh(std::nullopt, false);
        EXPECT_TRUE(QTest::qWaitFor([&] { return model->appliedScanCount() > 0 && !model->scanInFlight(); }));
        for (int i = 0; i < sizes.size(); ++i)
            saveImage(makeImage(sizes[i].width(), sizes[i].height()),
                      QString("%1/p%2.png").arg(source).arg(i));
        model->refresh(std::nullopt, false);
        EXPECT_TRUE(QTest::qWaitFor([&] {
            if (model->scanInFlight() || model->photos().size() != sizes.size())
                return false;
            for (const Photo& photo : model->photos())
                if (!photo.thumbnailModified)
                    return false;
            return true;
        }));
        host = std::make_unique<QWidget>();
        host->resize(300, 200);
        host->show();
        presenter = std::make_unique<PhotoPreviewPresenter>(*model, host.get());
        presenter->setReveal([this](const QString& path) { revealed.append(path); });
    }
    ~Preview() {
        presenter.reset();
        host.reset();
        model.reset();
    }

    Photo photo(int index) const {
        const QString name = QString("/p%1.png").arg(index);
        for (const Photo& p : model->photos())
            if (p.path.endsWith(name))
                return p;
        ADD_FAILURE() << "no photo " << name.toStdString();
        return {};
    }
    QString name(const std::optional<Photo>& p) const {
        return p ? p->path.section('/', -1) : QStringLiteral("none");
    }
    // Gives photo i the rope position xs[i].
    void place(const QList<double>& xs) {
        QList<ClotheslinePlacementUpdate> updates;
        for (int i = 0; i < xs.size(); ++i)
            updates.append({photo(i), 0, xs[i]});
        ASSERT_TRUE(model->moveClotheslinePhotos(updates));
    }
    bool key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        return presenter->handleKey(&event);
    }
    // Lets the deferred writes and updates run.
    void settle() {
        for (int i = 0; i < 4; ++i)
            QCoreApplication::processEvents();
    }
    // Takes the photo out of the model, as a scan does when its file went.
    void vanish(int index) {
        const Photo gone = photo(index);
        QList<Photo> photos = model->photos();
        photos.removeIf([&](const Photo& p) { return p.id == gone.id; });
        model->setPhotos(photos);
    }
};

} // namespace vennimo::test
