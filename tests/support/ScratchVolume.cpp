#include "support/ScratchVolume.h"

#include <QFile>

#include <sched.h>
#include <sys/mount.h>

namespace vennimo::test {

ScratchVolume::ScratchVolume(QString folder)
    : m_folder(std::move(folder)) {
    const QByteArray at = QFile::encodeName(m_folder);
    // Private first, so the mount never shows outside this process.
    m_mounted = ::unshare(CLONE_NEWNS) == 0 &&
                ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                ::mount("tmpfs", at.constData(), "tmpfs", 0, "size=4m") == 0;
}

ScratchVolume::~ScratchVolume() {
    if (m_mounted)
        ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
}

} // namespace vennimo::test
