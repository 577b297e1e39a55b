#include "dragdrop/StagedFile.h"
#include "support/DurableCallLog.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace vennimo;
using namespace vennimo::test;
using namespace Qt::StringLiterals;

namespace {

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

QByteArray patterned(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xff);
    return bytes;
}

} // namespace

TEST(StagedFile, CopiesFromFilesAndPipesAndKeepsToItsLimit) {
    const QString folder = makeFolder(u"staged"_s);
    const QByteArray bytes = patterned(300'000);
    const QString source = makeFolder(u"source"_s) + u"/picture.bin"_s;
    writeFile(source, bytes);

    // A file is copied by the kernel; a pipe, which no kernel copy takes, by hand.
    for (const bool pipe : {false, true}) {
        int fds[2] = {-1, -1};
        std::thread writer;
        if (pipe) {
            ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
            writer = std::thread([&] {
                for (qsizetype at = 0; at < bytes.size();) {
                    const ssize_t n = ::write(fds[1], bytes.constData() + at, size_t(bytes.size() - at));
                    if (n <= 0)
                        break;
                    at += n;
                }
                ::close(fds[1]);
            });
        } else {
            fds[0] = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
        }
        {
            StagedFile staged(folder);
            auto copied = staged.copyFrom(fds[0], bytes.size() + 1);
            ASSERT_TRUE(copied.ok()) << copied.error().message.toStdString();
            EXPECT_EQ(*copied, bytes.size()) << "pipe " << pipe;
            EXPECT_EQ(staged.read(bytes.size()).valueOr({}), bytes) << "pipe " << pipe;
            EXPECT_EQ(entries(folder).size(), 1);
            EXPECT_TRUE(entries(folder).constFirst().startsWith(u'.')) << "hidden until linked";
        }
        if (writer.joinable())
            writer.join();
        ::close(fds[0]);
        EXPECT_TRUE(entries(folder).isEmpty()) << "gone when not linked";
    }

    const int fd = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
    StagedFile staged(folder);
    EXPECT_EQ(staged.copyFrom(fd, 1000).valueOr(-1), 1000);
    ::close(fd);
    EXPECT_EQ(staged.read(bytes.size()).valueOr({}), bytes.left(1000)) << "a shorter file reads shorter";
}

TEST(StagedFile, AStopEndsACopyOrAReadBetweenItsChunks) {
    const QString folder = makeFolder(u"staged"_s);
    const QByteArray bytes = patterned(10 << 20);
    const QString source = makeFolder(u"source"_s) + u"/large.bin"_s;
    writeFile(source, bytes);
    const int fd = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    int looks = 0;
    // Answers true from its second look on: the first chunk went, the rest does not.
    const auto secondLook = [&looks] { return ++looks > 1; };
    {
        StagedFile staged(folder);
        const auto copied = staged.copyFrom(fd, bytes.size() + 1, secondLook);
        ASSERT_FALSE(copied.ok());
        EXPECT_EQ(copied.error().code, ECANCELED);
        EXPECT_EQ(looks, 2);
        EXPECT_LT(::lseek(fd, 0, SEEK_CUR), bytes.size()) << "the copy went on after the stop";
    }
    EXPECT_TRUE(entries(folder).isEmpty());
    ::lseek(fd, 0, SEEK_SET);
    StagedFile staged(folder);
    int copyLooks = 0;
    ASSERT_EQ(staged.copyFrom(fd, bytes.size() + 1, [&copyLooks] { return ++copyLooks < 0; }).valueOr(-1),
              bytes.size());
    EXPECT_GE(copyLooks, 3) << "a copy of 10 MB looks at its stop between chunks";
    ::close(fd);
    looks = 0;
    const auto read = staged.read(bytes.size(), secondLook);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().code, ECANCELED);
    EXPECT_EQ(staged.read(bytes.size(), [] { return false; }).valueOr({}), bytes);
}

TEST(StagedFile, LinksUnderItsNameWithoutReplacingAnother) {
    const QString folder = makeFolder(u"staged"_s);
    const QString target = folder + u"/saved.jpg"_s;
    {
        StagedFile first(folder);
        ASSERT_TRUE(first.write("first").ok());
        ASSERT_TRUE(first.link(target, nullptr).ok());
    }
    {
        StagedFile second(folder);
        ASSERT_TRUE(second.write("second").ok());
        const Status linked = second.link(target, nullptr);
        ASSERT_FALSE(linked.ok());
        EXPECT_TRUE(linked.error().isFileExists());
    }
    EXPECT_EQ(readFile(target), "first");
    EXPECT_EQ(entries(folder), QStringList{u"saved.jpg"_s}) << "the refused one left nothing behind";
}

TEST(StagedFile, IsOnTheDiskBeforeItHasItsNameAndTakesNoNameItCouldNotSync) {
    const QString folder = makeFolder(u"staged-sync"_s);
    {
        DurableCallLog log;
        StagedFile staged(folder);
        ASSERT_TRUE(staged.write("synced").ok());
        ASSERT_TRUE(staged.link(folder + u"/synced.jpg"_s, nullptr).ok());
        EXPECT_EQ(log.joined(), "file fsync, rename no-replace");
    }
    {
        DurableCallLog log(u"file fsync"_s);
        StagedFile staged(folder);
        ASSERT_TRUE(staged.write("unsynced").ok());
        const Status linked = staged.link(folder + u"/unsynced.jpg"_s, nullptr);
        ASSERT_FALSE(linked.ok());
        EXPECT_EQ(linked.error().sysErrno, EIO);
    }
    EXPECT_EQ(entries(folder), QStringList{u"synced.jpg"_s}) << "nothing of the one that could not be synced";
}
