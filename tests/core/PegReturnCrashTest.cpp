#include "core/ExhibitionStore.h"
#include "core/PegReturnIntent.h"
#include "core/PhotoRelocation.h"
#include "platform/Bookmark.h"
#include "platform/FileIdentity.h"
#include "platform/FileMove.h"
#include "platform/JsonFile.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace vennimo;
using namespace vennimo::test;

namespace {

// Large enough that the copy is still running when the parent sees its partial appear.
constexpr qint64 kTravellingBytes = 128LL * 1024 * 1024;

pid_t startChild(const QString& storage) {
    const QByteArray program = VENNIMO_PEG_RETURN_CHILD, folder = QFile::encodeName(storage);
    char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>(folder.constData()), nullptr};
    pid_t pid = -1;
    return posix_spawn(&pid, program.constData(), nullptr, nullptr, argv, environ) == 0 ? pid : -1;
}

int exitCode(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

QStringList partialsIn(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("*.vennimo-partial-*")}, QDir::Files | QDir::Hidden);
}

// Kills the child as soon as a partial copy appears in `folder`; answers whether it did.
bool killOnPartial(pid_t child, const QString& folder) {
    const int watch = inotify_init1(IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, QFile::encodeName(folder).constData(), IN_CREATE) < 0)
        return false;
    bool killed = false;
    alignas(inotify_event) char buffer[4096];
    pollfd p{watch, POLLIN, 0};
    while (!killed && poll(&p, 1, 30'000) > 0) {
        const ssize_t n = read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len > 0 && QByteArray(event->name).contains(".vennimo-partial-")) {
                kill(child, SIGKILL);
                killed = true;
            }
            at += ssize_t(sizeof(inotify_event)) + event->len;
        }
    }
    close(watch);
    return killed;
}

} // namespace

TEST(PegReturnUnderSigkill, APartialCopyCutOffMidReturnIsGoneAfterTheNextStart) {
    QTemporaryDir foreign(QStringLiteral("/dev/shm/vennimo-test-XXXXXX"));
    const auto shm = FileIdentity::readFollowingLinks(QStringLiteral("/dev/shm"));
    const auto home = FileIdentity::readFollowingLinks(TestEnvironment::root());
    if (!foreign.isValid() || !shm || !home || shm->fileSystemNumber == home->fileSystemNumber)
        GTEST_SKIP() << "no second file system: /dev/shm is missing or on the test home's";

    const QString storage = storageFolder();
    const QString returnFolder = makeFolder(QStringLiteral("return-home"));
    Photo original;
    original.path = returnFolder + QStringLiteral("/big.jpg");
    writeFile(original.path, QByteArray(kTravellingBytes, 'p'));
    original.added = 50;
    original = relocatedPhoto(original, original.path).value();
    const QString deliveredPath = foreign.path() + QStringLiteral("/big.jpg");
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

    const pid_t cutOff = startChild(storage);
    ASSERT_GT(cutOff, 0);
    const bool killed = killOnPartial(cutOff, returnFolder);
    EXPECT_EQ(exitCode(cutOff), 128 + SIGKILL);
    ASSERT_TRUE(killed) << "the return never started its copy";
    ASSERT_EQ(partialsIn(returnFolder).size(), 1) << "the crash left its partial copy";
    EXPECT_FALSE(QFile::exists(original.path)) << "nothing partial stands under the final name";
    ASSERT_TRUE(QFile::exists(ExhibitionJournal::path(storage)));

    ASSERT_EQ(exitCode(startChild(storage)), 0);
    EXPECT_EQ(partialsIn(returnFolder), QStringList());
    EXPECT_EQ(QFileInfo(original.path).size(), kTravellingBytes);
    EXPECT_FALSE(QFile::exists(deliveredPath));
    EXPECT_FALSE(QFile::exists(ExhibitionJournal::path(storage)));
}
