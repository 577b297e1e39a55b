#include "platform/FreedesktopTrash.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QUrl>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

TEST(FreedesktopTrash, SameNamesGetTheirOwnEntriesAndComeBackWithoutReplacing) {
    const QString trash = qEnvironmentVariable("XDG_DATA_HOME") + "/Trash";
    QDir(qEnvironmentVariable("XDG_DATA_HOME")).removeRecursively();
    const QString first = makeFolder("one") + "/my photo.tar.gz";
    const QString second = makeFolder("two") + "/my photo.tar.gz";
    writeFile(first, "first");
    writeFile(second, "second");

    const auto a = FreedesktopTrash::moveToTrash(first);
    const auto b = FreedesktopTrash::moveToTrash(second);
    ASSERT_TRUE(a.ok() && b.ok()) << "the data location is made when it is missing";
    EXPECT_EQ(*a, trash + "/files/my photo.tar.gz");
    EXPECT_EQ(*b, trash + "/files/my photo.2.tar.gz");
    EXPECT_EQ(FreedesktopTrash::infoPath(*b), trash + "/info/my photo.2.tar.gz.trashinfo");
    const QByteArray info = readFile(FreedesktopTrash::infoPath(*b));
    EXPECT_TRUE(
        info.startsWith("[Trash Info]\nPath=" + QUrl::toPercentEncoding(second, "/") + "\nDeletionDate="))
        << info.toStdString();
    EXPECT_FALSE(QFile::exists(first) || QFile::exists(second));
    EXPECT_FALSE(FreedesktopTrash::moveToTrash(first).ok()) << "nothing left to move";

    writeFile(first, "newcomer");
    const Status refused = FreedesktopTrash::restore(*a, first);
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().isFileExists());
    EXPECT_EQ(readFile(first), "newcomer");
    EXPECT_TRUE(QFile::exists(FreedesktopTrash::infoPath(*a))) << "still offered by the desktop";

    ASSERT_TRUE(FreedesktopTrash::restore(*b, second).ok());
    EXPECT_EQ(readFile(second), "second");
    EXPECT_FALSE(QFile::exists(*b) || QFile::exists(FreedesktopTrash::infoPath(*b)));
}
