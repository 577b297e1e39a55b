#include "core/LibraryDecoding.h"
#include "core/Indexer.h"
#include "core/LibraryEncoding.h"
#include "core/UsageRecord.h"
#include "platform/JsonFile.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <gtest/gtest.h>

#include <limits>
#include <random>

using namespace vennimo;
using vennimo::test::makeFolder;
using vennimo::test::writeFile;

namespace {

std::optional<Library> strictlyDecoded(const QByteArray& bytes) {
    auto object = JsonFile::parse(bytes);
    if (!object)
        return std::nullopt;
    auto library = libraryFromJson(*object);
    return library ? std::optional(std::move(library).value()) : std::nullopt;
}

// What the fast reader gives, if anything, is what the strict one gives, to the last bit of every
// date: the library is written back from it.
void expectSameAsStrict(const QByteArray& bytes) {
    const auto fast = decodeLibrary(bytes);
    if (!fast)
        return;
    const auto strict = strictlyDecoded(bytes);
    ASSERT_TRUE(strict.has_value()) << "accepted what the strict reader refuses: " << bytes.toStdString();
    EXPECT_EQ(*fast, *strict) << bytes.toStdString();
    EXPECT_EQ(encodeLibrary(*fast), encodeLibrary(*strict)) << bytes.toStdString();
}

Library oddLibrary() {
    Photo plain{"2049-77", "/home/u/桌面/a.heic", "桌面", 100.5, 90.25, 1234, "/s/thumbnails/2049-77.jpg"};
    Photo full = plain;
    full.id = "1-2";
    full.path = "/home/u/Downloads/\"quoted\" \\ back\tslash\x01\x1f/😀.png";
    full.source = "下载";
    full.added = -1.5;
    full.modified = 1e300;
    full.size = std::numeric_limits<qint64>::max();
    full.thumbnailModified = 4.9e-324;
    full.sourceRoot = "/home/u/Downloads";
    full.created = -12345.678901234567;
    full.usageID = "0A1B-2";
    full.baselineImported = false;
    full.photosOrigin = PhotosOrigin{"local/id", "/home/u/x.photoslibrary"};
    Photo originOnlyId = plain;
    originOnlyId.id = "3-4";
    originOnlyId.added = 9007199254740993.0;
    originOnlyId.modified = 0.1;
    originOnlyId.size = -7;
    originOnlyId.photosOrigin = PhotosOrigin{"only-id", std::nullopt};
    originOnlyId.baselineImported = true;
    Photo originEmpty = plain;
    originEmpty.id = "";
    originEmpty.path = "";
    originEmpty.photosOrigin = PhotosOrigin{};
    return Library{{plain, full, originOnlyId, originEmpty}, true, QStringList{"/a", "/b/\"c\""}};
}

UsageState oddUsage() {
    UsageState state;
    state.initialized = true;
    state.records.insert("VOL-1", UsageRecord{12.5, 99.25});
    state.records.insert("中文 \"key\" \\ \n\x01😀", UsageRecord{std::nullopt, -1e300});
    state.records.insert("only-created", UsageRecord{9007199254740993.0, std::nullopt});
    state.records.insert("", UsageRecord{});
    return state;
}

// The same for the usage files, whichever reader reads them.
void expectUsageSameAsStrict(const QByteArray& bytes) {
    const auto fast = decodeUsageState(bytes);
    if (!fast)
        return;
    auto object = JsonFile::parse(bytes);
    ASSERT_TRUE(object.ok()) << "accepted what the JSON reader refuses: " << bytes.toStdString();
    const auto strict = usageStateFromJson(*object);
    ASSERT_TRUE(strict.ok()) << bytes.toStdString();
    EXPECT_EQ(*fast, strict.value()) << bytes.toStdString();
}

} // namespace

TEST(LibraryDecoding, ReadsWhatTheEncoderWritesExactlyAsTheStrictReader) {
    for (const Library& library : {oddLibrary(), Library{}, Library{{}, false, QStringList{}}}) {
        const QByteArray bytes = encodeLibrary(library);
        const auto fast = decodeLibrary(bytes);
        ASSERT_TRUE(fast.has_value()) << bytes.toStdString();
        EXPECT_EQ(*fast, library);
        EXPECT_EQ(encodeLibrary(*fast), bytes) << "written back byte for byte";
        expectSameAsStrict(bytes);
    }
    // Valid JSON that the encoder never writes is left to the strict reader.
    for (const char* other :
         {R"({"photos":[],"initialized":true})", R"( {"initialized":true,"photos":[]})",
          R"({"initialized":true,"photos":[]} )", R"({"initialized":true,"photos":[],"x":1})",
          R"({"initialized":true,"photos":[{"added":1.0e0,"id":"\u4e2d","modified":1,)"
          R"("path":"p","size":1,"source":"s","thumbnail":"t"}]})"}) {
        EXPECT_FALSE(decodeLibrary(other).has_value()) << other;
        EXPECT_TRUE(strictlyDecoded(other).has_value()) << other;
    }
    // Numbers the strict reader keeps as integers, and one that needs a double.
    expectSameAsStrict(
        R"({"initialized":false,"photos":[{"added":-0,"id":"i","modified":99999999999999999999,)"
        R"("path":"p","size":2.0,"source":"s","thumbnail":"t"}]})");
    expectSameAsStrict(
        R"({"initialized":false,"photos":[{"added":-0,"id":"i","modified":99999999999999999999,)"
        R"("path":"p","size":2,"source":"s","thumbnail":"t"}]})");
}

TEST(LibraryDecoding, DamagedBytesAreEitherRefusedOrReadAsTheStrictReaderReadsThem) {
    const QByteArray bytes = encodeLibrary(oddLibrary());
    for (qsizetype length = 0; length < bytes.size(); ++length)
        EXPECT_FALSE(decodeLibrary(bytes.left(length)).has_value()) << "truncated at " << length;
    std::mt19937 random(13);
    const QByteArray alphabet = QByteArrayLiteral("{}[]\",:\\/0123456789.eE+-tfnu \x7f\x80\xc3\xed\xf4\xff");
    for (int round = 0; round < 20'000; ++round) {
        QByteArray damaged = bytes;
        const int edits = 1 + int(random() % 3);
        for (int edit = 0; edit < edits; ++edit) {
            const qsizetype at = qsizetype(random() % damaged.size());
            const char byte = alphabet[qsizetype(random() % alphabet.size())];
            switch (random() % 3) {
            case 0:
                damaged[at] = byte;
                break;
            case 1:
                damaged.insert(at, byte);
                break;
            default:
                damaged.remove(at, 1);
            }
        }
        expectSameAsStrict(damaged);
        if (HasFailure())
            return;
    }
}

TEST(LibraryDecoding, AnIndexThatDoesNotDecodeIsKeptAsideAndTheLibraryStartsEmpty) {
    const QString storage = makeFolder("decoding-storage");
    const QString root = makeFolder("decoding-root");
    const QString index = storage + "/index.json";
    const QByteArray whole = encodeLibrary(oddLibrary());
    for (const QByteArray& bytes : {whole.chopped(1), whole.left(whole.size() / 2), QByteArray("{}")}) {
        writeFile(index, bytes);
        QFile::remove(index + ".corrupt");
        const Indexer indexer({{"Root", root}}, storage);
        EXPECT_EQ(indexer.library(), Library{});
        QFile kept(index + ".corrupt");
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), bytes);
    }
    writeFile(index, whole);
    QFile::remove(index + ".corrupt");
    const Indexer indexer({{"Root", root}}, storage);
    EXPECT_EQ(indexer.library(), oddLibrary());
    EXPECT_FALSE(QFile::exists(index + ".corrupt"));
}

TEST(LibraryDecoding, UsageFilesReadFastAsTheStrictReaderReadsThem) {
    for (const UsageState& state : {oddUsage(), UsageState{}}) {
        const QByteArray bytes = JsonFile::encode(toJson(state));
        const auto fast = decodeUsageState(bytes);
        ASSERT_TRUE(fast.has_value()) << bytes.toStdString();
        expectUsageSameAsStrict(bytes);
        EXPECT_EQ(fast->records, state.records);
    }
    // Older files, repeated keys and null dates are the JSON reader's.
    for (const char* other :
         {R"({"A-1":{"usedAt":1}})", R"({"initialized":true,"records":{"a":{},"a":{}},"version":2})",
          R"({"initialized":true,"records":{"a":{"created":null}},"version":2})"})
        EXPECT_FALSE(decodeUsageState(other).has_value()) << other;
    const QByteArray bytes = JsonFile::encode(toJson(oddUsage()));
    for (qsizetype length = 0; length < bytes.size(); ++length)
        EXPECT_FALSE(decodeUsageState(bytes.left(length)).has_value()) << "truncated at " << length;
    std::mt19937 random(31);
    const QByteArray alphabet = QByteArrayLiteral("{}\",:\\0123456789.eE+-tfnu \x80\xc3\xff");
    for (int round = 0; round < 10'000 && !HasFailure(); ++round) {
        QByteArray damaged = bytes;
        const qsizetype at = qsizetype(random() % damaged.size());
        if (random() % 2)
            damaged[at] = alphabet[qsizetype(random() % alphabet.size())];
        else
            damaged.remove(at, 1);
        expectUsageSameAsStrict(damaged);
    }
}
