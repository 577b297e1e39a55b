#include "ModelTestSupport.h"
#include "core/ExhibitionJournal.h"
#include "core/PegReturnIntent.h"
#include "core/UsageRecord.h"
#include "platform/JsonFile.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace vennimo;
using namespace vennimo::test;

namespace {

QString stateFile(const QString& name) {
    return storageFolder() + "/" + name;
}

Photo exhibitPhoto(const QString& key) {
    Photo p;
    p.id = key;
    p.usageID = key;
    p.path = "/exhibit/" + key + ".jpg";
    p.source = "展览";
    p.added = 500;
    p.created = 42;
    return p;
}

// Holds the model's queue until released, so that a scan stays in flight.
class QueueGate {
public:
    explicit QueueGate(WorkQueue& queue) {
        queue.async([open = m_open] {
            while (!open->load())
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        });
    }
    ~QueueGate() { open(); }
    void open() { m_open->store(true); }

private:
    // Shared with the waiting task, which may look once more after the gate is gone.
    std::shared_ptr<std::atomic<bool>> m_open = std::make_shared<std::atomic<bool>>(false);
};

} // namespace

TEST(GalleryModel, AJournalLeftBehindIsAppliedBeforeTheStoresLoad) {
    const Photo exhibited = exhibitPhoto("EX-1");
    JournalData data;
    data.insert("exhibition.json", encodeExhibition({{exhibited.recordKey(), {exhibited, "bookmark"}}}));
    data.insert(
        "clothesline.json",
        JsonFile::encode(toJson(UsageState{2, true, {{exhibited.recordKey(), UsageRecord{42.0, {}}}}})));
    ClotheslinePlacementRecords placements;
    placements.insert(exhibited.recordKey(), {42.0, ClotheslinePlacement{0, 0.3, 1}});
    data.insert("clothesline-positions.json",
                JsonFile::encode(toJson(ClotheslinePlacementState{1, placements})));
    // Messages an earlier run of a peg return left for the user.
    data.insert(
        PegReturnIntent::key,
        JsonFile::encode(toJson(PegReturnIntent{{}, {"甲.jpg：已移动", "乙.jpg：已修改"}, std::nullopt})));
    ASSERT_TRUE(ExhibitionJournal::write(ExhibitionJournal::path(storageFolder()), data).ok());

    auto model = makeModel({});
    EXPECT_FALSE(QFile::exists(ExhibitionJournal::path(storageFolder()))) << "the journal was applied";
    EXPECT_FALSE(model->exhibitionBlocked());
    EXPECT_EQ(model->placementError(), std::nullopt);
    EXPECT_EQ(model->actionError(), "甲.jpg：已移动\n乙.jpg：已修改")
        << "the recovery messages, one per line";
    EXPECT_TRUE(model->exhibition().contains(exhibited)) << "the exhibition loaded the journal's content";
    EXPECT_TRUE(model->hangs(exhibited)) << "the line history loaded the journal's content";
    ASSERT_TRUE(model->clotheslinePlacements().position(exhibited).has_value());
    EXPECT_EQ(model->clotheslinePlacements().position(exhibited)->x, 0.3);
    ASSERT_EQ(model->photos().size(), 1);
    EXPECT_EQ(model->photos().first(), exhibited);
}

TEST(GalleryModel, RecoveryAndLoadFailuresBlockInTheirOrder) {
    const QString source = makeFolder("src");
    copyImageInto(source, "a.png");
    // A journal that cannot be applied, over an unreadable exhibition and placement file.
    writeFile(ExhibitionJournal::path(storageFolder()), R"({"exhibition.json":"not base64!"})");
    writeFile(stateFile("exhibition.json"), "{broken");
    writeFile(stateFile("clothesline-positions.json"), "{broken");
    writeFile(stateFile("clothesline.json"), "{broken");
    {
        auto model = makeModel({{"源", source}});
        ASSERT_TRUE(model->placementError().has_value());
        EXPECT_TRUE(model->placementError()->startsWith("展览保存恢复失败，请重启后重试："))
            << model->placementError()->toStdString();
        EXPECT_TRUE(model->exhibitionBlocked());
        EXPECT_TRUE(model->lineError().has_value()) << "the line history's load error";
        EXPECT_TRUE(QFile::exists(ExhibitionJournal::path(storageFolder()))) << "kept for the next start";
        EXPECT_TRUE(model->isBusy()) << "a blocked exhibition makes the model busy";

        model->start(60);
        model->refresh(std::nullopt, true);
        EXPECT_FALSE(model->scanInFlight()) << "a blocked model never scans";
        EXPECT_FALSE(model->scanning());
        QTest::qWait(50);
        EXPECT_EQ(model->appliedScanCount(), 0);
        EXPECT_TRUE(model->photos().isEmpty());
        EXPECT_EQ(model->displayedError(), model->placementError()) << "placement text shows first";
    }

    // Without the journal the exhibition's own load error takes the place and still blocks.
    QFile::remove(ExhibitionJournal::path(storageFolder()));
    {
        auto model = makeModel({{"源", source}});
        ASSERT_TRUE(model->placementError().has_value());
        EXPECT_EQ(model->placementError(), model->exhibition().loadError());
        EXPECT_TRUE(model->exhibitionBlocked());
    }

    // A broken placement file alone is reported, and the model runs.
    QFile::remove(stateFile("exhibition.json"));
    {
        auto model = makeModel({{"源", source}});
        ASSERT_TRUE(model->placementError().has_value());
        EXPECT_EQ(model->placementError(), model->clotheslinePlacements().loadError());
        EXPECT_FALSE(model->exhibitionBlocked());
        model->refresh(std::nullopt, false);
        ASSERT_TRUE(settle(*model));
        EXPECT_EQ(model->photos().size(), 1);
        EXPECT_EQ(readFile(stateFile("clothesline-positions.json")), "{broken") << "a broken file is kept";
    }
}

TEST(GalleryModel, ACopiedFileArrivesAndHangs) {
    const QString source = makeFolder("Desktop");
    copyImageInto(source, "old.png");
    GalleryModel::Options options;
    options.maxTickSeconds = 0.2;
    auto model = makeModel({{"桌面", source}}, true, options);
    model->start(60);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->watcher() && model->watcher()->running(); }, 5000));
    ASSERT_TRUE(settle(*model));
    ASSERT_EQ(model->photos().size(), 1);
    const Photo old = model->photos().first();
    EXPECT_FALSE(model->hangs(old)) << "what was there at the first scan is the baseline";
    EXPECT_TRUE(model->interactions().isUsed(old));
    const int revision = model->arrivalRevision();

    QSignalSpy arrivals(model.get(), &GalleryModel::arrivalRevisionChanged);
    const QString path = copyImageInto(source, "new.png");
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->arrivalRevision() > revision; }, 5000));
    EXPECT_EQ(model->arrivalRevision(), revision + 1);
    EXPECT_EQ(arrivals.count(), 1);
    const auto arrived = photoAt(*model, path);
    ASSERT_TRUE(arrived.has_value());
    EXPECT_EQ(model->latestArrivalIDs(), QSet<QString>{arrived->id});
    EXPECT_TRUE(model->hangs(*arrived));
    EXPECT_FALSE(model->interactions().isUsed(*arrived)) << "a new-photo notice is due";
    EXPECT_EQ(model->photos().first().id, arrived->id) << "newest first";
    EXPECT_EQ(model->errorMessage(), std::nullopt);

    // Its thumbnail follows later and reaches the list.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto current = photoAt(*model, path);
            return current && current->thumbnailModified.has_value();
        },
        5000));

    // Another scan that brings nothing new leaves the arrival alone.
    model->refresh(std::nullopt, true);
    ASSERT_TRUE(settle(*model));
    EXPECT_EQ(model->arrivalRevision(), revision + 1);
    EXPECT_EQ(model->latestArrivalIDs(), QSet<QString>{arrived->id});
}

TEST(GalleryModel, RefreshesDuringAScanCoalesceAndAFullOneWins) {
    const QString source = makeFolder("src");
    copyImageInto(source, "a.png");
    auto model = makeModel({{"源", source}});
    model->refresh(std::nullopt, false);
    ASSERT_TRUE(settle(*model));
    const int scans = model->appliedScanCount();

    QSignalSpy scanningSpy(model.get(), &GalleryModel::scanningChanged);
    std::optional<QueueGate> gate(std::in_place, model->queue());
    model->refresh(QList<FolderChange>{{source + "/nothing.png", 0x100}}, false);
    ASSERT_TRUE(model->scanInFlight());
    EXPECT_FALSE(model->scanning());
    // Made while the scan runs and not named by any change: only a full scan finds it.
    const QString unseen = copyImageInto(source, "unseen.png");
    model->refresh(QList<FolderChange>{{source + "/other.png", 0x100}}, false);
    model->refresh(std::nullopt, true);
    EXPECT_TRUE(model->scanning()) << "progress shows at once";
    model->refresh(QList<FolderChange>{{source + "/third.png", 0x100}}, false);
    gate->open();

    ASSERT_TRUE(QTest::qWaitFor([&] { return model->appliedScanCount() >= scans + 2; }, 5000));
    ASSERT_TRUE(settle(*model));
    EXPECT_TRUE(photoAt(*model, unseen).has_value()) << "the follow-up was a full scan";
    QTest::qWait(100);
    EXPECT_EQ(model->appliedScanCount(), scans + 2) << "exactly one follow-up";
    EXPECT_EQ(scanningSpy.count(), 2) << "on once, off once after the follow-up";
    EXPECT_FALSE(model->scanning());
}

TEST(GalleryModel, UpdatingSourcesDuringAScanDropsTheStaleResult) {
    const QString first = makeFolder("first");
    const QString second = makeFolder("second");
    const QString firstPhoto = copyImageInto(first, "one.png");
    const QString secondPhoto = copyImageInto(second, "two.png");
    auto model = makeModel({{"一", first}});

    bool staleShown = false;
    QObject::connect(model.get(), &GalleryModel::photosChanged,
                     [&] { staleShown = staleShown || photoAt(*model, firstPhoto).has_value(); });
    {
        QueueGate gate(model->queue());
        model->refresh(std::nullopt, false);
        const int generation = model->sourceGeneration();
        model->updateSources({{"二", second}});
        EXPECT_EQ(model->sourceGeneration(), generation + 1);
        EXPECT_TRUE(model->scanning()) << "the new roots' refresh shows progress";
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return photoAt(*model, secondPhoto).has_value(); }, 5000));
    ASSERT_TRUE(settle(*model));
    EXPECT_FALSE(staleShown) << "the scan of the old roots never reached the list";
    EXPECT_FALSE(photoAt(*model, firstPhoto).has_value());
    ASSERT_EQ(model->configuredRoots().size(), 1);
    EXPECT_EQ(model->configuredRoots().first().name, "二");
}

TEST(GalleryModel, ADeadWatcherIsRebuiltAtTheNextTick) {
    const QString source = makeFolder("src");
    GalleryModel::Options options;
    options.maxTickSeconds = 0.05;
    auto model = makeModel({{"源", source}}, true, options);
    model->start(60);
    model->start(0.5);
    EXPECT_EQ(model->tickInterval(), std::chrono::milliseconds(50)) << "a second start changes nothing";
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->watcher() && model->watcher()->running(); }, 5000));
    ASSERT_TRUE(settle(*model));
    const int generation = model->watcherGeneration();
    const int scans = model->appliedScanCount();

    model->watcher()->stop();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return model->watcherGeneration() > generation && model->watcher() && model->watcher()->running();
        },
        5000));
    EXPECT_EQ(model->watcherGeneration(), generation + 1) << "one rebuild, not one per tick";
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->appliedScanCount() > scans; }, 5000))
        << "the new watcher's activation rescans";

    // The rebuilt watcher reports new files.
    const QString path = copyImageInto(source, "late.png");
    ASSERT_TRUE(QTest::qWaitFor([&] { return photoAt(*model, path).has_value(); }, 5000));
}

TEST(GalleryModel, WithoutRootsNoWatcherAndTheTimerRescans) {
    auto model = makeModel({}, true);
    EXPECT_EQ(model->tickInterval().count(), 0);
    model->start(0.01);
    EXPECT_EQ(model->tickInterval(), std::chrono::milliseconds(50)) << "the shortest tick";
    QTest::qWait(50);
    EXPECT_EQ(model->watcher(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->appliedScanCount() >= 3; }, 3000))
        << "a full rescan at every fallback interval";
    EXPECT_EQ(model->watcherGeneration(), 1) << "the ticks build no watcher";
}

TEST(GalleryModel, ScanErrorsShowTheFirstTwo) {
    const QString base = makeFolder("gone");
    auto model = makeModel({{"甲", base + "/a"}, {"乙", base + "/b"}, {"丙", base + "/c"}});
    QSignalSpy spy(model.get(), &GalleryModel::errorMessageChanged);
    model->refresh(std::nullopt, false);
    ASSERT_TRUE(settle(*model));
    ASSERT_TRUE(model->errorMessage().has_value());
    const QStringList lines = model->errorMessage()->split('\n');
    ASSERT_EQ(lines.size(), 2) << model->errorMessage()->toStdString();
    EXPECT_EQ(model->errorMessage(), model->indexer().errors().mid(0, 2).join('\n'));
    EXPECT_EQ(spy.count(), 1);
    model->refresh(std::nullopt, false);
    ASSERT_TRUE(settle(*model));
    EXPECT_EQ(spy.count(), 1) << "the same text is not assigned again";
}

TEST(GalleryModel, WithoutABaselineRefreshesRecordNoArrivals) {
    const QString source = makeFolder("src");
    const QString path = copyImageInto(source, "a.png");
    auto model = makeModel({{"源", source}}, false);
    model->refresh(std::nullopt, false);
    ASSERT_TRUE(settle(*model));
    const auto photo = photoAt(*model, path);
    ASSERT_TRUE(photo.has_value());
    EXPECT_FALSE(model->interactions().initialized());
    EXPECT_FALSE(model->interactions().isUsed(*photo)) << "new until acknowledged";
    EXPECT_FALSE(QFile::exists(stateFile("photo-interactions.json")));
    EXPECT_TRUE(model->lineHistory().initialized()) << "the line history observes all the same";
}

TEST(GalleryModel, TearingDownDuringScansAndThumbnailsIsQuiet) {
    const QString source = makeFolder("src");
    for (int i = 0; i < 12; ++i)
        copyImageInto(source, QString("p%1.png").arg(i));
    int photosChanges = 0;
    {
        // Gone while its scan runs.
        auto model = makeModel({{"源", source}});
        model->start(60);
        QObject::connect(model.get(), &GalleryModel::photosChanged, [&] { ++photosChanges; });
        ASSERT_TRUE(model->scanInFlight());
    }
    {
        // Gone while thumbnails are being made for what the scan found.
        auto model = makeModel({{"源", source}});
        model->refresh(std::nullopt, false);
        ASSERT_TRUE(QTest::qWaitFor([&] { return model->appliedScanCount() == 1; }, 5000));
        ASSERT_EQ(model->photos().size(), 12);
        QObject::connect(model.get(), &GalleryModel::photosChanged, [&] { ++photosChanges; });
    }
    QTest::qWait(200);
    EXPECT_EQ(photosChanges, 0) << "no result reaches a model that is gone";
}
