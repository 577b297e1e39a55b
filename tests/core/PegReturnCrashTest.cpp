#include "core/ExhibitionStore.h"
#include "core/PegReturnIntent.h"
#include "core/PhotoRelocation.h"
#include "platform/Bookmark.h"
#include "platform/FileIdentity.h"
#include "platform/FileMove.h"
#include "platform/JsonFile.h"
#include "support/CrashChild.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// Large enough that the copy is still running when the parent sees its partial appear.
constexpr qint64 kTravellingBytes = 128LL * 1024 * 1024;

pid_t startReturnChild(const QString& storage) {
    return startChild(VENNIMO_PEG_RETURN_CHILD, {QFile::encodeName(storage)});
}

} // namespace

TEST(PegReturnUnderSigkill, APartialCopyCutOffMidReturnIsGoneAfterTheNextStart) {
    const auto foreign = folderOnAnotherFileSystem();
    if (!foreign)
        GTEST_SKIP() << "no second file system: /dev/shm is missing or on the test home's";

    const QString storage = storageFolder();
    const QString returnFolder = makeFolder(QStringLiteral("return-home"));
    Photo original;
    original.path = returnFolder + QStringLiteral("/big.jpg");
    writeFile(original.path, QByteArray(kTravellingBytes, 'p'));
    original.added = 50;
    original = relocatedPhoto(original, original.path).value();
    const QString deliveredPath = foreign->path() + QStringLiteral("/big.jpg");
    ASSERT_TRUE(FileMove::moveNoReplace(original.path, deliveredPath));
    const Photo delivered = relocatedPhoto(original, deliveredPath).value();
    const PegReturnRecord record{original, delivered, std::nullopt, *Bookmark::create(deliveredPath)};

    ExhibitionReferences exhibition{{delivered.recordKey(), {delivered, record.bookmark}}};
    const UsageState line{2, true, {{delivered.recordKey(), UsageRecord{delivered.created, 1.0}}}};
    ASSERT_TRUE(
        ExhibitionJournal::write(ExhibitionJournal::path(storage),
                                 {{QStringLiteral("exhibition.json"), encodeExhibition(exhibition)},
                                  {QStringLiteral("clothesline.json"), JsonFile::encode(toJson(line))},
                                  {QStringLiteral("clothesline-positions.json"),
                                   JsonFile::encode(toJson(ClotheslinePlacementState{}))},
                                  {QString::fromLatin1(PegReturnIntent::key),
                                   JsonFile::encode(toJson(PegReturnIntent::make({record})))}}));

    const pid_t cutOff = startReturnChild(storage);
    ASSERT_GT(cutOff, 0);
    const bool killed = killOnPartial(cutOff, returnFolder);
    EXPECT_EQ(exitCode(cutOff), 128 + SIGKILL);
    ASSERT_TRUE(killed) << "the return never started its copy";
    ASSERT_EQ(partialsIn(returnFolder).size(), 1) << "the crash left its partial copy";
    EXPECT_FALSE(QFile::exists(original.path)) << "nothing partial stands under the final name";
    ASSERT_TRUE(QFile::exists(ExhibitionJournal::path(storage)));

    ASSERT_EQ(exitCode(startReturnChild(storage)), 0);
    EXPECT_EQ(partialsIn(returnFolder), QStringList());
    EXPECT_EQ(QFileInfo(original.path).size(), kTravellingBytes);
    EXPECT_FALSE(QFile::exists(deliveredPath));
    EXPECT_FALSE(QFile::exists(ExhibitionJournal::path(storage)));
}
