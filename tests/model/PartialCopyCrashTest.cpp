#include "support/CrashChild.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <csignal>

using namespace vennimo::test;

namespace {

// Large enough that the copy is still running when the parent sees its partial appear.
constexpr qint64 kTravellingBytes = 128LL * 1024 * 1024;

int runMoveChild(const QList<QByteArray>& arguments, const QString& killOnPartialIn = {}) {
    const pid_t child = startChild(VENNIMO_MOVE_CRASH_CHILD, arguments);
    if (child < 0)
        return -1;
    if (!killOnPartialIn.isEmpty() && !killOnPartial(child, killOnPartialIn))
        ADD_FAILURE() << "the move never started its copy";
    return exitCode(child);
}

} // namespace

TEST(PartialCopyUnderSigkill, AMoveKilledMidCopyLeavesNoPartialInTheUserFolderAfterTheNextStart) {
    const auto foreign = folderOnAnotherFileSystem();
    if (!foreign)
        GTEST_SKIP() << "no second file system: /dev/shm is missing or on the test home's";
    const QByteArray storage = QFile::encodeName(storageFolder());
    const QString userFolder = makeFolder(QStringLiteral("Pictures"));
    const QString source = foreign->path() + QStringLiteral("/big.jpg");
    const QString target = userFolder + QStringLiteral("/big.jpg");
    writeFile(source, QByteArray(kTravellingBytes, 'p'));
    writeFile(userFolder + QStringLiteral("/.notes.txt"), "the user's");

    EXPECT_EQ(runMoveChild({storage, QFile::encodeName(source), QFile::encodeName(target)}, userFolder),
              128 + SIGKILL);
    ASSERT_EQ(partialsIn(userFolder).size(), 1) << "the kill left its partial copy";
    EXPECT_FALSE(QFile::exists(target)) << "nothing partial stands under the final name";

    ASSERT_EQ(runMoveChild({storage}), 0);
    EXPECT_EQ(partialsIn(userFolder), QStringList());
    EXPECT_EQ(readFile(userFolder + QStringLiteral("/.notes.txt")), "the user's");
    EXPECT_EQ(QFileInfo(source).size(), kTravellingBytes) << "the source was never touched";

    // After that, a whole move goes through and leaves no list behind.
    ASSERT_EQ(runMoveChild({storage, QFile::encodeName(source), QFile::encodeName(target)}), 0);
    EXPECT_TRUE(QFileInfo(target).size() == kTravellingBytes && !QFile::exists(source));
    EXPECT_EQ(partialsIn(userFolder), QStringList());
}
