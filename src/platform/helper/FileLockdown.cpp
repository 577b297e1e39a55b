#include "FileLockdown.h"

#include <QFile>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace vennimo {

namespace {

// Landlock's calls have the same numbers on every architecture; older C headers lack them.
constexpr long kCreateRuleset = 444;
constexpr long kAddRule = 445;
constexpr long kRestrictSelf = 446;

// The file system rights each version of Landlock knows, by the version that added them: a rule
// set must name only those its kernel knows, and every one it names is refused unless a rule
// allows it.
constexpr std::uint64_t kRightsOfVersion1 = (std::uint64_t(1) << 13) - 1; // execute .. make symlink
constexpr std::uint64_t kReferRight = std::uint64_t(1) << 13;             // version 2
constexpr std::uint64_t kTruncateRight = std::uint64_t(1) << 14;          // version 3
constexpr std::uint64_t kDeviceIoctlRight = std::uint64_t(1) << 15;       // version 5
constexpr std::uint64_t kReadFileRight = std::uint64_t(1) << 2;

std::uint64_t rightsOfVersion(long version) {
    std::uint64_t rights = kRightsOfVersion1;
    if (version >= 2)
        rights |= kReferRight;
    if (version >= 3)
        rights |= kTruncateRight;
    if (version >= 5)
        rights |= kDeviceIoctlRight;
    return rights;
}

bool noNewPrivileges() {
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
}

#if defined(__x86_64__)
constexpr std::uint32_t kArchitecture = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t kArchitecture = AUDIT_ARCH_AARCH64;
#else
constexpr std::uint32_t kArchitecture = 0;
#endif

} // namespace

FileLockdown::FileLockdown(const QStringList& readableFolders) {
    const long version = ::syscall(kCreateRuleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (version < 1)
        return;
    landlock_ruleset_attr ruleset{};
    ruleset.handled_access_fs = rightsOfVersion(version);
    m_ruleset = int(::syscall(kCreateRuleset, &ruleset, sizeof ruleset, 0));
    if (m_ruleset < 0)
        return;
    ::fcntl(m_ruleset, F_SETFD, FD_CLOEXEC);
    for (const QString& folder : readableFolders) {
        const int fd = ::open(QFile::encodeName(folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            continue;
        landlock_path_beneath_attr beneath{};
        beneath.allowed_access = kReadFileRight;
        beneath.parent_fd = fd;
        ::syscall(kAddRule, m_ruleset, LANDLOCK_RULE_PATH_BENEATH, &beneath, 0);
        ::close(fd);
    }
}

FileLockdown::~FileLockdown() {
    if (m_ruleset >= 0)
        ::close(m_ruleset);
}

FileLockdown::Kind FileLockdown::apply() {
    if (m_ruleset >= 0 && noNewPrivileges() && ::syscall(kRestrictSelf, m_ruleset, 0) == 0)
        return Kind::Landlock;
    return refuseEveryOpen() ? Kind::Seccomp : Kind::None;
}

bool FileLockdown::refuseEveryOpen() {
    if (kArchitecture == 0 || !noNewPrivileges())
        return false;
    const sock_filter refuse = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EACCES);
    std::vector<sock_filter> filter = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        // Calls of another architecture's numbering (32-bit ones on a 64-bit kernel) name other
        // calls by the same numbers: all refused.
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArchitecture, 1, 0),
        refuse,
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
    };
#if defined(__x86_64__)
    // The x32 numbering, the same calls with this bit set.
    filter.push_back(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000U, 0, 1));
    filter.push_back(refuse);
#endif
    const std::uint32_t opens[] = {
#ifdef __NR_open
        __NR_open,
#endif
#ifdef __NR_creat
        __NR_creat,
#endif
        __NR_openat,
        437, // openat2, unknown to older headers
    };
    for (const std::uint32_t call : opens) {
        filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, call, 0, 1));
        filter.push_back(refuse);
    }
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    const sock_fprog program{static_cast<unsigned short>(filter.size()), filter.data()};
    // Every thread of the process, not only this one.
    return ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &program) == 0;
}

} // namespace vennimo
