// Asks for many placeholder prints and leaves at once, while they are still being drawn.
#include "core/Photo.h"
#include "rendering/PolaroidRenderer.h"

#include <QGuiApplication>

using namespace vennimo;

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    Photo photo;
    photo.id = QStringLiteral("1-2");
    photo.path = QStringLiteral("/nonexistent/print.jpg");
    // Each scale is a placeholder of its own, so every request queues a drawing.
    for (int i = 0; i < 40; ++i)
        PolaroidRenderer::placeholder(photo, 1 + i * 0.05, [] {});
    return 0;
}
