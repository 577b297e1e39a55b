#include "core/Indexer.h"
#include "platform/Dates.h"
#include "platform/FileIdentity.h"
#include "platform/FreedesktopThumbnailer.h"
#include "platform/JpegDecoder.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QScopeGuard>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <thread>

#include <sys/stat.h>

using namespace vennimo;
using namespace std::chrono_literals;
using namespace vennimo::test;

namespace {

// 4x2 GIF89a, left half red and right half blue.
const QByteArray kGif = QByteArray::fromHex("474946383961 0400 0200 810000 ff0000 0000ff 000000 000000"
                                            "2c 0000 0000 0400 0200 00 02 07 04c13004c13005 00 3b");

QByteArray jpegBytes(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "jpeg");
    return bytes;
}

void writeJpeg(const QString& destination) {
    makeImage(8, 8).save(destination, "jpeg");
}

// A desktop thumbnailer for JPEG, PNG and Photoshop files that runs `script` (sh, given the input
// as $1 and the output as $2); removed again when the returned guard goes.
auto installThumbnailer(const QString& name, const QByteArray& script) {
    const QString program = makeFolder(name) + "/thumb.sh";
    writeFile(program, "#!/bin/sh\n" + script);
    EXPECT_EQ(::chmod(QFile::encodeName(program).constData(), 0755), 0);
    const QString entry = qEnvironmentVariable("XDG_DATA_HOME") + "/thumbnailers/" + name + ".thumbnailer";
    writeFile(entry, "[Thumbnailer Entry]\nExec=" + program.toUtf8() +
                         " %i %o %s\nMimeType=image/jpeg;image/png;image/vnd.adobe.photoshop;image/x-psd;"
                         "application/x-photoshop;\n");
    return qScopeGuard([entry] { QFile::remove(entry); });
}

class IndexerThumbnailTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::setOverride([this] { return m_now.load(); });
    }
    void TearDown() override {
        m_queue.sync([this] { m_indexer.reset(); });
        Clock::setOverride({});
    }
    Indexer& indexer() {
        if (!m_indexer)
            m_indexer = std::make_unique<Indexer>(QList<SourceRoot>{{"Thumbs", m_root}}, storageFolder());
        return *m_indexer;
    }
    // Scans and starts the thumbnails on the index queue; `extra` runs there right after.
    void start(const std::function<void()>& extra = {}) {
        m_queue.sync([&] {
            indexer().scan(std::nullopt, false);
            indexer().prepareThumbnails(&m_queue, [this](const QList<Photo>&) { ++m_updates; });
            if (extra)
                extra();
        });
    }
    // Scans and waits until every thumbnail is made and published; a desktop thumbnailer, asked
    // for what the decoder refuses, may take up to its time limit.
    void scanAndRender(std::chrono::milliseconds limit = 2s) {
        start();
        for (int i = 0; i < limit / 2ms && pending() > 0; ++i)
            std::this_thread::sleep_for(2ms);
        ASSERT_EQ(pending(), 0) << "thumbnails did not finish";
        std::this_thread::sleep_for(Indexer::kPublicationDelay + 50ms);
        m_queue.sync([] {});
    }
    int pending() {
        int count = 0;
        m_queue.sync([&] { count = indexer().pendingThumbnailCount(); });
        return count;
    }
    std::optional<Indexer::ThumbnailFailure> failureOf(const QString& id) {
        std::optional<Indexer::ThumbnailFailure> out;
        m_queue.sync([&] {
            const auto& failures = indexer().thumbnailFailures();
            if (const auto it = failures.find(id); it != failures.end())
                out = it->second;
        });
        return out;
    }
    Photo photoAt(const QString& name) {
        Photo out;
        m_queue.sync([&] {
            for (const Photo& p : indexer().library().photos)
                if (p.path == m_root + "/" + name)
                    out = p;
        });
        return out;
    }
    std::atomic<double> m_now{2'000'000'000};
    QString m_root = makeFolder("thumbs");
    SerialQueue m_queue{QStringLiteral("local.vennimo.index")};
    std::unique_ptr<Indexer> m_indexer;
    int m_updates = 0;
};

} // namespace

TEST_F(IndexerThumbnailTest, EveryFormatGetsAnOrientedBoundedJpeg) {
    const QImage wide = makeImage(1000, 500);
    saveImage(wide, m_root + "/wide.png");
    writeFile(m_root + "/tiny.gif", kGif);
    writeFile(m_root + "/turned.jpg", withExifOrientation(jpegBytes(wide), 6));
    writeFile(m_root + "/broken.png", "\x89PNG but nothing else");
    // Cheap to copy, minutes of decoding for a decoder that makes its 20,000 passes.
    writeFile(m_root + "/scans.jpg", manyScanJpeg(10000, 10000, 20000));
    scanAndRender(FreedesktopThumbnailer::kTimeout + 5s);
    for (const char* name : {"broken.png", "scans.jpg"}) {
        const auto broken = failureOf(photoAt(name).id);
        ASSERT_TRUE(broken && broken->attempts == 1 && broken->retryAfter == m_now + 30)
            << name << ": an undecodable image is recorded for a retry 30 s later";
    }
    struct Expected {
        const char* name;
        QSize size;
        QPoint red, notRed;
    };
    // Every format goes through the one decoder; bounded, never enlarged, turned upright.
    for (const Expected& c :
         {Expected{"wide.png", {720, 360}, {5, 5}, {700, 300}}, Expected{"tiny.gif", {4, 2}, {0, 0}, {3, 1}},
          Expected{"turned.jpg", {360, 720}, {354, 5}, {5, 5}}}) {
        SCOPED_TRACE(c.name);
        const Photo photo = photoAt(c.name);
        QImageReader reader(photo.thumbnail);
        EXPECT_EQ(reader.format(), "jpeg");
        const QImage thumbnail = reader.read();
        ASSERT_EQ(thumbnail.size(), c.size);
        EXPECT_TRUE(isMarkerRed(thumbnail.pixelColor(c.red))) << "orientation applied";
        EXPECT_FALSE(isMarkerRed(thumbnail.pixelColor(c.notRed)));
        EXPECT_EQ(photo.thumbnailModified, FileIdentity::read(photo.thumbnail)->modified);
    }
    EXPECT_EQ(QDir(storageFolder()).entryList({"thumbnail-*"}), QStringList{"thumbnail-failures.json"})
        << "no temporary file is left";
}

TEST_F(IndexerThumbnailTest, FailuresBackOffExponentiallyPerVersion) {
    writeFile(m_root + "/broken.jpg", "not really a jpeg");
    int renders = 0;
    bool succeed = false;
    const auto renderer = [&](const QString&, const QString& destination) {
        ++renders;
        if (succeed)
            writeJpeg(destination);
    };
    indexer().setThumbnailRenderer(renderer);
    scanAndRender();
    const Photo photo = photoAt("broken.jpg");
    ASSERT_TRUE(failureOf(photo.id).has_value());
    EXPECT_EQ(failureOf(photo.id)->version, Indexer::thumbnailVersion(photo));
    const QString failuresFile = storageFolder() + "/thumbnail-failures.json";
    const QString text = QString::fromUtf8(readFile(failuresFile));
    EXPECT_LT(text.indexOf("\"version\""), text.indexOf("\"attempts\"")) << text.toStdString();
    EXPECT_LT(text.indexOf("\"attempts\""), text.indexOf("\"retryAfter\"")) << "the encoder's field order";
    scanAndRender();
    EXPECT_EQ(renders, 1) << "held back until its retry time";
    // min(30 s x 2^min(attempts - 1, 7), 3600 s)
    const double delays[] = {30, 60, 120, 240, 480, 960, 1920, 3600, 3600, 3600};
    for (int attempts = 1; attempts <= 10; ++attempts) {
        if (attempts > 1) {
            m_now = m_now + delays[attempts - 2];
            scanAndRender();
        }
        ASSERT_EQ(renders, attempts);
        EXPECT_EQ(failureOf(photo.id)->attempts, attempts);
        EXPECT_EQ(failureOf(photo.id)->retryAfter, m_now + delays[attempts - 1]) << attempts;
    }
    // Reopened, the records read back; another version of the file starts again at 1.
    m_queue.sync([this] { m_indexer.reset(); });
    EXPECT_EQ(failureOf(photo.id)->attempts, 10);
    indexer().setThumbnailRenderer(renderer);
    writeFile(m_root + "/broken.jpg", "still not a jpeg, but longer");
    scanAndRender();
    EXPECT_EQ(renders, 11);
    EXPECT_EQ(failureOf(photo.id)->attempts, 1);
    m_now = m_now + 30;
    succeed = true;
    scanAndRender();
    EXPECT_FALSE(failureOf(photo.id).has_value()) << "success forgets the record";
    EXPECT_EQ(readFile(failuresFile), "{}");
}

TEST_F(IndexerThumbnailTest, ASourceChangedWhileRenderingNeverGetsTheStaleThumbnail) {
    writeFile(m_root + "/moving.jpg", "first");
    int renders = 0;
    indexer().setThumbnailRenderer([&](const QString& source, const QString& destination) {
        if (++renders == 1) {
            QFile file(source);
            ASSERT_TRUE(file.open(QIODevice::Append));
            file.write(" and more");
        }
        writeJpeg(destination);
    });
    scanAndRender();
    const Photo photo = photoAt("moving.jpg");
    EXPECT_FALSE(QFile::exists(photo.thumbnail)) << "rendered from a file that changed meanwhile";
    EXPECT_EQ(failureOf(photo.id)->attempts, 1);
    scanAndRender();
    EXPECT_EQ(photoAt("moving.jpg").size, 14);
    EXPECT_TRUE(QFile::exists(photo.thumbnail)) << "the new version is not held back";
    EXPECT_FALSE(failureOf(photo.id).has_value());
}

TEST_F(IndexerThumbnailTest, AtMostFourPendingTwoRenderingAndCoalescedPublications) {
    for (int i = 0; i < 10; ++i)
        writeFile(m_root + QStringLiteral("/p%1.jpg").arg(i), QByteArray::number(i));
    std::atomic<int> rendering{0}, peak{0}, renders{0};
    indexer().setThumbnailRenderer([&](const QString&, const QString& destination) {
        const int now = ++rendering;
        for (int seen = peak.load(); now > seen && !peak.compare_exchange_weak(seen, now);) {
        }
        // The first rendering waits for a second one to start, however late a loaded machine
        // starts the other worker; a third would still show in the peak.
        if (++renders == 1)
            for (const auto until = std::chrono::steady_clock::now() + 5s;
                 peak.load() < 2 && std::chrono::steady_clock::now() < until;)
                std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(15ms);
        --rendering;
        writeJpeg(destination);
    });
    int pendingPeak = 0;
    std::function<void()> sample = [&] {
        pendingPeak = std::max(pendingPeak, indexer().pendingThumbnailCount());
        if (indexer().pendingThumbnailCount() > 0)
            m_queue.asyncAfter(1ms, sample);
    };
    QElapsedTimer elapsed;
    elapsed.start();
    start(sample);
    while (pending() > 0)
        std::this_thread::sleep_for(2ms);
    EXPECT_EQ(peak.load(), 2) << "two renderings at a time";
    EXPECT_EQ(pendingPeak, 4) << "four pending at most";
    std::this_thread::sleep_for(Indexer::kPublicationDelay * 2);
    m_queue.sync([] {});
    EXPECT_EQ(renders.load(), 10);
    // However long a loaded machine makes the renderings take, no two publications come closer.
    EXPECT_LE(m_updates, elapsed.elapsed() / Indexer::kPublicationDelay.count() + 1)
        << "publications at most every 0.1 s";
}

TEST_F(IndexerThumbnailTest, AWalkOverMadeThumbnailsGoesInTurnsAndResumes) {
    constexpr int kTurn = Indexer::kThumbnailChecksPerTurn;
    constexpr int kCount = 2 * kTurn + 100;
    Library library;
    QDir().mkpath(indexer().thumbnailFolder());
    for (int i = 0; i < kCount; ++i) {
        Photo photo;
        photo.id = QStringLiteral("9-%1").arg(i);
        photo.path = m_root + QStringLiteral("/p%1.jpg").arg(i);
        library.photos.append(photo);
        writeFile(indexer().thumbnailFolder() + u'/' + photo.id + QStringLiteral(".jpg"), "made");
    }
    int firstTurn = 0;
    int secondTurn = 0;
    m_queue.sync([&] {
        indexer().setLibrary(library);
        indexer().prepareThumbnails(&m_queue, {});
        firstTurn = indexer().thumbnailCandidateChecks();
        // Queued behind the walk's next turn, ahead of the one after.
        m_queue.async([&] { secondTurn = indexer().thumbnailCandidateChecks(); });
    });
    EXPECT_EQ(firstTurn, kTurn);
    m_queue.waitUntilIdle();
    int checks = 0;
    m_queue.sync([&] { checks = indexer().thumbnailCandidateChecks(); });
    EXPECT_EQ(secondTurn, 2 * kTurn) << "other work of the queue runs between turns";
    EXPECT_EQ(checks, kCount) << "the walk resumes to its end";
    EXPECT_EQ(indexer().thumbnailAttemptCount(), 0);
}

TEST_F(IndexerThumbnailTest, RendersCutOffByShutdownLeaveNoTemporariesForLong) {
    writeJpeg(m_root + "/a.jpg");
    writeJpeg(m_root + "/b.jpg");
    const QStringList temporaries{"thumbnail-*.jpg*"};
    std::atomic<int> started{0};
    std::promise<void> finishRenders;
    const std::shared_future<void> mayFinish = finishRenders.get_future().share();
    {
        auto queue = std::make_unique<SerialQueue>(QStringLiteral("local.vennimo.index.short"));
        std::unique_ptr<Indexer> shortLived;
        queue->sync([&] {
            shortLived = std::make_unique<Indexer>(QList<SourceRoot>{{"Thumbs", m_root}}, storageFolder());
            shortLived->setThumbnailRenderer([&](const QString&, const QString& destination) {
                ++started;
                mayFinish.wait();
                writeJpeg(destination);
            });
            shortLived->scan(std::nullopt, false);
            shortLived->prepareThumbnails(queue.get(), {});
        });
        while (started == 0)
            std::this_thread::sleep_for(1ms);
        // The queue goes away with the renders' completions, which would remove their files, unrun.
        std::promise<void> gate;
        queue->async([opened = gate.get_future().share()] { opened.wait(); });
        finishRenders.set_value(); // their completions now queue behind the gate, however slow this thread
        shortLived.reset();
        queue->cancelAll();
        gate.set_value();
        queue.reset();
    }
    ASSERT_FALSE(QDir(storageFolder()).entryList(temporaries, QDir::Files).isEmpty());
    writeFile(storageFolder() + "/thumbnail-failures.json", "{}");
    m_queue.sync([this] { indexer(); });
    EXPECT_EQ(QDir(storageFolder()).entryList(temporaries, QDir::Files), QStringList{})
        << "the next indexer clears what the last one's renders left";
    EXPECT_TRUE(QFile::exists(storageFolder() + "/thumbnail-failures.json")) << "and nothing else";
}

// A stop lets the renders under way finish and keeps what they made, but makes none of the
// queued ones, which are no failures either: the next start makes them.
TEST_F(IndexerThumbnailTest, AStopMakesNoQueuedThumbnailAndCountsNoneAsFailed) {
    for (int i = 0; i < 8; ++i)
        writeJpeg(QString("%1/p%2.jpg").arg(m_root).arg(i));
    std::atomic<int> started{0};
    std::promise<void> finishRenders;
    const std::shared_future<void> mayFinish = finishRenders.get_future().share();
    indexer().setThumbnailRenderer([&](const QString&, const QString& destination) {
        ++started;
        mayFinish.wait_for(60s);
        writeJpeg(destination);
    });
    start();
    for (int i = 0; i < 5000 && started < Indexer::kThumbnailQueueWidth; ++i)
        std::this_thread::sleep_for(2ms);
    ASSERT_EQ(started, Indexer::kThumbnailQueueWidth);
    int attempts = 0;
    m_queue.sync([&] { attempts = indexer().thumbnailAttemptCount(); });
    ASSERT_EQ(attempts, Indexer::kMaxPendingThumbnails);

    indexer().stop();
    finishRenders.set_value();
    const QDir thumbnails(storageFolder() + "/thumbnails");
    for (int i = 0; i < 5000 && thumbnails.entryList(QDir::Files).size() < started; ++i)
        std::this_thread::sleep_for(2ms);
    EXPECT_EQ(thumbnails.entryList(QDir::Files).size(), Indexer::kThumbnailQueueWidth)
        << "what was rendered is kept";
    m_queue.sync([&] { attempts = indexer().thumbnailAttemptCount(); });
    EXPECT_EQ(attempts, Indexer::kMaxPendingThumbnails) << "the finished renders queued no others";
    m_queue.sync([this] { m_indexer.reset(); });
    EXPECT_EQ(started, Indexer::kThumbnailQueueWidth) << "the queued renders were not made";
    EXPECT_FALSE(QFile::exists(storageFolder() + "/thumbnail-failures.json"));
}

// A desktop thumbnailer that would run for a minute is ended by the stop, and what it did not
// make counts as no failure.
TEST_F(IndexerThumbnailTest, AStopEndsADesktopThumbnailerUnderWay) {
    const QString tools = makeFolder("slow-thumbnailer");
    const QString started = tools + "/started";
    writeFile(m_root + "/layers.psd", "no picture the decoder reads");
    saveImage(makeImage(40, 20), tools + "/prepared.png");
    const QString finished = tools + "/finished";
    writeFile(tools + "/thumb.sh", "#!/bin/sh\ntouch \"" + started.toUtf8() + "\"\nsleep 60\ntouch \"" +
                                       finished.toUtf8() + "\"\ncp \"" + (tools + "/prepared.png").toUtf8() +
                                       "\" \"$2\"\n");
    ASSERT_EQ(::chmod(QFile::encodeName(tools + "/thumb.sh").constData(), 0755), 0);
    const QString entry = qEnvironmentVariable("XDG_DATA_HOME") + "/thumbnailers/slow.thumbnailer";
    writeFile(entry,
              "[Thumbnailer Entry]\nExec=" + (tools + "/thumb.sh").toUtf8() +
                  " %i %o %s\nMimeType=image/vnd.adobe.photoshop;image/x-psd;application/x-photoshop;\n");
    const auto removeEntry = qScopeGuard([&entry] { QFile::remove(entry); });

    start();
    for (int i = 0; i < 5000 && !QFile::exists(started); ++i)
        std::this_thread::sleep_for(2ms);
    ASSERT_TRUE(QFile::exists(started)) << "the thumbnailer never ran";
    indexer().stop();
    for (int i = 0; i < 5000 && pending() > 0; ++i)
        std::this_thread::sleep_for(2ms);
    ASSERT_EQ(pending(), 0) << "the render did not come back";
    EXPECT_FALSE(failureOf(photoAt("layers.psd").id)) << "a render cut short is no failure";
    m_queue.sync([this] { m_indexer.reset(); });
    EXPECT_FALSE(QFile::exists(finished)) << "the thumbnailer ran its course";
    EXPECT_EQ(QDir(storageFolder() + "/thumbnails").entryList(QDir::Files), QStringList{});
    EXPECT_FALSE(QFile::exists(storageFolder() + "/thumbnail-failures.json"));
}

// A thumbnail given up while the desktop's thumbnailer draws it (a drop cancelled, the process
// ending) ends that thumbnailer too, rather than waiting for it.
TEST_F(IndexerThumbnailTest, AThumbnailGivenUpEndsTheDesktopThumbnailerDrawingIt) {
    const QString tools = makeFolder("given-up-thumbnailer");
    const QString started = tools + "/started";
    const QString finished = tools + "/finished";
    writeFile(m_root + "/layers.psd", "no picture the decoder reads");
    saveImage(makeImage(40, 20), tools + "/prepared.png");
    // Done well within the thumbnailer's own time limit, had nobody ended it.
    writeFile(tools + "/thumb.sh", "#!/bin/sh\ntouch \"" + started.toUtf8() + "\"\nsleep 2.5\ntouch \"" +
                                       finished.toUtf8() + "\"\ncp \"" + (tools + "/prepared.png").toUtf8() +
                                       "\" \"$2\"\n");
    ASSERT_EQ(::chmod(QFile::encodeName(tools + "/thumb.sh").constData(), 0755), 0);
    const QString entry = qEnvironmentVariable("XDG_DATA_HOME") + "/thumbnailers/given-up.thumbnailer";
    writeFile(entry,
              "[Thumbnailer Entry]\nExec=" + (tools + "/thumb.sh").toUtf8() +
                  " %i %o %s\nMimeType=image/vnd.adobe.photoshop;image/x-psd;application/x-photoshop;\n");
    const auto removeEntry = qScopeGuard([&entry] { QFile::remove(entry); });

    const QString target = tools + "/thumbnail.jpg";
    Indexer::makeThumbnail(m_root + "/layers.psd", target, {}, [&started] { return QFile::exists(started); });
    EXPECT_TRUE(QFile::exists(started)) << "the thumbnailer never ran";
    EXPECT_FALSE(QFile::exists(finished)) << "the thumbnailer of a thumbnail given up ran its course";
    EXPECT_FALSE(QFile::exists(target));
}

// The same for a thumbnail a scan makes inline: the one a stop cut short is made at the next start.
TEST_F(IndexerThumbnailTest, AStopCutsShortAnInlineThumbnailWithoutCountingItAsFailed) {
    for (int i = 0; i < 3; ++i)
        writeJpeg(QString("%1/p%2.jpg").arg(m_root).arg(i));
    int renders = 0;
    indexer().setThumbnailRenderer([&](const QString&, const QString&) {
        ++renders;
        indexer().stop();
    });
    m_queue.sync([this] { indexer().scan(std::nullopt, true); });
    EXPECT_EQ(renders, 1);
    m_queue.sync(
        [this] { EXPECT_TRUE(indexer().thumbnailFailures().empty()) << "a render cut short is no failure"; });
    m_queue.sync([this] { m_indexer.reset(); });
    EXPECT_FALSE(QFile::exists(storageFolder() + "/thumbnail-failures.json"));
}

TEST_F(IndexerThumbnailTest, AThumbnailIsWrittenOnlyInsideTheStorageFolder) {
    writeJpeg(m_root + "/a.jpg");
    m_queue.sync([this] { indexer().scan(std::nullopt, false); });
    const Photo photo = photoAt("a.jpg");
    m_queue.sync([this] { m_indexer.reset(); });
    // A damaged index names a place outside as the thumbnail of a photo that still matches.
    const QString outside = makeFolder("outside") + "/made.jpg";
    const QString index = storageFolder() + "/index.json";
    writeFile(index, QString::fromUtf8(readFile(index)).replace(photo.thumbnail, outside).toUtf8());
    m_queue.sync([&] {
        indexer().setThumbnailRenderer(
            [](const QString&, const QString& destination) { writeJpeg(destination); });
        // A change elsewhere leaves the record as the index gave it.
        indexer().scan(QList<FolderChange>{{m_root + "/elsewhere.jpg", 0x100 | 0x10000}}, false);
        ASSERT_EQ(indexer().library().photos.value(0).thumbnail, outside);
        indexer().prepareThumbnails(&m_queue, {});
    });
    for (int i = 0; i < 1000 && pending() > 0; ++i)
        std::this_thread::sleep_for(2ms);
    m_queue.sync([] {});
    EXPECT_FALSE(QFile::exists(outside));
    EXPECT_TRUE(QFile::exists(photo.thumbnail));
    EXPECT_EQ(photoAt("a.jpg").thumbnail, photo.thumbnail) << "the record names its thumbnail again";
}

// A file in a format the decoder reads that it refused is damaged or past a bound: a desktop
// thumbnailer would spend its time limit on it at every retry. Only what the decoder cannot read
// goes there.
// A damaged picture in a format the decoder reads would take the thumbnailer's whole time at every
// retry; one refused only for its size (a stitched panorama) it draws in moments.
TEST_F(IndexerThumbnailTest, OnlyAFormatTheDecoderCannotReadOrAPictureTooLargeGoesToTheDesktopThumbnailer) {
    const QString prepared = makeFolder("prepared") + "/thumbnail.png";
    saveImage(makeImage(40, 20), prepared);
    const auto removeEntry =
        installThumbnailer("any-thumbnailer", "touch \"$1.ran\"\ncp \"" + prepared.toUtf8() + "\" \"$2\"\n");
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    makeImage(300, 200).save(&buffer, "png");
    const struct {
        const char* name;
        QByteArray bytes;
        bool handedOver;
    } cases[] = {
        {"scans.jpg", manyScanJpeg(10000, 10000, 20000), false},
        {"cut.png", png.left(png.size() / 2), false},
        {"layers.psd", "no picture the decoder reads", true},
        {"panorama.png", greyPng(12000, 9000, 4500), true},
        {"panorama.jpg", manyScanJpeg(14000, 8000, 1), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString source = m_root + "/" + c.name;
        writeFile(source, c.bytes);
        const QString target = makeFolder("made") + "/" + c.name + ".jpg";
        Indexer::makeThumbnail(source, target, {}, {});
        EXPECT_EQ(QFile::exists(source + ".ran"), c.handedOver);
        EXPECT_EQ(QFile::exists(target), c.handedOver);
        if (c.handedOver) {
            EXPECT_EQ(QImage(target).size(), QSize(40, 20));
        }
    }
}

// A thumbnail given up once the desktop thumbnailer has drawn it, before it is saved, is not saved.
TEST_F(IndexerThumbnailTest, AThumbnailGivenUpAfterItsThumbnailerEndedIsNotSaved) {
    const QString tools = makeFolder("ended-thumbnailer");
    saveImage(makeImage(40, 20), tools + "/prepared.png");
    const auto removeEntry =
        installThumbnailer("ended-thumbnailer", "echo \"$2\" > \"" + tools.toUtf8() + "/output\"\ncp \"" +
                                                    (tools + "/prepared.png").toUtf8() + "\" \"$2\"\n");
    writeFile(m_root + "/layers.psd", "no picture the decoder reads");
    // Given up once the thumbnailer's private folder is gone: it has ended and been read by then,
    // and nothing but the save is left.
    const auto ended = [&tools] {
        QFile file(tools + "/output");
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QString output = QString::fromUtf8(file.readAll()).trimmed();
        return !output.isEmpty() && !QFileInfo::exists(QFileInfo(output).path());
    };
    const QString target = tools + "/thumbnail.jpg";
    Indexer::makeThumbnail(m_root + "/layers.psd", target, {}, ended);
    ASSERT_TRUE(QFile::exists(tools + "/output")) << "the thumbnailer never ran";
    EXPECT_FALSE(QFile::exists(target)) << "a thumbnail given up was saved";

    QFile::remove(tools + "/output");
    Indexer::makeThumbnail(m_root + "/layers.psd", target, {}, {});
    EXPECT_TRUE(QFile::exists(target)) << "the same thumbnail, not given up, is saved";
}

TEST_F(IndexerThumbnailTest, PhotosBehindLargePicturesWaitingForTheirTurnGetTheirThumbnailsMeanwhile) {
    // More pictures keeping over a decoding's share than renderings pending at once, the newest,
    // so that the walk meets them first; each decodes only in the large turn.
    const QByteArray large = manyScanJpeg(7200, 7200, 1, 0, 3);
    constexpr int kLarge = Indexer::kMaxPendingThumbnails + 2;
    const auto setAge = [](const QString& path, int secondsAgo) {
        const QDateTime when = QDateTime::currentDateTime().addSecs(-secondsAgo);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite) &&
                    file.setFileTime(when, QFileDevice::FileModificationTime));
    };
    QStringList larges, ordinary;
    for (int i = 0; i < 3; ++i) {
        ordinary.append(QString("photo%1.jpg").arg(i));
        writeJpeg(m_root + "/" + ordinary.last());
        setAge(m_root + "/" + ordinary.last(), 1000);
    }
    // Born later as well.
    std::this_thread::sleep_for(20ms);
    for (int i = 0; i < kLarge; ++i) {
        larges.append(QString("large%1.jpg").arg(i));
        writeFile(m_root + "/" + larges.last(), large + QByteArray(i + 1, '\0'));
        setAge(m_root + "/" + larges.last(), 0);
    }
    // Another picture holds the turn until let go.
    std::promise<void> holding;
    std::atomic<bool> release{false}, told{false};
    auto holder = std::async(std::launch::async, [&] {
        return JpegDecoder::decode(large, 64, [&] {
            if (!told.exchange(true))
                holding.set_value();
            while (!release)
                std::this_thread::sleep_for(2ms);
            return false;
        });
    });
    holding.get_future().wait();
    const auto letGo = qScopeGuard([&] { release = true; });
    const auto made = [this](const QStringList& names) {
        return std::all_of(names.cbegin(), names.cend(), [this](const QString& name) {
            const Photo photo = photoAt(name);
            return !photo.thumbnail.isEmpty() && QFile::exists(photo.thumbnail);
        });
    };
    start();
    bool ordinaryMade = false;
    for (int i = 0; i < 60s / 5ms && !ordinaryMade; ++i) {
        std::this_thread::sleep_for(5ms);
        ordinaryMade = made(ordinary);
    }
    EXPECT_TRUE(ordinaryMade) << "the ordinary photos waited behind the large ones";
    for (const QString& name : std::as_const(larges))
        EXPECT_FALSE(made({name})) << "decoded beside the picture holding the turn";

    release = true;
    EXPECT_TRUE(holder.get().ok());
    for (int i = 0; i < 60s / 5ms && pending() > 0; ++i)
        std::this_thread::sleep_for(5ms);
    std::this_thread::sleep_for(Indexer::kPublicationDelay + 50ms);
    EXPECT_TRUE(made(larges)) << "a large picture put back never got its turn";
    for (const QString& name : std::as_const(larges))
        EXPECT_FALSE(failureOf(photoAt(name).id)) << "waiting for the turn counted as a failure";
}
