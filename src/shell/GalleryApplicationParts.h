#pragma once

#include "core/PathRules.h"
#include "platform/Result.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace vennimo {

class GalleryModel;
class GlobalHotKey;
class Indexer;
class LoginSetting;
class SessionWatcher;
class SingleInstance;
class SourceStore;
class UnixSignals;
class Updater;
class UserDefaults;

// The makers of the long-lived parts. The defaults build the real ones; tests replace some to
// watch the order or to fail on purpose.
struct GalleryApplicationParts {
    std::function<Result<QString>()> storage;
    QString home;
    std::function<std::unique_ptr<SingleInstance>(const QString& storage)> singleInstance;
    // Removes what a crashed run left in the storage folder.
    std::function<void(const QString& storage)> removeLeftovers;
    // The application icon every window shows; one that does not load leaves the desktop's.
    QString applicationIcon;
    std::function<std::unique_ptr<Updater>(UserDefaults& defaults)> updater;
    std::function<std::unique_ptr<SourceStore>(const QString& storage, const QString& home)> sourceStore;
    std::function<std::unique_ptr<LoginSetting>()> loginSetting;
    std::function<std::unique_ptr<Indexer>(const QList<SourceRoot>& roots, const QString& storage)> indexer;
    std::function<std::unique_ptr<GalleryModel>(std::unique_ptr<Indexer> indexer)> model;
    std::function<std::unique_ptr<SessionWatcher>()> sessionWatcher;
    std::function<std::unique_ptr<GlobalHotKey>()> hotKey;
    // SIGTERM and SIGINT; none in tests.
    std::function<std::unique_ptr<UnixSignals>()> unixSignals;
    // Told of each step of the launch after the makers above, by name.
    std::function<void(const QString& step)> launchStep;
    // The end of a quit: the alert that refuses it, made for its reason, the clipboard hand-over,
    // and leaving the loop. The shell shows the alert without waiting for it and closes it once
    // the work it names has ended; none shows nothing.
    std::function<std::unique_ptr<QWidget>(const QString& reason)> quitBlockedAlert;
    std::function<void()> handOverClipboard;
    std::function<void(int status)> exit;

    // The real parts of a running application.
    static GalleryApplicationParts standard();
};

} // namespace vennimo
