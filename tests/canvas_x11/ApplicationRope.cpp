#include "ApplicationRope.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>

namespace vennimo::test {

namespace {

constexpr int kTrayIconSize = 48;

} // namespace

QRect ropeArea() {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    return QRect(screen.x() + (screen.width() - 980) / 2 - 20, screen.y() + 20, 1020, 506);
}

QString applicationShots() {
    const QString dir = QStringLiteral(VENNIMO_SCREENSHOT_DIR) + "/app";
    QDir().mkpath(dir);
    return dir;
}

void startApplication(QProcess& app) {
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(QStringLiteral(VENNIMO_APP_PATH));
}

QList<QRect> applicationWindows(qint64 pid) {
    QProcess search;
    search.start("xdotool", {"search", "--onlyvisible", "--pid", QString::number(pid)});
    search.waitForFinished(5000);
    QList<QRect> frames;
    for (const QString& id :
         QString::fromUtf8(search.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)) {
        QProcess geometry;
        geometry.start("xdotool", {"getwindowgeometry", "--shell", id.trimmed()});
        geometry.waitForFinished(5000);
        QHash<QString, int> values;
        for (const QString& line : QString::fromUtf8(geometry.readAllStandardOutput()).split('\n')) {
            const QStringList pair = line.split('=');
            if (pair.size() == 2)
                values.insert(pair[0], pair[1].toInt());
        }
        // The tray icon that the tray host took in is not one of the application's windows here.
        if (values.value("WIDTH") <= kTrayIconSize && values.value("HEIGHT") <= kTrayIconSize)
            continue;
        if (values.contains("WIDTH"))
            frames.append(QRect(values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]));
    }
    return frames;
}

std::optional<QRect> applicationWindow(qint64 pid) {
    // The rope window is the widest one; a menu that is open beside it is narrower.
    std::optional<QRect> widest;
    for (const QRect& frame : applicationWindows(pid))
        if (!widest || frame.width() > widest->width())
            widest = frame;
    return widest;
}

bool xdotool(const QStringList& arguments, int settleMs) {
    const int status = QProcess::execute("xdotool", arguments);
    QTest::qWait(settleMs);
    return status == 0;
}

QString storage() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/VennimoGallery";
}

QJsonObject readJson(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QMap<QString, double> placements() {
    QMap<QString, double> xs;
    const QJsonObject records =
        readJson(storage() + "/clothesline-positions.json").value("records").toObject();
    for (auto it = records.begin(); it != records.end(); ++it)
        xs.insert(it.key(), it.value().toObject().value("placement").toObject().value("x").toDouble());
    return xs;
}

QList<double> placementXs() {
    QList<double> xs = placements().values();
    std::sort(xs.begin(), xs.end());
    return xs;
}

int takenDownCount() {
    int count = 0;
    const QJsonObject records = readJson(storage() + "/clothesline.json").value("records").toObject();
    for (const QJsonValue& record : records)
        count += record.toObject().contains("usedAt") ? 1 : 0;
    return count;
}

ClotheslineRopeGeometry restingRope(const QRect& window) {
    ClotheslineRopeGeometry rope;
    rope.width = window.width() - 2 * kSideInset;
    rope.inset = kRopeInset;
    return rope;
}

int canvasTop(const QRect& window) {
    return kCanvasTop + (window.height() > kCollapsedHeight ? kToolbarRoom : 0);
}

QPoint onScreen(const QRect& window, QPointF canvasPoint) {
    return window.topLeft() +
           QPointF(canvasPoint.x() + kSideInset, canvasPoint.y() + canvasTop(window)).toPoint();
}

QPoint printPoint(const QRect& window, double x) {
    const ClotheslineRopeGeometry rope = restingRope(window);
    return onScreen(window, rope.pointAlong(rope.supportFraction(x)) + QPointF(0, kPegToPaper));
}

bool near(const QPoint& a, const QPoint& b, int tolerance) {
    return (a - b).manhattanLength() <= tolerance;
}

} // namespace vennimo::test
