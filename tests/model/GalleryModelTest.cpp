#include "RopeModelFixture.h"
#include "core/ExhibitionJournal.h"
#include "core/PegReturnIntent.h"
#include "core/UsageRecord.h"
#include "platform/JsonFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

using namespace vennimo;
using namespace vennimo::test;

namespace {

std::unique_ptr<GalleryModel> makeModel(const QList<SourceRoot>& roots, bool establishBaseline = true,
                                        GalleryModel::Options options = {}) {
    return std::make_unique<GalleryModel>(std::make_unique<Indexer>(roots, storageFolder()),
                                          establishBaseline, std::move(options));
}

// Waits until no scan is in flight or pending and no progress is shown.
bool settle(GalleryModel& model, int timeoutMs = 5000) {
    return QTest::qWaitFor([&] { return !model.scanInFlight() && !model.scanning(); }, timeoutMs);
}

bool rescan(GalleryModel& model) {
    model.refresh(std::nullopt, false);
    return settle(model);
}

// Writes an image elsewhere and copies it into `folder`, as a user would.
QString copyImageInto(const QString& folder, const QString& name) {
    const QString source =
        makeFolder("staging-" + QUuid::createUuid().toString(QUuid::WithoutBraces)) + "/" + name;
    saveImage(makeImage(24, 16), source);
    const QString target = folder + "/" + name;
    EXPECT_TRUE(QFile::copy(source, target)) << target.toStdString();
    return target;
}

std::optional<Photo> photoAt(const GalleryModel& model, const QString& path) {
    const QString wanted = QFileInfo(path).canonicalFilePath();
    for (const Photo& photo : model.photos())
        if (photo.path == path || QFileInfo(photo.path).canonicalFilePath() == wanted)
            return photo;
    return std::nullopt;
}

testing::AssertionResult startsWith(const std::optional<QString>& text, const QString& prefix) {
    if (text && text->startsWith(prefix))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << (text ? text->toStdString() : "no text");
}

// A model over one folder of `count` images, refreshed once.
std::unique_ptr<GalleryModel> modelWithPhotos(int count, bool establishBaseline,
                                              GalleryModel::Options options = {}) {
    const QString source = makeFolder("src");
    for (int i = 0; i < count; ++i)
        copyImageInto(source, QString("p%1.png").arg(i));
    auto model = makeModel({{"源", source}}, establishBaseline, std::move(options));
    EXPECT_TRUE(rescan(*model));
    EXPECT_EQ(model->photos().size(), count);
    return model;
}

} // namespace

TEST(GalleryModel, AJournalLeftBehindIsAppliedBeforeTheStoresLoad) {
    Photo shown;
    shown.id = "EX-1";
    shown.usageID = shown.id;
    shown.path = "/exhibit/EX-1.jpg";
    shown.created = 42;
    JournalData data;
    data.insert("exhibition.json", encodeExhibition({{shown.recordKey(), {shown, "bookmark"}}}));
    data.insert("clothesline.json",
                JsonFile::encode(toJson(UsageState{2, true, {{shown.recordKey(), UsageRecord{42.0, {}}}}})));
    ClotheslinePlacementRecords placements; // the journal carries every store
    placements.insert(shown.recordKey(), {42.0, ClotheslinePlacement{0, 0.3, 1}});
    data.insert("clothesline-positions.json",
                JsonFile::encode(toJson(ClotheslinePlacementState{1, placements})));
    data.insert(
        PegReturnIntent::key,
        JsonFile::encode(toJson(PegReturnIntent{{}, {"甲.jpg：已移动", "乙.jpg：已修改"}, std::nullopt})));
    ASSERT_TRUE(ExhibitionJournal::write(ExhibitionJournal::path(storageFolder()), data).ok());

    auto model = makeModel({});
    EXPECT_FALSE(QFile::exists(ExhibitionJournal::path(storageFolder())));
    EXPECT_EQ(model->actionError(), "甲.jpg：已移动\n乙.jpg：已修改") << "recovery messages, one per line";
    EXPECT_EQ(model->photos(), QList<Photo>{shown}) << "the exhibition loaded the journal's content";
    EXPECT_TRUE(model->hangs(shown)) << "the line history loaded the journal's content";
    const auto position = model->clotheslinePlacements().position(shown);
    EXPECT_TRUE(position && position->x == 0.3) << "the placements loaded the journal's content";
}

TEST(GalleryModel, RecoveryAndLoadFailuresBlockInTheirOrder) {
    const QString source = makeFolder("src");
    // A journal that cannot be applied, over an unreadable exhibition and placement file.
    writeFile(ExhibitionJournal::path(storageFolder()), R"({"exhibition.json":"not base64!"})");
    writeFile(storageFolder() + "/exhibition.json", "{broken");
    writeFile(storageFolder() + "/clothesline-positions.json", "{broken");
    {
        auto model = makeModel({{"源", source}});
        EXPECT_TRUE(startsWith(model->placementError(), "展览保存恢复失败，请重启后重试："));
        EXPECT_TRUE(model->exhibitionBlocked() && model->isBusy());
        EXPECT_TRUE(QFile::exists(ExhibitionJournal::path(storageFolder()))) << "kept for the next start";
        model->start(60);
        model->refresh(std::nullopt, true);
        EXPECT_FALSE(model->scanInFlight() || model->scanning()) << "a blocked model never scans";
    }
    // Without the journal the exhibition's load error takes the place and still blocks.
    QFile::remove(ExhibitionJournal::path(storageFolder()));
    {
        auto model = makeModel({{"源", source}});
        EXPECT_EQ(model->placementError(), model->exhibition().loadError());
        EXPECT_TRUE(model->exhibitionBlocked());
    }
}

TEST(GalleryModel, ACopiedFileArrivesAndHangsAndADeadWatcherIsRebuilt) {
    const QString source = makeFolder("Desktop");
    copyImageInto(source, "old.png");
    auto model = makeModel({{"桌面", source}}, true, {.maxTickSeconds = 0.05});
    const auto watching = [&] { return model->watcher() && model->watcher()->running(); };
    model->start(60);
    ASSERT_TRUE(QTest::qWaitFor(watching, 10000));
    ASSERT_TRUE(settle(*model));
    ASSERT_EQ(model->photos().size(), 1);
    EXPECT_FALSE(model->hangs(model->photos().first())) << "the first scan is the baseline";
    const int revision = model->arrivalRevision();

    const QString path = copyImageInto(source, "new.png");
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->arrivalRevision() > revision; }, 10000));
    const auto arrived = photoAt(*model, path);
    ASSERT_TRUE(arrived.has_value());
    EXPECT_EQ(model->latestArrivalIDs(), QSet<QString>{arrived->id});
    EXPECT_TRUE(model->hangs(*arrived));
    EXPECT_FALSE(model->interactions().isUsed(*arrived)) << "a new-photo notice is due";
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return photoAt(*model, path).value_or(Photo{}).thumbnailModified.has_value(); }, 10000))
        << "its thumbnail reaches the list";
    model->refresh(std::nullopt, true);
    ASSERT_TRUE(settle(*model));
    EXPECT_EQ(model->arrivalRevision(), revision + 1) << "one arrival; a scan with nothing new adds none";

    // A dead watcher is rebuilt once at the next tick; the new one rescans and reports new files.
    const int generation = model->watcherGeneration(), scans = model->appliedScanCount();
    model->watcher()->stop();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return model->watcherGeneration() > generation && watching(); }, 10000));
    EXPECT_EQ(model->watcherGeneration(), generation + 1) << "one rebuild, not one per tick";
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->appliedScanCount() > scans; }, 10000));
    const QString late = copyImageInto(source, "late.png");
    ASSERT_TRUE(QTest::qWaitFor([&] { return photoAt(*model, late).has_value(); }, 10000));
}

TEST(GalleryModel, RefreshesDuringAScanCoalesceAndNewSourcesDropTheStaleResult) {
    const QString source = makeFolder("src"), other = makeFolder("other");
    copyImageInto(source, "a.png");
    const QString second = copyImageInto(other, "b.png");
    auto model = makeModel({{"源", source}});
    ASSERT_TRUE(rescan(*model));
    const int scans = model->appliedScanCount();

    QueueGate gate(model->queue());
    model->refresh(QList<FolderChange>{{source + "/nothing.png", 0x100}}, false);
    ASSERT_TRUE(model->scanInFlight());
    // Made during the scan and named by no change: only a full scan finds it.
    const QString unseen = copyImageInto(source, "unseen.png");
    model->refresh(QList<FolderChange>{{source + "/other.png", 0x100}}, false);
    model->refresh(std::nullopt, true);
    EXPECT_TRUE(model->scanning()) << "progress shows at once";
    model->refresh(QList<FolderChange>{{source + "/third.png", 0x100}}, false);
    gate.open();

    ASSERT_TRUE(QTest::qWaitFor([&] { return model->appliedScanCount() >= scans + 2; }, 10000));
    ASSERT_TRUE(settle(*model));
    EXPECT_TRUE(photoAt(*model, unseen).has_value()) << "the follow-up was a full scan";
    QTest::qWait(100);
    EXPECT_EQ(model->appliedScanCount(), scans + 2) << "exactly one follow-up";

    // New sources during a scan: the old roots' result, with a photo only it has, never shows.
    const QString stale = copyImageInto(source, "stale.png");
    bool staleShown = false;
    QObject::connect(model.get(), &GalleryModel::photosChanged,
                     [&] { staleShown = staleShown || photoAt(*model, stale).has_value(); });
    {
        QueueGate held(model->queue());
        model->refresh(std::nullopt, false);
        model->updateSources({{"二", other}});
        EXPECT_TRUE(model->scanning()) << "the new roots' refresh shows progress";
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return photoAt(*model, second).has_value(); }, 10000));
    ASSERT_TRUE(settle(*model));
    EXPECT_FALSE(staleShown);
    EXPECT_EQ(model->photos().size(), 1);
}

TEST(GalleryModel, TheFallbackTimerTicksNoFasterThanTwentyTimesASecondNorSlowerThanEveryFiveSeconds) {
    struct Case {
        double asked;
        std::chrono::milliseconds interval;
    };
    for (const Case c :
         {Case{0.01, std::chrono::milliseconds(50)}, Case{0.05, std::chrono::milliseconds(50)},
          Case{1, std::chrono::milliseconds(1000)}, Case{60, std::chrono::milliseconds(5000)}}) {
        auto model = makeModel({});
        EXPECT_EQ(model->tickInterval(), std::chrono::milliseconds(0)) << "no timer before the start";
        model->start(c.asked);
        EXPECT_EQ(model->tickInterval(), c.interval) << c.asked;
        EXPECT_TRUE(settle(*model));
    }
}

TEST(GalleryModel, TearingDownDuringScansAndThumbnailsIsQuiet) {
    const QString source = makeFolder("src");
    for (int i = 0; i < 12; ++i)
        copyImageInto(source, QString("p%1.png").arg(i));
    int photosChanges = 0;
    for (const bool scanApplied : {false, true}) { // gone while scanning, then while making thumbnails
        auto model = makeModel({{"源", source}});
        model->refresh(std::nullopt, false);
        ASSERT_TRUE(scanApplied ? QTest::qWaitFor([&] { return model->appliedScanCount() == 1; }, 10000)
                                : model->scanInFlight());
        QObject::connect(model.get(), &GalleryModel::photosChanged, [&] { ++photosChanges; });
    }
    QTest::qWait(200);
    EXPECT_EQ(photosChanges, 0) << "no result reaches a model that is gone";
}

// The way out does not wait for a scan, however long it would run: the scan stops and keeps
// nothing, and the index written is the last whole scan's, save owed or not.
TEST(GalleryModel, TearingDownDuringALongScanStopsItAndWritesTheLastWholeIndex) {
    const QString source = makeFolder("src");
    copyImageInto(source, "a.png");
    auto indexer = std::make_unique<Indexer>(QList<SourceRoot>{{"源", source}}, storageFolder());
    Indexer* index = indexer.get();
    // Nothing reaches index.json before the model goes.
    index->setIndexWriteInterval(std::chrono::hours(1));
    // The scan is held at the new folder until the index is stopped, or a minute passed.
    auto held = std::make_shared<std::atomic<bool>>(false);
    auto stopSeen = std::make_shared<std::atomic<bool>>(false);
    index->setFolderOpenFaultForTesting([index, held, stopSeen](const QString& folder) {
        if (folder.endsWith("/later")) {
            *held = true;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
            while (!index->stopped() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            *stopSeen = index->stopped();
        }
        return 0;
    });
    auto model = std::make_unique<GalleryModel>(std::move(indexer), true);
    ASSERT_TRUE(rescan(*model));
    ASSERT_EQ(model->photos().size(), 1);
    ASSERT_FALSE(QFile::exists(storageFolder() + "/index.json"));

    ASSERT_TRUE(QDir().mkpath(source + "/later"));
    copyImageInto(source + "/later", "b.png");
    model->refresh(std::nullopt, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return held->load(); }, 10000));
    model.reset();
    EXPECT_TRUE(stopSeen->load()) << "the teardown stopped the scan";

    const Indexer reopened({{"源", source}}, storageFolder());
    ASSERT_TRUE(reopened.library().initialized) << "the owed save was written";
    ASSERT_EQ(reopened.library().photos.size(), 1);
    EXPECT_TRUE(reopened.library().photos.first().path.endsWith("/a.png"));
}

TEST(GalleryModelState, SelectionChangesFollowTheRules) {
    auto model = modelWithPhotos(3, false);
    EXPECT_FALSE(QFile::exists(storageFolder() + "/photo-interactions.json")) << "no baseline, nothing seen";
    const QList<Photo> photos = model->photos();
    const Photo &a = photos[0], &b = photos[1], &c = photos[2];
    EXPECT_FALSE(model->requestTrashConfirmation()({a})) << "nothing is deleted without a real confirmation";

    model->toggleSelection(b);
    EXPECT_TRUE(model->interactions().isUsed(b)) << "selecting acknowledges";
    model->toggleSelection(b);
    EXPECT_FALSE(model->selectionMode());
    EXPECT_EQ(model->selectionAnchorID(), b.id) << "the anchor stays";
    model->setSelection({c, a});
    EXPECT_EQ(model->selectionAnchorID(), a.id) << "the last photo given";
    EXPECT_EQ(model->selectedPhotos(), (QList<Photo>{a, c})) << "display order";
    QSignalSpy idsSpy(model.get(), &GalleryModel::selectedIDsChanged);
    model->pruneSelection({a.id, b.id, c.id});
    EXPECT_EQ(idsSpy.count(), 0) << "pruning assigns only what changes";
    model->pruneSelection({});
    EXPECT_FALSE(model->selectionMode());

    model->setSelection({a});
    for (const bool deleting : {true, false}) {
        deleting ? model->setDeleting(true) : model->setImporting(true);
        model->toggleSelection(b);
        model->setSelection({c});
        model->endSelection();
        model->requestGalleryMode(false);
        EXPECT_EQ(model->selectedIDs(), QSet<QString>{a.id})
            << "frozen while " << (deleting ? "deleting" : "importing");
        EXPECT_TRUE(model->clotheslineMode());
        deleting ? model->setDeleting(false) : model->setImporting(false);
    }
    model->endSelection();
    QSignalSpy modeSpy(model.get(), &GalleryModel::selectionModeChanged);
    model->endSelection();
    EXPECT_EQ(modeSpy.count(), 1) << "ending assigns even what is already so";
}

TEST(GalleryModelState, WriteFailuresShowWithTheirPrefixAndASuccessClearsOnlyItsOwn) {
    auto failing = std::make_shared<std::atomic<bool>>(false);
    GalleryModel::Options options;
    options.interactionsWriter = options.placementsWriter = switchableStateWriter(failing);
    auto model = modelWithPhotos(2, false, options);
    const Photo a = model->photos()[0], b = model->photos()[1];
    ASSERT_TRUE(model->clotheslinePlacements().ensurePositions({a, b}, 5).ok());
    failing->store(true);
    model->acknowledge({a});
    ASSERT_TRUE(model->clotheslinePlacements().bringToFront(a).ok());
    QSignalSpy changed(model.get(), &GalleryModel::modelChanged);
    model->acknowledge({a});
    EXPECT_EQ(changed.count(), 0) << "nothing new: no write, no announcement";
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->actionError() && model->placementError(); }, 10000));
    EXPECT_TRUE(startsWith(model->actionError(), "新照片提示状态未保存："));
    EXPECT_TRUE(startsWith(model->placementError(), "照片位置未保存："));
    failing->store(false);
    model->acknowledge({b});
    ASSERT_TRUE(model->clotheslinePlacements().bringToFront(b).ok());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->actionError() && !model->placementError(); }, 10000));
    model.reset();

    // The exhibition's load error in the same place survives a successful placement write.
    writeFile(storageFolder() + "/exhibition.json", "{broken");
    auto blocked = makeModel({}, true, options);
    const auto exhibitionText = blocked->placementError();
    ASSERT_TRUE(blocked->clotheslinePlacements().bringToFront(a).ok());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return blocked->clotheslinePlacements().deferredWriter().writeCount() > 0; }, 10000));
    QTest::qWait(20);
    EXPECT_TRUE(exhibitionText && blocked->placementError() == exhibitionText);
}

TEST(GalleryModelState, GalleryModeAndTheHangingRule) {
    auto failing = std::make_shared<std::atomic<bool>>(false);
    GalleryModel::Options options;
    options.lineWriter = switchableStateWriter(failing);
    auto model = modelWithPhotos(2, true, options);
    const Photo a = model->photos()[0], b = model->photos()[1];
    model->setSelection({a});
    model->requestGalleryMode(true);
    EXPECT_TRUE(model->emptyClotheslineRequested()) << "nothing hangs";
    EXPECT_TRUE(model->selectedIDs().isEmpty()) << "switching ends the selection";
    ASSERT_TRUE(model->lineHistory().setUsed(b, false).ok());
    model->requestGalleryMode(true);
    EXPECT_TRUE(model->hangs(b));
    EXPECT_FALSE(model->emptyClotheslineRequested());

    // A deleted photo does not hang while its take-down is unsaved; another file at its key does.
    model->addPendingTrashTakeDown({b});
    EXPECT_FALSE(model->hangs(b));
    Photo reborn = b;
    reborn.created = b.created.value_or(0) + 5;
    EXPECT_FALSE(model->awaitsTrashTakeDown(reborn));
    model->requestGalleryMode(true);
    EXPECT_TRUE(model->emptyClotheslineRequested());

    // A failing save keeps every pending photo and the refresh says why; the next one saves first.
    failing->store(true);
    model->addPendingTrashTakeDown({a});
    EXPECT_FALSE(model->savePendingTrashTakeDown().ok());
    EXPECT_EQ(model->pendingTrashTakeDown().size(), 2);
    ASSERT_TRUE(rescan(*model));
    EXPECT_TRUE(
        startsWith(model->lineError(), "原图已删除，但晾衣绳状态未保存，将自动重试。请暂勿退出应用。\n"));
    failing->store(false);
    ASSERT_TRUE(rescan(*model));
    EXPECT_EQ(model->lineError(), std::nullopt);
    EXPECT_TRUE(model->pendingTrashTakeDown().isEmpty());
    EXPECT_TRUE(model->lineHistory().isUsed(a) && model->lineHistory().isUsed(b));

    model->addPendingTrashTakeDown({a});
    model->removePendingTrashTakeDown({a});
    EXPECT_FALSE(model->awaitsTrashTakeDown(a)) << "back from the Trash";
}

TEST(GalleryModelState, ErrorTextsComeOutInOrderAndDismissTogether) {
    const QString gone = makeFolder("gone");
    writeFile(storageFolder() + "/clothesline-positions.json", "{broken");
    writeFile(storageFolder() + "/clothesline.json", "{broken");
    auto model = makeModel({{"甲", gone + "/a"}, {"乙", gone + "/b"}, {"丙", gone + "/c"}});
    ASSERT_TRUE(rescan(*model));
    ASSERT_TRUE(model->placementError() && model->lineError() && model->errorMessage());
    EXPECT_FALSE(model->exhibitionBlocked()) << "unreadable placements do not block";
    EXPECT_EQ(model->displayedError(), model->placementError());
    EXPECT_EQ(model->errorMessage(), model->indexer().errors().mid(0, 2).join('\n'))
        << "the first two scan errors";

    QStringList order;
    for (auto [signal, name] : {std::pair{&GalleryModel::placementErrorChanged, "placement"},
                                std::pair{&GalleryModel::lineErrorChanged, "line"},
                                std::pair{&GalleryModel::actionErrorChanged, "action"},
                                std::pair{&GalleryModel::errorMessageChanged, "scan"}})
        QObject::connect(model.get(), signal, [&order, name = QString(name)] { order.append(name); });
    model->dismissErrors();
    EXPECT_EQ(order, (QStringList{"placement", "line", "action", "scan"}));

    // The unreadable line history refuses the refresh's observation and is kept.
    ASSERT_TRUE(rescan(*model));
    EXPECT_TRUE(startsWith(model->lineError(), "晾衣绳状态未保存："));
    EXPECT_EQ(model->displayedError(), model->lineError());
    EXPECT_EQ(readFile(storageFolder() + "/clothesline.json"), "{broken") << "an unreadable file is kept";
}

TEST(GalleryModelState, ArrivalsWriteHistoriesWithoutWaitingAndAFailedWriteStaysOwed) {
    // Slow enough that a flush which did not wait for the write would read an old file.
    auto failing = std::make_shared<std::atomic<bool>>(false);
    GalleryModel::Options options;
    options.lineWriter.fileWriter = [failing](const QJsonObject& value, const QString& path) -> Status {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (failing->load())
            return Error::fromErrno(ENOSPC, path);
        return DeferredStateWriter::write(value, path);
    };
    options.interactionsWriter = switchableStateWriter(failing);
    auto model = modelWithPhotos(1, true, options);
    const QString folder = QFileInfo(model->photos().first().path).absolutePath();
    const auto onDisk = [](const char* fileName, const Photo& photo) {
        return UsageHistory(storageFolder(), QString::fromLatin1(fileName)).hasRecord(photo);
    };

    failing->store(true);
    const QString path = copyImageInto(folder, "late.png");
    ASSERT_TRUE(rescan(*model));
    const auto arrived = photoAt(*model, path);
    ASSERT_TRUE(arrived.has_value());
    EXPECT_TRUE(model->hangs(*arrived)) << "memory holds the arrival while its write is under way";
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->lineError() && model->actionError(); }, 10000));
    EXPECT_TRUE(startsWith(model->lineError(), "晾衣绳状态未保存："));
    EXPECT_TRUE(startsWith(model->actionError(), "新照片提示状态未保存："));
    EXPECT_TRUE(model->lineHistory().deferredWriter().needsSave());
    ASSERT_TRUE(rescan(*model));
    EXPECT_TRUE(model->lineError()) << "nothing new to write does not hide what is owed";
    EXPECT_FALSE(model->flushDeferredState().ok());
    EXPECT_FALSE(onDisk(kLineHistoryFileName, *arrived));

    failing->store(false);
    ASSERT_TRUE(model->flushDeferredState().ok());
    EXPECT_TRUE(onDisk(kLineHistoryFileName, *arrived) && onDisk(kInteractionsHistoryFileName, *arrived));
    EXPECT_FALSE(model->lineError() || model->actionError());

    // A quit right after an arrival waits for its write.
    const QString later = copyImageInto(folder, "later.png");
    ASSERT_TRUE(rescan(*model));
    const auto next = photoAt(*model, later);
    ASSERT_TRUE(next.has_value());
    ASSERT_TRUE(model->flushDeferredState().ok());
    EXPECT_TRUE(onDisk(kLineHistoryFileName, *next));
}
