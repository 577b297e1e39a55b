#include "platform/AllocatorPolicy.h"
#include "platform/ImageDecoder.h"
#include "platform/Logging.h"
#include "shell/GalleryApplication.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {

int run(int& argc, char** argv) {
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

} // namespace

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

    const int status = run(argc, argv);
    // Everything the application keeps is written by now. A picture decoding that could not be
    // stopped still runs on a thread of its own: the process ends without the static destructors
    // of the libraries that thread is still inside.
    if (vennimo::ImageDecoder::decodingsLeftRunning() > 0) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
