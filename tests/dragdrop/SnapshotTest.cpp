#include "DropTestHelpers.h"
#include "dragdrop/DroppedPicture.h"
#include "support/FakePhotosLibrary.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QMimeData>
#include <QThread>
#include <QUrl>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace vennimo;
using namespace vennimo::test;
using Kind = Source::Kind;

namespace {

std::unique_ptr<QMimeData> mime(const QList<std::pair<const char*, QByteArray>>& offers) {
    auto data = std::make_unique<QMimeData>();
    for (const auto& [type, bytes] : offers)
        data->setData(QLatin1String(type), bytes);
    return data;
}

// Snapshots with `count` promises that the source declines.
ExternalImageDrop::Snapshot snapshot(const QMimeData& data, int count = 0) {
    return ExternalImageDrop::snapshot(data, [count](const QMimeData&) {
        QList<std::shared_ptr<FilePromiseReceiver>> receivers;
        for (int i = 0; i < count; ++i)
            receivers.append(std::make_shared<FakePromiseReceiver>(QStringList{}, kDecline));
        return receivers;
    });
}

} // namespace

TEST(DropSnapshot, CanReadLooksAtTypesAndFileUrlsOnlyAndAfreshForEachDrag) {
    const QString folder = makeFolder(u"Desktop"_s);
    const QByteArray notes =
        QUrl::fromLocalFile(written(folder + u"/notes.txt"_s, "text")).toEncoded() + "\n";
    const QByteArray photo =
        QUrl::fromLocalFile(written(folder + u"/photo.jpg"_s, encoded("jpeg"))).toEncoded();
    ASSERT_TRUE(QFile::link(folder + u"/photo.jpg"_s, folder + u"/link.jpg"_s));
    const QByteArray link = QUrl::fromLocalFile(folder + u"/link.jpg"_s).toEncoded();
    const QByteArray photosType = PhotosLibrary::pasteboardType().toLatin1();
    for (const auto& [type, data, readable] : {
             std::tuple{"text/uri-list", notes, false},
             {"text/uri-list", notes + photo, true},
             {"text/uri-list", link, false},                     // a link to an image is no image file
             {photosType.constData(), "<plist/>", false},        // where it came from, but nothing to read
             {"text/uri-list", "ftp://example.invalid/a", true}, // any other scheme
             {"application/octet-stream", "x", true},            // before the contents are known
             {"text/html", "<b>hello</b>", false},               // selected text
         })
        EXPECT_EQ(ExternalImageDrop::canRead(*mime({{type, data}})), readable) << type << ": " << data.data();

    // The platform keeps one data object for every drag that comes in from another program.
    const auto data = mime({{"text/uri-list", photo}});
    ExternalImageDrop::beginDrag();
    EXPECT_TRUE(ExternalImageDrop::canRead(*data));
    data->setData(u"text/uri-list"_s, notes);
    ExternalImageDrop::beginDrag();
    EXPECT_FALSE(ExternalImageDrop::canRead(*data)) << "a new drag is looked at afresh";
    const auto other = mime({{"text/uri-list", photo}});
    EXPECT_TRUE(ExternalImageDrop::canRead(*other)) << "other data within the same drag";
    EXPECT_FALSE(ExternalImageDrop::canRead(*data));
}

TEST(DropSnapshot, ByteAlternativesKeepTheirOrderAndLimits) {
    // Offered in the "wrong" order on purpose: the order of preference is ours.
    const auto taken = snapshot(*mime({{"image/heic", "heic-bytes"},
                                       {"image/tiff", encoded("tiff")},
                                       {"image/jpeg", encoded("jpeg")},
                                       {"image/gif", QByteArray()},
                                       {"image/webp", QByteArray(ExternalImageDrop::kMaxImageBytes + 1, 'w')},
                                       {"text/html", "<img>"}}));
    EXPECT_EQ(taken.items, (Items{{Source::fromBytes(encoded("jpeg"))}}))
        << "JPEG before TIFF, and a picture ends the reading";

    // Bytes that are no picture do not end it: the next type is read, the six before the others.
    const auto unsure =
        snapshot(*mime({{"image/heic", "heic-bytes"},
                        {"image/tiff", "tiff-bytes"},
                        {"image/png", "png-bytes"},
                        {"image/gif", QByteArray()},
                        {"image/webp", QByteArray(ExternalImageDrop::kMaxImageBytes + 1, 'w')}}));
    EXPECT_EQ(unsure.items, (Items{{Source::fromBytes("png-bytes"), Source::fromBytes("tiff-bytes"),
                                    Source::fromBytes("heic-bytes")}}))
        << "in preference order; empty and too large left out";
    const auto second = snapshot(
        *mime({{"image/webp", encoded("tiff")}, {"image/png", "png-bytes"}, {"image/tiff", "tiff-bytes"}}));
    EXPECT_EQ(second.items, (Items{{Source::fromBytes("png-bytes"), Source::fromBytes(encoded("tiff"))}}))
        << "the first picture, whatever type it came as, ends the reading";
    EXPECT_TRUE(unsure.unreadItems.isEmpty()) << "every type was read in time";
    EXPECT_EQ(materializeOffMain(unsure).detail, kNotImageMessage);

    // Nothing usable: the item stays, empty, and fails on import.
    for (const auto& [type, data] : {std::pair{"image/png", QByteArray()},
                                     {"image/jpeg", QByteArray(ExternalImageDrop::kMaxImageBytes + 1, 'j')},
                                     {"application/octet-stream", QByteArray("#!/bin/sh\nrm -rf /\n")}}) {
        const auto empty = snapshot(*mime({{type, data}}));
        EXPECT_EQ(empty.items, Items{{}}) << type;
        EXPECT_EQ(materializeOffMain(empty).detail, kNoDataMessage);
    }
}

TEST(DropSnapshot, WebUrlsComeFromEveryBrowserType) {
    const auto taken =
        snapshot(*mime({{"text/uri-list", "HTTPS://example.invalid/a.png\r\nftp://x.invalid/b.png\r\n"
                                          "file:///etc/passwd\r\n" +
                                              u"file:///srv/相册/照片 1.jpg"_s.toUtf8()}}));
    EXPECT_EQ(taken.items, (Items{{Source::remote(QUrl(u"https://example.invalid/a.png"_s))},
                                  {}, // no ftp
                                  {Source::file(u"/etc/passwd"_s, false)},
                                  {Source::file(u"/srv/相册/照片 1.jpg"_s, false)}}))
        << "capital schemes, file URLs as files, unencoded names as some sources write them";

    const QString moz = u"\uFEFFhttps://example.invalid/m.png\nTitle"_s;
    const QByteArray utf16(reinterpret_cast<const char*>(moz.utf16()), moz.size() * 2);
    for (const auto& [type, data, url] :
         {std::tuple{"text/x-moz-url", utf16, "https://example.invalid/m.png"},
          {"_NETSCAPE_URL", QByteArray("data:image/png;base64,AAAA\nlink title"),
           "data:image/png;base64,AAAA"}})
        EXPECT_EQ(snapshot(*mime({{type, data}})).items, (Items{{Source::remote(QUrl(QLatin1String(url)))}}))
            << type;
}

TEST(DropSnapshot, PlainFilesAreUsedInPlaceUnlessTemporaryOrOfferedWithData) {
    const QString inPlace = written(makeFolder(u"Desktop"_s) + u"/photo.jpg"_s, encoded("jpeg"));
    const QString link = QFileInfo(inPlace).path() + u"/link.jpg"_s;
    // The test's own home lies in the temporary folder; here only the runtime folder counts.
    const QString runtime = QFileInfo(qEnvironmentVariable("XDG_RUNTIME_DIR")).canonicalFilePath();
    const QString temporary = written(runtime + u"/drag.jpg"_s, encoded("jpeg"));
    ExternalImageDrop::overrideTemporaryFolders(QStringList{runtime + u'/'});
    ASSERT_TRUE(QFile::link(temporary, link));

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(inPlace), QUrl::fromLocalFile(temporary), QUrl::fromLocalFile(link)});
    EXPECT_EQ(
        snapshot(files).items,
        (Items{{Source::file(inPlace, false)}, {Source::file(temporary, true)}, {Source::file(link, true)}}))
        << "a link into a temporary folder is copied too";
    files.setUrls({QUrl::fromLocalFile(inPlace)});
    files.setData(u"image/png"_s, pngBytes());
    EXPECT_EQ(snapshot(files).items, (Items{{Source::file(inPlace, true), Source::fromBytes(pngBytes())}}))
        << "a file offered with image bytes is copied";

    ExternalImageDrop::overrideTemporaryFolders(std::nullopt);
    for (const QString& path :
         {u"/tmp/a.png"_s, u"/var/tmp/a.png"_s, u"/private/var/folders/x/a.png"_s, temporary})
        EXPECT_TRUE(ExternalImageDrop::isInTemporaryFolder(path)) << path.toStdString();
    for (const QString& path : {u"/tmpfoo/a.png"_s, u"/var/lib/a.png"_s})
        EXPECT_FALSE(ExternalImageDrop::isInTemporaryFolder(path)) << path.toStdString();
}

TEST(DropSnapshot, PromisesNotClaimedByAnItemBecomeItems) {
    const auto taken = snapshot(*mime({{"XdndDirectSave0", QByteArray()}}), 2);
    ASSERT_EQ(taken.items.size(), 2);
    const auto first = taken.items[0].value(0).promise, second = taken.items[1].value(0).promise;
    ASSERT_TRUE(first && second && first != second);
    const auto& directory = first->directory();
    EXPECT_EQ(directory, second->directory()) << "one private folder per drop";
    EXPECT_TRUE(QFileInfo(directory->path()).fileName().startsWith(u"vennimo-drop-"_s));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(directory->path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "nobody else may look into the drop folder";
}

TEST(DropSnapshot, WholeDropIsCapped) {
    QByteArray urls;
    for (int i = 0; i < ExternalImageDrop::kMaxDropItems + 5; ++i)
        urls += "https://example.invalid/" + QByteArray::number(i) + ".png\n";
    const auto capped = snapshot(*mime({{"text/uri-list", urls}}));
    EXPECT_EQ(capped.items.size(), ExternalImageDrop::kMaxDropItems);
    EXPECT_EQ(capped.droppedItems, 5);

    // Five 60 MiB alternatives: the first four fit into 256 MiB, the fifth is left out.
    QMimeData large;
    for (int i = 0; i < 5; ++i)
        large.setData(ExternalImageDrop::imageTypes()[i], QByteArray(60 << 20, char('a' + i)));
    const auto limited = snapshot(large);
    ASSERT_EQ(limited.items.value(0).size(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(limited.items[0][i].bytes.at(0), char('a' + i)) << "kept in order";
}

namespace {

// A source that stopped answering: every read comes back empty after the selection time-out.
class StalledSource : public QMimeData {
public:
    mutable int asked = 0;
    QStringList formats() const override {
        return {u"text/uri-list"_s, u"image/png"_s, u"image/jpeg"_s, u"application/octet-stream"_s};
    }
    bool hasFormat(const QString& type) const override { return formats().contains(type); }

protected:
    QVariant retrieveData(const QString&, QMetaType) const override {
        ++asked;
        QThread::msleep(ExternalImageDrop::kStalledReadMs + 50);
        return QByteArray();
    }
};

} // namespace

TEST(DropSnapshot, ASourceThatStoppedAnsweringIsAskedOnce) {
    StalledSource source;
    const auto taken = snapshot(source);
    EXPECT_EQ(source.asked, 1) << "one time-out, not one per type";
    ASSERT_EQ(taken.items.size(), 1) << "the item its types promised, with nothing to try";
    EXPECT_TRUE(taken.items[0].isEmpty());
    EXPECT_EQ(materializeOffMain(taken).failures, 1);
}

namespace {

// A source that answers every type after `delayMs` with `answer`, noting what it was asked for.
class SlowSource : public QMimeData {
public:
    SlowSource(QStringList types, int delayMs, QByteArray answer)
        : m_types(std::move(types))
        , m_delayMs(delayMs)
        , m_answer(std::move(answer)) {}
    mutable QStringList asked;
    QStringList formats() const override { return m_types; }
    bool hasFormat(const QString& type) const override { return m_types.contains(type); }

protected:
    QVariant retrieveData(const QString& type, QMetaType) const override {
        asked.append(type);
        QThread::msleep(m_delayMs);
        return m_answer;
    }

private:
    QStringList m_types;
    int m_delayMs;
    QByteArray m_answer;
};

} // namespace

TEST(DropSnapshot, OnlyImportableTypesAreReadAndAllReadsOfADropShareOneTime) {
    // Types the import cannot make a picture of are never asked for.
    EXPECT_FALSE(ExternalImageDrop::importableImageType(u"image/x-vennimo-sketch"_s));
    EXPECT_TRUE(ExternalImageDrop::importableImageType(u"image/x-bmp"_s)) << "an alias of image/bmp";
    EXPECT_TRUE(ExternalImageDrop::importableImageType(u"image/heic"_s));
    EXPECT_TRUE(ExternalImageDrop::importableImageType(u"image/x-canon-cr2"_s)) << "camera RAW";
    SlowSource unknown({u"image/x-vennimo-sketch"_s, u"image/png"_s}, 0, encoded("png"));
    const auto known = snapshot(unknown);
    EXPECT_EQ(unknown.asked, QStringList{u"image/png"_s});
    EXPECT_EQ(known.items, (Items{{Source::fromBytes(encoded("png"))}}));
    // Offered alone, such a type is no picture at all: the drop has nothing to read.
    SlowSource sketch({u"image/x-vennimo-sketch"_s}, 0, encoded("png"));
    EXPECT_TRUE(snapshot(sketch).isEmpty());
    EXPECT_TRUE(sketch.asked.isEmpty()) << sketch.asked.join(u", "_s).toStdString();

    // Twelve types that each take 0.4 s and bring nothing: the reading stops when the drop's time
    // is up, and the item counts as unreadable rather than empty.
    const QStringList twelve = ExternalImageDrop::imageTypes() + QStringList{u"image/bmp"_s,
                                                                             u"image/x-portable-pixmap"_s,
                                                                             u"image/x-portable-graymap"_s,
                                                                             u"image/x-portable-bitmap"_s,
                                                                             u"image/x-xpixmap"_s,
                                                                             u"image/x-xbitmap"_s};
    for (const QString& type : twelve)
        ASSERT_TRUE(ExternalImageDrop::importableImageType(type)) << type.toStdString();
    SlowSource slow(twelve, 400, QByteArray());
    const auto taken = snapshot(slow);
    EXPECT_GE(slow.asked.size(), 2);
    EXPECT_LT(slow.asked.size(), twelve.size()) << "every type was asked for";
    ASSERT_EQ(taken.items, Items{{}});
    EXPECT_EQ(taken.unreadItems, QList<int>{0});
    EXPECT_EQ(materializeOffMain(taken).detail, kNotImageMessage);
}

namespace {

// A source read over a connection of our own, as on X11: a type it never answers costs the
// time the read is given and no more; the others answer at once. Notes what was asked for, in
// order, and how long each read was given.
struct BoundedSource {
    QMap<QString, std::optional<QByteArray>> answers;
    // How long after its deadline a read of a type never answered comes back, as on a busy
    // machine where the waiting thread is woken late.
    qint64 lateBy = 0;
    mutable QStringList asked;
    mutable QList<qint64> given;

    DropDataFetch fetch() const {
        return [this](const QString& type, const QDeadlineTimer& deadline) -> std::optional<QByteArray> {
            asked.append(type);
            given.append(deadline.remainingTime());
            const std::optional<QByteArray> answer = answers.value(type);
            if (!answer)
                QThread::msleep(quint64(std::max<qint64>(0, deadline.remainingTime()) + lateBy));
            return answer;
        };
    }
    // How long the data takes to name its types, each time it is asked, as Qt's drop data on X11
    // does by asking the X server; how often it was asked.
    qint64 namingMs = 0;
    mutable int namings = 0;

    std::unique_ptr<QMimeData> data() const;
};

class SlowNamingData : public QMimeData {
public:
    explicit SlowNamingData(const BoundedSource& source)
        : m_source(source) {}
    QStringList formats() const override {
        ++m_source.namings;
        QThread::msleep(quint64(m_source.namingMs));
        return QMimeData::formats();
    }

private:
    const BoundedSource& m_source;
};

std::unique_ptr<QMimeData> BoundedSource::data() const {
    auto mime = std::make_unique<SlowNamingData>(*this);
    for (auto it = answers.begin(); it != answers.end(); ++it)
        mime->setData(it.key(), it.value().value_or(QByteArray()));
    return mime;
}

ExternalImageDrop::Snapshot boundedSnapshot(const BoundedSource& source) {
    const auto data = source.data();
    return ExternalImageDrop::snapshot(
        *data, [](const QMimeData&) { return QList<std::shared_ptr<FilePromiseReceiver>>{}; },
        source.fetch());
}

const QString kUriList = u"text/uri-list"_s;
const QString kPng = u"image/png"_s;

} // namespace

TEST(DropSnapshot, ATypeTheSourceNeverGivesLeavesThePictureBesideItTime) {
    // A URI list that never comes has half the drop's time; the PNG beside it is still read.
    BoundedSource stalledList;
    stalledList.answers = {{kUriList, std::nullopt}, {kPng, pngBytes()}};
    const auto listed = boundedSnapshot(stalledList);
    EXPECT_EQ(listed.items, (Items{{Source::fromBytes(pngBytes())}}));
    ASSERT_EQ(stalledList.asked, (QStringList{kUriList, kPng}));
    EXPECT_LE(stalledList.given[0], ExternalImageDrop::kDropReadMs / 2) << "the list's share of the time";
    EXPECT_GT(stalledList.given[1], 0) << "time left for the picture";

    // Where the source answers, the file still comes before the picture a file manager offers.
    const QString photo = written(makeFolder(u"Desktop"_s) + u"/photo.jpg"_s, encoded("jpeg"));
    BoundedSource files;
    files.answers = {{kUriList, QUrl::fromLocalFile(photo).toEncoded()}, {kPng, pngBytes()}};
    EXPECT_EQ(boundedSnapshot(files).items,
              (Items{{Source::file(photo, true), Source::fromBytes(pngBytes())}}));

    // The Photos reference is read after the pictures, with the time they left; a reference that
    // never comes costs its origin's identifier, not the picture.
    auto library = std::make_shared<FakePhotosLibrary>();
    PhotosLibrary::setShared(library);
    BoundedSource reference;
    reference.answers = {{PhotosLibrary::pasteboardType(), std::nullopt}, {kPng, pngBytes()}};
    const auto referenced = boundedSnapshot(reference);
    EXPECT_EQ(referenced.items, (Items{{Source::fromBytes(pngBytes())}}));
    EXPECT_EQ(reference.asked, (QStringList{kPng, PhotosLibrary::pasteboardType()}));
    EXPECT_EQ(referenced.origins.value(0), PhotosOrigin{}) << "from Photos, not knowing which asset";

    // A library this platform restricts can never match a reference: it is not asked for.
    library->setAuthorization(PhotosAuthorization::Restricted);
    reference.asked.clear();
    EXPECT_EQ(boundedSnapshot(reference).items, (Items{{Source::fromBytes(pngBytes())}}));
    EXPECT_EQ(reference.asked, QStringList{kPng});
    PhotosLibrary::setShared(nullptr);

    // Nothing comes at all: every type is asked for once, and the item is unreadable, not empty.
    BoundedSource silent;
    silent.answers = {{kUriList, std::nullopt}, {kPng, std::nullopt}, {u"image/jpeg"_s, std::nullopt}};
    const auto nothing = boundedSnapshot(silent);
    EXPECT_EQ(nothing.items, Items{{}});
    EXPECT_EQ(nothing.unreadItems, QList<int>{0});
    EXPECT_EQ(silent.asked, (QStringList{kUriList, kPng, u"image/jpeg"_s})) << "each once, in its share";
}

TEST(DropSnapshot, EachPictureTypeHasItsShareOfTheTimeLeftSoThatOneNeverGivenLeavesTheNextItsTime) {
    const QString kJpeg = u"image/jpeg"_s;
    const QByteArray jpeg = encoded("jpeg", 40, 30);
    // A PNG that never comes has half the time: the JPEG beside it is read with the other half.
    BoundedSource stalledPng;
    stalledPng.answers = {{kPng, std::nullopt}, {kJpeg, jpeg}};
    EXPECT_EQ(boundedSnapshot(stalledPng).items, (Items{{Source::fromBytes(jpeg)}}));
    ASSERT_EQ(stalledPng.asked, (QStringList{kPng, kJpeg}));
    EXPECT_LE(stalledPng.given[0], ExternalImageDrop::kDropReadMs / 2);
    EXPECT_GE(stalledPng.given[1], ExternalImageDrop::kDropReadMs / 2 - 200) << "the JPEG's time";

    // A list and a PNG that never come: the list has half, the PNG half of the rest.
    BoundedSource stalledBoth;
    stalledBoth.answers = {{kUriList, std::nullopt}, {kPng, std::nullopt}, {kJpeg, jpeg}};
    EXPECT_EQ(boundedSnapshot(stalledBoth).items, (Items{{Source::fromBytes(jpeg)}}));
    EXPECT_EQ(stalledBoth.asked, (QStringList{kUriList, kPng, kJpeg}));

    // Twenty importable types that never come before the untyped bytes a browser offers.
    BoundedSource twenty;
    const QStringList stalled = ExternalImageDrop::imageTypes() + QStringList{u"image/bmp"_s,
                                                                              u"image/x-portable-pixmap"_s,
                                                                              u"image/x-portable-graymap"_s,
                                                                              u"image/x-portable-bitmap"_s,
                                                                              u"image/x-xpixmap"_s,
                                                                              u"image/x-xbitmap"_s,
                                                                              u"image/heic"_s,
                                                                              u"image/heif"_s,
                                                                              u"image/avif"_s,
                                                                              u"image/x-canon-cr2"_s,
                                                                              u"image/x-nikon-nef"_s,
                                                                              u"image/x-sony-arw"_s,
                                                                              u"image/x-adobe-dng"_s,
                                                                              u"image/x-fuji-raf"_s};
    ASSERT_EQ(stalled.size(), 20);
    for (const QString& type : stalled) {
        ASSERT_TRUE(ExternalImageDrop::importableImageType(type)) << type.toStdString();
        twenty.answers.insert(type, std::nullopt);
    }
    twenty.answers.insert(u"application/octet-stream"_s, pngBytes());
    EXPECT_EQ(boundedSnapshot(twenty).items, (Items{{Source::fromBytes(pngBytes())}}));
    EXPECT_EQ(twenty.asked.size(), 21);

    // The same on a busy machine, where each of the twenty reads ends well after its time: the
    // untyped bytes are still asked for, with time to answer.
    twenty.lateBy = 50;
    twenty.asked.clear();
    twenty.given.clear();
    EXPECT_EQ(boundedSnapshot(twenty).items, (Items{{Source::fromBytes(pngBytes())}}));
    ASSERT_EQ(twenty.asked.size(), 21);
    EXPECT_EQ(twenty.asked.last(), u"application/octet-stream"_s);
    EXPECT_GE(twenty.given.last(), 20) << "the untyped bytes' time";
    twenty.lateBy = 0;

    // Where naming the drag's types takes longer than a type's share of the time, the types are
    // named once for the whole drop, not again for every read: the untyped bytes still come.
    twenty.namingMs = 120;
    twenty.namings = 0;
    twenty.asked.clear();
    twenty.given.clear();
    EXPECT_EQ(boundedSnapshot(twenty).items, (Items{{Source::fromBytes(pngBytes())}}));
    ASSERT_EQ(twenty.asked.size(), 21);
    EXPECT_GE(twenty.given.last(), 20) << "the untyped bytes' time";
    EXPECT_EQ(twenty.namings, 1);
    twenty.namingMs = 0;

    // Offered alone, the list has all the time, not half of it.
    BoundedSource listAlone;
    listAlone.answers = {{kUriList, std::nullopt}};
    boundedSnapshot(listAlone);
    ASSERT_EQ(listAlone.asked, QStringList{kUriList});
    EXPECT_GT(listAlone.given[0], ExternalImageDrop::kDropReadMs * 3 / 4);

    // A picture cut off in transit is kept to try when the type after it never comes: the item is
    // not unreadable, whatever ran out after it.
    const QByteArray png = pngBytes(40, 30);
    BoundedSource cutThenStalled;
    cutThenStalled.answers = {{kPng, png.left(png.size() / 2)}, {kJpeg, std::nullopt}};
    const auto cut = boundedSnapshot(cutThenStalled);
    EXPECT_EQ(cut.items, (Items{{Source::fromBytes(png.left(png.size() / 2))}}));
    EXPECT_TRUE(cut.unreadItems.isEmpty());
}

TEST(DropSnapshot, AReadStartsWithoutTheLastOnesShortfall) {
    BoundedSource source;
    source.answers = {{kPng, std::nullopt}, {u"image/jpeg"_s, encoded("jpeg")}};
    const auto data = source.data();
    DropDataReader reader(*data, QDeadlineTimer(5000), source.fetch());
    EXPECT_TRUE(reader.read(kPng, QDeadlineTimer(50)).isEmpty());
    EXPECT_TRUE(reader.lastRanOut());
    EXPECT_EQ(reader.read(u"image/jpeg"_s), encoded("jpeg"));
    EXPECT_FALSE(reader.lastRanOut()) << "the JPEG came";
    EXPECT_TRUE(reader.read(u"image/gif"_s).isEmpty());
    EXPECT_FALSE(reader.lastRanOut()) << "not offered, so not run out of time";
}

TEST(DropSnapshot, AHoverReadsTheUriListBrieflyAndTakesADragItCouldNotReadInTime) {
    BoundedSource never;
    never.answers = {{kUriList, std::nullopt}};
    ExternalImageDrop::beginDrag();
    const auto neverData = never.data();
    EXPECT_EQ(ExternalImageDrop::readableWithoutAsking(*neverData), std::nullopt) << "only the list can tell";
    EXPECT_TRUE(never.asked.isEmpty());
    EXPECT_TRUE(ExternalImageDrop::canRead(*neverData, never.fetch())) << "the drop tells";
    EXPECT_EQ(ExternalImageDrop::readableWithoutAsking(*neverData), true) << "what this drag found";
    EXPECT_EQ(ExternalImageDrop::readableWithoutAsking(*mime({{"image/png", "x"}})), true) << "by its types";
    ASSERT_EQ(never.asked, QStringList{kUriList});
    EXPECT_LE(never.given[0], ExternalImageDrop::kHoverReadMs);

    BoundedSource notes;
    notes.answers = {
        {kUriList, QUrl::fromLocalFile(written(makeFolder(u"Desktop"_s) + u"/a.txt"_s, "text")).toEncoded()}};
    ExternalImageDrop::beginDrag();
    EXPECT_FALSE(ExternalImageDrop::canRead(*notes.data(), notes.fetch())) << "a list that came is looked at";
}

namespace {

// A source whose Photos reference takes longer than the drop's whole time through Qt.
class SlowReferenceSource : public QMimeData {
public:
    QStringList formats() const override { return {PhotosLibrary::pasteboardType(), u"image/png"_s}; }
    bool hasFormat(const QString& type) const override { return formats().contains(type); }

protected:
    QVariant retrieveData(const QString& type, QMetaType) const override {
        if (type == u"image/png"_s)
            return pngBytes();
        QThread::msleep(ExternalImageDrop::kDropReadMs + 100);
        return QByteArray();
    }
};

} // namespace

TEST(DropSnapshot, ThePhotosReferenceIsReadAfterThePictures) {
    auto library = std::make_shared<FakePhotosLibrary>();
    PhotosLibrary::setShared(library);
    SlowReferenceSource source;
    const auto taken = snapshot(source);
    PhotosLibrary::setShared(nullptr);
    EXPECT_EQ(taken.items, (Items{{Source::fromBytes(pngBytes())}}));
}

TEST(DropSnapshot, APictureCutOffInTransitLeavesTheNextTypeToTry) {
    const QByteArray png = pngBytes(40, 30), jpeg = encoded("jpeg", 40, 30);
    const QByteArray cut = png.left(png.size() / 2);
    EXPECT_TRUE(DroppedPicture::looksWhole(png));
    EXPECT_TRUE(DroppedPicture::looksWhole(jpeg));
    EXPECT_TRUE(DroppedPicture::looksWhole(jpeg + QByteArray(3, '\0'))) << "padding after the end marker";
    EXPECT_TRUE(DroppedPicture::hasPictureHeader(cut));
    for (const auto& [name, bytes] : {std::pair{"cut PNG", cut},
                                      {"PNG without its last chunk", png.left(png.size() - 12)},
                                      {"cut JPEG", jpeg.left(jpeg.size() - 40)},
                                      {"no picture", QByteArray("GIF89a")}})
        EXPECT_FALSE(DroppedPicture::looksWhole(bytes)) << name;

    const auto taken =
        snapshot(*mime({{"image/png", cut}, {"image/jpeg", jpeg}, {"image/tiff", encoded("tiff")}}));
    EXPECT_EQ(taken.items, (Items{{Source::fromBytes(cut), Source::fromBytes(jpeg)}}))
        << "read on past the cut PNG, to the first whole picture";
    const auto result = materializeOffMain(taken);
    ASSERT_EQ(result.paths.size(), 1) << result.detail.value_or(QString()).toStdString();
    EXPECT_TRUE(result.paths[0].endsWith(u".jpg"_s) || result.paths[0].endsWith(u".jpeg"_s))
        << result.paths[0].toStdString();
}

TEST(DropSnapshot, APictureThatDoesNotDecodeLeavesTheNextTypeToTry) {
    // Its chunks reach IEND, but the compressed pixels are spoilt.
    QByteArray spoilt = pngBytes(40, 30);
    const qsizetype data = spoilt.indexOf("IDAT") + 4;
    const qsizetype length = qFromBigEndian<quint32>(spoilt.constData() + data - 8);
    for (qsizetype i = data + 2; i < data + std::min<qsizetype>(length, 30); ++i)
        spoilt[i] = char(spoilt[i] ^ 0x5a);
    ASSERT_TRUE(DroppedPicture::looksWhole(spoilt));
    EXPECT_EQ(DroppedPicture::decodes(spoilt, QDeadlineTimer(5000)), false);
    EXPECT_EQ(DroppedPicture::decodes(pngBytes(40, 30), QDeadlineTimer(5000)), true);
    EXPECT_EQ(DroppedPicture::decodes(pngHeaderClaiming(20000, 20000), QDeadlineTimer(5000)), false)
        << "beyond the pixel limit";

    const QByteArray jpeg = encoded("jpeg", 40, 30);
    const auto taken =
        snapshot(*mime({{"image/png", spoilt}, {"image/jpeg", jpeg}, {"image/tiff", encoded("tiff")}}));
    EXPECT_EQ(taken.items, (Items{{Source::fromBytes(spoilt), Source::fromBytes(jpeg)}}))
        << "read on past the PNG that does not decode, to the first that does";
    const auto result = materializeOffMain(taken);
    ASSERT_EQ(result.paths.size(), 1) << result.detail.value_or(QString()).toStdString();
    EXPECT_TRUE(result.paths[0].endsWith(u".jpg"_s) || result.paths[0].endsWith(u".jpeg"_s))
        << result.paths[0].toStdString();

    // The last type offered is not checked here: the import has nothing to fall back on after it.
    EXPECT_EQ(snapshot(*mime({{"image/png", spoilt}})).items, (Items{{Source::fromBytes(spoilt)}}));
}
