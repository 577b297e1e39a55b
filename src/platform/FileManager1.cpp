#include "platform/FileManager1.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QSet>
#include <QUrl>

namespace vennimo {

namespace {

constexpr auto kObjectPath = "/org/freedesktop/FileManager1";
constexpr auto kInterface = "org.freedesktop.FileManager1";
constexpr auto kErrorDomain = "org.freedesktop.DBus";

Error unanswered(const QString& detail) {
    Error error = Error::make(QString::fromLatin1(kErrorDomain), 1,
                              QStringLiteral("没有文件管理器响应（org.freedesktop.FileManager1）。"));
    error.failureReason = detail;
    return error;
}

} // namespace

FileManager1::FileManager1()
    : FileManager1(Options{}) {}

FileManager1::FileManager1(Options options)
    : m_options(std::move(options)) {}

QStringList FileManager1::fileUris(const QStringList& paths) {
    QStringList uris;
    uris.reserve(paths.size());
    for (const QString& path : paths)
        uris.append(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
    return uris;
}

QDBusMessage FileManager1::message(const QString& method, const QStringList& paths,
                                   const QString& startupId) const {
    QDBusMessage message = QDBusMessage::createMethodCall(m_options.service, QString::fromLatin1(kObjectPath),
                                                          QString::fromLatin1(kInterface), method);
    message.setAutoStartService(m_options.autoStart);
    message << fileUris(paths) << startupId;
    return message;
}

Status FileManager1::call(const QString& method, const QStringList& paths, const QString& startupId) const {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return unanswered(bus.lastError().message());
    const QDBusMessage message = this->message(method, paths, startupId);
    const QDBusMessage reply = bus.call(message, QDBus::Block, m_options.timeoutMilliseconds);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return {};
    return unanswered(reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage());
}

Status FileManager1::showItemProperties(const QStringList& paths, const QString& startupId) const {
    return call(QStringLiteral("ShowItemProperties"), paths, startupId);
}

Status FileManager1::showItems(const QStringList& paths) const {
    return call(QStringLiteral("ShowItems"), paths);
}

void FileManager1::reveal(const QStringList& paths) const {
    if (paths.isEmpty())
        return;
    const auto openFolders = [paths] {
        QSet<QString> opened;
        for (const QString& path : paths) {
            const QString folder = QFileInfo(path).absolutePath();
            if (opened.contains(folder))
                continue;
            opened.insert(folder);
            QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
        }
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolders();
        return;
    }
    // Asynchronous, so a file manager slow to start never holds up the interface.
    auto* watcher = new QDBusPendingCallWatcher(
        bus.asyncCall(message(QStringLiteral("ShowItems"), paths), m_options.timeoutMilliseconds));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [openFolders](QDBusPendingCallWatcher* call) {
                         if (call->isError())
                             openFolders();
                         call->deleteLater();
                     });
}

} // namespace vennimo
