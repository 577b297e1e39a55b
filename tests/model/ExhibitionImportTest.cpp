#include "RopeModelFixture.h"
#include "core/ExhibitionJournal.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QImageWriter>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace vennimo;
using namespace vennimo::test;
using namespace Qt::StringLiterals;
using Source = ExternalImageDrop::Source;

namespace {

constexpr double kSpacing = 0.12;

// A JPEG of its own bytes in a folder of dropped files.
QString droppedImage(const QString& name, QColor color) {
    static const QString folder = makeFolder("dropped");
    const QString path = folder + "/" + name;
    saveImage(makeImage(40, 30, color), path);
    return path;
}

ExternalImageDrop::Snapshot dropOf(const QList<QList<Source>>& items) {
    ExternalImageDrop::Snapshot snapshot;
    snapshot.items = items;
    return snapshot;
}

// Runs one import to its completion; answers what the completion got, nothing on time-out.
std::optional<bool> waitForImport(const std::function<void(GalleryModel::ImportCompletion)>& start) {
    std::optional<bool> result;
    start([&result](bool imported) { result = imported; });
    if (!QTest::qWaitFor([&] { return result.has_value(); }, 10000))
        return std::nullopt;
    return result;
}

std::optional<bool> drop(GalleryModel& model, const QList<QList<Source>>& items, double x) {
    return waitForImport([&](auto done) { model.importExhibitionDrop(dropOf(items), x, std::move(done)); });
}

QList<Photo> arrivals(const GalleryModel& model) {
    QList<Photo> found;
    for (const Photo& photo : model.photos())
        if (model.latestArrivalIDs().contains(photo.id))
            found.append(photo);
    return found;
}

QList<double> ropeXs(GalleryModel& model, const QList<Photo>& photos) {
    QList<double> xs;
    for (const Photo& photo : photos) {
        const auto placement = model.clotheslinePlacements().position(photo);
        xs.append(placement ? placement->x : -1);
    }
    std::sort(xs.begin(), xs.end());
    return xs;
}

// Every file the imports keep beside the state files: saved images and exhibition thumbnails.
QSet<QString> importedFiles(const QString& storage) {
    QStringList folders = ExternalImageDrop::importFolders(storage);
    folders << storage + "/" + kExhibitionThumbnailFolder;
    QSet<QString> files;
    for (const QString& folder : folders)
        for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files))
            files.insert(info.canonicalFilePath());
    return files;
}

// A camera-sized JPEG, grainy so that drawing it reads it for a while; `index` gives each one
// bytes of its own through a comment after the start marker.
QByteArray grainyPhoto(int index) {
    static const QByteArray grain = [] {
        QImage image(4000, 3000, QImage::Format_RGB32);
        quint32 state = 7;
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                state = state * 1664525u + 1013904223u;
                line[x] =
                    qRgb(int(state >> 24), int((y + (state >> 16)) & 255), int((x + (state >> 8)) & 255));
            }
        }
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter(&buffer, "jpeg").write(image);
        return bytes;
    }();
    const QByteArray text = "photo " + QByteArray::number(index);
    const QByteArray comment = QByteArray("\xFF\xFE\x00", 3) + char(text.size() + 2) + text;
    return grain.left(2) + comment + grain.mid(2);
}

} // namespace

TEST(ExhibitionImport, ADropHangsItsPrintsSideBySideAtTheDropPositionAsArrivals) {
    const QString red = droppedImage("red.jpg", Qt::red), blue = droppedImage("blue.jpg", Qt::blue);
    // Two prints stand 0.12 apart; the pair never leaves the rope.
    for (const auto& [x, first] : {std::pair{0.3, 0.3}, {0.95, 1.0 - kSpacing}, {-0.3, 0.0}}) {
        SCOPED_TRACE(testing::Message() << "dropped at " << x);
        RopeModel model(2);
        const int revision = model->arrivalRevision();
        QList<bool> importing;
        QObject::connect(model.model.get(), &GalleryModel::importingChanged,
                         [&] { importing.append(model->importing()); });
        ASSERT_EQ(drop(*model, {{Source::file(red, true)}, {Source::file(blue, true)}}, x), true);

        EXPECT_EQ(importing, (QList<bool>{true, false})) << "importing must hold from the drop to the commit";
        EXPECT_EQ(model->arrivalRevision(), revision + 1);
        const QList<Photo> hung = arrivals(*model);
        ASSERT_EQ(hung.size(), 2);
        for (const Photo& photo : hung) {
            EXPECT_TRUE(model->hangs(photo)) << photo.path.toStdString();
            EXPECT_TRUE(photo.path.startsWith(model.storage + "/imported-images/"))
                << photo.path.toStdString();
            // Drawn while the drop checked the file, the thumbnail is the one the index draws.
            const QString drawn = makeFolder("drawn") + "/" + photo.id + ".jpg";
            Indexer::makeThumbnail(photo.path, drawn);
            EXPECT_EQ(readFile(photo.thumbnail), readFile(drawn)) << photo.thumbnail.toStdString();
        }
        const QList<double> xs = ropeXs(*model, hung);
        EXPECT_DOUBLE_EQ(xs[0], first);
        EXPECT_DOUBLE_EQ(xs[1], first + kSpacing);
        EXPECT_EQ(model->photos().size(), 4) << "the earlier prints stay";
        EXPECT_FALSE(model->actionError());
        EXPECT_EQ(model->exhibition().references().size(), 2) << "the model holds the stores as written";
    }
}

TEST(ExhibitionImport, ReportsWhatCouldNotHang) {
    const QString good = droppedImage("good.jpg", Qt::green);
    const QString missing = makeFolder("gone") + "/missing.jpg";
    const Source junk = Source::fromBytes("plain words, no picture");
    struct Case {
        const char* name;
        std::function<std::optional<bool>(GalleryModel&)> run;
        bool imported;
        int hanging;
        QString message;
    };
    const QList<Case> cases{
        {"a drop item gives no file",
         [&](GalleryModel& m) {
             return drop(m, {{Source::file(good, true)}, {junk}}, 0.5);
         },
         true, 1, u"已挂上可读取的图片，另有 1 项未能导入。来源提供的内容不是可读取的图片。"_s},
        {"no drop item gives a file", [&](GalleryModel& m) { return drop(m, {{junk}}, 0.5); }, false, 0,
         u"未能挂上图片：来源提供的内容不是可读取的图片。"_s},
        {"a file cannot be read",
         [&](GalleryModel& m) {
             return waitForImport([&](auto done) {
                 m.importExhibition({good, missing}, 0.5, {}, false, done);
             });
         },
         true, 1, u"已挂上 1 张，1 项无法读取或重复。"_s},
        {"copies need every file",
         [&](GalleryModel& m) {
             return waitForImport([&](auto done) {
                 m.importExhibition({good, missing}, 0.5, {}, true, done);
             });
         },
         false, 0, u"未能挂上照片：未能挂上：请拖入可读取的照片文件。"_s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RopeModel model(0);
        EXPECT_EQ(c.run(*model), c.imported);
        EXPECT_EQ(model->actionError(), c.message);
        EXPECT_EQ(model->exhibition().references().size(), c.hanging);
        EXPECT_FALSE(model->importing());
        EXPECT_FALSE(model->exhibitionBlocked());
    }
}

TEST(ExhibitionImport, TheSameBytesHangOnce) {
    RopeModel model(0);
    const QString image = droppedImage("twice.jpg", Qt::yellow);
    const QByteArray bytes = readFile(image);
    ASSERT_EQ(drop(*model, {{Source::fromBytes(bytes)}, {Source::file(image, true)}}, 0.2), true);
    EXPECT_EQ(model->exhibition().references().size(), 1);
    EXPECT_FALSE(model->actionError()) << "one file was given, one hangs";
    // Again in a later drop: the saved file is found by its content and keeps its item.
    const Photo first = model->exhibition().references().begin()->photo;
    ASSERT_EQ(drop(*model, {{Source::fromBytes(bytes)}}, 0.7), true);
    ASSERT_EQ(model->exhibition().references().size(), 1);
    EXPECT_EQ(model->exhibition().references().begin()->photo.added, first.added);
    EXPECT_EQ(importedFiles(model.storage).size(), 2) << "one image and its thumbnail";

    // Two names of one file: one item, and the second name is reported.
    const QString link = makeFolder("links") + "/second-name.jpg";
    ASSERT_EQ(::link(QFile::encodeName(first.path).constData(), QFile::encodeName(link).constData()), 0);
    ASSERT_EQ(waitForImport([&](auto done) {
                  model->importExhibition({first.path, link}, 0.4, {}, false, done);
              }),
              true);
    EXPECT_EQ(model->exhibition().references().size(), 1);
    EXPECT_EQ(model->actionError(), u"已挂上 1 张，1 项无法读取或重复。"_s);
}

TEST(ExhibitionImport, QuitIsRefusedWhileImportingAndOtherActionsWait) {
    RopeModel model(1);
    const QString image = droppedImage("slow.jpg", Qt::magenta);
    std::optional<bool> result;
    {
        QueueGate gate(model->queue());
        model->importExhibitionDrop(dropOf({{Source::file(image, true)}}), 0.5,
                                    [&](bool imported) { result = imported; });
        EXPECT_TRUE(model->importing());
        EXPECT_EQ(model->terminationBlockReason(), u"正在保存照片"_s);
        std::optional<bool> second;
        model->importExhibition({image}, 0.1, {}, false, [&](bool imported) { second = imported; });
        EXPECT_EQ(second, false) << "a second import while one runs";
        EXPECT_FALSE(model->setHanging(model.photos, false, RopeHistoryRecording::untracked));
        QTest::qWait(20);
        EXPECT_TRUE(model->importing());
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 10000));
    EXPECT_EQ(result, true);
    EXPECT_FALSE(model->terminationBlockReason());
}

TEST(ExhibitionImport, ADropThatGaveNothingSaysSoAndACancelledDropHangsWhatItSaved) {
    RopeModel model(1);
    std::optional<bool> nothing;
    model->importExhibitionDrop({}, 0.5, [&](bool imported) { nothing = imported; });
    EXPECT_EQ(nothing, false);
    EXPECT_FALSE(model->importing());
    EXPECT_EQ(model->actionError(), u"未能挂上图片：来源应用没有提供可读取的图片。"_s);
    EXPECT_FALSE(model->cancelExhibitionDrop()) << "no drop runs";

    // A server that takes the connection and never answers.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    const QUrl url(u"http://127.0.0.1:%1/a.png"_s.arg(silent.serverPort()));
    std::optional<bool> result;
    model->importExhibitionDrop(dropOf({{Source::file(droppedImage("kept-on-quit.jpg", Qt::darkGreen), true)},
                                        {Source::remote(url)},
                                        {Source::remote(url)}}),
                                0.5, [&](bool imported) { result = imported; });
    ASSERT_TRUE(model->importing());
    // Cancelled once both downloads are waiting and the file item is saved: an item not begun by
    // then would not be saved at all.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            while (silent.hasPendingConnections())
                silent.nextPendingConnection()->setParent(&silent);
            return silent.findChildren<QTcpSocket*>().size() >= 2 &&
                   !QDir(ExternalImageDrop::importFolder(model.storage)).entryList(QDir::Files).isEmpty();
        },
        20000));
    EXPECT_TRUE(model->cancelExhibitionDrop());
    ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 20000));
    EXPECT_EQ(result, true) << "what was saved is hung";
    EXPECT_FALSE(model->importing());
    EXPECT_FALSE(model->terminationBlockReason());
    EXPECT_EQ(model->exhibition().references().size(), 1);
    EXPECT_EQ(model->actionError(), u"已挂上可读取的图片，另有 2 项未能导入。"_s +
                                        ExternalImageDrop::cancelledError().localizedDescription());
}

TEST(ExhibitionImport, ACancelledDropOfLocalPhotosBeginsNoFurtherOneAndHangsTheBegunOnes) {
    RopeModel model(1);
    // A copy saved into the storage folder first, then photos hung where they lie.
    QList<QList<Source>> items{{Source::file(droppedImage("copied-first.jpg", Qt::yellow), true)}};
    QHash<QString, QByteArray> originals;
    for (int i = 0; i < 40; ++i) {
        const QString path = droppedImage(QString("camera-%1.jpg").arg(i), QColor(6 * i, 90, 200 - 4 * i));
        originals.insert(path, readFile(path));
        items.append({Source::file(path, false)});
    }
    // Each thumbnail waits until the test lets it go, so the cancel lands while the first ones run.
    std::atomic<int> begun = 0;
    QSemaphore go;
    model->indexer().setThumbnailRenderer([&](const QString& source, const QString& target) {
        ++begun;
        go.acquire();
        Indexer::makeThumbnail(source, target);
    });
    std::optional<bool> result;
    model->importExhibitionDrop(dropOf(items), 0.5, [&](bool imported) { result = imported; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return begun > 0; }, 10000));
    QTest::qWait(100);
    EXPECT_TRUE(model->cancelExhibitionDrop());
    go.release(1000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 10000));
    EXPECT_EQ(result, true) << "what was begun is hung";
    EXPECT_FALSE(model->importing());
    EXPECT_FALSE(model->cancelExhibitionDrop()) << "the drop is over";
    EXPECT_LE(begun.load(), std::max(1, QThread::idealThreadCount())) << "photos were begun after the cancel";
    EXPECT_EQ(model->exhibition().references().size(), begun.load());
    bool copyHangs = false;
    for (const ExhibitionReference& reference : model->exhibition().references())
        copyHangs = copyHangs || reference.photo.path.startsWith(model.storage + "/");
    EXPECT_TRUE(copyHangs) << "the file saved before the cancel is hung";
    EXPECT_EQ(importedFiles(model.storage).size(), begun.load() + 1)
        << "a thumbnail for each hung photo and the copy";
    for (const QString& folder :
         {ExternalImageDrop::importFolder(model.storage), model.storage + "/" + kExhibitionThumbnailFolder})
        EXPECT_TRUE(QDir(folder).entryList({".*"}, QDir::Files | QDir::Hidden).isEmpty()) << "half-written";
    for (auto it = originals.cbegin(); it != originals.cend(); ++it)
        EXPECT_EQ(readFile(it.key()), it.value()) << "an original changed";
}

TEST(ExhibitionImport, ACancelledDropOfLocalPhotosStopsTheThumbnailsUnderWay) {
    RopeModel model(1);
    const QString photos = makeFolder("local-photos");
    QList<QList<Source>> items;
    QHash<QString, QByteArray> originals;
    for (int i = 0; i < 3; ++i) {
        const QString path = photos + QString("/DSC_%1.jpg").arg(i);
        writeFile(path, grainyPhoto(100 + i));
        originals.insert(path, readFile(path));
        items.append({Source::file(path, false)});
    }
    // Cancels the drop from another thread the moment one of its photos is being read, with
    // most of its bytes still to come: a thumbnail is under way.
    std::atomic<bool> done = false;
    std::atomic<bool> cancelled = false;
    std::thread watcher([&] {
        const QDir descriptors("/proc/self/fd");
        QDeadlineTimer patience(60000);
        while (!done && !cancelled && !patience.hasExpired()) {
            for (const QString& name :
                 descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
                const QString target = QFileInfo(descriptors.filePath(name)).symLinkTarget();
                if (!originals.contains(target))
                    continue;
                QFile info("/proc/self/fdinfo/" + name);
                if (!info.open(QIODevice::ReadOnly))
                    continue;
                const QByteArray position = info.readLine().trimmed();
                const qint64 at = position.startsWith("pos:") ? position.mid(4).trimmed().toLongLong() : 0;
                if (at > 0 && at < originals.value(target).size() / 2) {
                    model->cancelExhibitionDrop();
                    cancelled = true;
                    break;
                }
            }
            QThread::usleep(200);
        }
    });
    std::optional<bool> result;
    model->importExhibitionDrop(dropOf(items), 0.5, [&](bool imported) { result = imported; });
    const bool ended = QTest::qWaitFor([&] { return result.has_value(); }, 60000);
    done = true;
    watcher.join();
    ASSERT_TRUE(ended);
    ASSERT_TRUE(cancelled) << "no photo was seen being read";
    EXPECT_EQ(result, false) << "a thumbnail under way at the cancel was drawn to its end";
    EXPECT_TRUE(model->exhibition().references().isEmpty());
    const QString thumbnails = model.storage + "/" + kExhibitionThumbnailFolder;
    EXPECT_TRUE(QDir(thumbnails).entryList(QDir::Files | QDir::Hidden).isEmpty())
        << QDir(thumbnails).entryList(QDir::Files | QDir::Hidden).join(", ").toStdString();
    for (auto it = originals.cbegin(); it != originals.cend(); ++it)
        EXPECT_EQ(readFile(it.key()), it.value()) << "an original changed";
}

TEST(ExhibitionImport, ACancelledDropOfCopiedPhotosStopsTheChecksUnderWayAndNamesOnlyWholeCopies) {
    // Saving looks at the cancel through the seam, and a check at every read of its picture: a
    // thread that looked this often is drawing a camera photo.
    constexpr int kLooksWhileDrawing = 50;
    struct Looks {
        std::mutex mutex;
        GalleryModel* model = nullptr;
        QString folder;
        QHash<Qt::HANDLE, int> before;
        QHash<Qt::HANDLE, int> after;
        bool cancelled = false;
    };
    const auto looks = std::make_shared<Looks>();
    const auto named = [looks] { return !QDir(looks->folder).entryList(QDir::Files).isEmpty(); };
    ExternalImageDrop::ImportOptions options;
    options.cancelLook = [looks, named] {
        std::unique_lock lock(looks->mutex);
        const Qt::HANDLE thread = QThread::currentThreadId();
        if (looks->cancelled) {
            ++looks->after[thread];
            return;
        }
        if (++looks->before[thread] < kLooksWhileDrawing)
            return;
        // The camera photos wait in their drawing until the small copy has its name; then the
        // first to read on cancels the drop.
        lock.unlock();
        QDeadlineTimer patience(30000);
        while (!named() && !patience.hasExpired())
            QThread::msleep(2);
        lock.lock();
        if (looks->cancelled) {
            ++looks->after[thread];
            return;
        }
        QMetaObject::invokeMethod(
            looks->model, [model = looks->model] { model->cancelExhibitionDrop(); },
            Qt::BlockingQueuedConnection);
        looks->cancelled = true;
        ++looks->after[thread];
    };
    RopeModel model(1, std::chrono::milliseconds(10), options);
    looks->model = model.model.get();
    looks->folder = ExternalImageDrop::importFolder(model.storage);

    // Dropped from a temporary folder, so every photo is copied in; a small one first.
    QList<QList<Source>> items{{Source::file(droppedImage("small-copy.jpg", Qt::magenta), true)}};
    QSet<QByteArray> originals{readFile(items[0][0].path)};
    const QString photos = makeFolder("camera-photos");
    for (int i = 0; i < 10; ++i) {
        const QString path = photos + QString("/IMG_%1.jpg").arg(i);
        writeFile(path, grainyPhoto(i));
        originals.insert(readFile(path));
        items.append({Source::file(path, true)});
    }
    std::optional<bool> result;
    model->importExhibitionDrop(dropOf(items), 0.5, [&](bool imported) { result = imported; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 60000));
    {
        const std::lock_guard lock(looks->mutex);
        ASSERT_TRUE(looks->cancelled) << "no check looked at the cancel while it drew its photo";
        // A check that was drawing looks once to find the cancel, reads at most once more, and
        // looks at the end of the drawing and of the check. One still reading the header may
        // ask each image format in vain.
        for (auto it = looks->after.cbegin(); it != looks->after.cend(); ++it)
            EXPECT_TRUE(looks->before.value(it.key()) < kLooksWhileDrawing || it.value() <= 4)
                << "a check read on after the cancel: " << it.value() << " looks";
    }
    EXPECT_EQ(result, true) << "the copy named before the cancel is hung";
    EXPECT_FALSE(model->importing());
    for (const QString& folder : {looks->folder, model.storage + "/" + kExhibitionThumbnailFolder})
        EXPECT_TRUE(QDir(folder).entryList({".*"}, QDir::Files | QDir::Hidden).isEmpty()) << "half-written";
    const QStringList copies = QDir(looks->folder).entryList(QDir::Files);
    EXPECT_GE(copies.size(), 1);
    EXPECT_LT(copies.size(), items.size()) << "a check under way at the cancel named its copy";
    QSet<QString> hung;
    for (const ExhibitionReference& reference : model->exhibition().references())
        hung.insert(reference.photo.path);
    EXPECT_EQ(hung.size(), copies.size());
    for (const QString& name : copies) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray bytes = readFile(looks->folder + "/" + name);
        EXPECT_EQ(name,
                  "导入图片-" + QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex() + ".jpg");
        EXPECT_TRUE(originals.contains(bytes)) << "a named copy is not whole";
        EXPECT_TRUE(hung.contains(QFileInfo(looks->folder + "/" + name).canonicalFilePath()) ||
                    hung.contains(looks->folder + "/" + name))
            << "a named copy does not hang";
    }
    EXPECT_EQ(model->actionError(),
              u"已挂上可读取的图片，另有 %1 项未能导入。"_s.arg(items.size() - copies.size()) +
                  ExternalImageDrop::cancelledError().localizedDescription());
}

TEST(ExhibitionImport, AJournalLeftBehindIsNeverOverwritten) {
    const QString image = droppedImage("kept.jpg", Qt::cyan);
    const QByteArray leftover = ExhibitionJournal::encode({{"exhibition.json", "{}"}});
    {
        SCOPED_TRACE("a journal that appeared after the start");
        RopeModel model(1);
        const QString journal = ExhibitionJournal::path(model.storage);
        writeFile(journal, leftover);
        EXPECT_TRUE(model->journalWriteRefusal());
        EXPECT_EQ(drop(*model, {{Source::file(image, true)}}, 0.5), false);
        EXPECT_EQ(readFile(journal), leftover);
        EXPECT_TRUE(model->exhibitionBlocked());
        EXPECT_EQ(model->actionError(), QString::fromUtf8(GalleryModel::kExhibitionPendingText));
        EXPECT_TRUE(model->exhibition().references().isEmpty());
        EXPECT_EQ(drop(*model, {{Source::file(image, true)}}, 0.5), false) << "blocked until restart";

        // The store refuses on its own as well, whoever calls it.
        const auto prepared = model->exhibition().prepare({image}, {});
        const Status committed =
            model->exhibition().commit(prepared, 0.5, model->lineHistory(), model->clotheslinePlacements());
        ASSERT_FALSE(committed);
        EXPECT_EQ(committed.error().localizedDescription(), u"上次的展览保存尚未完成，请重启应用恢复。"_s);
        EXPECT_EQ(readFile(journal), leftover);
    }
    {
        SCOPED_TRACE("a journal whose recovery failed at the start");
        const QString storage = makeFolder("left-at-start");
        writeFile(ExhibitionJournal::path(storage), leftover);
        GalleryModel model(std::make_unique<Indexer>(QList<SourceRoot>{}, storage), false);
        ASSERT_TRUE(model.exhibitionBlocked());
        EXPECT_TRUE(model.journalWriteRefusal());
        EXPECT_EQ(drop(model, {{Source::file(image, true)}}, 0.5), false);
        EXPECT_FALSE(model.importing());
        EXPECT_EQ(readFile(ExhibitionJournal::path(storage)), leftover);
    }
}

TEST(ExhibitionImport, PreparesAgainstACopyWhileTheExhibitionChanges) {
    RopeModel model(0);
    QStringList first, later;
    for (int i = 0; i < 4; ++i)
        first << droppedImage(QString("first-%1.jpg").arg(i), QColor(40 * i, 200, 10));
    for (int i = 0; i < 4; ++i)
        later << droppedImage(QString("later-%1.jpg").arg(i), QColor(10, 40 * i, 200));
    ASSERT_EQ(waitForImport([&](auto done) { model->importExhibition(first, 0.1, {}, false, done); }), true);
    const QList<Photo> earlier = arrivals(*model);
    ASSERT_EQ(earlier.size(), 4);

    // Slow thumbnails keep the queue preparing while the main thread edits and reloads the store
    // the import started from.
    model->indexer().setThumbnailRenderer([](const QString& source, const QString& target) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        Indexer::makeThumbnail(source, target);
    });
    std::optional<bool> result;
    model->importExhibition(later, 0.6, {}, false, [&](bool imported) { result = imported; });
    for (const Photo& photo : earlier) {
        ASSERT_TRUE(model->exhibition().remove({photo}));
        model->reloadExhibitionStores();
        QTest::qWait(5);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 10000));
    EXPECT_EQ(result, true);
    const ExhibitionReferences& now = model->exhibition().references();
    EXPECT_EQ(now.size(), 4) << "the commit must not bring back what was removed meanwhile";
    for (const Photo& photo : earlier)
        EXPECT_FALSE(model->exhibition().contains(photo));
    for (const Photo& photo : arrivals(*model))
        EXPECT_TRUE(model->exhibition().contains(photo));
}

namespace {

// Runs the crash child; answers its wait status, or -1 when it could not start.
int importInChild(const QString& storage, int crashAt, double x, const QStringList& files) {
    QList<QByteArray> args{VENNIMO_IMPORT_CRASH_CHILD, QFile::encodeName(storage),
                           QByteArray::number(crashAt), QByteArray::number(x)};
    for (const QString& file : files)
        args << QFile::encodeName(file);
    std::vector<char*> argv;
    for (QByteArray& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    return waitpid(pid, &status, 0) == pid ? status : -1;
}

} // namespace

TEST(ExhibitionImport, ACrashAtAnyStepLeavesNothingOrTheWholeImport) {
    const QStringList files{droppedImage("crash-a.jpg", Qt::darkRed),
                            droppedImage("crash-b.jpg", Qt::darkGreen)};
    constexpr double x = 0.4;
    int crashes = 0;
    for (int crashAt = 1;; ++crashAt) {
        SCOPED_TRACE(testing::Message() << "killed at step " << crashAt);
        ASSERT_LT(crashAt, 20) << "the import never finished";
        const QString storage = makeFolder(QString("crash-%1").arg(crashAt));
        const int status = importInChild(storage, crashAt, x, files);
        ASSERT_NE(status, -1);
        const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        ASSERT_TRUE(killed || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << "status " << status;

        // The restart, in a process of its own as the application's would be: recovery, then the
        // stores, then the sweep of what no item names.
        const int restart = importInChild(storage, 0, x, {});
        ASSERT_TRUE(WIFEXITED(restart) && WEXITSTATUS(restart) == 0) << "restart status " << restart;
        GalleryModel restarted(std::make_unique<Indexer>(QList<SourceRoot>{}, storage), false);
        ASSERT_FALSE(restarted.exhibitionBlocked());
        ASSERT_FALSE(ExhibitionJournal::exists(storage));
        const ExhibitionReferences references = restarted.exhibition().references();
        QSet<QString> named;
        QList<Photo> photos;
        for (const ExhibitionReference& reference : references) {
            named << QFileInfo(reference.photo.path).canonicalFilePath()
                  << QFileInfo(reference.photo.thumbnail).canonicalFilePath();
            photos << reference.photo;
        }
        EXPECT_EQ(importedFiles(storage), named) << "an orphan file or a missing one";
        if (references.isEmpty()) {
            EXPECT_TRUE(restarted.lineHistory().records().isEmpty());
            EXPECT_TRUE(restarted.clotheslinePlacements().records().isEmpty());
        } else {
            ASSERT_EQ(references.size(), 2);
            EXPECT_EQ(named.size(), 4);
            for (const Photo& photo : photos)
                EXPECT_TRUE(restarted.hangs(photo));
            EXPECT_EQ(ropeXs(restarted, photos), (QList<double>{x, x + kSpacing}));
        }
        // Nothing can be committed before the journal exists, and all of it once it does.
        EXPECT_EQ(references.isEmpty(), killed && crashAt <= 2);
        if (!killed)
            break;
        ++crashes;
    }
    EXPECT_EQ(crashes, 7) << "saved, prepared, journal, three state files, committed";
}

namespace {

// Starts a model in a process of its own over `storage`, as the next start of the application.
bool restartInChild(const QString& storage) {
    const int status = importInChild(storage, 0, 0.5, {});
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

TEST(ExhibitionImport, TheNextStartRemovesOnlyWhatAnImportWroteAndNeverCommitted) {
    {
        SCOPED_TRACE("a photo put back from the Trash whose import again failed");
        RopeModel model(0, std::chrono::seconds(60));
        QList<QList<Source>> items;
        for (int i = 0; i < 3; ++i)
            items.append(
                {Source::file(droppedImage(QString("kept-%1.jpg").arg(i), QColor(20, 60 * i, 90)), true)});
        ASSERT_EQ(drop(*model, items, 0.3), true);
        const QList<Photo> hung = arrivals(*model);
        ASSERT_EQ(hung.size(), 3);
        const Photo photo = hung[0];
        model->setRequestTrashConfirmation([](const QList<Photo>&) { return true; });
        model->confirmTrash({photo});
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return !model->isBusy() && !model->undoHistory().isEmpty(); }, 10000));
        ASSERT_FALSE(QFile::exists(photo.path));

        // A rope change waits unsaved; its writer fails when the re-import flushes it.
        ASSERT_TRUE(model->bringClotheslinePhotoToFront(hung[1]));
        ASSERT_TRUE(model->bringClotheslinePhotoToFront(hung[2]));
        model.placementsFail->store(true);
        model->undoRopeAction();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !model->isBusy(); }, 10000));
        ASSERT_TRUE(QFile::exists(photo.path)) << "back from the Trash";
        ASSERT_FALSE(model->exhibition().contains(photo)) << "the import must have failed";
        model.model.reset();

        ASSERT_TRUE(restartInChild(model.storage));
        EXPECT_TRUE(QFile::exists(photo.path)) << "the user's photo, not an import's leftover";
        EXPECT_TRUE(QFile::exists(hung[1].path));
    }
    {
        SCOPED_TRACE("a state file that went missing");
        RopeModel model(0);
        ASSERT_EQ(drop(*model,
                       {{Source::file(droppedImage("lost-a.jpg", Qt::darkBlue), true)},
                        {Source::file(droppedImage("lost-b.jpg", Qt::darkYellow), true)}},
                       0.5),
                  true);
        model.model.reset();
        const QSet<QString> before = importedFiles(model.storage);
        ASSERT_EQ(before.size(), 4) << "two pictures and their thumbnails";
        ASSERT_TRUE(QFile::remove(model.storage + "/" + kExhibitionFileName));
        ASSERT_TRUE(restartInChild(model.storage));
        EXPECT_EQ(importedFiles(model.storage), before);
    }
}

TEST(ExhibitionImport, NothingIsSweptWhileAJournalWaitsForTheNextStart) {
    const QString storage = makeFolder("journal-pending");
    std::optional<GalleryModel> model(std::in_place, std::make_unique<Indexer>(QList<SourceRoot>{}, storage),
                                      false);
    // Another run on the same storage, killed once its commit's journal was on the disk: its files
    // are named by the journal alone, and by its import's list of what it wrote.
    const int status = importInChild(storage, 3, 0.5, {droppedImage("pending.jpg", Qt::darkMagenta)});
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
    ASSERT_TRUE(ExhibitionJournal::exists(storage));
    const QSet<QString> saved = importedFiles(storage);
    ASSERT_EQ(saved.size(), 2) << "the picture and its thumbnail";

    // A drop that saves nothing ends its own import, which sweeps what no item names.
    const QString notImage = makeFolder("journal-pending-drop") + "/notes.jpg";
    writeFile(notImage, "no picture here");
    EXPECT_EQ(drop(*model, {{Source::file(notImage, true)}}, 0.5), false);
    EXPECT_EQ(importedFiles(storage), saved) << "the pending import lost its files";

    model.reset();
    GalleryModel restarted(std::make_unique<Indexer>(QList<SourceRoot>{}, storage), false);
    EXPECT_FALSE(ExhibitionJournal::exists(storage));
    EXPECT_EQ(restarted.exhibition().references().size(), 1) << "the next start completes it";
    EXPECT_EQ(importedFiles(storage), saved);
}
