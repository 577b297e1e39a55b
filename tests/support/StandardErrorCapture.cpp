#include "support/StandardErrorCapture.h"

#include "support/TestEnvironment.h"

#include <QFile>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace vennimo::test {

StandardErrorCapture::StandardErrorCapture() {
    std::fflush(stderr);
    m_saved = ::dup(2);
    m_file =
        ::open(QFile::encodeName(m_dir.filePath("stderr")).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ::dup2(m_file, 2);
}

StandardErrorCapture::~StandardErrorCapture() {
    restore();
}

QByteArray StandardErrorCapture::written() {
    restore();
    return readFile(m_dir.filePath("stderr"));
}

void StandardErrorCapture::restore() {
    if (m_saved < 0)
        return;
    std::fflush(stderr);
    ::dup2(m_saved, 2);
    ::close(m_saved);
    ::close(m_file);
    m_saved = -1;
}

} // namespace vennimo::test
