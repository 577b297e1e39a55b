#include "DropTestHelpers.h"
#include "support/WaitUntil.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QMimeData>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <gtest/gtest.h>

#include <future>

using namespace vennimo;
using namespace vennimo::test;
using namespace std::chrono_literals;

namespace {

const QString kRefused = u"图片地址无法读取或图片超过 64 MB。"_s;

void respond(QTcpSocket* socket, const QByteArray& status, const QByteArray& headers,
             const QByteArray& body = {}) {
    socket->write("HTTP/1.1 " + status + "\r\n" + headers + "Content-Length: " +
                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}

void serve(QTcpSocket* socket, const QByteArray& path) {
    if (path == "/image.png") {
        respond(socket, "200 OK", "Content-Type: image/png\r\nSet-Cookie: session=1\r\n", pngBytes());
    } else if (path == "/missing") {
        respond(socket, "404 Not Found", {}, "not found");
    } else if (path == "/huge") { // announces 80 MB, sends a little: refused on the header
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 80000000\r\n\r\n" + QByteArray(1024, 'x'));
    } else if (path == "/stream") { // 70 MiB, its size never announced
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nTransfer-Encoding: chunked\r\n\r\n");
        socket->write(("100000\r\n" + QByteArray(1 << 20, 'x') + "\r\n").repeated(70) + "0\r\n\r\n");
    } else if (path.startsWith("/to-")) {
        const QByteArray target = path == "/to-ftp"    ? "ftp://127.0.0.1/image.png"
                                  : path == "/to-file" ? "file:///etc/passwd"
                                                       : "/image.png";
        respond(socket, "302 Found", "Location: " + target + "\r\n");
    } // anything else ("/silent"): accepted, never answered
}

// A tiny HTTP server on 127.0.0.1, served by the main thread while downloads run off it.
struct LoopbackHttpServer : QTcpServer {
    int requests = 0;
    QByteArray lastRequest;

    LoopbackHttpServer() {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                // A request's head comes in one piece over the loopback.
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    lastRequest = socket->readAll();
                    ++requests;
                    serve(socket, lastRequest.split(' ').value(1));
                });
            }
        });
    }
    QUrl url(const char* path) const {
        return QUrl(u"http://127.0.0.1:%1%2"_s.arg(serverPort()).arg(QLatin1String(path)));
    }
};

// The same answers over TLS with a certificate for 127.0.0.1, and "/to-http" sending the client
// to a plain http address.
struct LoopbackHttpsServer : QTcpServer {
    QSslCertificate certificate;
    QSslKey key;
    QUrl plainTarget;

    LoopbackHttpsServer(const QByteArray& certificatePem, const QByteArray& keyPem)
        : certificate(certificatePem)
        , key(keyPem, QSsl::Ec) {
        listen(QHostAddress::LocalHost);
    }
    QUrl url(const char* path) const {
        return QUrl(u"https://127.0.0.1:%1%2"_s.arg(serverPort()).arg(QLatin1String(path)));
    }

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setLocalCertificate(certificate);
        socket->setPrivateKey(key);
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QSslSocket::readyRead, socket, [this, socket] {
            const QByteArray path = socket->readAll().split(' ').value(1);
            if (path == "/to-http")
                respond(socket, "302 Found", "Location: " + plainTarget.toEncoded() + "\r\n");
            else
                serve(socket, path);
        });
        socket->startServerEncryption();
    }
};

// Time-outs out of the way by default: a loaded machine must not turn a refusal into a time-out.
auto downloadOffMain(const QUrl& url, const ExternalImageDrop::DownloadOptions& options = {}) {
    return offMain([&] { return ExternalImageDrop::download(url, options); });
}

const ExternalImageDrop::DownloadOptions kQuick{
    .requestTimeout = 300ms, .resourceTimeout = 600ms, .wait = 900ms};

} // namespace

TEST(DropDownload, DataUrlsAreStrict) {
    const QByteArray png = pngBytes();
    for (const QByteArray& url :
         {"data:image/png;base64," + png.toBase64(), "DATA:IMAGE/PNG;BASE64," + png.toBase64(),
          "data:image/png;base64," + png.toBase64().toPercentEncoding()})
        EXPECT_EQ(ExternalImageDrop::decodeDataUrl(url).valueOr({}), png) << url.left(30).data();
    EXPECT_EQ(
        ExternalImageDrop::download(QUrl(QString::fromLatin1("data:image/png;base64," + png.toBase64())))
            .valueOr({}),
        png);
    EXPECT_TRUE(ExternalImageDrop::decodeDataUrl("data:image/png;base64,").ok())
        << "empty is left to the saver";

    const QString invalid = u"图片地址无效。"_s;
    const QString unreadable = u"内嵌图片无法读取。"_s;
    // Base64 of zero bytes: whole groups of "AAAA", then the tail that makes the byte count.
    const auto zeros = [](qint64 bytes) {
        return "data:image/png;base64," + QByteArray(bytes / 3 * 4, 'A') +
               QByteArray(bytes % 3 == 0   ? ""
                          : bytes % 3 == 1 ? "AA=="
                                           : "AAA=");
    };
    EXPECT_EQ(ExternalImageDrop::decodeDataUrl(zeros(ExternalImageDrop::kMaxImageBytes)).valueOr({}).size(),
              ExternalImageDrop::kMaxImageBytes);
    const QByteArray tooMuch = zeros(ExternalImageDrop::kMaxImageBytes + 1);
    QByteArray tooLong = tooMuch;
    tooLong.resize(ExternalImageDrop::kMaxDataUrlChars + 1, 'A');
    for (const auto& [url, expected] : {std::pair{QByteArray("data:text/plain;base64,aGVsbG8="), invalid},
                                        {"data:image/png;base64", invalid}, // no comma
                                        {"data:image/svg+xml,<svg/>", unreadable},
                                        {"data:image/png;base64,@@@@", unreadable},
                                        {"data:image/png;base64,aGVs bG8=", unreadable}, // a stray space
                                        {tooMuch, unreadable}, // decodes to one byte over 64 MiB
                                        {tooLong, invalid}})   // longer than 2^27 characters
        EXPECT_EQ(message(ExternalImageDrop::decodeDataUrl(url)), expected) << url.left(40).data();
    EXPECT_EQ(message(ExternalImageDrop::download(QUrl(u"ftp://127.0.0.1/x.png"_s))), invalid);
}

TEST(DropDownload, HttpAnswersAreCheckedAndCapped) {
    LoopbackHttpServer server;
    EXPECT_EQ(downloadOffMain(server.url("/image.png")).valueOr({}), pngBytes());
    EXPECT_EQ(downloadOffMain(server.url("/to-image")).valueOr({}), pngBytes()) << "redirects within http";
    EXPECT_FALSE(server.lastRequest.toLower().contains("cookie:")) << "nothing stored is sent";
    QUrl withCredentials = server.url("/image.png");
    withCredentials.setUserInfo(u"user:secret"_s);
    EXPECT_TRUE(downloadOffMain(withCredentials).ok());
    EXPECT_FALSE(server.lastRequest.toLower().contains("authorization:")) << "no credentials are sent";

    EXPECT_EQ(message(downloadOffMain(server.url("/missing"))), kRefused);
    EXPECT_EQ(message(downloadOffMain(server.url("/huge"))), kRefused);
    EXPECT_EQ(message(downloadOffMain(server.url("/stream"))), u"图片超过 64 MB。"_s);
    const int before = server.requests;
    EXPECT_EQ(message(downloadOffMain(server.url("/to-ftp"))), kRefused);
    EXPECT_EQ(message(downloadOffMain(server.url("/to-file"))), kRefused);
    EXPECT_EQ(server.requests, before + 2) << "the redirect targets are never requested";
}

TEST(DropDownload, HttpsIsNeverRedirectedToPlainHttp) {
    const QString openssl = QStandardPaths::findExecutable(u"openssl"_s);
    if (openssl.isEmpty() || !QSslSocket::supportsSsl())
        GTEST_SKIP() << "no openssl to make a certificate with, or no TLS";
    const QString folder = makeFolder(u"tls"_s);
    ASSERT_EQ(QProcess::execute(openssl, {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s,
                                          u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s, u"-days"_s, u"2"_s,
                                          u"-subj"_s, u"/CN=127.0.0.1"_s, u"-addext"_s,
                                          u"subjectAltName=IP:127.0.0.1"_s, u"-keyout"_s,
                                          folder + u"/key.pem"_s, u"-out"_s, folder + u"/cert.pem"_s}),
              0);
    LoopbackHttpServer plain;
    LoopbackHttpsServer secure(readFile(folder + u"/cert.pem"_s), readFile(folder + u"/key.pem"_s));
    secure.plainTarget = plain.url("/image.png");
    const QSslConfiguration before = QSslConfiguration::defaultConfiguration();
    QSslConfiguration trusting = before;
    trusting.addCaCertificate(secure.certificate);
    QSslConfiguration::setDefaultConfiguration(trusting);

    EXPECT_EQ(downloadOffMain(secure.url("/image.png")).valueOr({}), pngBytes()) << "https itself works";
    EXPECT_EQ(downloadOffMain(secure.url("/to-image")).valueOr({}), pngBytes()) << "redirects within https";
    EXPECT_EQ(message(downloadOffMain(secure.url("/to-http"))), kRefused);
    EXPECT_EQ(plain.requests, 0) << "the plain address is never asked";
    QSslConfiguration::setDefaultConfiguration(before);
}

TEST(DropDownload, SilenceTimesOut) {
    LoopbackHttpServer server;
    auto silent = downloadOffMain(server.url("/silent"), kQuick);
    ASSERT_FALSE(silent.ok());
    EXPECT_EQ(silent.error().sysErrno, ETIMEDOUT)
        << "the request time-out: " << silent.error().message.toStdString();
    EXPECT_EQ(message(downloadOffMain(server.url("/silent"),
                                      {.requestTimeout = 5s, .resourceTimeout = 5s, .wait = 200ms})),
              u"下载图片超时。"_s);

    // Through the import: a failed URL alternative falls through to the next one. The server answers
    // both at once, but on a loaded machine perhaps not within the quick time-outs.
    const auto result = materializeOffMain(
        {.items = {{Source::remote(server.url("/missing")), Source::remote(server.url("/image.png"))}}});
    ASSERT_EQ(result.paths.size(), 1);
    EXPECT_EQ(readFile(result.paths[0]), pngBytes());
}

TEST(DropDownload, BrowserDragBytesNeedNoNetwork) {
    // The image's bytes untyped, its URL, and a promise the browser declines.
    LoopbackHttpServer server;
    QMimeData data;
    data.setData(u"application/octet-stream"_s, pngBytes());
    data.setData(u"text/uri-list"_s, server.url("/image.png").toEncoded() + "\r\n");
    data.setData(u"XdndDirectSave0"_s, QByteArray());
    const auto snapshot = ExternalImageDrop::snapshot(data, [](const QMimeData&) {
        return QList<std::shared_ptr<FilePromiseReceiver>>{
            std::make_shared<FakePromiseReceiver>(QStringList{u"x.png"_s}, kDecline)};
    });
    EXPECT_EQ(snapshot.items, (Items{{Source::fromBytes(pngBytes()),
                                      Source::fromPromise(snapshot.items.value(0).value(1).promise),
                                      Source::remote(server.url("/image.png"))}}))
        << "octet-stream typed by its content, then the promise, then the URL";
    const auto result = materializeOffMain(snapshot);
    EXPECT_EQ(server.requests, 0) << "the bytes were enough: no download";
    ASSERT_EQ(result.paths.size(), 1);
    EXPECT_EQ(readFile(result.paths[0]), pngBytes());
}

TEST(DropDownload, AWholeDropOfSilentLinksEndsAtItsDeadlineOrWhenCancelled) {
    LoopbackHttpServer server;
    // Each download alone would wait for ten minutes: only the drop's own limits end them.
    const ExternalImageDrop::DownloadOptions patient{
        .requestTimeout = 600s, .resourceTimeout = 600s, .wait = 600s};
    Items silent;
    for (int i = 0; i < 20; ++i)
        silent.append({Source::remote(server.url("/silent"))});
    const auto late = materializeOffMain({.items = silent}, {.download = patient, .dropDeadline = 1500ms});
    EXPECT_TRUE(late.paths.isEmpty());
    EXPECT_EQ(late.failures, 20) << "also the items that never got their turn";
    EXPECT_EQ(late.detail, u"下载图片超时。"_s);

    // Cancelled: the items saved stay saved, the rest fail, and nothing half-written is left.
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    Items mixed{{Source::fromBytes(pngBytes(9, 9, Qt::green))}};
    for (int i = 0; i < 3; ++i)
        mixed.append({Source::remote(server.url("/silent"))});
    const QString storage = storageFolder();
    auto running = std::async(std::launch::async, [&] {
        return ExternalImageDrop::materialize(
            {.items = mixed}, storage, {.download = patient, .dropDeadline = 600s, .cancelled = cancelled});
    });
    // Cancelled once the downloads asked and the bytes item is saved: an item not begun by then
    // would not be saved at all.
    while (running.wait_for(1ms) != std::future_status::ready) {
        QCoreApplication::processEvents();
        if (server.requests >= 3 && !QDir(storage + u"/imported-images"_s).entryList(QDir::Files).isEmpty())
            cancelled->store(true);
    }
    const auto result = running.get();
    ASSERT_EQ(result.paths.size(), 1);
    EXPECT_EQ(readFile(result.paths[0]), pngBytes(9, 9, Qt::green));
    EXPECT_EQ(result.failures, 3);
    EXPECT_EQ(result.detail, ExternalImageDrop::cancelledError().localizedDescription());
    EXPECT_EQ(QDir(storage + u"/imported-images"_s).entryList(QDir::Files | QDir::Hidden).size(), 1)
        << "no partial file stays";

    // Cancelled before they were begun, bytes at hand and files to copy are not saved either.
    const QString local = makeFolder(u"sources"_s) + u"/cancelled.png"_s;
    writeFile(local, pngBytes(7, 7, Qt::red));
    const Items unbegun{{Source::fromBytes(pngBytes(5, 5, Qt::blue))}, {Source::file(local, true)}};
    const auto none =
        std::async(std::launch::async, [&] {
            return ExternalImageDrop::materialize({.items = unbegun}, storage, {.cancelled = cancelled});
        }).get();
    EXPECT_TRUE(none.paths.isEmpty());
    EXPECT_EQ(none.failures, 2);
    EXPECT_EQ(QDir(storage + u"/imported-images"_s).entryList(QDir::Files | QDir::Hidden).size(), 1);
    EXPECT_EQ(readFile(local), pngBytes(7, 7, Qt::red)) << "the source is left as it was";
}

TEST(DropDownload, AFileWaitingForRoomInMemoryIsNotCopiedOnceItsDropIsCancelled) {
    LoopbackHttpServer server;
    const ExternalImageDrop::DownloadOptions patient{
        .requestTimeout = 600s, .resourceTimeout = 600s, .wait = 600s};
    // Eight silent downloads of another drop hold all the room for bytes in memory.
    Items silent;
    for (int i = 0; i < 8; ++i)
        silent.append({Source::remote(server.url("/silent"))});
    auto hogCancel = std::make_shared<std::atomic<bool>>(false);
    const QString hogStorage = makeFolder(u"hog"_s);
    auto hogging = std::async(std::launch::async, [&] {
        return ExternalImageDrop::materialize(
            {.items = silent}, hogStorage,
            {.download = patient, .dropDeadline = 600s, .cancelled = hogCancel});
    });
    const QByteArray bytes = pngBytes(6, 6, Qt::red);
    const QString source = written(makeFolder(u"sources"_s) + u"/waiting.png"_s, bytes);
    const QString storage = makeFolder(u"copies"_s);
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    std::future<ExternalImageDrop::Result> copying;
    // The copy opened its file and waits for room.
    const auto opened = [&] {
        const QDir descriptors(u"/proc/self/fd"_s);
        for (const QString& name :
             descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            if (QFileInfo(descriptors.filePath(name)).symLinkTarget() == source)
                return true;
        return false;
    };
    const bool waiting = waitUntil(
        [&] {
            if (server.requests < 8)
                return false;
            if (!copying.valid())
                copying = std::async(std::launch::async, [&] {
                    return ExternalImageDrop::materialize({.items = {{Source::file(source, true)}}}, storage,
                                                          {.cancelled = cancelled});
                });
            return opened();
        },
        20s);
    QThread::msleep(100);
    cancelled->store(true);
    hogCancel->store(true);
    ASSERT_TRUE(waiting) << "the copy never came to wait for room";
    while (copying.wait_for(1ms) != std::future_status::ready)
        QCoreApplication::processEvents();
    const auto result = copying.get();
    EXPECT_TRUE(result.paths.isEmpty());
    EXPECT_EQ(result.failures, 1);
    EXPECT_EQ(result.detail, ExternalImageDrop::cancelledError().localizedDescription());
    EXPECT_FALSE(QFileInfo::exists(ExternalImageDrop::importFolder(storage)))
        << "a copy began after the cancel";
    EXPECT_EQ(readFile(source), bytes);
}
