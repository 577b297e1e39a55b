#include "platform/SingleInstance.h"

#include "platform/Logging.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vennimo {

namespace {

constexpr QByteArrayView kShowRequest = "show\n";
constexpr QByteArrayView kAnswer = "ok\n";

} // namespace

SingleInstance::SingleInstance(QString storage, QObject* parent)
    : QObject(parent)
    , m_storage(std::move(storage)) {}

SingleInstance::~SingleInstance() {
    stopListening();
    if (m_lockFd >= 0)
        close(m_lockFd); // releases the lock
}

QString SingleInstance::socketName() const {
    // Socket paths are short (108 bytes), so the folder is named by a hash of its real path.
    const QString canonical = QFileInfo(m_storage).canonicalFilePath();
    const QByteArray hash =
        QCryptographicHash::hash(QFile::encodeName(canonical.isEmpty() ? m_storage : canonical),
                                 QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::tempPath();
    return folder +
           QStringLiteral("/vennimo-gallery-%1-%2.sock").arg(getuid()).arg(QString::fromLatin1(hash));
}

Result<bool> SingleInstance::acquire() {
    if (m_lockFd >= 0)
        return true;
    const QString path = QDir(m_storage).filePath(QLatin1String(kLockFileName));
    const int fd = open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return Error::fromErrno(errno, path);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        close(fd);
        if (err == EWOULDBLOCK)
            return false;
        return Error::fromErrno(err, path);
    }
    m_lockFd = fd;
    // Holding the lock, no other instance can be listening: a socket left behind is stale.
    const QString name = socketName();
    QLocalServer::removeServer(name);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->setMaxPendingConnections(4);
    if (!m_server->listen(name)) {
        // Still the one instance; later starts wait for the lock's answer and give up.
        qCWarning(lcApp) << "cannot listen for later starts:" << m_server->errorString();
        m_server.reset();
        return true;
    }
    connect(m_server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection())
            answer(socket);
    });
    return true;
}

void SingleInstance::answer(QLocalSocket* socket) {
    // A client that never finishes its line is dropped rather than kept forever.
    QTimer::singleShot(kAnswerTimeoutMs, socket, [socket] { socket->abort(); });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > kMaxRequestBytes)
                socket->abort();
            return;
        }
        const QByteArray line = socket->readLine(kMaxRequestBytes + 1);
        if (line == kShowRequest) {
            socket->write(kAnswer.data(), kAnswer.size());
            socket->flush();
            Q_EMIT showGalleryRequested();
        }
        socket->disconnectFromServer();
    });
}

bool SingleInstance::lockHeldElsewhere() const {
    const QString path = QDir(m_storage).filePath(QLatin1String(kLockFileName));
    const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd); // releases a shared lock this took
    return held;
}

bool SingleInstance::requestShow(std::chrono::milliseconds answerBound) const {
    QElapsedTimer timer;
    timer.start();
    const auto left = [&] { return int(std::max<qint64>(0, answerBound.count() - timer.elapsed())); };
    // The instance listens right after it takes the lock, but answers only once its event loop
    // turns, which after a crash or with several starts at once can take a while: an instance
    // that still holds the lock is waited for, up to the bound.
    while (timer.elapsed() < answerBound.count()) {
        QLocalSocket socket;
        socket.connectToServer(socketName());
        if (!socket.waitForConnected(500)) {
            // Nothing listens: only the moment between taking the lock and listening explains that.
            if (timer.elapsed() >= kConnectTimeoutMs || !lockHeldElsewhere())
                return false;
            QThread::msleep(100);
            continue;
        }
        socket.write(kShowRequest.data(), kShowRequest.size());
        if (!socket.waitForBytesWritten(kAnswerTimeoutMs))
            return false;
        QByteArray reply;
        while (!reply.contains('\n') && reply.size() <= kMaxRequestBytes &&
               socket.state() == QLocalSocket::ConnectedState) {
            if (socket.waitForReadyRead(std::min(left(), kAnswerTimeoutMs)))
                reply += socket.read(kMaxRequestBytes);
            else if (left() == 0 || !lockHeldElsewhere())
                break;
        }
        reply += socket.read(kMaxRequestBytes);
        return reply == kAnswer;
    }
    return false;
}

bool SingleInstance::listening() const {
    return m_server && m_server->isListening();
}

void SingleInstance::stopListening() {
    if (!m_server)
        return;
    m_server->close();
    m_server.reset();
}

} // namespace vennimo
