// Asks for many placeholder prints and leaves at once, while they are still being drawn; says
// how many were drawn by the time the application was gone.
#include "core/Photo.h"
#include "rendering/PolaroidRenderer.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

using namespace vennimo;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    Photo photo;
    photo.id = QStringLiteral("1-2");
    photo.path = QStringLiteral("/nonexistent/print.jpg");
    // Each scale is a placeholder of its own, so every request queues a drawing of its own paper.
    for (int i = 0; i < 200; ++i)
        PolaroidRenderer::placeholder(photo, 1 + i * 0.01, [] {});
    // Registered after the renderer's state exists, so it runs after the application is gone
    // and before that state goes.
    std::atexit([] { std::printf("drawn %d\n", PolaroidRenderer::baseRenderCount()); });
    return 0;
}
