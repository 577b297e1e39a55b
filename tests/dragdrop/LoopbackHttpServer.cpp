#include "LoopbackHttpServer.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <mutex>

namespace vennimo::test {

LoopbackHttpServer::LoopbackHttpServer(Handler handler)
    : m_handler(std::move(handler)) {
    start();
    m_ready.acquire();
}

LoopbackHttpServer::~LoopbackHttpServer() {
    quit();
    wait();
}

QUrl LoopbackHttpServer::url(const QString& path) const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path));
}

QByteArray LoopbackHttpServer::lastRequest() const {
    std::lock_guard lock(m_mutex);
    return m_lastRequest;
}

void LoopbackHttpServer::respond(QTcpSocket* socket, const QByteArray& status, const QByteArray& headers,
                                 const QByteArray& body) {
    socket->write("HTTP/1.1 " + status + "\r\n" + headers + "Connection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}

void LoopbackHttpServer::streamChunked(QTcpSocket* socket, qint64 total) {
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nTransfer-Encoding: chunked\r\n\r\n");
    auto sent = std::make_shared<qint64>(0);
    auto more = [socket, sent, total] {
        constexpr qint64 kChunk = 1 << 20;
        // Keep a few chunks queued; the client's reading drains them.
        while (*sent < total && socket->bytesToWrite() < 4 * kChunk) {
            const qint64 n = std::min(kChunk, total - *sent);
            socket->write(QByteArray::number(n, 16) + "\r\n" + QByteArray(n, 'x') + "\r\n");
            *sent += n;
        }
        if (*sent >= total && socket->bytesToWrite() == 0) {
            socket->write("0\r\n\r\n");
            socket->disconnectFromHost();
        }
    };
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, more);
    more();
}

void LoopbackHttpServer::run() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    m_port = server.serverPort();
    QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            auto buffer = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                if (buffer->endsWith("\r\n\r\n") && buffer->contains(' '))
                    return;
                buffer->append(socket->readAll());
                if (!buffer->contains("\r\n\r\n"))
                    return;
                buffer->truncate(buffer->indexOf("\r\n\r\n") + 4);
                ++m_requests;
                {
                    std::lock_guard lock(m_mutex);
                    m_lastRequest = *buffer;
                }
                const QList<QByteArray> words = buffer->left(buffer->indexOf("\r\n")).split(' ');
                m_handler(socket, words.value(1));
            });
        }
    });
    m_ready.release();
    exec();
}

} // namespace vennimo::test
