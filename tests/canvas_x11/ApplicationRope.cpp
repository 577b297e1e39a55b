#include "ApplicationRope.h"

#include <QDir>
#include <QGuiApplication>
#include <QHash>
#include <QRegularExpression>
#include <QScreen>
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

} // namespace vennimo::test
