#include "platform/AllocatorPolicy.h"
#include "platform/Logging.h"
#include "shell/GalleryApplication.h"

#include <QApplication>

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

    vennimo::AllocatorPolicy::apply();
    vennimo::applyDiagnosticSwitch();

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
