#include "DropTestHelpers.h"

#include "dragdrop/BoundedPdfRenderer.h"
#include "dragdrop/PromiseDirectory.h"
#include "platform/ImageDecoder.h"
#include "support/DurableCallLog.h"
#include "support/FakePhotosLibrary.h"
#include "support/WaitUntil.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QMimeData>
#include <QProcess>
#include <QThread>
#include <QtEndian>
#include <gtest/gtest.h>

#include <condition_variable>
#include <csignal>
#include <mutex>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <utime.h>

using namespace vennimo;
using namespace vennimo::test;
using namespace std::chrono_literals;
using vennimo::test::waitUntil;

namespace {

QStringList importedFiles(const QString& base) {
    return QDir(base + u"/imported-images"_s).entryList(QDir::Files | QDir::Hidden);
}

// Keeps the drop folders of a test inside its own temporary home.
class DropPromise : public ::testing::Test {
protected:
    void SetUp() override { qputenv("TMPDIR", QFile::encodeName(makeFolder(u"tmp"_s))); }
};

// A promise whose source writes the files and reports them, in one go.
Source delivering(const QStringList& names, const QList<QByteArray>& contents) {
    return promised(names, [=](const QString& directory, FilePromiseReceiver::Reader reader) {
        for (int i = 0; i < names.size(); ++i)
            reader(written(directory + u'/' + names[i], contents[i]));
    });
}

// A one-page PDF whose page draws form 1, and form n draws form n-1 ten times: 10^(levels-1) squares.
QByteArray nestedFormsPdf(int levels, int side = 200) {
    const auto n = [](qsizetype v) { return QByteArray::number(v); };
    const auto stream = [&](const QByteArray& dictionary, const QByteArray& content) {
        return "<< " + dictionary + " /Length " + n(content.size()) + " >>\nstream\n" + content +
               "\nendstream";
    };
    QList<QByteArray> objects{"<< /Type /Catalog /Pages 2 0 R >>",
                              "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                              "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + n(side) + " " + n(side) +
                                  "] /Resources << /XObject << /Top " + n(3 + levels) +
                                  " 0 R >> >> /Contents " + n(4 + levels) + " 0 R >>"};
    const QByteArray form = "/Type /XObject /Subtype /Form /BBox [0 0 200 200]";
    objects.append(stream(form, "1 0 0 rg 10 10 20 20 re f"));
    for (int level = 2; level <= levels; ++level)
        objects.append(stream(form + " /Resources << /XObject << /Inner " + n(2 + level) + " 0 R >> >>",
                              QByteArray("/Inner Do ").repeated(10)));
    objects.append(stream({}, "/Top Do"));
    QByteArray pdf = "%PDF-1.4\n", xref = "xref\n0 " + n(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype i = 0; i < objects.size(); ++i) {
        xref += n(pdf.size()).rightJustified(10, '0') + " 00000 n \n";
        pdf += n(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    return pdf + xref + "trailer\n<< /Size " + n(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           n(pdf.size()) + "\n%%EOF\n";
}

} // namespace

TEST(DropImport, SavedNamesComeFromTheBytes) {
    const QString storage = storageFolder();
    const QByteArray png = pngBytes();
    auto first = ExternalImageDrop::save(png, storage);
    ASSERT_TRUE(first.ok()) << message(first).toStdString();
    EXPECT_EQ(ExternalImageDrop::save(png, storage).valueOr({}), *first)
        << "the same PNG twice gives one file";
    const QString hash =
        QString::fromLatin1(QCryptographicHash::hash(png, QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(importedFiles(storage), QStringList{u"导入图片-"_s + hash + u".png"_s})
        << "no temporary file left";
    EXPECT_EQ(readFile(*first), png);
    EXPECT_TRUE(ExternalImageDrop::save(encoded("jpeg"), storage).valueOr({}).contains(u".jp"_s));

    // Someone changed the saved file: the drop must not silently hand out other bytes.
    writeFile(*first, pngBytes(8, 6, Qt::yellow));
    EXPECT_EQ(message(ExternalImageDrop::save(png, storage)), u"已保存的图片发生变化，请重新拖入。"_s);
}

TEST(DropImport, SaveRefusesBadBytesAndRendersOnePagePdfs) {
    const QString storage = storageFolder();
    const QString damaged = u"图片损坏或尺寸过大。"_s;
    QByteArray truncated = pngBytes(40, 40);
    truncated.truncate(truncated.size() / 2);
    for (const auto& [bytes, expected] : {
             std::pair{QByteArray(), kSizeMessage},
             {QByteArray(ExternalImageDrop::kMaxImageBytes + 1, '\0'), kSizeMessage},
             {QByteArray("hello, not an image"), kNotImageMessage},
             {pngHeaderClaiming(20000, 20000), damaged}, // refused on the header
             {pngHeaderClaiming(64, 64), damaged},       // too little pixel data for the decode test
             {truncated, damaged},
             {pdfBytes(2, QSizeF(612, 792)), kNotImageMessage}, // two pages
             {QByteArray("%PDF-1.4 garbage"), kNotImageMessage},
         })
        EXPECT_EQ(message(ExternalImageDrop::save(bytes, storage)), expected)
            << bytes.left(20).toHex().data();
    EXPECT_TRUE(importedFiles(storage).isEmpty()) << importedFiles(storage).join(u',').toStdString();

    for (const auto& [points, pixels] : {std::pair{QSizeF(612, 792), QSize(1224, 1584)},       // scale 2
                                         std::pair{QSizeF(10000, 5000), QSize(4096, 2048)}}) { // longest side
        auto saved = ExternalImageDrop::save(pdfBytes(1, points), storage);
        ASSERT_TRUE(saved.ok()) << message(saved).toStdString();
        EXPECT_TRUE(saved->endsWith(u".png"_s));
        EXPECT_EQ(QImage(*saved).size(), pixels);
    }
}

TEST(DropImport, ThePixelLimitHoldsAtItsBoundary) {
    EXPECT_TRUE(ExternalImageDrop::withinPixelLimit(1, 100'000'000));
    EXPECT_TRUE(ExternalImageDrop::withinPixelLimit(10'000, 10'000));
    EXPECT_TRUE(ExternalImageDrop::withinPixelLimit(100'000'000, 1));
    EXPECT_FALSE(ExternalImageDrop::withinPixelLimit(2, 50'000'001));
    EXPECT_FALSE(ExternalImageDrop::withinPixelLimit(1, 100'000'001));
    EXPECT_FALSE(ExternalImageDrop::withinPixelLimit(10'001, 10'000));
    EXPECT_FALSE(ExternalImageDrop::withinPixelLimit(0, 5));
    EXPECT_FALSE(ExternalImageDrop::withinPixelLimit(5, 0));
    EXPECT_FALSE(ExternalImageDrop::withinPixelLimit(-1, -1));
    EXPECT_FALSE(ExternalImageDrop::withinPixelLimit(qint64(1) << 40, qint64(1) << 40)) << "no overflow";

    // The header a drop meets first draws the same line.
    const auto within = ImageDecoder::readHeader(pngHeaderClaiming(1, 100'000'000));
    ASSERT_TRUE(within.ok()) << message(within).toStdString();
    EXPECT_EQ(within->size, QSize(1, 100'000'000));
    const auto beyond = ImageDecoder::readHeader(pngHeaderClaiming(2, 50'000'001));
    ASSERT_FALSE(beyond.ok());
    EXPECT_EQ(beyond.error().code, kImageTooLargeCode);
    EXPECT_EQ(message(ExternalImageDrop::save(pngHeaderClaiming(2, 50'000'001), storageFolder())),
              u"图片损坏或尺寸过大。"_s);
}

TEST(DropImport, DocumentsRenderBoundedAndKeepTheirTransparency) {
    const QString storage = storageFolder();
    // The page is transparent except for the red squares near its lower left corner.
    auto saved = ExternalImageDrop::save(nestedFormsPdf(2), storage);
    ASSERT_TRUE(saved.ok()) << message(saved).toStdString();
    const QImage page(*saved);
    ASSERT_EQ(page.size(), QSize(400, 400));
    ASSERT_TRUE(page.hasAlphaChannel());
    EXPECT_EQ(page.pixelColor(40, 340), QColor(Qt::red));
    EXPECT_EQ(page.pixelColor(200, 100).alpha(), 0) << "no white paper behind the page";

    // A bitmap whose header the decoder refuses is a damaged image, not something else.
    EXPECT_EQ(message(ExternalImageDrop::save(pngHeaderClaiming(1, 1'500'000), storage)),
              u"图片损坏或尺寸过大。"_s);

    // 3 KB of forms that draw each other ten times a level: stopped at the deadline.
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(message(ExternalImageDrop::save(nestedFormsPdf(12), storage)), kNotImageMessage);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 60s) << "bounded, not left running";
    // A page of 4000 x 4000 pixels cannot be drawn without new memory. Where the render stops
    // depends on how much freed memory the process already holds (other tests run before this
    // one in the same program): at the document, or at the page's pixels.
    EXPECT_TRUE(BoundedPdfRenderer::render(nestedFormsPdf(1, 2000), 2, 4096).ok());
    const QString starved =
        message(BoundedPdfRenderer::render(nestedFormsPdf(1, 2000), 2, 4096, {.memoryBytes = 0}));
    EXPECT_TRUE(starved == kNotImageMessage || starved == u"无法转换文档图片。"_s) << starved.toStdString();
}

// A session end cancels the drop: the drawing of its document stops then, not at its deadline.
TEST(DropImport, ACancelledDropStopsDrawingItsDocument) {
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    const QString storage = storageFolder();
    const auto started = std::chrono::steady_clock::now();
    auto dropping = std::async(std::launch::async, [&] {
        return ExternalImageDrop::materialize({.items = {{Source::fromBytes(nestedFormsPdf(12))}}}, storage,
                                              {.cancelled = cancel});
    });
    std::this_thread::sleep_for(300ms);
    cancel->store(true);
    const ExternalImageDrop::Result result = dropping.get();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2500ms)
        << "the drawing went on to its 5 s deadline";
    EXPECT_TRUE(result.paths.isEmpty());
    EXPECT_EQ(result.detail, ExternalImageDrop::cancelledError().localizedDescription());
}

namespace {

// The processes whose parent is `parent`, from their /proc entries.
QList<pid_t> childrenOf(qint64 parent) {
    QList<pid_t> children;
    for (const QString& entry : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
        QFile stat(u"/proc/"_s + entry + u"/stat"_s);
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold spaces, so read after its last ')'.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[0] != "Z" && fields[1].toLongLong() == parent)
            children.append(pid_t(entry.toInt()));
    }
    return children;
}

// The child's processor time limit as /proc shows it; empty when it cannot be read.
QByteArray cpuLimitOf(pid_t pid) {
    QFile limits(u"/proc/%1/limits"_s.arg(pid));
    if (!limits.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : limits.readAll().split('\n'))
        if (line.startsWith("Max cpu time"))
            return line;
    return {};
}

bool running(pid_t pid) {
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    return !line.mid(line.lastIndexOf(')') + 2).startsWith('Z');
}

} // namespace

TEST(DropImport, ARenderOutlivesNeitherItsParentNorItsLimitsAndHoldsNoLock) {
    const QString folder = makeFolder(u"render"_s);
    const QString document = written(folder + u"/forms.pdf"_s, nestedFormsPdf(12));
    const QString lockPath = folder + u"/instance.lock"_s;
    QProcess parent;
    parent.start(QStringLiteral(VENNIMO_PDF_RENDER_CHILD), {document, lockPath});
    ASSERT_TRUE(parent.waitForReadyRead(10000)) << parent.readAllStandardError().toStdString();
    ASSERT_EQ(parent.readLine().trimmed(), "locked");
    QList<pid_t> children;
    ASSERT_TRUE(waitUntil([&] { return !(children = childrenOf(parent.processId())).isEmpty(); }));
    const pid_t render = children.constFirst();
    // Right after the fork the child still holds what the parent had open; it closes that before
    // it takes its limits, and the render starts only after both.
    QByteArray cpu;
    EXPECT_TRUE(waitUntil([&] {
        cpu = cpuLimitOf(render);
        return !cpu.isEmpty() && !cpu.contains("unlimited");
    })) << "the render took no processor time limit: "
        << cpu.constData();

    const QDir descriptors(u"/proc/%1/fd"_s.arg(render));
    QStringList open;
    for (const QFileInfo& fd :
         descriptors.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        open << fd.fileName() + u" -> "_s + fd.symLinkTarget();
    EXPECT_FALSE(open.join(u'\n').contains(lockPath)) << open.join(u'\n').toStdString();
    EXPECT_LE(open.size(), 4) << "the standard three and the pipe: " << open.join(u'\n').toStdString();

    ::kill(pid_t(parent.processId()), SIGKILL);
    parent.waitForFinished(10000);
    EXPECT_TRUE(waitUntil([&] { return !running(render); })) << "the render died with its parent";
    const int fd = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0) << "the lock went with the parent";
    ::close(fd);
    if (running(render))
        ::kill(render, SIGKILL);
}

TEST(DropImport, ReadImageUsesOneBoundedDescriptor) {
    const QString folder = makeFolder(u"files"_s);
    const QString png = written(folder + u"/a.png"_s, pngBytes());
    EXPECT_EQ(ExternalImageDrop::readImage(png).valueOr({}), pngBytes());
    ASSERT_TRUE(QFile::link(png, folder + u"/link.png"_s));
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder + u"/pipe.png"_s).constData(), 0600), 0);
    // A link is no regular file; a pipe must not block.
    for (const QString& path :
         {written(folder + u"/empty.png"_s, {}),
          written(folder + u"/large.png"_s, QByteArray(ExternalImageDrop::kMaxImageBytes + 1, 'x')),
          folder + u"/link.png"_s, folder + u"/pipe.png"_s, folder})
        EXPECT_EQ(message(ExternalImageDrop::readImage(path)), kSizeMessage) << path.toStdString();
    EXPECT_FALSE(ExternalImageDrop::readImage(folder + u"/missing.png"_s).ok());

    // Kernel attribute files claim a size their content does not have, as a file still being
    // written does: only what matches the opened size passes as the whole image.
    const QString claiming = u"/sys/devices/system/cpu/online"_s;
    if (QFileInfo(claiming).isFile() && QFileInfo(claiming).size() > readFile(claiming).size()) {
        EXPECT_EQ(message(ExternalImageDrop::readImage(claiming)), kSizeMessage);
    }
}

TEST(DropImport, MaterializeTriesAlternativesAndCountsFailures) {
    const QString storage = storageFolder();
    const QString folder = makeFolder(u"drop"_s);
    const QString text = written(folder + u"/notes.txt"_s, "text");
    const QString large =
        written(folder + u"/large.png"_s, QByteArray(ExternalImageDrop::kMaxImageBytes + 1, 'x'));
    const QString inPlace = written(folder + u"/photo.png"_s, pngBytes(3, 3));

    const auto result =
        materializeOffMain({.items = {{Source::file(text, true), Source::fromBytes(pngBytes())},
                                      {Source::file(large, true)},
                                      {},
                                      {Source::file(inPlace, false)},
                                      {Source::fromBytes(pngBytes())},
                                      {Source::fromBytes("garbage")}}});
    ASSERT_EQ(result.paths.size(), 2) << "repeats dropped: " << result.paths.join(u',').toStdString();
    EXPECT_TRUE(result.paths[0].startsWith(storage + u"/imported-images/导入图片-"_s));
    EXPECT_EQ(result.paths[1], inPlace) << "a plain file is used where it is";
    EXPECT_EQ(result.failures, 3);
    EXPECT_EQ(result.detail, kNotImageMessage) << "the last failed item's message";

    // Items left out of the snapshot count as failures; a link to an image is not taken for one,
    // whether used in place or copied, since the exhibition would drop it.
    ASSERT_TRUE(QFile::link(inPlace, folder + u"/link.png"_s));
    for (const auto& [item, droppedItems, detail] :
         {std::tuple{QList{Source::file(large, true)}, 0, kSizeMessage},
          {QList{Source::file(text, false)}, 0, u"拖入的文件不是可读取的图片。"_s},
          {QList{Source::file(folder + u"/link.png"_s, false)}, 0, u"拖入的文件不是可读取的图片。"_s},
          {QList{Source::file(folder + u"/link.png"_s, true)}, 0, u"拖入的文件不是可读取的图片。"_s},
          {QList<Source>{}, 0, kNoDataMessage},
          {QList<Source>{}, 2, u"一次拖入的项目过多，最多 1000 项。"_s}}) {
        const auto failed = materializeOffMain({.items = {item}, .droppedItems = droppedItems});
        EXPECT_EQ(failed.failures, 1 + droppedItems);
        EXPECT_EQ(failed.detail, detail);
    }
}

TEST(DropImport, ItemsSavedSideBySideKeepTheirOrderAndShareEqualBytes) {
    const QString storage = storageFolder();
    const QString folder = makeFolder(u"many"_s);
    const QString large =
        written(folder + u"/large.png"_s, QByteArray(ExternalImageDrop::kMaxImageBytes + 1, 'x'));
    Items items;
    QList<QByteArray> expected;
    for (int i = 0; i < 3 * ExternalImageDrop::kSaveWidth; ++i) {
        if (i == 2) {
            items.append({Source::file(large, true)});
        } else if (i % 3 == 1) {
            // The same bytes in several items at once all end in one file.
            items.append({Source::fromBytes(pngBytes(7, 7, Qt::red))});
            if (!expected.contains(pngBytes(7, 7, Qt::red)))
                expected.append(pngBytes(7, 7, Qt::red));
        } else {
            const QByteArray bytes = pngBytes(4 + i, 3, Qt::blue);
            items.append({Source::fromBytes(bytes)});
            expected.append(bytes);
        }
    }
    items.append({Source::fromBytes("garbage")});

    DurableCallLog log;
    const auto result = materializeOffMain({.items = items});
    // Each file was synced before it got its name; the names become durable with one sync of the
    // import folder once the last file has its name.
    const QStringList calls = log.calls();
    EXPECT_EQ(calls.count(u"folder fsync"_s), 1) << log.joined();
    EXPECT_EQ(calls.lastIndexOf(u"folder fsync"_s), calls.size() - 1) << log.joined();
    EXPECT_EQ(result.failures, 2);
    EXPECT_EQ(result.detail, kNotImageMessage) << "the last item's message, whichever finished last";
    ASSERT_EQ(result.paths.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QFile saved(result.paths[i]);
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_EQ(saved.readAll(), expected[i]) << "item order kept at " << i;
    }
    EXPECT_EQ(importedFiles(storage).size(), expected.size()) << "no partial file left behind";
}

namespace {

// A JPEG whose header claims a picture of the full pixel limit: room for four of them is all a
// drawing may take at once.
QByteArray jpegClaimingTheLimit(QColor color) {
    QByteArray jpeg = encoded("jpeg", 16, 16, color);
    const qsizetype frame = jpeg.indexOf("\xff\xc0");
    EXPECT_GT(frame, 0);
    qToBigEndian(quint16(10'000), jpeg.data() + frame + 5);
    qToBigEndian(quint16(10'000), jpeg.data() + frame + 7);
    return jpeg;
}

} // namespace

TEST(DropImport, ACancelMetWhileWaitingForRoomToDrawDrawsNothing) {
    // Another drop takes all the room to draw: its four checks wait inside their drawing until
    // the test lets them go.
    struct Hog {
        std::mutex mutex;
        QHash<Qt::HANDLE, int> looks;
        int drawing = 0;
        bool released = false;
        std::condition_variable go;
    };
    const auto hog = std::make_shared<Hog>();
    ExternalImageDrop::ImportOptions hogOptions;
    auto hogCancel = std::make_shared<std::atomic<bool>>(false);
    hogOptions.cancelled = hogCancel;
    hogOptions.cancelLook = [hog] {
        std::unique_lock lock(hog->mutex);
        // The third look of a check comes after its room to draw was given.
        if (++hog->looks[QThread::currentThreadId()] != 3)
            return;
        ++hog->drawing;
        // Bounded: a check that looks from inside its decoder holds the image readers' lock meanwhile.
        if (!hog->go.wait_for(lock, 10s, [&] { return hog->released; }))
            hog->released = true;
    };
    // Made before anything waits: it takes the image writers' lock.
    const Items picture{{Source::fromBytes(pngBytes(9, 9, Qt::magenta))}};
    Items hogItems;
    for (const QColor color : {Qt::red, Qt::green, Qt::blue, Qt::yellow})
        hogItems.append({Source::fromBytes(jpegClaimingTheLimit(color))});
    const QString hogStorage = makeFolder(u"hog"_s);
    auto hogging = std::async(std::launch::async, [&] {
        return ExternalImageDrop::materialize({.items = hogItems}, hogStorage, hogOptions);
    });
    const auto release = [&] {
        hogCancel->store(true);
        std::lock_guard lock(hog->mutex);
        hog->released = true;
        hog->go.notify_all();
    };
    const auto hogDrawing = [hog] {
        std::lock_guard lock(hog->mutex);
        return hog->drawing;
    };
    ASSERT_TRUE(waitUntil([&] { return hogDrawing() > 0; })) << (release(), "the other drop never drew");
    // Each check took its room before that look; one that looks elsewhere still holds it.
    waitUntil([&] { return hogDrawing() == 4; }, 2s);

    // One drop looks at its cancel through the seam, the other only as the import does.
    struct Looks {
        std::mutex mutex;
        int before = 0;
        int after = 0;
        bool cancelled = false;
    };
    const auto looks = std::make_shared<Looks>();
    auto seenCancel = std::make_shared<std::atomic<bool>>(false);
    ExternalImageDrop::ImportOptions seen{.cancelled = seenCancel};
    seen.cancelLook = [looks] {
        std::lock_guard lock(looks->mutex);
        ++(looks->cancelled ? looks->after : looks->before);
    };
    auto plainCancel = std::make_shared<std::atomic<bool>>(false);
    const QString seenStorage = makeFolder(u"seen"_s);
    const QString plainStorage = makeFolder(u"plain"_s);
    auto seenDrop = std::async(std::launch::async, [&] {
        return ExternalImageDrop::materialize({.items = picture}, seenStorage, seen);
    });
    auto plainDrop = std::async(std::launch::async, [&] {
        return ExternalImageDrop::materialize({.items = picture}, plainStorage, {.cancelled = plainCancel});
    });
    // Both wait for room: the one with the seam after its second look, the other once its bytes
    // went to the disk, just before its drawing.
    const bool waiting = waitUntil(
        [&] {
            std::lock_guard lock(looks->mutex);
            return looks->before >= 2 && !QDir(ExternalImageDrop::importFolder(plainStorage))
                                              .entryList(QDir::Files | QDir::Hidden)
                                              .isEmpty();
        },
        20s);
    QThread::msleep(100);
    {
        std::lock_guard lock(looks->mutex);
        looks->cancelled = true;
        seenCancel->store(true);
        plainCancel->store(true);
    }
    release();
    ASSERT_TRUE(waiting) << "the drops never came to wait for room to draw";
    const auto seenResult = seenDrop.get();
    const auto plainResult = plainDrop.get();
    hogging.get();
    for (const auto* result : {&seenResult, &plainResult}) {
        EXPECT_TRUE(result->paths.isEmpty()) << "a picture was saved after its drop was cancelled";
        EXPECT_EQ(result->failures, 1);
        EXPECT_EQ(result->detail, ExternalImageDrop::cancelledError().localizedDescription());
    }
    EXPECT_EQ(looks->after, 1) << "the cancel was not looked at once the room was given, or the picture was "
                                  "read after it";
    for (const QString& storage : {seenStorage, plainStorage, hogStorage})
        EXPECT_TRUE(importedFiles(storage).isEmpty()) << storage.toStdString();
}

TEST(DropImport, JpegsCheckedAtThumbnailSizeKeepTheirPictures) {
    const QByteArray jpeg = encoded("jpeg", 1600, 1200, Qt::darkGreen);
    // Its header reads, its picture does not: the quantization tables are cut out.
    QByteArray tableless = jpeg.left(2);
    for (qsizetype at = 2; at + 4 <= jpeg.size();) {
        const int length = (quint8(jpeg[at + 2]) << 8) | quint8(jpeg[at + 3]);
        if (quint8(jpeg[at + 1]) == 0xDA) {
            tableless += jpeg.mid(at);
            break;
        }
        if (quint8(jpeg[at + 1]) != 0xDB)
            tableless += jpeg.mid(at, 2 + length);
        at += 2 + length;
    }
    ASSERT_TRUE(ImageDecoder::readHeader(tableless).ok());
    // The copied file is on its way to the disk while it is checked: refused, it leaves nothing.
    const QString copied = written(makeFolder(u"tableless"_s) + u"/copied.jpg"_s, tableless);
    const Items items{{Source::fromBytes(jpeg)},
                      {Source::fromBytes(tableless)},
                      {Source::fromBytes(pngBytes())},
                      {Source::file(copied, true)}};

    for (const int pixels : {720, 0}) {
        SCOPED_TRACE(testing::Message() << "thumbnail pixels " << pixels);
        const auto result = materializeOffMain({.items = items}, {.thumbnailPixels = pixels});
        EXPECT_EQ(importedFiles(storageFolder()).size(), 2)
            << importedFiles(storageFolder()).join(u',').toStdString();
        EXPECT_EQ(result.failures, 2);
        EXPECT_EQ(result.detail, u"图片损坏或尺寸过大。"_s);
        ASSERT_EQ(result.paths.size(), 2);
        if (pixels == 0) {
            EXPECT_TRUE(result.thumbnails.isEmpty());
            continue;
        }
        EXPECT_EQ(result.thumbnails.keys(), QStringList{result.paths[0]}) << "only a JPEG keeps its picture";
        const QImage kept = result.thumbnails.value(result.paths[0]);
        EXPECT_EQ(kept.size(), QSize(720, 540));
        EXPECT_EQ(kept, ImageDecoder::decodeScaled(result.paths[0], 720).valueOr({}))
            << "the picture the index would draw from the saved file";
    }
}

// Drawing 30,000 translucent rectangles that each cover the whole picture takes a tenth of a second
// at the small check's size and several seconds of a core at a thumbnail's.
QByteArray rectanglesSvg(int count) {
    QByteArray svg(R"(<svg xmlns="http://www.w3.org/2000/svg" width="4000" height="3000">)");
    for (int i = 0; i < count; ++i)
        svg += R"(<rect width="4000" height="3000" fill="#3060a0" fill-opacity="0.01"/>)"
               "\n";
    return svg + "</svg>\n";
}

TEST(DropImport, SvgsAreCheckedAtTheSizeTheGalleryDrawsThem) {
    const QByteArray costly = rectanglesSvg(30'000);
    const QByteArray plain(R"(<svg xmlns="http://www.w3.org/2000/svg" width="1600" height="1200">)"
                           R"(<rect width="1600" height="1200" fill="#3060a0"/></svg>)");
    const QString copied = written(makeFolder(u"costly"_s) + u"/rectangles.svg"_s, costly);
    const Items items{{Source::fromBytes(costly)}, {Source::fromBytes(plain)}, {Source::file(copied, true)}};

    for (const int pixels : {720, 0}) {
        SCOPED_TRACE(testing::Message() << "thumbnail pixels " << pixels);
        const auto result = materializeOffMain({.items = items}, {.thumbnailPixels = pixels});
        EXPECT_EQ(importedFiles(storageFolder()).size(), 1)
            << importedFiles(storageFolder()).join(u',').toStdString();
        EXPECT_EQ(result.failures, 2) << "an SVG the gallery cannot draw was taken in";
        EXPECT_EQ(result.detail, u"图片损坏或尺寸过大。"_s);
        ASSERT_EQ(result.paths.size(), 1);
        if (pixels == 0) {
            EXPECT_TRUE(result.thumbnails.isEmpty());
            continue;
        }
        const QImage kept = result.thumbnails.value(result.paths[0]);
        EXPECT_EQ(kept.size(), QSize(720, 540)) << "the checked drawing is the thumbnail";
    }
}

TEST(DropImport, PhotosItemsAreCopiedIntoTheirOwnFolder) {
    auto library = std::make_shared<FakePhotosLibrary>();
    const QString id = library->addAsset(u"IMG_2.png"_s, pngBytes(5, 5));
    PhotosLibrary::setShared(library);
    const auto snapshot = ExternalImageDrop::snapshot(*library->dragData({id}), {});
    PhotosLibrary::setShared(nullptr);
    const QString lib = QFileInfo(library->path()).canonicalFilePath();
    const QString libraryUrl = QUrl::fromLocalFile(lib).toString();
    const PhotosOrigin origin{id, lib};
    const QString storage = storageFolder();
    const auto imported = materializeOffMain(snapshot);
    ASSERT_EQ(imported.paths.size(), 1);
    EXPECT_EQ(QFileInfo(imported.paths[0]).path(),
              storage + u"/photos-imports/"_s + origin.storageKey() + u"/imported-images"_s);
    EXPECT_EQ(imported.origins.value(imported.paths[0]), origin);

    // An identifier without a UUID is dropped; a file of another library names that library.
    EXPECT_EQ(ExternalImageDrop::readPhotosOrigin(
                  std::nullopt, PhotosAssetReference{u"x/L0/001"_s, libraryUrl}, true, true),
              (PhotosOrigin{std::nullopt, lib}));
    FakePhotosLibrary other(u"Other"_s);
    EXPECT_EQ(ExternalImageDrop::readPhotosOrigin(written(other.path() + u"/originals/a.jpg"_s, "x"),
                                                  PhotosAssetReference{id, libraryUrl}, true, true),
              (PhotosOrigin{std::nullopt, QFileInfo(other.path()).canonicalFilePath()}));
}

TEST(DropImport, DuplicateIsAllOrNothing) {
    const QString storage = storageFolder();
    const QString folder = makeFolder(u"Desktop"_s);
    QList<Photo> photos;
    for (const char* name : {"/a.png", "/b.png", "/noextension"})
        photos.append(photoOf(written(folder + QLatin1String(name), pngBytes())));
    auto copies = ExternalImageDrop::duplicate(photos, storage);
    ASSERT_TRUE(copies.ok()) << message(copies).toStdString();
    ASSERT_EQ(copies->size(), 3);
    EXPECT_TRUE(QFileInfo(copies->at(0)).fileName().startsWith(u"照片副本-"_s) &&
                copies->at(0).endsWith(u".png"_s));
    EXPECT_EQ(QFileInfo(copies->at(2)).fileName().size(), u"照片副本-"_s.size() + 36)
        << "no dot without an extension";
    EXPECT_EQ(readFile(copies->at(1)), pngBytes());
    for (const QString& path : *copies)
        QFile::remove(path);

    // The second original grows while it is copied: nothing of this call remains.
    auto failed = ExternalImageDrop::duplicate(photos, storage, [&](int index, const QString&) {
        QFile file(photos[1].path);
        if (index == 1 && file.open(QIODevice::Append))
            file.write("more");
    });
    EXPECT_EQ(message(failed), u"复制期间原图发生变化，请重新拖动。"_s);
    EXPECT_TRUE(importedFiles(storage).isEmpty()) << importedFiles(storage).join(u',').toStdString();

    Photo replaced = photos[0]; // no longer the photo's file
    replaced.id = u"1-1"_s;
    EXPECT_FALSE(ExternalImageDrop::duplicate({photos[2], replaced}, storage).ok());
    EXPECT_TRUE(importedFiles(storage).isEmpty());
}

TEST(DropImport, LeftoverPartialFilesAreRemovedAtStart) {
    const QString storage = storageFolder();
    const QString imported = storage + u"/imported-images"_s;
    writeFile(imported + u"/.照片副本-A.partial"_s, "x");
    writeFile(imported + u"/.照片副本-B.partial.vennimo-partial-AbC123"_s, "x");
    writeFile(storage + u"/photos-imports/key/imported-images/.导入图片-B.png.C.partial"_s, "x");
    writeFile(imported + u"/导入图片-kept.png"_s, "x");
    writeFile(imported + u"/visible.partial"_s, "x");
    EXPECT_EQ(ExternalImageDrop::removeLeftoverPartials(storage), 0) << "written since this process started";

    // Another running instance still writes this one.
    writeFile(imported + u"/.导入图片-busy.png.D.partial"_s, "x");
    const int busy = ::open(QFile::encodeName(imported + u"/.导入图片-busy.png.D.partial"_s).constData(),
                            O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(busy, LOCK_EX), 0);
    const auto later = LeftoverTemporaries::Clock::now() + 1s;
    EXPECT_EQ(ExternalImageDrop::removeLeftoverPartials(storage, later), 3);
    EXPECT_EQ(importedFiles(storage),
              (QStringList{u".导入图片-busy.png.D.partial"_s, u"visible.partial"_s, u"导入图片-kept.png"_s}));
    EXPECT_TRUE(importedFiles(storage + u"/photos-imports/key"_s).isEmpty());
    ::close(busy);
}

TEST_F(DropPromise, CompletesWhenEveryAnnouncedFileWasReportedAndIgnoresLateOnes) {
    FilePromiseReceiver::Reader later;
    QString folder;
    Source image = promised({u"a.png"_s, u"b.png"_s, u"c.png"_s},
                            [&](const QString& directory, FilePromiseReceiver::Reader reader) {
                                folder = directory;
                                // Reported while receive() still runs: must not count as complete.
                                reader(written(directory + u"/a.png"_s, pngBytes(2, 2)));
                                later = reader;
                            });
    std::this_thread::sleep_for(20ms);
    later(Error::failure(u"second failed"_s));
    later(written(folder + u"/c.png"_s, pngBytes(3, 3)));
    const auto outcome = image.promise->take(5s);
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_EQ(outcome.data, (QList<QByteArray>{pngBytes(2, 2), pngBytes(3, 3)}));
    EXPECT_EQ(outcome.error.value_or(Error()).message, u"second failed"_s);
    later(written(folder + u"/d.png"_s, pngBytes()));
    EXPECT_TRUE(image.promise->take(20ms).data.isEmpty()) << "finished promises take nothing more";

    image.promise.reset();
    later = nullptr;
    // The reader's pending task may still hold the folder for a moment.
    for (int i = 0; i < 100 && QFileInfo::exists(folder); ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(QFileInfo::exists(folder)) << "the folder goes with its last holder";
    EXPECT_FALSE(promised({}, kDecline).promise->take(5s).timedOut)
        << "nothing announced: one report ends it";

    // Every readable delivered file is saved; an unreadable one among them does not fail the item.
    const auto result =
        materializeOffMain({.items = {{delivering({u"a.png"_s, u"b.png"_s}, {pngBytes(4, 4), "text"})}}});
    EXPECT_EQ(result.paths.size(), 1);
    EXPECT_EQ(result.failures, 0);
}

TEST_F(DropPromise, FailuresAndTimeOutsFallThroughToTheNextAlternative) {
    const auto result =
        materializeOffMain({.items = {{promised({}, [](const QString&, FilePromiseReceiver::Reader) {})},
                                      {promised({u"x.png"_s}, kDecline), Source::fromBytes(pngBytes())}}},
                           {.promiseWait = 50ms});
    EXPECT_EQ(result.paths.size(), 1) << "the declined promise falls back to the bytes";
    EXPECT_EQ(result.failures, 1);
    EXPECT_EQ(result.detail, u"等待来源应用提供图片超时，请重新拖入。"_s);
    EXPECT_EQ(materializeOffMain({.items = {{delivering({u"n.png"_s}, {"junk"})}}}).detail,
              u"来源应用没有提供可读取的图片文件。"_s);
}

TEST_F(DropPromise, FilesOutsideTheFolderNeverReachTheStorageFolder) {
    const QString outside = written(makeFolder(u"elsewhere"_s) + u"/secret.png"_s, pngBytes());
    const auto result = materializeOffMain(
        {.items = {{promised({u"../../x.png"_s, u"b"_s, u"c"_s},
                             [&](const QString& directory, FilePromiseReceiver::Reader reader) {
                                 reader(written(directory + u"/../../x.png"_s, pngBytes(3, 3)));
                                 QFile::link(outside, directory + u"/link.png"_s);
                                 reader(directory + u"/link.png"_s);
                                 reader(outside);
                             })}}});
    EXPECT_TRUE(result.paths.isEmpty());
    EXPECT_EQ(result.detail, u"来源返回了接收目录外的文件。"_s);
    EXPECT_TRUE(QDir(storageFolder()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

TEST_F(DropPromise, StaleDropFoldersAreRemovedAtStart) {
    const QString stale = QDir::tempPath() + u"/vennimo-drop-OLD"_s;
    const QString unrelated = QDir::tempPath() + u"/other-OLD"_s;
    writeFile(stale + u"/x.png"_s, "x");
    QDir().mkpath(unrelated);
    for (const QString& path : {stale, unrelated}) {
        const utimbuf old{time(nullptr) - 3600, time(nullptr) - 3600};
        ASSERT_EQ(::utime(QFile::encodeName(path).constData(), &old), 0);
    }
    const auto fresh = PromiseDirectory::create().value();
    EXPECT_EQ(PromiseDirectory::removeStale(), 1);
    EXPECT_FALSE(QFileInfo::exists(stale));
    EXPECT_TRUE(QFileInfo::exists(unrelated));
    EXPECT_TRUE(QFileInfo::exists(fresh->path())) << "a drop in progress keeps its folder";
}
