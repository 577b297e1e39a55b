#include "platform/Updater.h"
#include "platform/UserDefaults.h"
#include "shell/UpdateWindows.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

using namespace vennimo;

TEST(UpdateWindowScreenTest, OfferOfANewerReleaseShowsOnScreen) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QByteArray feed =
        R"(<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><item><title>更快的晾衣绳</title><sparkle:version>0.2</sparkle:version>
<enclosure url="https://example.invalid/vennimo-0.2.tar.gz"/></item></channel></rss>)";
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = server.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, feed] {
            if (!socket->readAll().contains("\r\n\r\n"))
                return;
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(feed.size()) +
                          "\r\nConnection: close\r\n\r\n" + feed);
            socket->disconnectFromHost();
        });
    });

    Updater updater(QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(server.serverPort())),
                    QStringLiteral("0.1"), UserDefaults::standard());
    UpdateWindows windows(updater);
    updater.checkForUpdates();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !windows.windows().isEmpty(); }, 30000));
    QWidget* offer = windows.windows().constFirst();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(offer, 30000));
    EXPECT_EQ(qobject_cast<QMessageBox*>(offer)->text(), QStringLiteral("Vennimo 0.2 可以下载了。"));
    QTest::qWait(300);
    const QString shot = QStringLiteral(QT_TESTCASE_BUILDDIR "/update-offer.png");
    ASSERT_TRUE(offer->screen()->grabWindow(0).save(shot)) << shot.toStdString();
}
