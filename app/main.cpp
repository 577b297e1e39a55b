#include "shell/GalleryApplication.h"

#include <QApplication>

#include <malloc.h>

#include <cstdio>

int main(int argc, char** argv) {
    // Wayland lets no ordinary window float above others, place itself or pass clicks through,
    // so the application always runs on X11 (XWayland on a Wayland desktop).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    if (qEnvironmentVariable("QT_QPA_PLATFORM") == QLatin1String("xcb") &&
        qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "vennimo-gallery: no X display (DISPLAY is not set); start it inside an X11 "
                             "or XWayland session.\n");
        return 1;
    }

    // Print bitmaps are a few hundred kilobytes each and made on several worker threads. Left to
    // itself, the allocator raises its mapping threshold past that size after the first large
    // free, and the freed bitmaps then stay in per-thread heaps: the process keeps tens of
    // megabytes it no longer uses after a burst of arrivals. Mapped, they go back when freed.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VennimoGallery"));
    QApplication::setApplicationVersion(QStringLiteral(VENNIMO_VERSION));
    // Closing windows never quits; only the quit path does.
    QApplication::setQuitOnLastWindowClosed(false);

    vennimo::GalleryApplication gallery;
    if (const std::optional<int> status = gallery.launch())
        return *status;
    return QApplication::exec();
}
