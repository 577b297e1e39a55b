#include "TrashFixture.h"

#include "platform/FreedesktopTrash.h"

using namespace vennimo;
using namespace vennimo::test;

namespace {

const QList<RopeTrashedItem>& trashItems(const RopeHistoryEntry& entry) {
    return std::get<RopeHistoryEntry::Trash>(entry.payload()).items;
}

// Runs the event loop until the import under way has ended, as its own signal tells, however
// long a loaded machine takes; the limit only keeps a broken import from hanging the suite.
bool awaitImportEnd(GalleryModel& model) {
    QEventLoop loop;
    QObject::connect(&model, &GalleryModel::importingChanged, &loop, [&] {
        if (!model.importing())
            loop.quit();
    });
    QTimer::singleShot(std::chrono::minutes(2), &loop, &QEventLoop::quit);
    if (model.importing())
        loop.exec();
    return !model.importing() &&
           QTest::qWaitFor([&] { return !model.isBusy() && !model.scanInFlight() && !model.scanning(); },
                           60000);
}

// A model over an exhibition of two imported pictures, hung at 0.2 and taken down at 0.8.
struct ExhibitionGallery {
    QString storage = makeFolder("exhibition-storage-" + QUuid::createUuid().toString(QUuid::WithoutBraces));
    std::unique_ptr<GalleryModel> model;

    explicit ExhibitionGallery(GalleryModel::Options options = {}) {
        const QStringList files{storage + "/imported-images/e1.png", storage + "/imported-images/e2.png"};
        for (const QString& file : files)
            saveImage(makeImage(30, 20), file);
        model = std::make_unique<GalleryModel>(std::make_unique<Indexer>(QList<SourceRoot>{}, storage), false,
                                               std::move(options));
        bool imported = false;
        model->importExhibition(files, 0.7, {}, true, [&](bool ok) { imported = ok; });
        if (!awaitImportEnd(*model) || !imported || model->photos().size() != 2)
            return;
        const Photo first = model->photos().first();
        const Photo second = model->photos().last();
        EXPECT_TRUE(model->moveClotheslinePhotos({{first, 0, 0.2}, {second, 0, 0.8}}));
        EXPECT_TRUE(model->setHanging({second}, false, RopeHistoryRecording::record));
        model->setRequestTrashConfirmation([](const QList<Photo>&) { return true; });
    }
    bool settle() const {
        return QTest::qWaitFor(
            [&] { return !model->isBusy() && !model->scanInFlight() && !model->scanning(); }, 60000);
    }
};

} // namespace

TEST(Trash, DeletingThreePhotosWithOneFailureRecordsTwoAndUndoPutsThemBack) {
    TrashGallery gallery({"a.png", "b.png", "c.png"});
    const Photo a = gallery.photo("a.png");
    const Photo b = gallery.photo("b.png");
    const Photo c = gallery.photo("c.png");
    ASSERT_TRUE(gallery->hangs(a) && gallery->hangs(b) && gallery->hangs(c));
    ASSERT_TRUE(gallery->moveClotheslinePhotos({{a, 0, 0.3}}));
    ASSERT_TRUE(gallery->setHanging({c}, false, RopeHistoryRecording::record));
    replaceFile(c.path, "another file under the old name");

    gallery->confirmTrash({a, b, c, a});
    ASSERT_TRUE(gallery.settle());

    ASSERT_EQ(gallery->undoHistory().size(), 2) << "the take-down of c and the delete";
    const QList<RopeTrashedItem>& items = trashItems(gallery->undoHistory().last());
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].photo, a);
    EXPECT_EQ(items[1].photo, b);
    EXPECT_EQ(items[0].x, 0.3);
    EXPECT_EQ(items[1].x, 0.5) << "no placement: the middle of the rope";
    EXPECT_TRUE(items[0].wasHanging && !items[0].wasExhibited);
    for (const RopeTrashedItem& item : items) {
        EXPECT_TRUE(item.trashURL.startsWith(trashFolder() + "/files/")) << item.trashURL.toStdString();
        EXPECT_TRUE(QFile::exists(item.trashURL));
        EXPECT_TRUE(QFile::exists(FreedesktopTrash::infoPath(item.trashURL)));
        EXPECT_FALSE(QFile::exists(item.photo.path));
    }
    const QString identityText =
        "c.png：" + replacedOriginalError().localizedDescription() + "（Vennimo.Trash 2）";
    EXPECT_EQ(gallery->actionError(), "已删除 2 张，1 张未能删除。\n" + identityText);
    EXPECT_EQ(gallery.alerts,
              QStringList{"有 1 张照片未能删除|" + identityText + "\n\n未能删除的原图与挂绳状态保持不变。"});
    EXPECT_FALSE(gallery.listed("a.png") || gallery.listed("b.png"));
    EXPECT_EQ(readFile(c.path), "another file under the old name") << "the replaced file was not touched";
    EXPECT_FALSE(gallery->lineError());

    gallery->undoRopeAction();
    ASSERT_TRUE(gallery.settle());
    EXPECT_EQ(gallery->redoHistory().size(), 1);
    EXPECT_EQ(gallery->undoHistory().size(), 1) << "the take-down stays undoable";
    for (const RopeTrashedItem& item : items) {
        EXPECT_TRUE(QFile::exists(item.photo.path));
        EXPECT_FALSE(QFile::exists(item.trashURL));
        EXPECT_FALSE(QFile::exists(FreedesktopTrash::infoPath(item.trashURL))) << "no stale Trash entry";
    }
    ASSERT_TRUE(gallery.listed("a.png") && gallery.listed("b.png"));
    EXPECT_TRUE(gallery->hangs(gallery.photo("a.png")));
    EXPECT_TRUE(gallery->hangs(gallery.photo("b.png")));
    EXPECT_EQ(gallery->clotheslinePlacements().position(gallery.photo("a.png"))->x, 0.3);
    const auto placed = gallery->clotheslinePlacements().position(gallery.photo("b.png"));
    ASSERT_TRUE(placed);
    EXPECT_EQ(placed->x, 0.5);
    EXPECT_EQ(placed->row, 0);
    EXPECT_FALSE(gallery->actionError());

    // Redo deletes them again and records the entry back on the undo side.
    gallery->redoRopeAction();
    ASSERT_TRUE(gallery.settle());
    EXPECT_FALSE(gallery.listed("a.png") || gallery.listed("b.png"));
    EXPECT_TRUE(gallery->redoHistory().isEmpty());
    EXPECT_EQ(trashItems(gallery->undoHistory().last()).size(), 2);
}

TEST(Trash, RestoreNeverReplacesAFileThatCameBackAndKeepsTheEntry) {
    TrashGallery gallery({"a.png", "b.png"});
    const Photo a = gallery.photo("a.png");
    const Photo b = gallery.photo("b.png");
    ASSERT_TRUE(gallery->setHanging({b}, false, RopeHistoryRecording::record));
    gallery->confirmTrash({a, b});
    ASSERT_TRUE(gallery.settle());
    const QList<RopeTrashedItem> items = trashItems(gallery->undoHistory().last());
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(gallery->undoHistory().size(), 1) << "the take-down of b named a deleted photo and went";
    writeFile(a.path, "a newcomer under the same name");

    gallery->undoRopeAction();
    ASSERT_TRUE(gallery.settle());
    EXPECT_EQ(readFile(a.path), "a newcomer under the same name");
    EXPECT_TRUE(QFile::exists(items[0].trashURL)) << "the photo stays in the Trash";
    EXPECT_TRUE(QFile::exists(FreedesktopTrash::infoPath(items[0].trashURL)));
    EXPECT_EQ(gallery->actionError(),
              "以下照片未能从废纸篓放回：\na.png：原位置已有同名文件，照片仍在废纸篓");
    ASSERT_EQ(gallery->undoHistory().size(), 1);
    EXPECT_EQ(trashItems(gallery->undoHistory().last()), QList<RopeTrashedItem>{items[0]})
        << "what did not come back can still be undone";
    ASSERT_EQ(gallery->redoHistory().size(), 1);
    EXPECT_TRUE(QFile::exists(b.path));
    EXPECT_FALSE(gallery->hangs(gallery.photo("b.png"))) << "taken down before the delete, so again";

    // Once the way is clear the rest comes back, and a file gone from the Trash is reported.
    QFile::remove(a.path);
    QFile::remove(items[0].trashURL);
    gallery->undoRopeAction();
    EXPECT_EQ(gallery->actionError(), "以下照片未能从废纸篓放回：\na.png：废纸篓中已找不到这张照片");
    EXPECT_EQ(gallery->undoHistory().size(), 1);
}

TEST(Trash, DeletesNothingWithoutConsentOrWhileBusy) {
    TrashGallery gallery({"a.png"});
    const Photo a = gallery.photo("a.png");
    gallery->setRequestTrashConfirmation([](const QList<Photo>&) { return false; });
    gallery->confirmTrash({a});
    gallery->setRequestTrashConfirmation([](const QList<Photo>&) { return true; });
    gallery->setAuthorizeTrash([](const QList<Photo>&) { return false; });
    gallery->confirmTrash({a});
    gallery->setAuthorizeTrash([](const QList<Photo>&) { return true; });
    gallery->setImporting(true);
    gallery->confirmTrash({a});
    int nothing = 0;
    gallery->trashSelection({a}, RopeHistoryRecording::record, [&] { ++nothing; });
    gallery->setImporting(false);
    ASSERT_TRUE(gallery.settle());
    EXPECT_TRUE(QFile::exists(a.path));
    EXPECT_EQ(nothing, 1) << "a refused delete says so";
    EXPECT_TRUE(gallery->undoHistory().isEmpty());

    // A model whose confirmation alert was never installed refuses.
    TrashGallery fresh({"x.png"});
    fresh->setRequestTrashConfirmation(
        GalleryModel(std::make_unique<Indexer>(QList<SourceRoot>{}, fresh.storage), false)
            .requestTrashConfirmation());
    fresh->confirmTrash({fresh.photo("x.png")});
    ASSERT_TRUE(fresh.settle());
    EXPECT_TRUE(QFile::exists(fresh.photo("x.png").path));
}

TEST(Trash, PhotosAssetsGoThroughTheLibraryOnceAndLeaveNoUndo) {
    auto library = std::make_shared<FakePhotosLibrary>();
    PhotosLibrary::setShared(library);
    TrashGallery gallery({"plain.png", "other.png"});
    const Photo image = assetPhoto(*library, library->addAsset("IMG_1.JPG", "jpeg"), "asset-1");
    const Photo film =
        assetPhoto(*library, library->addAsset("IMG_2.MOV", "mov", PhotosMediaType::Video), "asset-2");
    int explained = 0;
    gallery->setExplainPhotosAccessDenied([&] { ++explained; });
    QList<QList<Photo>> confirmed;
    gallery->setRequestTrashConfirmation([&](const QList<Photo>& photos) {
        confirmed.append(photos);
        return true;
    });

    // Access denied: explained, nothing asked or deleted, plain files included.
    library->setAuthorization(PhotosAuthorization::Denied);
    gallery->confirmTrash({gallery.photo("plain.png"), image});
    EXPECT_EQ(explained, 1);
    EXPECT_TRUE(confirmed.isEmpty());

    // Undetermined: the answer arrives later, on the main thread, and the delete goes on.
    ASSERT_TRUE(gallery->setHanging({gallery.photo("other.png")}, false, RopeHistoryRecording::record));
    gallery->undoRopeAction();
    ASSERT_EQ(gallery->redoHistory().size(), 1);
    library->setAuthorization(PhotosAuthorization::NotDetermined);
    gallery->confirmTrash({image, film, image});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !confirmed.isEmpty(); }, 10000));
    EXPECT_EQ(confirmed.first(), (QList<Photo>{image, film})) << "listed twice, confirmed once";
    ASSERT_TRUE(gallery.settle());
    EXPECT_EQ(library->deletionRequests(), QList<QStringList>{{*image.photosOrigin->localIdentifier}});
    EXPECT_TRUE(gallery->undoHistory().isEmpty()) << "a library deletion cannot be undone";
    EXPECT_TRUE(gallery->redoHistory().isEmpty()) << "but it ends what could be redone";
    EXPECT_TRUE(gallery->actionError()->startsWith(
        "已删除 1 张，1 张未能删除。\nIMG_2.MOV：当前系统照片图库中找不到"));
    EXPECT_EQ(gallery.alerts.size(), 1);
    EXPECT_TRUE(QFile::exists(film.path));
    PhotosLibrary::setShared(nullptr);
}

TEST(Trash, UndoTakesBackOnlyTheFileThatWentToTheTrash) {
    TrashGallery gallery({"a.png", "b.png", "c.png", "d.png", "e.png"});
    const QList<Photo> photos{gallery.photo("a.png"), gallery.photo("b.png"), gallery.photo("c.png"),
                              gallery.photo("d.png"), gallery.photo("e.png")};
    const QString elsewhere = makeFolder("elsewhere") + "/secret.png";
    saveImage(makeImage(40, 40), elsewhere);
    gallery->confirmTrash(photos);
    ASSERT_TRUE(gallery.settle());
    const QList<RopeTrashedItem> items = trashItems(gallery->undoHistory().last());
    ASSERT_EQ(items.size(), 5);
    for (const RopeTrashedItem& item : items)
        EXPECT_EQ(item.trashedSize, QFileInfo(item.trashURL).size());
    // In their places: a link to another picture, a folder, another picture, and the same bytes
    // written again later (as an editor saving over it would leave them).
    QFile::remove(items[0].trashURL);
    ASSERT_TRUE(QFile::link(elsewhere, items[0].trashURL));
    QFile::remove(items[1].trashURL);
    ASSERT_TRUE(QDir().mkpath(items[1].trashURL));
    QFile::remove(items[2].trashURL);
    saveImage(makeImage(50, 10), items[2].trashURL);
    {
        QFile rewritten(items[3].trashURL);
        ASSERT_TRUE(rewritten.open(QIODevice::ReadWrite));
        ASSERT_TRUE(rewritten.setFileTime(rewritten.fileTime(QFileDevice::FileModificationTime).addSecs(-90),
                                          QFileDevice::FileModificationTime));
    }
    ASSERT_EQ(QFileInfo(items[3].trashURL).size(), items[3].trashedSize);

    gallery->undoRopeAction();
    ASSERT_TRUE(gallery.settle());
    // The message names the first three.
    EXPECT_EQ(gallery->actionError(), "以下照片未能从废纸篓放回：\na.png：废纸篓中已找不到这张照片\n"
                                      "b.png：废纸篓中已找不到这张照片\nc.png：废纸篓中已找不到这张照片");
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(QFileInfo::exists(items[i].photo.path) || QFileInfo(items[i].photo.path).isSymLink())
            << items[i].photo.path.toStdString();
    EXPECT_TRUE(QFileInfo::exists(elsewhere));
    EXPECT_TRUE(QFile::exists(items[4].photo.path)) << "the untouched one came back";
    ASSERT_EQ(gallery->undoHistory().size(), 1);
    EXPECT_EQ(trashItems(gallery->undoHistory().last()), items.mid(0, 4)) << "the others can still be undone";
}

TEST(Trash, ExhibitionItemsLeaveTheExhibitionAndUndoImportsThemAgainInPlace) {
    ExhibitionGallery gallery;
    GalleryModel& model = *gallery.model;
    const QString storage = gallery.storage;
    ASSERT_EQ(model.photos().size(), 2);
    const Photo first = model.photos().first();
    const Photo second = model.photos().last();

    model.confirmTrash({first, second});
    ASSERT_TRUE(gallery.settle());
    EXPECT_TRUE(model.photos().isEmpty());
    EXPECT_TRUE(ExhibitionStore(storage).references().isEmpty()) << "gone from the stored exhibition too";
    const QList<RopeTrashedItem> items = trashItems(model.undoHistory().last());
    ASSERT_EQ(items.size(), 2);
    EXPECT_TRUE(items[0].wasExhibited && items[0].wasHanging && items[0].x == 0.2);
    EXPECT_TRUE(items[1].wasExhibited && !items[1].wasHanging && items[1].x == 0.8);

    model.undoRopeAction();
    ASSERT_TRUE(awaitImportEnd(model));
    ASSERT_EQ(model.photos().size(), 2);
    for (const RopeTrashedItem& item : items) {
        const std::optional<Photo> live = model.livePhoto(item.photo);
        ASSERT_TRUE(live) << item.photo.path.toStdString();
        EXPECT_TRUE(model.exhibition().contains(*live));
        EXPECT_EQ(model.hangs(*live), item.wasHanging);
        const auto placement = model.clotheslinePlacements().position(*live);
        ASSERT_TRUE(placement);
        EXPECT_EQ(placement->x, item.x);
        EXPECT_EQ(placement->row, 0);
        EXPECT_FALSE(QFile::exists(FreedesktopTrash::infoPath(item.trashURL)));
    }
    EXPECT_EQ(model.redoHistory().size(), 1);
    EXPECT_FALSE(model.actionError());
    EXPECT_EQ(ExhibitionStore(storage).references().size(), 2) << "a restart sees them exhibited";
}

TEST(Trash, TheRestoreMessageFollowsTheErrorOfTheReimport) {
    auto lineFails = std::make_shared<std::atomic<bool>>(false);
    GalleryModel::Options options;
    options.lineWriter = switchableStateWriter(lineFails);
    ExhibitionGallery gallery(std::move(options));
    GalleryModel& model = *gallery.model;
    ASSERT_EQ(model.photos().size(), 2);
    // Take-downs that cannot be saved stay pending, and the re-import must save them first.
    lineFails->store(true);
    model.confirmTrash(model.photos());
    ASSERT_TRUE(gallery.settle());
    const QList<RopeTrashedItem> items = trashItems(model.undoHistory().last());
    ASSERT_EQ(items.size(), 2);
    QFile::remove(items[1].trashURL);

    model.undoRopeAction();
    ASSERT_TRUE(awaitImportEnd(model));
    EXPECT_EQ(model.actionError(), "未能挂上照片：" + errnoMessage(ENOSPC) +
                                       "\n以下照片未能从废纸篓放回：\n" + items[1].photo.name() +
                                       "：废纸篓中已找不到这张照片");
}

TEST(Trash, AnUnsavedTakeDownWaitsAndIsWrittenWithTheNextLineChange) {
    auto lineFails = std::make_shared<std::atomic<bool>>(false);
    GalleryModel::Options options;
    options.lineWriter = switchableStateWriter(lineFails);
    TrashGallery gallery({"a.png", "b.png"}, std::move(options));
    const Photo a = gallery.photo("a.png");
    lineFails->store(true);
    gallery->confirmTrash({a});
    ASSERT_TRUE(gallery.settle());
    EXPECT_EQ(gallery->lineError(),
              QString::fromUtf8(GalleryModel::kTrashTakeDownUnsavedPrefix) + errnoMessage(ENOSPC));
    EXPECT_TRUE(gallery->awaitsTrashTakeDown(a));
    EXPECT_FALSE(gallery->hangs(a));
    EXPECT_EQ(gallery->undoHistory().size(), 1) << "the delete itself happened";

    lineFails->store(false);
    ASSERT_TRUE(gallery->setHanging({gallery.photo("b.png")}, false, RopeHistoryRecording::record));
    EXPECT_TRUE(gallery->pendingTrashTakeDown().isEmpty());
    EXPECT_FALSE(gallery->lineError());
    EXPECT_TRUE(gallery->lineHistory().isUsed(a)) << "written with the next change of the line";
}
