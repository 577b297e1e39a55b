#include "platform/Dates.h"
#include "platform/FileDescriptor.h"
#include "platform/FileIdentity.h"
#include "platform/FileMove.h"
#include "platform/JsonFile.h"
#include "platform/VolumeUuid.h"
#include "support/DurableCallLog.h"
#include "support/ScratchVolume.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <iostream>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace vennimo;
using namespace Qt::StringLiterals;
using vennimo::test::DurableCallLog;
using vennimo::test::makeFolder;
using vennimo::test::readFile;
using vennimo::test::ScratchVolume;
using vennimo::test::writeFile;

namespace {

void setModificationTime(const QString& path, time_t seconds, long nanoseconds) {
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

} // namespace

TEST(FileIdentity, ReadsTypesSizesNanosecondDatesAndTheVolume) {
    EXPECT_EQ(dateFromTimestamp(kUnixSecondsAt2001 + 10, 500'000'000), 10.5);
    EXPECT_EQ(unixSecondsFromDate(dateFromUnixSeconds(1234.25)), 1234.25);
    for (auto [seconds, text] : {std::pair{290.0, "290.0"}, {0.1, "0.1"}, {1700000000.123, "1700000000.123"}})
        EXPECT_EQ(formatUnixSeconds(seconds), text) << "the shortest form with a fractional part";

    const QString folder = makeFolder("identity");
    const QString file = folder + "/a.bin";
    writeFile(file, "hello");
    setModificationTime(file, 1'700'000'000, 123'456'789);

    const auto id = FileIdentity::read(file);
    ASSERT_TRUE(id.ok());
    EXPECT_TRUE(id->type == FileType::Regular && id->size == 5);
    EXPECT_EQ(id->modified, dateFromTimestamp(1'700'000'000, 123'456'789)) << "to the nanosecond";
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(id->idString(), QString::number(st.st_dev) + "-" + QString::number(st.st_ino));
    EXPECT_NE(id->created, 0.0) << "a zero birth time reads as absent";

    ASSERT_TRUE(QFile::link(file, folder + "/link"));
    EXPECT_EQ(FileIdentity::read(folder + "/link")->type, FileType::SymbolicLink);
    EXPECT_EQ(FileIdentity::readFollowingLinks(folder + "/link")->fileNumber, id->fileNumber);

    const Error missing = FileIdentity::read(folder + "/missing").error();
    EXPECT_TRUE(missing.sysErrno == ENOENT && missing.domain == "POSIX" && !missing.message.isEmpty());

    // The volume UUID: stable, upper case, one per file system.
    VolumeUuid::clearCache();
    const auto first = VolumeUuid::forPath(file);
    VolumeUuid::clearCache();
    const auto second = VolumeUuid::forPath(folder);
    EXPECT_EQ(first, second) << "same file system, same answer, cached or not";
    EXPECT_TRUE(!first || (*first == first->toUpper() && first->size() == 36));

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

    const auto back = JsonFile::read(path);
    ASSERT_TRUE(back.ok() && JsonFile::write(path, *back).ok());
    EXPECT_EQ(readFile(path), first) << "a read-back state file writes to the same bytes";

    // A power cut must find the old file or the whole new one: data synced, renamed, folder synced.
    {
        DurableCallLog log;
        ASSERT_TRUE(JsonFile::write(path, object).ok());
        EXPECT_EQ(log.joined(), "file fsync, rename, folder fsync");
    }
    {
        DurableCallLog log("file fsync");
        EXPECT_EQ(JsonFile::write(path, {{"lost", 1}}).error().sysErrno, EIO);
    }
    EXPECT_EQ(readFile(path), first) << "a write that cannot be synced leaves the old file";
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 1) << "no temporary file is left";

    writeFile(folder + "/broken.json", "{\"a\":");
    EXPECT_EQ(JsonFile::read(folder + "/broken.json").error().domain, "Vennimo.JSON");
    EXPECT_FALSE(JsonFile::parse("[1,2]").ok()) << "only objects are state files";
    EXPECT_EQ(JsonFile::read(folder + "/none.json").error().sysErrno, ENOENT);

    EXPECT_FALSE(JsonFile::write(folder + "/no/such/folder/x.json", object).ok());

    // The field readers: no type stands in for another.
    const QJsonObject o{{"s", "text"}, {"d", 2.5}, {"i", 7}, {"data", "aGk="}, {"bad", "a$b="}};
    EXPECT_TRUE(jsonString(o, "s"_L1) == "text" && jsonDouble(o, "i"_L1) == 7.0 && jsonInt64(o, "i"_L1) == 7);
    EXPECT_EQ(jsonData(o, "data"_L1), QByteArray("hi"));
    EXPECT_FALSE(jsonString(o, "d"_L1) || jsonInt64(o, "d"_L1) || jsonBool(o, "i"_L1) ||
                 jsonString(o, "missing"_L1))
        << "a fractional number is no integer, and no type stands in for another";
    EXPECT_FALSE(jsonData(o, "bad"_L1)) << "Base64 is strict";
}

TEST(FileMove, NeverReplacesAndKeepsDatesAndModeAcrossFileSystems) {
    const QString folder = makeFolder("move");
    writeFile(folder + "/a.jpg", "AAAA");
    writeFile(folder + "/b.jpg", "BBBB");
    EXPECT_TRUE(FileMove::moveNoReplace(folder + "/a.jpg", folder + "/b.jpg").error().isFileExists());
    EXPECT_EQ(readFile(folder + "/a.jpg") + readFile(folder + "/b.jpg"), "AAAABBBB") << "both untouched";
    ASSERT_TRUE(FileMove::moveNoReplace(folder + "/a.jpg", folder + "/c.jpg").ok());
    EXPECT_TRUE(!QFile::exists(folder + "/a.jpg") && readFile(folder + "/c.jpg") == "AAAA");
    EXPECT_EQ(FileMove::moveNoReplace(folder + "/gone.jpg", folder + "/d.jpg").error().sysErrno, ENOENT);

    // The cross-file-system path, onto a tmpfs in this process's own mount namespace; without the
    // rights to make one, the same copy runs within one file system.
    const QString other = makeFolder("other-fs");
    const bool otherFs = unshare(CLONE_NEWNS) == 0 &&
                         mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                         mount("tmpfs", QFile::encodeName(other).constData(), "tmpfs", 0, "size=16m") == 0;
    if (!otherFs)
        std::cout << "no tmpfs of its own: the cross-file-system copy runs within one file system\n";
    const QString target = other + "/moved.jpg";
    const QByteArray big(3 << 20, 'z');
    writeFile(folder + "/big.jpg", big);
    ASSERT_EQ(chmod(QFile::encodeName(folder + "/big.jpg").constData(), 0644), 0);
    setModificationTime(folder + "/big.jpg", 1'600'000'000, 987'654'321);
    const auto before = FileIdentity::read(folder + "/big.jpg");
    const Status moved = otherFs ? FileMove::moveNoReplace(folder + "/big.jpg", target)
                                 : FileMove::copyThenRemove(folder + "/big.jpg", target);
    ASSERT_TRUE(moved.ok()) << moved.error().message.toStdString();
    EXPECT_EQ(FileIdentity::read(target)->modified, before->modified)
        << "modification time kept to the nanosecond";
    ASSERT_TRUE(FileMove::copyNoReplace(target, folder + "/copy.jpg").ok());
    for (const QString& path : {target, folder + "/copy.jpg"}) {
        struct stat st {};
        ASSERT_EQ(stat(QFile::encodeName(path).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0644u) << "not the temporary file's 0600: " << path.toStdString();
    }
    EXPECT_TRUE(readFile(target) == big && !QFile::exists(folder + "/big.jpg"));

    // Onto a taken name across file systems: both files untouched, no partial file left.
    writeFile(folder + "/again.jpg", "NEW");
    EXPECT_TRUE(FileMove::copyThenRemove(folder + "/again.jpg", target).error().isFileExists());
    EXPECT_TRUE(readFile(folder + "/again.jpg") == "NEW" && readFile(target).size() == big.size());
    EXPECT_EQ(QFileInfo(target).dir().entryList({"*vennimo-partial*"}, QDir::Files | QDir::Hidden),
              QStringList());
    if (otherFs)
        umount2(QFile::encodeName(other).constData(), MNT_DETACH);
}

// A folder opened once and renamed since: what leaves it goes from the folder itself, under its
// new path, also onto another file system; its old path may lead somewhere else by now.
TEST(FileMove, MovesOutOfAnOpenedFolderWhereverItWasRenamedTo) {
    const QString checked = QDir(makeFolder("opened")).canonicalPath();
    writeFile(checked + "/a.jpg", "AAAA");
    writeFile(checked + "/b.jpg", "BBBB");
    const auto opened = FileMove::openFolder(checked);
    ASSERT_TRUE(opened);
    const FileDescriptor folder(*opened);
    EXPECT_EQ(FileMove::openedFolderPath(folder.get()).value_or(""), checked);
    ASSERT_TRUE(QDir().rename(checked, checked + "-now"));
    const QString decoy = makeFolder("opened-decoy");
    writeFile(decoy + "/a.jpg", "decoy");
    ASSERT_TRUE(QFile::link(decoy, checked));
    EXPECT_EQ(FileMove::openedFolderPath(folder.get()).value_or(""), checked + "-now");

    const QString back = makeFolder("opened-back");
    ASSERT_TRUE(FileMove::moveNoReplaceOutOf(folder.get(), checked + "-now", "a.jpg", back + "/a.jpg").ok());
    EXPECT_EQ(readFile(back + "/a.jpg"), "AAAA");
    EXPECT_EQ(readFile(decoy + "/a.jpg"), "decoy");
    EXPECT_TRUE(FileMove::moveNoReplaceOutOf(folder.get(), checked + "-now", "b.jpg", back + "/a.jpg")
                    .error()
                    .isFileExists());
    EXPECT_EQ(FileMove::moveNoReplaceOutOf(folder.get(), checked + "-now", "../b.jpg", back + "/c.jpg")
                  .error()
                  .sysErrno,
              EINVAL);

    const ScratchVolume other(makeFolder("opened-other-fs"));
    if (other.mounted()) {
        const Status across =
            FileMove::moveNoReplaceOutOf(folder.get(), checked + "-now", "b.jpg", other.top() + "/b.jpg");
        ASSERT_TRUE(across.ok()) << across.error().message.toStdString();
        EXPECT_EQ(readFile(other.top() + "/b.jpg"), "BBBB");
        EXPECT_FALSE(QFile::exists(checked + "-now/b.jpg"));
    } else {
        std::cout << "no tmpfs of its own: the move out across file systems is not tried\n";
    }
    ASSERT_TRUE(QDir(checked + "-now").removeRecursively());
    EXPECT_FALSE(FileMove::openedFolderPath(folder.get())) << "a removed folder has no path";
}

// The kernel names a removed folder by its old path with " (deleted)" after it, and either name
// may be taken by a new folder on the same file system meanwhile: neither is the opened folder.
TEST(FileMove, AnOpenedFolderThatWasRemovedHasNoPathWhateverTookItsName) {
    const QString checked = QDir(makeFolder("removed")).canonicalPath();
    const auto opened = FileMove::openFolder(checked);
    ASSERT_TRUE(opened);
    const FileDescriptor folder(*opened);
    ASSERT_TRUE(QDir().rmdir(checked));
    ASSERT_TRUE(QDir().mkdir(checked));
    ASSERT_TRUE(QDir().mkdir(checked + " (deleted)"));
    EXPECT_EQ(QFileInfo(QString("/proc/self/fd/%1").arg(folder.get())).symLinkTarget(),
              checked + " (deleted)")
        << "the name the kernel gives it";
    const auto answer = FileMove::openedFolderPath(folder.get());
    EXPECT_FALSE(answer) << "not the new folder " << answer->toStdString();
}

TEST(FileMove, ACopyIsOnTheDiskBeforeItTakesItsNameAndNeverTakesOneUnsynced) {
    const QString folder = makeFolder("move-sync");
    writeFile(folder + "/a.jpg", "AAAA");
    {
        DurableCallLog log;
        ASSERT_TRUE(FileMove::copyThenRemove(folder + "/a.jpg", folder + "/b.jpg").ok());
        EXPECT_EQ(log.joined(), "file fsync, rename no-replace, folder fsync");
    }
    {
        DurableCallLog log("file fsync");
        EXPECT_EQ(FileMove::copyThenRemove(folder + "/b.jpg", folder + "/c.jpg").error().sysErrno, EIO);
        EXPECT_EQ(log.joined(), "file fsync");
    }
    EXPECT_EQ(readFile(folder + "/b.jpg"), "AAAA") << "the source stays";
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"b.jpg"}) << "no partial left";
}

TEST(LeftoverTemporaries, KilledWritesAreClearedButNeverOneStillBeingWritten) {
    using namespace std::chrono_literals;
    const QString folder = makeFolder("leftovers");
    const QStringList stale{".index.json.Ab12Cd", ".clothesline.json.corrupt.XyZ789",
                            ".a.jpg.vennimo-partial-Qw3rTy"};
    const QStringList kept{"index.json", ".index.json.partial", ".notes.txt.Ab12Cd",
                           "x.jpg.vennimo-partial-Qw3rTy"};
    for (const QString& name : stale + kept + QStringList{".busy.json.Zz99Zz"})
        writeFile(folder + "/" + name, "x");
    ASSERT_EQ(mkfifo(QFile::encodeName(folder + "/.pipe.json.Pp00Pp").constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(folder + "/index.json", folder + "/.link.json.Ll11Ll"));
    auto names = [&] {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    };
    const QStringList all = names();

    EXPECT_EQ(JsonFile::removeLeftoverTemporaries(folder) + FileMove::removeLeftoverPartials(folder), 0)
        << "changed since this process started: maybe another instance's";
    EXPECT_EQ(names(), all);

    // A writer that still runs holds its temporary; a killed one's lock went with it.
    const int busy = open(QFile::encodeName(folder + "/.busy.json.Zz99Zz").constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(busy, LOCK_EX), 0);
    const auto later = LeftoverTemporaries::Clock::now() + 1s;
    EXPECT_EQ(JsonFile::removeLeftoverTemporaries(folder, later), 2);
    EXPECT_EQ(FileMove::removeLeftoverPartials(folder, later), 1);
    for (const QString& name : stale)
        EXPECT_FALSE(QFileInfo::exists(folder + "/" + name)) << name.toStdString();
    EXPECT_EQ(names().size(), all.size() - stale.size()) << "links, FIFOs, held and other names stay";
    close(busy);
}

TEST(LeftoverTemporaries, AListHasItsNameOnTheDiskBeforeItNamesAnything) {
    const QString folder = makeFolder("lists");
    DurableCallLog log;
    const auto record = LeftoverTemporaries::Record::open(folder);
    ASSERT_TRUE(record.ok()) << record.error().message.toStdString();
    EXPECT_EQ(log.joined(), "rename, folder fsync");
    (*record)->finish();
}

TEST(FileMove, ListedPartialsGoOnlyOnceTheirCopyDiedAndOnlyOurOwn) {
    const QString records = makeFolder("records"), folder = makeFolder("listed");
    writeFile(folder + "/a.jpg", "AAAA");
    FileMove::setPartialRecordFolder(records);
    ASSERT_TRUE(FileMove::copyNoReplace(folder + "/a.jpg", folder + "/b.jpg").ok());
    EXPECT_EQ(QDir(records).entryList(QDir::Files | QDir::Hidden), QStringList())
        << "a finished copy's list goes";
    FileMove::setPartialRecordFolder(folder + "/a.jpg/records");
    EXPECT_FALSE(FileMove::copyNoReplace(folder + "/a.jpg", folder + "/c.jpg").ok()) << "no list, no partial";
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList({"a.jpg", "b.jpg"}));
    FileMove::setPartialRecordFolder({});

    // A list whose copy died names a partial, a file the user keeps under a listed name, and a
    // partial another copy still writes; a running copy's list is left alone.
    const QStringList names{".a.jpg.vennimo-partial-Dead01", "photo.jpg", ".b.jpg.vennimo-partial-Held01",
                            ".c.jpg.vennimo-partial-Live01"};
    for (const QString& name : names)
        writeFile(folder + "/" + name, "x");
    auto dead = LeftoverTemporaries::Record::open(records);
    auto live = LeftoverTemporaries::Record::open(records);
    ASSERT_TRUE(dead.ok() && live.ok());
    for (const QString& name : names.mid(0, 3))
        ASSERT_TRUE((*dead)->add(folder + "/" + name).ok());
    ASSERT_TRUE((*live)->add(folder + "/" + names[3]).ok());
    (*dead)->close();
    const int held = open(QFile::encodeName(folder + "/" + names[2]).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(held, LOCK_EX), 0);

    EXPECT_EQ(FileMove::removeRecordedPartials(records), 1);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 2 + names.size() - 1);
    EXPECT_FALSE(QFile::exists(folder + "/" + names[0]));
    EXPECT_EQ(QDir(records).entryList({"*.record"}, QDir::Files).size(), 1) << "the running copy's list";
    close(held);
}
