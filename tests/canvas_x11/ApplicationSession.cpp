#include "ApplicationSession.h"

#include "support/ScreenGrab.h"

#include <QDir>
#include <QStandardPaths>

namespace vennimo::test {

QString screenshotFolder(const QString& name) {
    const QString dir = QStringLiteral(VENNIMO_SCREENSHOT_DIR) + "/" + name;
    QDir().mkpath(dir);
    return dir;
}

QString defaultsFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           "/VennimoGallery/defaults.json";
}

QString windowNamed(const QString& pattern) {
    return runProgram(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", pattern})
        .trimmed()
        .section('\n', 0, 0);
}

bool launchApplication(QProcess& app) {
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(QStringLiteral(VENNIMO_APP_PATH));
    return app.waitForStarted();
}

} // namespace vennimo::test
