// Holds a lock the way the running instance holds its own, then renders a dropped document that
// takes far longer than the test lets this process live: the test kills it mid-render.
#include "dragdrop/BoundedPdfRenderer.h"

#include <QCoreApplication>
#include <QFile>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    QFile document(QString::fromLocal8Bit(argv[1]));
    if (!document.open(QIODevice::ReadOnly))
        return 2;
    const QByteArray pdf = document.readAll();
    const int lock = ::open(argv[2], O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) != 0)
        return 3;
    std::printf("locked\n");
    std::fflush(stdout);
    vennimo::PdfRenderLimits limits;
    limits.deadline = std::chrono::minutes(10);
    return vennimo::BoundedPdfRenderer::render(pdf, 2, 4096, limits).ok() ? 0 : 1;
}
