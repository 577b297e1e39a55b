#include "RenderingTestSupport.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdlib>

namespace vennimo::test {

Photo photoFor(const QString& path, const QString& thumbnail, const QString& id) {
    Photo photo;
    photo.id = id;
    photo.path = path;
    photo.source = QStringLiteral("test");
    photo.size = QFileInfo(path).size();
    photo.modified = 100;
    photo.added = 100;
    photo.thumbnail = thumbnail.isEmpty() ? path : thumbnail;
    if (!thumbnail.isEmpty())
        photo.thumbnailModified = 100;
    return photo;
}

Photo writePhoto(const QString& folder, const QString& name, QSize size, bool withThumbnail, QColor color) {
    const QString path = folder + u'/' + name;
    saveImage(makeImage(size.width(), size.height(), color), path + QStringLiteral(".png"));
    if (withThumbnail)
        saveImage(makeImage(size.width() / 2, size.height() / 2, color), path + QStringLiteral("-thumb.jpg"));
    return photoFor(path + QStringLiteral(".png"),
                    withThumbnail ? path + QStringLiteral("-thumb.jpg") : QString(),
                    QStringLiteral("1-") + name);
}

std::vector<Photo> writePhotos(const QString& folderName, int count, QSize size, bool withThumbnail) {
    const QString folder = makeFolder(folderName);
    std::vector<Photo> photos;
    for (int i = 0; i < count; ++i)
        photos.push_back(writePhoto(folder, QStringLiteral("p%1").arg(i), size, withThumbnail));
    return photos;
}

bool near(QRgb actual, QColor expected, int tolerance) {
    const QRgb a = qUnpremultiply(actual), e = expected.rgba();
    for (int shift : {0, 8, 16, 24})
        if (std::abs(int((a >> shift) & 0xff) - int((e >> shift) & 0xff)) > tolerance)
            return false;
    return true;
}

bool spinUntil(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return condition();
}

void settle() {
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

QImage solid(int width, int height, QColor color) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

} // namespace vennimo::test
