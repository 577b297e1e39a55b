#include "core/Indexer.h"
#include "platform/Dates.h"
#include "platform/FileIdentity.h"
#include "platform/JsonFile.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <gtest/gtest.h>

#include <atomic>
#include <sys/stat.h>
#include <thread>

using namespace vennimo;
using namespace std::chrono_literals;
using vennimo::test::isMarkerRed;
using vennimo::test::makeFolder;
using vennimo::test::makeImage;
using vennimo::test::readFile;
using vennimo::test::saveImage;
using vennimo::test::storageFolder;
using vennimo::test::writeFile;

namespace {

// 4x2 GIF89a, left half red and right half blue.
const QByteArray kGif = QByteArray::fromHex("474946383961 0400 0200 810000 ff0000 0000ff 000000 000000"
                                            "2c 0000 0000 0400 0200 00 02 07 04c13004c13005 00 3b");

QByteArray jpegBytes(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.write(image);
    return bytes;
}

void writeJpeg(const QString& destination) {
    writeFile(destination, jpegBytes(makeImage(8, 8)));
}

class IndexerThumbnailTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_now = 2'000'000'000;
        Clock::setOverride([this] { return m_now.load(); });
        m_root = makeFolder("thumbs");
    }
    void TearDown() override {
        m_indexer.reset();
        Clock::setOverride({});
    }

    Indexer& indexer() {
        if (!m_indexer)
            m_indexer = std::make_unique<Indexer>(QList<SourceRoot>{{"Thumbs", m_root}}, storageFolder());
        return *m_indexer;
    }

    // Scans and makes thumbnails on the index queue until none is pending.
    void scanAndRender(bool waitForPublication = true) {
        m_queue.sync([this] {
            indexer().scan(std::nullopt, false);
            indexer().prepareThumbnails(&m_queue, [this](const QList<Photo>& photos) {
                ++m_updates;
                m_published = photos;
            });
        });
        waitUntilIdle();
        if (waitForPublication)
            std::this_thread::sleep_for(Indexer::kPublicationDelay + 50ms);
        m_queue.sync([] {});
    }

    void waitUntilIdle() {
        for (int i = 0; i < 1000; ++i) {
            int pending = 0;
            m_queue.sync([&] { pending = indexer().pendingThumbnailCount(); });
            if (pending == 0)
                return;
            std::this_thread::sleep_for(2ms);
        }
        FAIL() << "thumbnails did not finish";
    }

    std::optional<Indexer::ThumbnailFailure> failureOf(const QString& id) {
        std::optional<Indexer::ThumbnailFailure> out;
        m_queue.sync([&] {
            auto it = indexer().thumbnailFailures().find(id);
            if (it != indexer().thumbnailFailures().end())
                out = it->second;
        });
        return out;
    }

    Photo photoAt(const QString& path) {
        Photo out;
        m_queue.sync([&] {
            for (const Photo& p : indexer().library().photos)
                if (p.path == path)
                    out = p;
        });
        return out;
    }

    std::atomic<double> m_now{0};
    QString m_root;
    SerialQueue m_queue{QStringLiteral("local.vennimo.index")};
    std::unique_ptr<Indexer> m_indexer;
    int m_updates = 0;
    QList<Photo> m_published;
};

} // namespace

TEST_F(IndexerThumbnailTest, EveryFormatGetsAnOrientedBoundedJpeg) {
    const QImage wide = makeImage(1600, 800);
    saveImage(wide, m_root + "/wide.png");
    saveImage(wide, m_root + "/wide.webp");
    writeFile(m_root + "/tiny.gif", kGif);
    writeFile(m_root + "/turned.jpg", test::withExifOrientation(jpegBytes(wide), 6));
    const bool haveHeic = test::makeHeic(wide, m_root + "/wide.heic");
    EXPECT_TRUE(haveHeic) << "heif-enc from libheif-examples is needed for the HEIC case";

    // A format only the desktop's thumbnailer knows.
    const QString helper = makeFolder("helper");
    saveImage(makeImage(1000, 500), helper + "/rendered.png");
    writeFile(helper + "/thumb.sh", "#!/bin/sh\ncp \"" + (helper + "/rendered.png").toUtf8() + "\" \"$2\"\n");
    chmod(QFile::encodeName(helper + "/thumb.sh").constData(), 0755);
    writeFile(qEnvironmentVariable("XDG_DATA_HOME") + "/thumbnailers/test.thumbnailer",
              "[Thumbnailer Entry]\nExec=" + (helper + "/thumb.sh").toUtf8() +
                  " %i %o %s\nMimeType=image/x-xcf;\n");
    writeFile(m_root + "/layers.xcf", "gimp xcf v011");

    scanAndRender();
    struct Expected {
        const char* name;
        QSize size;
        QPoint red;
        QPoint notRed;
    };
    QList<Expected> cases{{"wide.png", {720, 360}, {5, 5}, {700, 300}},
                          {"wide.webp", {720, 360}, {5, 5}, {700, 300}},
                          {"tiny.gif", {4, 2}, {0, 0}, {3, 1}},
                          {"turned.jpg", {360, 720}, {354, 5}, {5, 5}},
                          {"layers.xcf", {720, 360}, {5, 5}, {700, 300}}};
    if (haveHeic)
        cases.append({"wide.heic", {720, 360}, {5, 5}, {700, 300}});
    for (const Expected& c : cases) {
        SCOPED_TRACE(c.name);
        const Photo photo = photoAt(m_root + "/" + c.name);
        ASSERT_FALSE(photo.id.isEmpty());
        QImageReader reader(photo.thumbnail);
        EXPECT_EQ(reader.format(), "jpeg");
        const QImage thumbnail = reader.read();
        ASSERT_FALSE(thumbnail.isNull());
        EXPECT_EQ(thumbnail.size(), c.size);
        EXPECT_TRUE(isMarkerRed(thumbnail.pixelColor(c.red))) << "orientation applied";
        EXPECT_FALSE(isMarkerRed(thumbnail.pixelColor(c.notRed)));
        EXPECT_EQ(photo.thumbnailModified, FileIdentity::read(photo.thumbnail)->modified);
        EXPECT_FALSE(failureOf(photo.id).has_value());
    }
    EXPECT_GE(m_updates, 1);
    EXPECT_EQ(m_published.size(), cases.size());
    const Library stored = libraryFromJson(JsonFile::read(storageFolder() + "/index.json").value()).value();
    for (const Photo& p : stored.photos)
        EXPECT_TRUE(p.thumbnailModified.has_value()) << "the publication saved the thumbnail dates";
    EXPECT_TRUE(QDir(storageFolder()).entryList({"thumbnail-*"}).isEmpty()) << "no temporary file is left";
}

TEST_F(IndexerThumbnailTest, FailuresBackOffExponentiallyPerVersion) {
    const double expected[] = {30, 60, 120, 240, 480, 960, 1920, 3600, 3600, 3600};
    for (int attempts = 1; attempts <= 10; ++attempts)
        EXPECT_EQ(Indexer::retryDelaySeconds(attempts), expected[attempts - 1]) << attempts;

    writeFile(m_root + "/broken.jpg", "not really a jpeg");
    int renders = 0;
    bool succeed = false;
    indexer().setThumbnailRenderer([&](const QString&, const QString& destination) {
        ++renders;
        if (succeed)
            writeJpeg(destination);
    });
    scanAndRender(false);
    const Photo photo = photoAt(m_root + "/broken.jpg");
    auto failure = failureOf(photo.id);
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->attempts, 1);
    EXPECT_EQ(failure->retryAfter, m_now + 30);
    EXPECT_EQ(failure->version, Indexer::thumbnailVersion(photo));
    const QString failuresFile = storageFolder() + "/thumbnail-failures.json";
    const QString text = QString::fromUtf8(readFile(failuresFile));
    EXPECT_LT(text.indexOf("\"version\""), text.indexOf("\"attempts\"")) << text.toStdString();
    EXPECT_LT(text.indexOf("\"attempts\""), text.indexOf("\"retryAfter\"")) << "the encoder's field order";
    EXPECT_TRUE(JsonFile::read(failuresFile).ok());

    scanAndRender(false);
    EXPECT_EQ(renders, 1) << "held back until its retry time";
    for (int attempts = 2; attempts <= 9; ++attempts) {
        m_now = m_now + expected[attempts - 2];
        scanAndRender(false);
        ASSERT_EQ(renders, attempts);
        failure = failureOf(photo.id);
        EXPECT_EQ(failure->attempts, attempts);
        EXPECT_EQ(failure->retryAfter, m_now + expected[attempts - 1]) << attempts;
    }

    // A reopened index reads the records back.
    m_queue.sync([this] { m_indexer.reset(); });
    EXPECT_EQ(failureOf(photo.id)->attempts, 9);
    indexer().setThumbnailRenderer([&](const QString&, const QString& destination) {
        ++renders;
        if (succeed)
            writeJpeg(destination);
    });

    // Another version of the file is not held back and starts again at 1.
    writeFile(m_root + "/broken.jpg", "still not a jpeg, but longer");
    scanAndRender(false);
    EXPECT_EQ(renders, 10);
    EXPECT_EQ(failureOf(photo.id)->attempts, 1);

    // Success forgets the record; a success without a record writes nothing.
    m_now = m_now + 30;
    succeed = true;
    scanAndRender(false);
    EXPECT_FALSE(failureOf(photo.id).has_value());
    EXPECT_EQ(readFile(failuresFile), "{}");
    ASSERT_TRUE(QFile::remove(failuresFile));
    writeFile(m_root + "/fine.jpg", "fine");
    scanAndRender(false);
    EXPECT_EQ(renders, 12);
    EXPECT_FALSE(QFile::exists(failuresFile));
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
    const Photo photo = photoAt(m_root + "/moving.jpg");
    EXPECT_FALSE(QFile::exists(photo.thumbnail)) << "rendered from a file that changed meanwhile";
    EXPECT_EQ(failureOf(photo.id)->attempts, 1);

    scanAndRender();
    const Photo rescanned = photoAt(m_root + "/moving.jpg");
    EXPECT_EQ(rescanned.size, 14);
    EXPECT_TRUE(QFile::exists(rescanned.thumbnail)) << "the new version is not held back";
    EXPECT_FALSE(failureOf(photo.id).has_value());

    // Rescanned while rendering: thrown away without a failure and queued again in the same walk.
    writeFile(m_root + "/second.jpg", "second");
    renders = 0;
    indexer().setThumbnailRenderer([&](const QString& source, const QString& destination) {
        if (++renders == 1) {
            QFile file(source);
            ASSERT_TRUE(file.open(QIODevice::Append));
            file.write("!");
            file.close();
            m_queue.async([this] { indexer().scan(std::nullopt, false); });
            std::this_thread::sleep_for(20ms);
        }
        writeJpeg(destination);
    });
    scanAndRender();
    const Photo second = photoAt(m_root + "/second.jpg");
    EXPECT_EQ(second.size, 7);
    EXPECT_TRUE(QFile::exists(second.thumbnail));
    EXPECT_FALSE(failureOf(second.id).has_value());
    EXPECT_EQ(renders, 2);
}

TEST_F(IndexerThumbnailTest, AtMostFourPendingTwoRenderingAndOnePublicationPerBurst) {
    for (int i = 0; i < 10; ++i)
        writeFile(m_root + QStringLiteral("/p%1.jpg").arg(i), QByteArray::number(i));
    std::atomic<int> rendering{0};
    std::atomic<int> peak{0};
    QStringList order;
    std::mutex orderMutex;
    indexer().setThumbnailRenderer([&](const QString& source, const QString& destination) {
        const int now = ++rendering;
        int seen = peak.load();
        while (now > seen && !peak.compare_exchange_weak(seen, now)) {
        }
        {
            std::lock_guard lock(orderMutex);
            order.append(source);
        }
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
    m_now = m_now + 10;
    m_queue.sync([&] {
        indexer().scan(std::nullopt, false);
        indexer().prepareThumbnails(&m_queue, [this](const QList<Photo>&) { ++m_updates; });
        sample();
    });
    waitUntilIdle();
    EXPECT_EQ(peak.load(), 2) << "two renderings at a time";
    EXPECT_EQ(pendingPeak, 4) << "four pending at most";
    ASSERT_EQ(order.size(), 10);
    std::this_thread::sleep_for(200ms);
    m_queue.sync([] {});
    EXPECT_GE(m_updates, 1);
    EXPECT_LE(m_updates, 10 * 15 / 100 + 2) << "publications are coalesced";
    m_queue.sync([&] { EXPECT_EQ(indexer().thumbnailAttemptCount(), 10); });

    // Five thumbnails finishing together are published once.
    for (int i = 0; i < 5; ++i)
        writeFile(m_root + QStringLiteral("/q%1.jpg").arg(i), QByteArray::number(i));
    indexer().setThumbnailRenderer(
        [](const QString&, const QString& destination) { writeJpeg(destination); });
    m_updates = 0;
    scanAndRender();
    EXPECT_EQ(m_updates, 1);
    for (const Photo& p : m_published)
        EXPECT_TRUE(p.thumbnailModified.has_value()) << p.name().toStdString();

    // A photo with a thumbnail is never queued again; deleting it queues it after a rescan.
    int again = 0;
    indexer().setThumbnailRenderer([&](const QString&, const QString& destination) {
        ++again;
        writeJpeg(destination);
    });
    scanAndRender(false);
    EXPECT_EQ(again, 0);
    ASSERT_TRUE(QFile::remove(photoAt(m_root + "/q3.jpg").thumbnail));
    scanAndRender(false);
    EXPECT_EQ(again, 1);
}

TEST_F(IndexerThumbnailTest, InlineRenderingAndCompleteFilesOnly) {
    writeFile(m_root + "/inline.jpg", jpegBytes(makeImage(2000, 1000)));
    writeFile(m_root + "/bad.jpg", "bad");
    QList<Photo> photos;
    m_queue.sync([&] { photos = indexer().scan(std::nullopt, true); });
    for (const Photo& p : photos) {
        if (p.name() == "inline.jpg") {
            EXPECT_EQ(QImageReader(p.thumbnail).size(), QSize(720, 360));
            EXPECT_TRUE(p.thumbnailModified.has_value());
        } else {
            EXPECT_FALSE(p.thumbnailModified.has_value());
            EXPECT_EQ(failureOf(p.id)->attempts, 1);
        }
    }

    const QString folder = makeFolder("saving");
    EXPECT_TRUE(Indexer::save(makeImage(30, 20), folder + "/ok.jpg"));
    EXPECT_EQ(QImageReader(folder + "/ok.jpg").format(), "jpeg");
    QImage transparent(10, 10, QImage::Format_ARGB32);
    transparent.fill(Qt::transparent);
    EXPECT_TRUE(Indexer::save(transparent, folder + "/alpha.jpg"));
    EXPECT_EQ(QImage(folder + "/alpha.jpg").pixelColor(5, 5), QColor(Qt::white)) << "transparency on white";
    EXPECT_FALSE(Indexer::save(QImage(), folder + "/null.jpg"));
    EXPECT_FALSE(Indexer::save(makeImage(30, 20), folder + "/missing/x.jpg"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), (QStringList{"alpha.jpg", "ok.jpg"}))
        << "failed saves leave nothing behind";
}
