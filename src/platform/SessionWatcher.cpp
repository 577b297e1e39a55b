#include "platform/SessionWatcher.h"

#include "platform/Logging.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>

namespace vennimo {

SessionWatcher::SessionWatcher(QObject* parent)
    : SessionWatcher(QDBusConnection::systemBus(), parent) {}

SessionWatcher::SessionWatcher(const QDBusConnection& bus, QObject* parent)
    : QObject(parent)
    , m_bus(bus) {
    if (qGuiApp)
        connect(qGuiApp, &QGuiApplication::commitDataRequest, this, [this] { Q_EMIT sessionEnding(); });
    if (!m_bus.isConnected()) {
        qCInfo(lcApp) << "no system bus; sleep and shutdown are not announced";
        return;
    }
    const QString service = QLatin1String(kService), path = QLatin1String(kPath),
                  interface = QLatin1String(kInterface);
    m_watching = m_bus.connect(service, path, interface, QStringLiteral("PrepareForSleep"), this,
                               SLOT(onPrepareForSleep(bool))) &&
                 m_bus.connect(service, path, interface, QStringLiteral("PrepareForShutdown"), this,
                               SLOT(onPrepareForShutdown(bool)));
    takeDelayLock();
}

void SessionWatcher::takeDelayLock() {
    if (!m_bus.isConnected() || m_lock.isValid() || m_requested)
        return;
    m_requested = true;
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                                       QLatin1String(kInterface), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:shutdown") << QStringLiteral("Vennimo Gallery")
         << QStringLiteral("Saving the rope and new-photo state") << QStringLiteral("delay");
    auto* pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        m_requested = false;
        QDBusPendingReply<QDBusUnixFileDescriptor> reply = *call;
        if (reply.isError()) {
            qCInfo(lcApp) << "no logind delay lock:" << reply.error().message();
            return;
        }
        m_lock = reply.value();
    });
}

void SessionWatcher::onPrepareForSleep(bool starting) {
    if (!starting) {
        Q_EMIT wokeUp();
        takeDelayLock();
        return;
    }
    Q_EMIT sleepStarting();
    // Closing the descriptor tells logind that this process is ready.
    m_lock = QDBusUnixFileDescriptor();
}

void SessionWatcher::onPrepareForShutdown(bool starting) {
    if (!starting) {
        takeDelayLock();
        return;
    }
    Q_EMIT sessionEnding();
    m_lock = QDBusUnixFileDescriptor();
}

} // namespace vennimo
