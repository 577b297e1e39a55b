#include "TrashFixture.h"

#include "core/PhotoIdentity.h"
#include "model/PhotosDeletion.h"
#include "model/TrashWorkers.h"

#include <QThread>

using namespace vennimo;
using namespace vennimo::test;

namespace {

struct Outcome {
    QList<Photo> succeeded;
    QHash<QString, QString> failed;
    std::optional<QHash<QString, QString>> trashed;
    std::atomic<int> completions{0};

    TrashCompletion sink() {
        return [this](const QList<Photo>& done, const QHash<QString, QString>& failures) {
            succeeded = done;
            failed = failures;
            ++completions;
        };
    }
};

// A recycler that moves only the paths it is told to, and reports the error given for the others.
FileRecycler partialRecycler(QStringList* asked, const QSet<QString>& moving, std::optional<Error> error) {
    return [asked, moving, error](const QStringList& paths, const auto& done) {
        *asked += paths;
        QHash<QString, QString> moved;
        QHash<QString, Error> errors;
        for (const QString& path : paths) {
            if (moving.contains(QFileInfo(path).fileName()))
                moved.insert(path, "/trash/" + QFileInfo(path).fileName());
            else if (error)
                errors.insert(path, *error);
        }
        done(moved, errors);
    };
}

} // namespace

TEST(TrashWorkers, FilesAreCheckedOnceAndOnlyConfirmedMovesSucceed) {
    const Photo a = photoFileNamed("a.png", "bytes of a.png");
    const Photo b = photoFileNamed("b.png", "bytes of b.png");
    Photo replaced = photoFileNamed("r.png", "bytes of r.png");
    replaceFile(replaced.path, "other");
    Photo asset = photoFileNamed("asset.png", "bytes of asset.png");
    asset.photosOrigin = PhotosOrigin{"X/L0/001", "/lib.photoslibrary"};
    // The replaced file's number may be handed out again; an asset is refused before any check.
    asset.id = "asset";
    asset.usageID = asset.id;
    Error denied = Error::fromErrno(EACCES, b.path);

    struct Case {
        const char* name;
        QList<Photo> photos;
        QSet<QString> moving;
        std::optional<Error> error;
        QStringList asked;
        QStringList succeeded;
        QHash<QString, QString> failed;
        bool trashedCalled;
    };
    const QString unconfirmed = "b.png：系统未确认已移到废纸篓，请检查原图后重试。（Vennimo.Trash 3）";
    const QList<Case> cases{
        {"duplicates are moved once",
         {a, a, b},
         {"a.png", "b.png"},
         {},
         {a.path, b.path},
         {a.id, b.id},
         {},
         true},
        {"an unreported move fails with code 3",
         {a, b},
         {"a.png"},
         {},
         {a.path, b.path},
         {a.id},
         {{b.id, unconfirmed}},
         true},
        {"a reported error names the rest",
         {a, b},
         {"a.png"},
         denied,
         {a.path, b.path},
         {a.id},
         {{b.id, trashFailure(b, denied)}},
         true},
        {"checks fail before the recycler",
         {replaced, asset},
         {},
         {},
         {},
         {},
         {{replaced.id, "r.png：" + replacedOriginalError().localizedDescription() + "（Vennimo.Trash 2）"},
          {asset.id,
           "asset.png：照片图库内的文件只能通过照片.app 删除，不能移到废纸篓。（Vennimo.Photos 1）"}},
         false},
    };
    for (const Case& c : cases) {
        QStringList asked;
        Outcome out;
        recycleFilePhotos(
            c.photos, partialRecycler(&asked, c.moving, c.error),
            [&](const QHash<QString, QString>& trashed) { out.trashed = trashed; }, out.sink());
        QStringList ids;
        for (const Photo& photo : out.succeeded)
            ids.append(photo.id);
        EXPECT_EQ(asked, c.asked) << c.name;
        EXPECT_EQ(ids, c.succeeded) << c.name;
        EXPECT_EQ(out.failed, c.failed) << c.name;
        EXPECT_EQ(out.trashed.has_value(), c.trashedCalled) << c.name;
        EXPECT_EQ(out.completions.load(), 1) << c.name;
    }
}

TEST(TrashWorkers, EachFileThatStaysReportsItsOwnError) {
    const Photo a = photoFileNamed("a.png", "bytes of a.png");
    const Photo b = photoFileNamed("b.png", "bytes of b.png");
    const Photo c = photoFileNamed("c.png", "bytes of c.png");
    const Error denied = Error::fromErrno(EACCES, a.path);
    const Error busy = Error::fromErrno(EBUSY, b.path);
    Outcome out;
    recycleFilePhotos(
        {a, b, c},
        [&](const QStringList&, const auto& done) {
            done(QHash<QString, QString>{{c.path, "/trash/c.png"}},
                 QHash<QString, Error>{{a.path, denied}, {b.path, busy}});
        },
        {}, out.sink());
    EXPECT_EQ(out.succeeded, QList<Photo>{c});
    EXPECT_EQ(out.failed,
              (QHash<QString, QString>{{a.id, trashFailure(a, denied)}, {b.id, trashFailure(b, busy)}}));

    // The desktop's Trash names what stopped each file.
    const QString gone = makeFolder("recycled") + "/gone.png";
    const QString underAFile = a.path + "/inside.png";
    QHash<QString, Error> errors;
    freedesktopRecycler()({gone, underAFile},
                          [&](const QHash<QString, QString>& moved, const QHash<QString, Error>& reported) {
                              EXPECT_TRUE(moved.isEmpty());
                              errors = reported;
                          });
    ASSERT_EQ(errors.size(), 2);
    EXPECT_TRUE(errors.value(gone).failureReason.contains(gone));
    EXPECT_TRUE(errors.value(underAFile).failureReason.contains(underAFile));
}

TEST(TrashWorkers, FailureTextsAddOnlyWhatTheDescriptionLacks) {
    Photo photo;
    photo.path = "/x/photo.png";
    Error error = Error::make("POSIX", 13, "没有权限。");
    error.failureReason = "没有权限";
    error.recoverySuggestion = "请检查权限。";
    EXPECT_EQ(trashFailure(photo, error), "photo.png：没有权限。\n请检查权限。（POSIX 13）");
    error.failureReason = "文件被锁定";
    EXPECT_EQ(trashFailure(photo, error), "photo.png：没有权限。\n文件被锁定\n请检查权限。（POSIX 13）");
}

TEST(TrashWorkers, TheRealTrashGetsTheFilesAndAssetsGoToTheLibraryFirst) {
    const Photo a = photoFileNamed("a.png", "bytes of a.png");
    FakePhotosLibrary library;
    const QString id = library.addAsset("IMG_1.HEIC", "heic bytes");
    const Photo asset = assetPhoto(library, id, "asset-1");
    QStringList order;
    Outcome out;
    recyclePhotos(
        {asset, a, asset}, freedesktopRecycler(),
        [&](const QList<Photo>& assets, TrashCompletion done) {
            order.append("assets");
            PhotosDeletion::deletePhotos(assets, done,
                                         std::shared_ptr<PhotosLibrary>(&library, [](auto*) {}));
        },
        [&](const QHash<QString, QString>& trashed) {
            order.append("trashed");
            out.trashed = trashed;
        },
        [&](const QList<Photo>& succeeded, const QHash<QString, QString>& failed) {
            order.append("completion");
            out.succeeded = succeeded;
            out.failed = failed;
        });
    EXPECT_EQ(order, (QStringList{"assets", "trashed", "completion"}));
    EXPECT_EQ(out.succeeded, (QList<Photo>{asset, a}));
    EXPECT_TRUE(out.failed.isEmpty());
    ASSERT_TRUE(out.trashed && out.trashed->contains(a.path));
    const QString inTrash = out.trashed->value(a.path);
    EXPECT_EQ(inTrash, trashFolder() + "/files/a.png");
    EXPECT_EQ(readFile(inTrash), "bytes of a.png");
    const QByteArray info = readFile(trashFolder() + "/info/a.png.trashinfo");
    EXPECT_TRUE(info.contains("Path=" + QUrl::toPercentEncoding(a.path, "/"))) << info.toStdString();
    EXPECT_EQ(library.deletionRequests(), QList<QStringList>{{id}});
}

TEST(PhotosDeletion, AssetsAreVerifiedAgainstTheirLibraryAndDeletedOnce) {
    auto library = std::make_shared<FakePhotosLibrary>();
    FakePhotosLibrary other("Other");
    const QString image = library->addAsset("IMG_1.JPG", "jpeg");
    const QString video = library->addAsset("IMG_2.MOV", "mov", PhotosMediaType::Video);
    const QString moved = library->addAsset("IMG_3.JPG", "jpeg");
    library->setFullSizeImagePath(moved, other.path() + "/originals/IMG_3.JPG");
    const Photo first = assetPhoto(*library, image, "p1");
    const Photo second = assetPhoto(*library, image, "p2");
    const Photo film = assetPhoto(*library, video, "p3");
    const Photo elsewhere = assetPhoto(*library, moved, "p4");
    Photo bare = first;
    bare.id = "p5";
    bare.photosOrigin->libraryPath.reset();
    const QString notFound = "当前系统照片图库中找不到这张原片，未删除。若原片在其他图库，请在照片 App "
                             "中打开对应图库并删除。（Vennimo.Photos 1）";

    Outcome out;
    PhotosDeletion::deletePhotos({first, second, film, elsewhere, bare}, out.sink(), library);
    EXPECT_EQ(out.completions.load(), 1);
    EXPECT_EQ(out.succeeded, (QList<Photo>{first, second})) << "one asset named twice";
    EXPECT_EQ(library->deletionRequests(), QList<QStringList>{{image}});
    EXPECT_EQ(out.failed.value("p3"), "IMG_2.MOV：" + notFound) << "a video is no photo";
    EXPECT_EQ(out.failed.value("p4"), "IMG_3.JPG：无法确认这张原片属于导入时的图库，未删除。请在照片 App "
                                      "中打开原片所在的图库并删除。（Vennimo.Photos 1）");
    EXPECT_EQ(out.failed.value("p5"),
              "IMG_1.JPG：无法确认照片 App 原片，未删除。请从照片 App 重新拖入。（Vennimo.Photos 1）");
    EXPECT_TRUE(QFile::exists(library->path() + "/recently-deleted/IMG_1.JPG"));
}

TEST(PhotosDeletion, AccessIsAskedWhenUndeterminedAndItsRefusalFailsEveryAsset) {
    const QString access =
        "IMG_1.JPG：没有照片图库权限。请在系统设置 › 隐私与安全性 › 照片中允许。（Vennimo.Photos 1）";
    struct Case {
        PhotosAuthorization status;
        PhotosAuthorization answer;
        bool deleted;
        int requests;
    };
    for (const Case& c : {Case{PhotosAuthorization::NotDetermined, PhotosAuthorization::Authorized, true, 1},
                          Case{PhotosAuthorization::NotDetermined, PhotosAuthorization::Denied, false, 1},
                          Case{PhotosAuthorization::Denied, PhotosAuthorization::Authorized, false, 0},
                          Case{PhotosAuthorization::Limited, PhotosAuthorization::Denied, true, 0}}) {
        auto library = std::make_shared<FakePhotosLibrary>("L" + QString::number(int(c.status)) +
                                                           QString::number(int(c.answer)));
        library->setAuthorization(c.status);
        library->setRequestAnswer(c.answer);
        const Photo photo = assetPhoto(*library, library->addAsset("IMG_1.JPG", "jpeg"), "p1");
        Outcome out;
        PhotosDeletion::deletePhotos({photo}, out.sink(), library);
        ASSERT_TRUE(QTest::qWaitFor([&] { return out.completions.load() == 1; }, 10000));
        EXPECT_EQ(out.succeeded.size(), c.deleted ? 1 : 0);
        EXPECT_EQ(out.failed.value("p1"), c.deleted ? QString() : access);
        EXPECT_EQ(library->authorizationRequests(), c.requests);
    }
}

TEST(PhotosDeletion, AFailedRequestFailsTheVerifiedPhotos) {
    auto library = std::make_shared<FakePhotosLibrary>();
    const Photo photo = assetPhoto(*library, library->addAsset("IMG_1.JPG", "jpeg"), "p1");
    library->failNextDeletion(Error::make("PHPhotosErrorDomain", 3072, "用户取消了删除。"));
    Outcome out;
    PhotosDeletion::deletePhotos({photo}, out.sink(), library);
    EXPECT_TRUE(out.succeeded.isEmpty());
    EXPECT_EQ(out.failed.value("p1"), "IMG_1.JPG：用户取消了删除。（PHPhotosErrorDomain 3072）");
    EXPECT_TRUE(QFile::exists(photo.path));
}
