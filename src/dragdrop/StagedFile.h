#pragma once

#include "platform/LeftoverTemporaries.h"
#include "platform/Result.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace vennimo {

// A new file of an import folder, made under a hidden temporary name and given its final name
// only by `link`, which never replaces anything. Until then it is on its way to the disk, and it
// is removed again when the object goes unlinked.
class StagedFile {
public:
    explicit StagedFile(QString folder);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    bool isCreated() const { return m_fd >= 0; }
    Status write(const QByteArray& bytes);
    // Copies at most `limit` bytes from the start of `fd` inside the kernel, without passing them
    // through this process; answers how many there were. Once `stop` answers true (it is asked
    // between chunks) the copy ends with ECANCELED.
    Result<qint64> copyFrom(int fd, qint64 limit, const std::function<bool()>& stop = {});
    // The first `size` bytes as written; fewer, and the answer is a shorter array. A stop ends
    // the read as it ends a copy.
    Result<QByteArray> read(qint64 size, const std::function<bool()>& stop = {}) const;
    // Syncs the file and gives it the name `path` in the same folder.
    Status link(const QString& path, LeftoverTemporaries::Record* record);

private:
    Status create();
    void startWriteback() const;

    QString m_folder;
    QString m_temporary;
    int m_fd = -1;
    bool m_linked = false;
};

} // namespace vennimo
