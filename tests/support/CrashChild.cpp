#include "support/CrashChild.h"

#include "platform/FileIdentity.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>

#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace vennimo::test {

pid_t startChild(const QByteArray& program, const QList<QByteArray>& arguments) {
    std::vector<char*> argv{const_cast<char*>(program.constData())};
    for (const QByteArray& argument : arguments)
        argv.push_back(const_cast<char*>(argument.constData()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    return posix_spawn(&pid, program.constData(), nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
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

std::unique_ptr<QTemporaryDir> folderOnAnotherFileSystem() {
    auto folder = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/vennimo-test-XXXXXX"));
    const auto shm = FileIdentity::readFollowingLinks(QStringLiteral("/dev/shm"));
    const auto home = FileIdentity::readFollowingLinks(TestEnvironment::root());
    if (!folder->isValid() || !shm || !home || shm->fileSystemNumber == home->fileSystemNumber)
        return nullptr;
    return folder;
}

} // namespace vennimo::test
