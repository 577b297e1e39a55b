#include "support/ScreenGrab.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <gtest/gtest.h>

#include <cstdlib>

namespace vennimo::test {

QImage grabScreenArea(const QRect& area) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .toImage();
}

double changedShare(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull())
        return 1;
    qint64 changed = 0;
    for (int y = 0; y < a.height(); y += 2)
        for (int x = 0; x < a.width(); x += 2)
            if (std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y))) > 24)
                ++changed;
    return double(changed) / (double((a.width() + 1) / 2) * ((a.height() + 1) / 2));
}

QString runProgram(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(10000)) << program.toStdString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

int nearBlackPixels(const QImage& shot, int below) {
    int count = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const QRgb p = shot.pixel(x, y);
            count += qRed(p) < below && qGreen(p) < below && qBlue(p) < below;
        }
    return count;
}

} // namespace vennimo::test
