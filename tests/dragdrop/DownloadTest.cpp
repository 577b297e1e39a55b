#include "DropTestHelpers.h"

#include "LoopbackHttpServer.h"

#include "dragdrop/ExternalImageDrop.h"
#include "support/TestEnvironment.h"

#include <QTcpSocket>
#include <QTimer>
#include <gtest/gtest.h>

#include <future>

using namespace vennimo;
using namespace vennimo::test;
using namespace std::chrono_literals;

namespace {

template <class T>
QString message(const vennimo::Result<T>& result) {
    return result.ok() ? QStringLiteral("<ok>") : result.error().message;
}

const QString kRefused = QStringLiteral("图片地址无法读取或图片超过 64 MB。");

void serve(QTcpSocket* socket, const QByteArray& path) {
    if (path == "/image.png") {
        const QByteArray png = pngBytes();
        LoopbackHttpServer::respond(socket, "200 OK",
                                    "Content-Type: image/png\r\nSet-Cookie: session=1\r\nContent-Length: " +
                                        QByteArray::number(png.size()) + "\r\n",
                                    png);
    } else if (path == "/missing") {
        LoopbackHttpServer::respond(socket, "404 Not Found", "Content-Length: 9\r\n", "not found");
    } else if (path == "/huge") {
        // Announces 80 MB and sends a little: the answer must be refused on its header.
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 80000000\r\n\r\n" + QByteArray(1024, 'x'));
    } else if (path == "/stream") {
        LoopbackHttpServer::streamChunked(socket, 70'000'000);
    } else if (path == "/to-ftp") {
        LoopbackHttpServer::respond(socket, "302 Found",
                                    "Location: ftp://127.0.0.1/image.png\r\nContent-Length: 0\r\n", {});
    } else if (path == "/to-file") {
        LoopbackHttpServer::respond(socket, "302 Found",
                                    "Location: file:///etc/passwd\r\nContent-Length: 0\r\n", {});
    } else if (path == "/to-image") {
        LoopbackHttpServer::respond(socket, "301 Moved", "Location: /image.png\r\nContent-Length: 0\r\n", {});
    } else if (path == "/slow") {
        // Keeps talking, never finishes: only the whole transfer's limit ends it.
        socket->write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
        auto* timer = new QTimer(socket);
        QObject::connect(timer, &QTimer::timeout, socket, [socket] { socket->write("1\r\nx\r\n"); });
        timer->start(10);
    }
    // "/silent" and anything else: accepted, never answered.
}

ExternalImageDrop::DownloadOptions quick() {
    ExternalImageDrop::DownloadOptions options;
    options.requestTimeout = 300ms;
    options.resourceTimeout = 600ms;
    options.wait = 900ms;
    return options;
}

vennimo::Result<QByteArray> downloadOffMain(const QUrl& url,
                                            const ExternalImageDrop::DownloadOptions& options = quick()) {
    return std::async(std::launch::async, [&] { return ExternalImageDrop::download(url, options); }).get();
}

} // namespace

TEST(DropDownload, DataUrlsAreStrict) {
    const QByteArray png = pngBytes();
    EXPECT_EQ(ExternalImageDrop::decodeDataUrl("data:image/png;base64," + png.toBase64()).valueOr({}), png);
    EXPECT_EQ(ExternalImageDrop::decodeDataUrl("DATA:IMAGE/PNG;BASE64," + png.toBase64()).valueOr({}), png)
        << "header in capitals";
    EXPECT_EQ(ExternalImageDrop::decodeDataUrl("data:image/png;base64," + png.toBase64().toPercentEncoding())
                  .valueOr({}),
              png)
        << "percent-encoded Base64";
    EXPECT_EQ(
        ExternalImageDrop::download(QUrl(QString::fromLatin1("data:image/png;base64," + png.toBase64())))
            .valueOr({}),
        png);

    const QString invalid = QStringLiteral("图片地址无效。");
    const QString unreadable = QStringLiteral("内嵌图片无法读取。");
    EXPECT_EQ(message(ExternalImageDrop::decodeDataUrl("data:text/plain;base64,aGVsbG8=")), invalid);
    EXPECT_EQ(message(ExternalImageDrop::decodeDataUrl("data:image/png;base64")), invalid) << "no comma";
    EXPECT_EQ(message(ExternalImageDrop::decodeDataUrl("data:image/svg+xml,<svg/>")), unreadable)
        << "not Base64";
    EXPECT_EQ(message(ExternalImageDrop::decodeDataUrl("data:image/png;base64,@@@@")), unreadable);
    EXPECT_EQ(message(ExternalImageDrop::decodeDataUrl("data:image/png;base64,aGVs bG8=")), unreadable)
        << "no stray characters";
    EXPECT_TRUE(ExternalImageDrop::decodeDataUrl("data:image/png;base64,").ok())
        << "empty is left to the saver";

    QByteArray big = "data:image/png;base64,";
    big += QByteArray((ExternalImageDrop::kMaxImageBytes / 3 + 2) * 4, 'A');
    EXPECT_EQ(message(ExternalImageDrop::decodeDataUrl(big)), unreadable) << "decodes to more than 64 MiB";
    big.resize(ExternalImageDrop::kMaxDataUrlChars + 1);
    EXPECT_EQ(message(ExternalImageDrop::decodeDataUrl(big)), invalid) << "longer than 2^27 characters";
    EXPECT_EQ(message(ExternalImageDrop::download(QUrl(QStringLiteral("ftp://127.0.0.1/x.png")))), invalid);
}

TEST(DropDownload, HttpAnswersAreCheckedAndCapped) {
    LoopbackHttpServer server(serve);
    // Time-outs out of the way: a loaded machine must not turn a refusal into a time-out.
    const auto downloadOffMain = [](const QUrl& url) {
        return ::downloadOffMain(url, ExternalImageDrop::DownloadOptions{});
    };
    auto image = downloadOffMain(server.url(QStringLiteral("/image.png")));
    EXPECT_EQ(image.valueOr({}), pngBytes()) << message(image).toStdString();
    EXPECT_EQ(downloadOffMain(server.url(QStringLiteral("/to-image"))).valueOr({}), pngBytes())
        << "redirects within http are followed";
    EXPECT_FALSE(server.lastRequest().toLower().contains("cookie:")) << "nothing stored is sent";
    QUrl withCredentials = server.url(QStringLiteral("/image.png"));
    withCredentials.setUserInfo(QStringLiteral("user:secret"));
    EXPECT_TRUE(downloadOffMain(withCredentials).ok());
    EXPECT_FALSE(server.lastRequest().toLower().contains("authorization:")) << "no credentials are sent";

    EXPECT_EQ(message(downloadOffMain(server.url(QStringLiteral("/missing")))), kRefused);
    EXPECT_EQ(message(downloadOffMain(server.url(QStringLiteral("/huge")))), kRefused);
    EXPECT_EQ(message(downloadOffMain(server.url(QStringLiteral("/stream")))),
              QStringLiteral("图片超过 64 MB。"));
    const int before = server.requests();
    EXPECT_EQ(message(downloadOffMain(server.url(QStringLiteral("/to-ftp")))), kRefused);
    EXPECT_EQ(message(downloadOffMain(server.url(QStringLiteral("/to-file")))), kRefused);
    EXPECT_EQ(server.requests(), before + 2) << "the redirect targets are never requested";
}

TEST(DropDownload, SilenceAndSlowTransfersTimeOut) {
    LoopbackHttpServer server(serve);
    auto silent = downloadOffMain(server.url(QStringLiteral("/silent")));
    ASSERT_FALSE(silent.ok());
    EXPECT_EQ(silent.error().sysErrno, ETIMEDOUT)
        << "the request time-out: " << silent.error().message.toStdString();

    auto slow = downloadOffMain(server.url(QStringLiteral("/slow")));
    ASSERT_FALSE(slow.ok());
    EXPECT_EQ(slow.error().sysErrno, ETIMEDOUT) << "the resource time-out";

    auto options = quick();
    options.requestTimeout = options.resourceTimeout = 5s;
    options.wait = 200ms;
    EXPECT_EQ(message(downloadOffMain(server.url(QStringLiteral("/silent")), options)),
              QStringLiteral("下载图片超时。"));

    // Through the import: the URL alternative is saved like any other bytes.
    ExternalImageDrop::Snapshot snapshot;
    snapshot.items.append({ExternalImageDrop::Source::remote(server.url(QStringLiteral("/missing"))),
                           ExternalImageDrop::Source::remote(server.url(QStringLiteral("/image.png")))});
    ExternalImageDrop::ImportOptions importOptions;
    importOptions.download = quick();
    const auto result = materializeOffMain(snapshot, storageFolder(), importOptions);
    ASSERT_EQ(result.paths.size(), 1);
    EXPECT_EQ(readFile(result.paths[0]), pngBytes());
}
