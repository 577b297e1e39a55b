#pragma once

#include "platform/Result.h"

#include <QObject>
#include <QString>

#include <chrono>

#include <memory>

class QLocalServer;
class QLocalSocket;

namespace vennimo {

// One running copy per storage folder. The first start takes an exclusive lock on a file in
// the storage folder and listens on a local socket; a later start finds the lock taken and asks
// the first, over the socket, to show its window. The lock decides, not the socket, so two
// processes never write the same state files even when the socket cannot be reached.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    static constexpr auto kLockFileName = ".instance.lock";
    static constexpr int kConnectTimeoutMs = 5000;
    static constexpr int kAnswerTimeoutMs = 3000;
    // How long a later start waits for an instance that holds the lock but does not answer yet.
    static constexpr std::chrono::milliseconds kAnswerBound{30'000};
    // A request is one short line; anything longer is not from us.
    static constexpr qsizetype kMaxRequestBytes = 64;

    explicit SingleInstance(QString storage, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the one instance (the lock is held until destruction); false
    // when another holds it. Fails when the lock file cannot be opened or locked at all.
    Result<bool> acquire();
    // From a process that is not the instance: asks it to show its window; false when it did
    // not answer within the bound, or ended without answering.
    bool requestShow(std::chrono::milliseconds answerBound = kAnswerBound) const;
    // Where the instance listens, derived from the storage folder.
    QString socketName() const;
    bool listening() const;
    // Stops answering (the lock stays held); for tests of a socket that fails.
    void stopListening();

Q_SIGNALS:
    // A later start asked for the gallery window.
    void showGalleryRequested();

private:
    void answer(QLocalSocket* socket);
    // Another process keeps the lock: the instance is still alive.
    bool lockHeldElsewhere() const;

    QString m_storage;
    int m_lockFd = -1;
    std::unique_ptr<QLocalServer> m_server;
};

} // namespace vennimo
