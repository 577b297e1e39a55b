#pragma once

#include <QString>

namespace vennimo::test {

// A small tmpfs of its own mounted on a folder, in this process's own mount namespace, so a test
// has the top of a volume without touching the machine's mounts. mounted() says whether the
// process had the rights to make one; tests skip when not. Unmounted when it goes.
class ScratchVolume {
public:
    explicit ScratchVolume(QString folder);
    ~ScratchVolume();
    ScratchVolume(const ScratchVolume&) = delete;
    ScratchVolume& operator=(const ScratchVolume&) = delete;

    bool mounted() const { return m_mounted; }
    const QString& top() const { return m_folder; }

private:
    QString m_folder;
    bool m_mounted = false;
};

} // namespace vennimo::test
