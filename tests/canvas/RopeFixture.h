#pragma once

#include "canvas/ClotheslineCanvas.h"
#include "canvas/ClotheslineCanvasView.h"
#include "canvas/ClotheslineScrollView.h"
#include "canvas/FakeRopeWindowPort.h"
#include "model/GalleryModel.h"
#include "support/TestEnvironment.h"

#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace vennimo::test {

inline constexpr QSize kWindowSize{980, 466};
inline constexpr int kCanvasTop = 8;

// A model over a folder of `count` pictures, a rope window with the hosted canvas and a fake
// port, shown on the offscreen screen.
struct Rope {
    std::unique_ptr<GalleryModel> model;
    std::unique_ptr<QWidget> window;
    std::unique_ptr<FakeRopeWindowPort> port;
    ClotheslineCanvas* host = nullptr;
    int placementRequests = 0;
    // Off for tests that hold the size reads themselves.
    bool awaitSizes = true;

    // `placementWriter` stands in for the write of "clothesline-positions.json"; `shape` gives the
    // pixel size of each picture, by default every one a shape of its own and larger than the last.
    explicit Rope(int count, bool brokenPlacements = false, DeferredStateFileWriter placementWriter = {},
                  std::function<QSize(int)> shape = {}) {
        static int made = 0;
        ++made;
        const QString source = makeFolder(QString("pictures-%1").arg(made));
        const QString storage = makeFolder(QString("storage-%1").arg(made));
        if (brokenPlacements) // a store that cannot read its file refuses every change
            writeFile(storage + "/clothesline-positions.json", "{ not json");
        GalleryModel::Options options;
        options.placementsWriter.fileWriter = std::move(placementWriter);
        model = std::make_unique<GalleryModel>(
            std::make_unique<Indexer>(QList<SourceRoot>{{"源", source}}, storage), false, std::move(options));
        // What the first scan finds is the baseline and does not hang; later files arrive.
        model->refresh(std::nullopt, false);
        EXPECT_TRUE(QTest::qWaitFor([&] { return model->appliedScanCount() > 0 && !model->scanInFlight(); }));
        for (int i = 0; i < count; ++i) {
            const QSize size = shape ? shape(i) : QSize(40 + 10 * i, 30 + 5 * i);
            saveImage(makeImage(size.width(), size.height()), QString("%1/p%2.png").arg(source).arg(i));
        }
        model->refresh(std::nullopt, false);
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return !model->scanInFlight() && model->photos().size() == count; }));
        // Thumbnails change the photo values once more; the rope starts after them.
        EXPECT_TRUE(QTest::qWaitFor([&] {
            for (const Photo& photo : model->photos())
                if (!photo.thumbnailModified)
                    return false;
            return true;
        }));
        window = std::make_unique<QWidget>();
        window->resize(kWindowSize);
        port = std::make_unique<FakeRopeWindowPort>(window.get());
        host = new ClotheslineCanvas(*model, window.get());
        host->scrollView()->setGeometry(0, kCanvasTop, kWindowSize.width(),
                                        kWindowSize.height() - kCanvasTop);
        host->setWindowPort(port.get());
        host->setPlacementRequest([this](GalleryModel& m, int columns) {
            ++placementRequests;
            m.ensureClotheslinePositions(columns);
        });
    }
    ~Rope() {
        window.reset();
        model.reset();
    }

    ClotheslineCanvasView& canvas() { return *host->canvas(); }
    void show() {
        window->show();
        settleUpdates();
    }
    void settleUpdates() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        // A print whose size is still being read takes no press yet, and tests press on prints;
        // on a loaded machine the reads take longer than a few turns.
        if (awaitSizes) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return canvas().sizeAwaitedIDs().isEmpty(); }, 10000))
                << "picture sizes were never read";
        }
    }
    bool waitForRest(int timeoutMs = 8000) {
        return QTest::qWaitFor([&] { return !canvas().physicsRunning(); }, timeoutMs);
    }
    // Places the photos at the x values, each move bringing its print to the front in turn.
    void place(const QList<std::pair<int, double>>& moves) {
        QList<ClotheslinePlacementUpdate> updates;
        for (const auto& [index, x] : moves)
            updates.append({model->photos().at(index), 0, x});
        ASSERT_TRUE(model->clotheslinePlacements().setPositions(updates).ok());
        Q_EMIT model->modelChanged();
        settleUpdates();
    }
};

} // namespace vennimo::test
