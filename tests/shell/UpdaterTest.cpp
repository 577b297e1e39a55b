#include "platform/Updater.h"
#include "platform/UserDefaults.h"
#include "shell/UpdateWindows.h"
#include "support/WaitUntil.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace vennimo;

namespace {

using test::waitUntil;

// A tiny HTTP server on the loopback address only, answering each path with a fixed response.
class FeedServer {
public:
    QHash<QByteArray, QByteArray> bodies;

    FeedServer() {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    m_requests[socket] += socket->readAll();
                    const QByteArray& request = m_requests[socket];
                    if (!request.contains("\r\n\r\n"))
                        return;
                    const QByteArray path = request.split(' ').value(1);
                    m_requests.remove(socket); // a later socket may get the same address
                    const bool found = bodies.contains(path);
                    const QByteArray body = bodies.value(path, "not here");
                    socket->write((found ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n") +
                                  QByteArray("Content-Type: application/rss+xml\r\nContent-Length: ") +
                                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QUrl url(const char* path) const {
        return QUrl(
            QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(QLatin1String(path)));
    }

private:
    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_requests;
};

const QByteArray kFeed = R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
  <channel>
    <title>Vennimo Gallery</title>
    <item><title>Version 1.2</title>
      <enclosure url="https://example.invalid/vennimo-1.2.tar.gz" sparkle:version="1.2" length="10" type="application/octet-stream"/>
    </item>
    <item><title>Version 1.10 beta</title><sparkle:version>1.10b1</sparkle:version>
      <sparkle:shortVersionString>1.10 Beta 1</sparkle:shortVersionString>
      <enclosure url="https://example.invalid/vennimo-1.10b1.tar.gz" length="10" type="application/octet-stream"/>
    </item>
    <item><title>No version: skipped</title></item>
  </channel>
</rss>)";

struct Outcome {
    std::optional<AppcastItem> found;
    bool upToDate = false;
    std::optional<Error> failed;
    bool userInitiated = false;
    int sessions = 0;
};

Outcome runCheck(Updater& updater) {
    Outcome outcome;
    QObject context;
    QObject::connect(&updater, &Updater::updateFound, &context, [&](const AppcastItem& item, bool user) {
        outcome.found = item;
        outcome.userInitiated = user;
    });
    QObject::connect(&updater, &Updater::noUpdateFound, &context, [&](bool user) {
        outcome.upToDate = true;
        outcome.userInitiated = user;
    });
    QObject::connect(&updater, &Updater::checkFailed, &context, [&](const Error& error, bool user) {
        outcome.failed = error;
        outcome.userInitiated = user;
    });
    QObject::connect(&updater, &Updater::sessionFinished, &context, [&] { ++outcome.sessions; });
    updater.checkForUpdates();
    updater.checkInBackground(); // joins the check under way
    EXPECT_TRUE(waitUntil([&] { return outcome.sessions > 0; }));
    return outcome;
}

} // namespace

TEST(UpdaterTest, VersionsCompareAsReleasesDo) {
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    const QList<Case> cases{
        {"1.10", "1.9", 1},      {"1.0", "1.0.0", 0},      {"1.0.1", "1.0", 1},  {"1.0b2", "1.0", -1},
        {"1.0b2", "1.0b10", -1}, {"2", "10", -1},          {"1.10b1", "1.2", 1}, {"0.1", "0.1", 0},
        {"1.0a", "1.0b", -1},    {"1.0-rc1", "1.0.1", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(compareVersions(QLatin1String(c.a), QLatin1String(c.b)), c.order);
        EXPECT_EQ(compareVersions(QLatin1String(c.b), QLatin1String(c.a)), -c.order);
    }
}

TEST(UpdaterTest, AFeedNestedDeeperThanAnyFeedIsUnreadable) {
    const auto nested = [](int levels) {
        return "<rss><channel>" + QByteArray("<x>").repeated(levels) +
               "<item><title>Deep</title><enclosure url=\"https://example.invalid/a\" "
               "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\" "
               "sparkle:version=\"9\"/></item>" +
               QByteArray("</x>").repeated(levels) + "</channel></rss>";
    };
    const auto plain = parseAppcast(kFeed);
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(plain->size(), 2);
    // rss, channel, the wrappers, item, enclosure: right at the limit.
    const auto atLimit = parseAppcast(nested(kMaxAppcastDepth - 4));
    ASSERT_TRUE(atLimit.ok()) << atLimit.error().failureReason.toStdString();
    EXPECT_EQ(atLimit->size(), 1);
    for (const int levels : {kMaxAppcastDepth - 3, 140'000}) {
        const QByteArray xml = nested(levels);
        ASSERT_LE(xml.size(), Updater::kMaxFeedBytes);
        const auto deep = parseAppcast(xml);
        ASSERT_FALSE(deep.ok()) << levels << " levels";
        EXPECT_TRUE(deep.error().failureReason.contains(QLatin1String("nested")))
            << deep.error().failureReason.toStdString();
    }
}

TEST(UpdaterTest, ReportsANewerVersionFromAFeedServedLocally) {
    FeedServer server;
    server.bodies.insert("/appcast.xml", kFeed);
    server.bodies.insert("/huge.xml", QByteArray(Updater::kMaxFeedBytes + 100, 'x'));
    server.bodies.insert("/html", "<html><body>moved</body></html>");

    Updater updater(server.url("/appcast.xml"), QStringLiteral("1.2"), UserDefaults::standard());
    UpdateWindows windows(updater);
    const Outcome newer = runCheck(updater);
    ASSERT_TRUE(newer.found.has_value());
    EXPECT_EQ(newer.found->version, QStringLiteral("1.10b1"));
    EXPECT_EQ(newer.found->displayVersion, QStringLiteral("1.10 Beta 1"));
    EXPECT_EQ(newer.found->downloadUrl,
              QUrl(QStringLiteral("https://example.invalid/vennimo-1.10b1.tar.gz")));
    EXPECT_TRUE(newer.userInitiated);
    EXPECT_EQ(newer.sessions, 1);
    ASSERT_EQ(windows.windows().size(), 1);
    auto* offer = qobject_cast<QMessageBox*>(windows.windows().constFirst());
    ASSERT_NE(offer, nullptr);
    EXPECT_TRUE(UpdateWindows::isUpdateWindow(offer));
    EXPECT_TRUE(offer->isVisible());
    EXPECT_EQ(offer->text(), QStringLiteral("Vennimo 1.10 Beta 1 可以下载了。"));

    struct Case {
        const char* name;
        QUrl feed;
        QString current;
        bool upToDate;
        const char* message = "无法检查更新，请稍后再试。";
    };
    const QList<Case> cases{
        {"same version", server.url("/appcast.xml"), QStringLiteral("1.10b1"), true},
        {"newer running", server.url("/appcast.xml"), QStringLiteral("2.0"), true},
        {"missing feed", server.url("/nothing.xml"), QStringLiteral("1.0"), false},
        {"feed too large", server.url("/huge.xml"), QStringLiteral("1.0"), false},
        {"not a feed", server.url("/html"), QStringLiteral("1.0"), false},
        {"not http", QUrl(QStringLiteral("file:///etc/passwd")), QStringLiteral("1.0"), false},
        {"no feed set", QUrl(), QStringLiteral("1.0"), false, Updater::kNoFeedMessage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Updater other(c.feed, c.current, UserDefaults::standard());
        const Outcome outcome = runCheck(other);
        EXPECT_FALSE(outcome.found.has_value());
        EXPECT_EQ(outcome.upToDate, c.upToDate);
        EXPECT_EQ(outcome.failed.has_value(), !c.upToDate);
        if (outcome.failed) {
            EXPECT_EQ(outcome.failed->message, QString::fromUtf8(c.message));
        }
    }
}

TEST(UpdaterTest, AutomaticChecksAreOffUntilTurnedOnAndAnAbandonedCheckStaysSilent) {
    Updater updater(QUrl(QStringLiteral("http://127.0.0.1:9/")), QStringLiteral("1.0"),
                    UserDefaults::standard());
    EXPECT_FALSE(updater.automaticallyChecksForUpdates());
    updater.setAutomaticallyChecksForUpdates(true);
    EXPECT_EQ(UserDefaults::standard().boolValue(QLatin1String(Updater::kAutomaticChecksKey)), true);
    updater.setAutomaticallyChecksForUpdates(false);

    // Destroyed with a check under way (the server never answers), it reports nothing.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    auto pending =
        std::make_unique<Updater>(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort())),
                                  QStringLiteral("1.0"), UserDefaults::standard());
    int reports = 0;
    QObject::connect(pending.get(), &Updater::sessionFinished, [&] { ++reports; });
    pending->checkForUpdates();
    EXPECT_TRUE(waitUntil([&] { return silent.hasPendingConnections(); }));
    EXPECT_TRUE(pending->checking());
    pending.reset();
    EXPECT_EQ(reports, 0);
}

TEST(UpdaterTest, AFeedThatTricklesInIsCutOffAtTheDeadline) {
    // Headers, then one byte of a long body every 100 ms: never idle long enough for a transfer
    // timeout to notice.
    QTcpServer trickle;
    ASSERT_TRUE(trickle.listen(QHostAddress::LocalHost));
    QTimer drip;
    QList<QPointer<QTcpSocket>> sockets;
    QObject::connect(&trickle, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = trickle.nextPendingConnection()) {
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
            sockets << socket;
        }
    });
    QObject::connect(&drip, &QTimer::timeout, [&] {
        for (const QPointer<QTcpSocket>& socket : sockets)
            if (socket)
                socket->write("<");
    });
    drip.start(100);
    Updater updater(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(trickle.serverPort())),
                    QStringLiteral("1.0"), UserDefaults::standard());
    updater.setTimeout(std::chrono::milliseconds(800));
    QElapsedTimer elapsed;
    elapsed.start();
    const Outcome outcome = runCheck(updater);
    EXPECT_TRUE(outcome.failed.has_value());
    EXPECT_LT(elapsed.elapsed(), 5000);
}

TEST(UpdaterTest, AnEndlessBodyIsCutAtTheLimitWithoutBeingTakenInFirst) {
    // A server of its own thread that sends an endless chunked body as fast as it is taken.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    std::atomic<qint64> sent = 0;
    std::thread server([listener, &sent] {
        const int client = ::accept(listener, nullptr, nullptr);
        if (client < 0)
            return;
        char request[4096];
        [[maybe_unused]] const ssize_t got = ::read(client, request, sizeof request);
        const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\n"
                                "Transfer-Encoding: chunked\r\n\r\n";
        const QByteArray chunk = "10000\r\n" + QByteArray(0x10000, '<') + "\r\n";
        if (::send(client, head.constData(), size_t(head.size()), MSG_NOSIGNAL) < 0)
            return;
        // Stops when the reader hangs up, or far past anything it should have taken.
        while (sent < (qint64(1) << 30)) {
            const ssize_t n = ::send(client, chunk.constData(), size_t(chunk.size()), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += n;
        }
        ::close(client);
    });
    Updater updater(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(ntohs(address.sin_port))),
                    QStringLiteral("1.0"), UserDefaults::standard());
    Outcome outcome;
    QObject::connect(&updater, &Updater::checkFailed,
                     [&](const Error& error, bool) { outcome.failed = error; });
    QObject::connect(&updater, &Updater::sessionFinished, [&] { ++outcome.sessions; });
    updater.checkForUpdates();
    // A busy main thread: whatever arrives meanwhile waits in the reply.
    ASSERT_TRUE(waitUntil([&] { return sent > 0; }));
    QThread::msleep(1000);
    EXPECT_TRUE(waitUntil([&] { return outcome.sessions > 0; }));
    ::shutdown(listener, SHUT_RDWR);
    server.join();
    ::close(listener);
    ASSERT_TRUE(outcome.failed.has_value());
    EXPECT_TRUE(outcome.failed->failureReason.contains(QStringLiteral("larger than")))
        << outcome.failed->failureReason.toStdString();
    // The limit, the read buffer and what the sockets hold in between.
    EXPECT_LT(sent, qint64(24) << 20);
}

TEST(UpdaterTest, TheOfferShowsWhatTheFeedSaysAsPlainText) {
    Updater updater(QUrl(QStringLiteral("http://127.0.0.1:9/")), QStringLiteral("1.0"),
                    UserDefaults::standard());
    UpdateWindows windows(updater);
    AppcastItem item;
    item.version = QStringLiteral("2.0");
    item.displayVersion = QStringLiteral("<b>2.0</b>");
    item.title = QStringLiteral("<a href=\"file:///etc\">notes</a> & more");
    Q_EMIT updater.updateFound(item, true);
    ASSERT_EQ(windows.windows().size(), 1);
    // What each label puts on screen, read the way the label itself reads its text.
    QStringList shown;
    for (const QLabel* label : windows.windows().constFirst()->findChildren<QLabel*>()) {
        const bool rich = label->textFormat() == Qt::RichText ||
                          (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
        QTextDocument document;
        document.setHtml(label->text());
        shown << (rich ? document.toPlainText() : label->text());
    }
    EXPECT_TRUE(shown.contains(QStringLiteral("Vennimo <b>2.0</b> 可以下载了。")))
        << shown.join(u'|').toStdString();
    EXPECT_TRUE(shown.contains(item.title)) << shown.join(u'|').toStdString();
}
