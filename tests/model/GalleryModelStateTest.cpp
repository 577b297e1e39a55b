#include "ModelTestSupport.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using namespace vennimo;
using namespace vennimo::test;

namespace {

QString stateFile(const QString& name) {
    return storageFolder() + "/" + name;
}

// A model over one folder of `count` images, refreshed once.
std::unique_ptr<GalleryModel> modelWithPhotos(int count, bool establishBaseline,
                                              GalleryModel::Options options = {}) {
    const QString source = makeFolder("src");
    for (int i = 0; i < count; ++i)
        copyImageInto(source, QString("p%1.png").arg(i));
    auto model = makeModel({{"源", source}}, establishBaseline, std::move(options));
    model->refresh(std::nullopt, false);
    EXPECT_TRUE(settle(*model));
    EXPECT_EQ(model->photos().size(), count);
    return model;
}

// A state writer that fails while `failing` is set.
DeferredStateWriter::Options switchableWriter(std::shared_ptr<std::atomic<bool>> failing) {
    DeferredStateWriter::Options options;
    options.debounceDelay = std::chrono::milliseconds(10);
    options.fileWriter = [failing](const QJsonObject& value, const QString& path) -> Status {
        if (failing->load())
            return Error::fromErrno(ENOSPC, path);
        return DeferredStateWriter::write(value, path);
    };
    return options;
}

} // namespace

TEST(GalleryModelSelection, SelectionChangesFollowTheRules) {
    auto model = modelWithPhotos(3, false);
    const QList<Photo> photos = model->photos();
    const Photo &a = photos[0], &b = photos[1], &c = photos[2];
    QSignalSpy idsSpy(model.get(), &GalleryModel::selectedIDsChanged);
    QSignalSpy modeSpy(model.get(), &GalleryModel::selectionModeChanged);
    QSignalSpy copiedSpy(model.get(), &GalleryModel::copiedCountChanged);

    model->toggleSelection(b);
    EXPECT_EQ(model->selectedIDs(), QSet<QString>{b.id});
    EXPECT_TRUE(model->selectionMode());
    EXPECT_TRUE(model->property("selectionMode").toBool()) << "published as a property";
    EXPECT_EQ(model->selectionAnchorID(), b.id);
    EXPECT_TRUE(model->interactions().isUsed(b)) << "selecting acknowledges";
    model->toggleSelection(b);
    EXPECT_TRUE(model->selectedIDs().isEmpty());
    EXPECT_FALSE(model->selectionMode());
    EXPECT_EQ(model->selectionAnchorID(), b.id) << "the anchor stays";

    model->setSelection({c, a});
    EXPECT_EQ(model->selectedIDs(), (QSet<QString>{a.id, c.id}));
    EXPECT_EQ(model->selectionAnchorID(), a.id) << "the last photo given";
    EXPECT_EQ(model->selectedPhotos(), (QList<Photo>{a, c})) << "display order";
    model->setSelection({});
    EXPECT_FALSE(model->selectionMode());
    EXPECT_EQ(model->selectionAnchorID(), std::nullopt);

    // Pruning assigns only what changes.
    model->setSelection({a, b});
    const auto idsBefore = idsSpy.count(), copiedBefore = copiedSpy.count();
    model->pruneSelection({a.id, b.id, c.id});
    EXPECT_EQ(idsSpy.count(), idsBefore);
    EXPECT_EQ(copiedSpy.count(), copiedBefore);
    model->pruneSelection({a.id});
    EXPECT_EQ(model->selectedIDs(), QSet<QString>{a.id});
    EXPECT_TRUE(model->selectionMode());
    model->pruneSelection({});
    EXPECT_FALSE(model->selectionMode());

    // While deleting or importing the selection is frozen.
    model->setSelection({a});
    for (const bool deleting : {true, false}) {
        deleting ? model->setDeleting(true) : model->setImporting(true);
        model->toggleSelection(b);
        model->setSelection({c});
        model->endSelection();
        model->requestGalleryMode(false);
        EXPECT_EQ(model->selectedIDs(), QSet<QString>{a.id}) << (deleting ? "deleting" : "importing");
        EXPECT_TRUE(model->clotheslineMode());
        deleting ? model->setDeleting(false) : model->setImporting(false);
    }

    // Ending assigns even what is already so.
    model->endSelection();
    const auto modeBefore = modeSpy.count();
    model->endSelection();
    EXPECT_EQ(modeSpy.count(), modeBefore + 1);
    EXPECT_TRUE(model->selectedIDs().isEmpty());
    EXPECT_EQ(model->copiedCount(), 0);
}

TEST(GalleryModelSelection, AcknowledgementsWriteOnlyNewPhotosAndReportFailures) {
    auto failing = std::make_shared<std::atomic<bool>>(true);
    GalleryModel::Options options;
    options.interactionsWriter = switchableWriter(failing);
    auto model = modelWithPhotos(2, false, options);
    const Photo a = model->photos()[0], b = model->photos()[1];
    QSignalSpy changed(model.get(), &GalleryModel::modelChanged);

    model->acknowledge({a});
    EXPECT_TRUE(model->interactions().isUsed(a)) << "in memory at once";
    EXPECT_EQ(changed.count(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->actionError().has_value(); }, 3000));
    EXPECT_TRUE(model->actionError()->startsWith("新照片提示状态未保存："))
        << model->actionError()->toStdString();

    model->acknowledge({a});
    EXPECT_EQ(changed.count(), 1) << "nothing new: no write, no announcement";

    failing->store(false);
    model->acknowledge({b});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->actionError().has_value(); }, 3000))
        << "a later success clears its own text";
    EXPECT_TRUE(QFile::exists(stateFile("photo-interactions.json")));
}

TEST(GalleryModelSelection, GalleryModeAndTheHangingRule) {
    auto failing = std::make_shared<std::atomic<bool>>(false);
    GalleryModel::Options options;
    options.lineWriter = switchableWriter(failing);
    auto model = modelWithPhotos(2, true, options);
    const Photo a = model->photos()[0], b = model->photos()[1];
    EXPECT_FALSE(model->hangs(a)) << "the first observation takes everything down";

    model->setSelection({a});
    model->requestGalleryMode(true);
    EXPECT_TRUE(model->emptyClotheslineRequested());
    EXPECT_TRUE(model->clotheslineMode());
    EXPECT_TRUE(model->selectedIDs().isEmpty()) << "switching ends the selection";
    model->requestGalleryMode(false);
    EXPECT_FALSE(model->emptyClotheslineRequested());
    EXPECT_FALSE(model->clotheslineMode());

    ASSERT_TRUE(model->lineHistory().setUsed(b, false).ok());
    EXPECT_TRUE(model->hangs(b));
    model->requestGalleryMode(true);
    EXPECT_FALSE(model->emptyClotheslineRequested());

    // A deleted photo does not hang while its take-down is unsaved; another file at its key does.
    model->addPendingTrashTakeDown({b});
    EXPECT_TRUE(model->awaitsTrashTakeDown(b));
    EXPECT_FALSE(model->hangs(b));
    Photo reborn = b;
    reborn.created = b.created.value_or(0) + 5;
    EXPECT_FALSE(model->awaitsTrashTakeDown(reborn));
    model->requestGalleryMode(true);
    EXPECT_TRUE(model->emptyClotheslineRequested());

    Photo unknown = a;
    unknown.id = "nowhere";
    unknown.usageID = unknown.id;
    EXPECT_FALSE(model->hangs(unknown)) << "no line record, no hanging";

    // A failing save keeps every pending photo and the refresh says why.
    failing->store(true);
    model->addPendingTrashTakeDown({a});
    EXPECT_FALSE(model->savePendingTrashTakeDown().ok());
    EXPECT_EQ(model->pendingTrashTakeDown().size(), 2);
    model->refresh(std::nullopt, false);
    ASSERT_TRUE(settle(*model));
    ASSERT_TRUE(model->lineError().has_value());
    EXPECT_TRUE(
        model->lineError()->startsWith("原图已删除，但晾衣绳状态未保存，将自动重试。请暂勿退出应用。\n"))
        << model->lineError()->toStdString();
    QSignalSpy lineSpy(model.get(), &GalleryModel::lineErrorChanged);
    model->refresh(std::nullopt, false);
    ASSERT_TRUE(settle(*model));
    EXPECT_EQ(lineSpy.count(), 0) << "the same text is not assigned again";

    failing->store(false);
    model->refresh(std::nullopt, false);
    ASSERT_TRUE(settle(*model));
    EXPECT_EQ(model->lineError(), std::nullopt);
    EXPECT_TRUE(model->pendingTrashTakeDown().isEmpty()) << "saved before the observation";
    EXPECT_TRUE(model->lineHistory().isUsed(a));
    EXPECT_TRUE(model->lineHistory().isUsed(b));
    EXPECT_FALSE(model->hangs(b));

    // Photos back from the Trash no longer wait.
    model->addPendingTrashTakeDown({a});
    model->removePendingTrashTakeDown({reborn});
    EXPECT_TRUE(model->awaitsTrashTakeDown(a)) << "another file birth removes nothing";
    model->removePendingTrashTakeDown({a});
    EXPECT_FALSE(model->awaitsTrashTakeDown(a));
}

TEST(GalleryModelSelection, ErrorTextsComeOutInOrderAndDismissTogether) {
    const QString base = makeFolder("gone");
    writeFile(stateFile("clothesline-positions.json"), "{broken");
    writeFile(stateFile("clothesline.json"), "{broken");
    auto model = makeModel({{"甲", base + "/missing"}});
    model->refresh(std::nullopt, false);
    ASSERT_TRUE(settle(*model));
    ASSERT_TRUE(model->placementError() && model->lineError() && model->errorMessage());
    EXPECT_EQ(model->displayedError(), model->placementError());

    QStringList order;
    for (auto [signal, name] : {std::pair{&GalleryModel::placementErrorChanged, "placement"},
                                std::pair{&GalleryModel::lineErrorChanged, "line"},
                                std::pair{&GalleryModel::actionErrorChanged, "action"},
                                std::pair{&GalleryModel::errorMessageChanged, "scan"}})
        QObject::connect(model.get(), signal, [&order, name = QString(name)] { order.append(name); });
    model->dismissErrors();
    EXPECT_EQ(order, (QStringList{"placement", "line", "action", "scan"}));
    EXPECT_EQ(model->displayedError(), std::nullopt);

    // The unreadable line history refuses the refresh's observation; the scan fails again.
    model->refresh(std::nullopt, false);
    ASSERT_TRUE(settle(*model));
    ASSERT_TRUE(model->lineError().has_value());
    EXPECT_TRUE(model->lineError()->startsWith("晾衣绳状态未保存：")) << model->lineError()->toStdString();
    ASSERT_TRUE(model->errorMessage().has_value());
    EXPECT_EQ(model->placementError(), std::nullopt);
    EXPECT_EQ(model->displayedError(), model->lineError());
    EXPECT_EQ(readFile(stateFile("clothesline.json")), "{broken") << "an unreadable file is kept";
}

TEST(GalleryModelSelection, PlacementWriteResultsOnlyClearTheirOwnText) {
    auto failing = std::make_shared<std::atomic<bool>>(true);
    GalleryModel::Options options;
    options.placementsWriter = switchableWriter(failing);
    auto model = modelWithPhotos(1, true, options);
    const Photo a = model->photos().first();
    failing->store(false);
    ASSERT_TRUE(model->clotheslinePlacements().ensurePositions({a}, 5).ok());
    failing->store(true);
    ASSERT_TRUE(model->clotheslinePlacements().bringToFront(a).ok());
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->placementError().has_value(); }, 3000));
    EXPECT_TRUE(model->placementError()->startsWith("照片位置未保存："))
        << model->placementError()->toStdString();
    failing->store(false);
    ASSERT_TRUE(model->clotheslinePlacements().bringToFront(a).ok());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->placementError().has_value(); }, 3000));
    model.reset();

    // Another kind of text survives a successful placement write.
    writeFile(stateFile("exhibition.json"), "{broken");
    auto blocked = makeModel({}, true, options);
    ASSERT_TRUE(blocked->placementError().has_value());
    const auto exhibitionText = blocked->placementError();
    EXPECT_TRUE(blocked->exhibitionBlocked());
    ASSERT_TRUE(blocked->clotheslinePlacements().bringToFront(a).ok());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return blocked->clotheslinePlacements().deferredWriter().writeCount() > 0; }, 3000));
    QTest::qWait(20);
    EXPECT_EQ(blocked->placementError(), exhibitionText);

    // A blocked exhibition refuses selections but still lets one end.
    blocked->endSelection();
    EXPECT_FALSE(blocked->selectionMode());
}

TEST(GalleryModelSelection, ReplaceableStepsHaveSafeDefaults) {
    auto model = makeModel({});
    Photo photo;
    photo.id = "1-2";
    photo.path = "/pictures/cat.jpg";

    EXPECT_TRUE(model->authorizeTrash()({photo}));
    EXPECT_FALSE(model->requestTrashConfirmation()({photo}))
        << "nothing is deleted without a real confirmation";
    EXPECT_TRUE(model->requestPhotoCopyConfirmation()({photo}));
    EXPECT_EQ(model->photosAccessStatus()(), PhotosAuthorizationStatus::restricted);
    std::optional<PhotosAuthorizationStatus> answered;
    model->requestPhotosAccess()([&](PhotosAuthorizationStatus status) { answered = status; });
    EXPECT_FALSE(answered.has_value()) << "answered later, on the main thread";
    ASSERT_TRUE(QTest::qWaitFor([&] { return answered.has_value(); }, 2000));
    EXPECT_EQ(*answered, PhotosAuthorizationStatus::restricted);
    model->explainPhotosAccessDenied()();

    QHash<QString, QString> failed;
    QList<Photo> succeeded{photo};
    model->recycleCopiedFiles()({photo}, [&](const QList<Photo>& s, const QHash<QString, QString>& f) {
        succeeded = s;
        failed = f;
    });
    EXPECT_TRUE(succeeded.isEmpty()) << "nothing claims to be in the Trash";
    ASSERT_TRUE(failed.contains(photo.id));
    EXPECT_TRUE(failed.value(photo.id).startsWith("cat.jpg：")) << failed.value(photo.id).toStdString();
    bool trashedCalled = false;
    model->recycleDeletedPhotos()(
        {photo}, [&](const QHash<QString, QString>& trashed) { trashedCalled = trashed.isEmpty(); },
        [&](const QList<Photo>& s, const QHash<QString, QString>& f) {
            succeeded = s;
            failed = f;
        });
    EXPECT_TRUE(trashedCalled);
    EXPECT_TRUE(succeeded.isEmpty());
    EXPECT_EQ(failed.size(), 1);

    int asked = 0;
    model->setRequestTrashConfirmation([&](const QList<Photo>& photos) {
        asked += static_cast<int>(photos.size());
        return true;
    });
    model->setAuthorizeTrash([](const QList<Photo>&) { return false; });
    model->setRecycleCopiedFiles(
        [](const QList<Photo>& photos, GalleryModel::TrashCompletion completion) { completion(photos, {}); });
    EXPECT_TRUE(model->requestTrashConfirmation()({photo, photo}));
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(model->authorizeTrash()({photo}));
    model->recycleCopiedFiles()(
        {photo}, [&](const QList<Photo>& s, const QHash<QString, QString>&) { succeeded = s; });
    EXPECT_EQ(succeeded, QList<Photo>{photo});
}
