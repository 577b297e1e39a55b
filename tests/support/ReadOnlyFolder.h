#pragma once

#include <QString>

namespace vennimo::test {

// Makes a folder refuse new entries and changes for as long as it lives: its mode loses the
// write bits and, for root, whom modes do not stop, the folder is also marked immutable.
// locked() says whether the folder really refuses a new file here; tests skip when not.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(QString path);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    bool locked() const { return m_locked; }
    // Gives the folder its write access back before the end of the scope.
    void release();

private:
    QString m_path;
    bool m_immutable = false;
    bool m_locked = false;
};

} // namespace vennimo::test
