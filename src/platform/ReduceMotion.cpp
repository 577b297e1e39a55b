#include "platform/ReduceMotion.h"

#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>

namespace vennimo {

namespace {

struct State {
    ReduceMotion::Reader reader;
    std::optional<bool> cached;
};

State& state() {
    static State value;
    return value;
}

} // namespace

bool ReduceMotion::isOn() {
    State& s = state();
    if (!s.cached) {
        const std::optional<bool> read = s.reader ? s.reader() : readDesktop();
        s.cached = read.value_or(false);
    }
    return *s.cached;
}

void ReduceMotion::reload() {
    state().cached.reset();
}

void ReduceMotion::setReader(Reader reader) {
    state().reader = std::move(reader);
    reload();
}

std::optional<bool> ReduceMotion::animationsFromGsettings(const QByteArray& output) {
    const QByteArray value = output.trimmed();
    if (value == "true")
        return true;
    if (value == "false")
        return false;
    return std::nullopt;
}

std::optional<bool> ReduceMotion::animationsFromKdeGlobals(const QString& path) {
    if (!QFile::exists(path))
        return std::nullopt;
    const QSettings settings(path, QSettings::IniFormat);
    bool ok = false;
    const double factor = settings.value(QStringLiteral("KDE/AnimationDurationFactor")).toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return factor > 0;
}

std::optional<bool> ReduceMotion::readDesktop() {
    const QString gsettings = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (!gsettings.isEmpty()) {
        QProcess process;
        process.start(gsettings, {QStringLiteral("get"), QStringLiteral("org.gnome.desktop.interface"),
                                  QStringLiteral("enable-animations")});
        if (process.waitForFinished(kGsettingsTimeoutMilliseconds) &&
            process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0) {
            if (const auto animations = animationsFromGsettings(process.readAllStandardOutput()))
                return !*animations;
        } else if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(kGsettingsTimeoutMilliseconds);
        }
    }
    const QString kde =
        QStandardPaths::locate(QStandardPaths::GenericConfigLocation, QStringLiteral("kdeglobals"));
    if (!kde.isEmpty())
        if (const auto animations = animationsFromKdeGlobals(kde))
            return !*animations;
    return std::nullopt;
}

} // namespace vennimo
