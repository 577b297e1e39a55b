#pragma once

#include <QByteArray>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <functional>
#include <semaphore>

class QTcpSocket;

namespace vennimo::test {

// A tiny HTTP server on 127.0.0.1 only, on a thread of its own so that a download blocking the
// test's thread is still answered. Each request's path goes to the handler, which writes the
// whole answer (or none) on the socket.
class LoopbackHttpServer : public QThread {
public:
    using Handler = std::function<void(QTcpSocket* socket, const QByteArray& path)>;

    explicit LoopbackHttpServer(Handler handler);
    ~LoopbackHttpServer() override;

    QUrl url(const QString& path) const;
    int requests() const { return m_requests.load(); }
    QByteArray lastRequest() const;

    static void respond(QTcpSocket* socket, const QByteArray& status, const QByteArray& headers,
                        const QByteArray& body);
    // Writes `total` bytes in chunked encoding as fast as the client reads them.
    static void streamChunked(QTcpSocket* socket, qint64 total);

protected:
    void run() override;

private:
    Handler m_handler;
    std::binary_semaphore m_ready{0};
    quint16 m_port = 0;
    std::atomic<int> m_requests{0};
    mutable std::mutex m_mutex;
    QByteArray m_lastRequest;
};

} // namespace vennimo::test
