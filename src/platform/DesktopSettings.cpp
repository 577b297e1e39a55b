#include "platform/DesktopSettings.h"

#include <QProcess>
#include <QStandardPaths>

namespace vennimo {

const QStringList& DesktopSettings::knownPrograms() {
    static const QStringList programs{
        QStringLiteral("gnome-control-center"), QStringLiteral("systemsettings"),
        QStringLiteral("systemsettings5"),      QStringLiteral("xfce4-settings-manager"),
        QStringLiteral("lxqt-config"),          QStringLiteral("mate-control-center"),
        QStringLiteral("cinnamon-settings"),    QStringLiteral("budgie-control-center"),
    };
    return programs;
}

QString DesktopSettings::installedProgram() {
    for (const QString& name : knownPrograms()) {
        if (const QString path = QStandardPaths::findExecutable(name); !path.isEmpty())
            return path;
    }
    return {};
}

bool DesktopSettings::open(const QString& program) {
    return !program.isEmpty() && QProcess::startDetached(program, {});
}

} // namespace vennimo
