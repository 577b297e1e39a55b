#include "platform/Dates.h"
#include "platform/FileIdentity.h"
#include "platform/FileMove.h"
#include "platform/JsonFile.h"
#include "platform/VolumeUuid.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace vennimo;
using vennimo::test::makeFolder;
using vennimo::test::readFile;
using vennimo::test::writeFile;

namespace {

void setModificationTime(const QString& path, time_t seconds, long nanoseconds) {
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

} // namespace

TEST(Dates, ConvertsTimestampsAndPrintsShortestForms) {
    EXPECT_DOUBLE_EQ(dateFromTimestamp(kUnixSecondsAt2001, 0), 0.0);
    EXPECT_DOUBLE_EQ(dateFromTimestamp(kUnixSecondsAt2001 + 10, 500'000'000), 10.5);
    EXPECT_DOUBLE_EQ(unixSecondsFromDate(dateFromUnixSeconds(1234.25)), 1234.25);
    EXPECT_EQ(formatUnixSeconds(290), "290.0");
    EXPECT_EQ(formatUnixSeconds(1.5), "1.5");
    EXPECT_EQ(formatUnixSeconds(0.1), "0.1");
    EXPECT_EQ(formatUnixSeconds(1700000000.123), "1700000000.123");

    Clock::setOverride([] { return 42.0; });
    EXPECT_EQ(Clock::now(), 42.0);
    Clock::setOverride({});
    EXPECT_GT(Clock::now(), 7e8);
}

TEST(FileIdentity, ReadsTypesSizesAndNanosecondDates) {
    const QString folder = makeFolder("identity");
    const QString file = folder + "/a.bin";
    writeFile(file, "hello");
    setModificationTime(file, 1'700'000'000, 123'456'789);

    auto id = FileIdentity::read(file);
    ASSERT_TRUE(id.ok());
    EXPECT_EQ(id->type, FileType::Regular);
    EXPECT_EQ(id->size, 5);
    EXPECT_EQ(id->modified, dateFromTimestamp(1'700'000'000, 123'456'789));
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(id->idString(), QString::number(st.st_dev) + "-" + QString::number(st.st_ino));
    if (id->created) {
        EXPECT_NE(*id->created, 0.0) << "a zero birth time must read as absent";
    }

    ASSERT_TRUE(QFile::link(file, folder + "/link"));
    EXPECT_EQ(FileIdentity::read(folder + "/link")->type, FileType::SymbolicLink);
    EXPECT_EQ(FileIdentity::readFollowingLinks(folder + "/link")->fileNumber, id->fileNumber);
    EXPECT_EQ(FileIdentity::read(folder)->type, FileType::Directory);

    auto missing = FileIdentity::read(folder + "/missing");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().sysErrno, ENOENT);
    EXPECT_EQ(missing.error().domain, "POSIX");
    EXPECT_FALSE(missing.error().message.isEmpty());
}

TEST(VolumeUuid, GivesAStableUpperCaseIdPerFileSystem) {
    const QString folder = makeFolder("volume");
    writeFile(folder + "/f", "x");
    VolumeUuid::clearCache();
    const auto first = VolumeUuid::forPath(folder + "/f");
    VolumeUuid::clearCache();
    const auto second = VolumeUuid::forPath(folder);
    EXPECT_EQ(first, second) << "same file system, same answer, cached or not";
    if (first) {
        EXPECT_EQ(*first, first->toUpper());
        EXPECT_EQ(first->size(), 36);
    }
    EXPECT_FALSE(VolumeUuid::forPath(folder + "/missing").has_value());

    const QByteArray mountinfo = "22 1 0:21 / /proc rw - proc proc rw\n"
                                 "29 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
                                 "30 29 8:17 / /media/x rw master:2 opt - vfat /dev/sdb1 rw\n";
    EXPECT_EQ(VolumeUuid::mountSourceForDevice(mountinfo, makedev(254, 0)), "/dev/vda");
    EXPECT_EQ(VolumeUuid::mountSourceForDevice(mountinfo, makedev(8, 17)), "/dev/sdb1");
    EXPECT_FALSE(VolumeUuid::mountSourceForDevice(mountinfo, makedev(8, 1)).has_value());
    EXPECT_EQ(VolumeUuid::fromFsid(0xEF53, 0x01020304, -1), "0000EF53-0102-0304-FFFF-FFFF00000000");
}

TEST(JsonFile, WritesAtomicallyWithSortedKeysAndReadsStrictly) {
    const QString folder = makeFolder("json");
    const QString path = folder + "/state.json";
    QJsonObject object{{"zeta", 1}, {"alpha", QJsonArray{1.5, "x"}}, {"big", qint64(9007199254740993LL)}};
    ASSERT_TRUE(JsonFile::write(path, object).ok());
    const QByteArray first = readFile(path);
    EXPECT_EQ(first, R"({"alpha":[1.5,"x"],"big":9007199254740993,"zeta":1})");

    auto back = JsonFile::read(path);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(jsonInt64(*back, QLatin1String("big")), 9007199254740993LL);
    ASSERT_TRUE(JsonFile::write(path, *back).ok());
    EXPECT_EQ(readFile(path), first) << "a read-back state file writes to the same bytes";
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 1) << "no temporary file is left";
    EXPECT_EQ(QFileInfo(path).permissions() & QFile::ReadOther, QFile::ReadOther);

    writeFile(folder + "/broken.json", "{\"a\":");
    auto broken = JsonFile::read(folder + "/broken.json");
    ASSERT_FALSE(broken.ok());
    EXPECT_EQ(broken.error().domain, "Vennimo.JSON");
    EXPECT_FALSE(JsonFile::parse("[1,2]").ok()) << "only objects are state files";
    EXPECT_EQ(JsonFile::read(folder + "/none.json").error().sysErrno, ENOENT);

    EXPECT_FALSE(JsonFile::write(folder + "/no/such/folder/x.json", object).ok());
}

TEST(JsonFile, FieldReadersRefuseIllTypedValues) {
    const QJsonObject o{{"s", "text"}, {"d", 2.5}, {"i", 7}, {"b", true}, {"data", "aGk="}, {"bad", "a$b="}};
    EXPECT_EQ(jsonString(o, QLatin1String("s")), "text");
    EXPECT_FALSE(jsonString(o, QLatin1String("d")));
    EXPECT_EQ(jsonDouble(o, QLatin1String("i")), 7.0);
    EXPECT_EQ(jsonInt64(o, QLatin1String("i")), 7);
    EXPECT_FALSE(jsonInt64(o, QLatin1String("d"))) << "a fractional number is not an integer";
    EXPECT_FALSE(jsonBool(o, QLatin1String("i")));
    EXPECT_EQ(jsonData(o, QLatin1String("data")), QByteArray("hi"));
    EXPECT_FALSE(jsonData(o, QLatin1String("bad"))) << "Base64 is strict";
    EXPECT_FALSE(jsonString(o, QLatin1String("missing")));
}

TEST(FileMove, NeverReplacesAndKeepsDatesAcrossFileSystems) {
    const QString folder = makeFolder("move");
    writeFile(folder + "/a.jpg", "AAAA");
    writeFile(folder + "/b.jpg", "BBBB");
    auto taken = FileMove::moveNoReplace(folder + "/a.jpg", folder + "/b.jpg");
    ASSERT_FALSE(taken.ok());
    EXPECT_TRUE(taken.error().isFileExists());
    EXPECT_EQ(readFile(folder + "/a.jpg"), "AAAA");
    EXPECT_EQ(readFile(folder + "/b.jpg"), "BBBB");

    ASSERT_TRUE(FileMove::moveNoReplace(folder + "/a.jpg", folder + "/c.jpg").ok());
    EXPECT_FALSE(QFile::exists(folder + "/a.jpg"));
    EXPECT_EQ(readFile(folder + "/c.jpg"), "AAAA");
    EXPECT_EQ(FileMove::moveNoReplace(folder + "/gone.jpg", folder + "/d.jpg").error().sysErrno, ENOENT);

    // The cross-file-system path: /dev/shm is tmpfs where the temporary folder usually is not.
    const QString shm = QStringLiteral("/dev/shm");
    struct statfs a {
    }, b{};
    const bool otherFs = statfs("/dev/shm", &a) == 0 &&
                         statfs(QFile::encodeName(folder).constData(), &b) == 0 && a.f_type != b.f_type;
    const QString target =
        otherFs ? shm + "/vennimo-move-test-" + QString::number(getpid()) : folder + "/moved.jpg";
    const QByteArray big(3 << 20, 'z');
    writeFile(folder + "/big.jpg", big);
    setModificationTime(folder + "/big.jpg", 1'600'000'000, 987'654'321);
    const auto before = FileIdentity::read(folder + "/big.jpg");
    const Status moved = otherFs ? FileMove::moveNoReplace(folder + "/big.jpg", target)
                                 : FileMove::copyThenRemove(folder + "/big.jpg", target);
    ASSERT_TRUE(moved.ok()) << moved.error().message.toStdString();
    const auto after = FileIdentity::read(target);
    ASSERT_TRUE(after.ok());
    EXPECT_EQ(after->modified, before->modified) << "modification time kept to the nanosecond";
    EXPECT_EQ(readFile(target), big);
    EXPECT_FALSE(QFile::exists(folder + "/big.jpg"));

    // Onto a taken name across file systems: both files untouched, no partial file left.
    writeFile(folder + "/again.jpg", "NEW");
    auto refused = FileMove::copyThenRemove(folder + "/again.jpg", target);
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().isFileExists());
    EXPECT_EQ(readFile(folder + "/again.jpg"), "NEW");
    EXPECT_EQ(readFile(target).size(), big.size());
    const QDir targetDir = QFileInfo(target).dir();
    EXPECT_TRUE(targetDir.entryList({"*vennimo-partial*"}, QDir::Files | QDir::Hidden).isEmpty());
    QFile::remove(target);
}
