#pragma once

#include <QByteArray>
#include <QTemporaryDir>

namespace vennimo::test {

// What this process writes to its standard error while the object lives.
class StandardErrorCapture {
public:
    StandardErrorCapture();
    ~StandardErrorCapture();
    StandardErrorCapture(const StandardErrorCapture&) = delete;
    StandardErrorCapture& operator=(const StandardErrorCapture&) = delete;
    QByteArray written();

private:
    void restore();
    QTemporaryDir m_dir;
    int m_saved = -1;
    int m_file = -1;
};

} // namespace vennimo::test
