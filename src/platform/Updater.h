#pragma once

#include "platform/Appcast.h"
#include "platform/Error.h"

#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <chrono>

class QNetworkAccessManager;

namespace vennimo {

class UserDefaults;

inline constexpr auto kUpdaterErrorDomain = "Vennimo.Updater";

// Looks for newer releases in an update feed: on request, and once a day while the user lets it
// check by itself. It only reads the feed; the shell shows what it found.
class Updater : public QObject {
    Q_OBJECT

public:
    static constexpr auto kAutomaticChecksKey = "SUEnableAutomaticChecks";
    static constexpr qint64 kMaxFeedBytes = 1 << 20;
    static constexpr qint64 kReadBufferBytes = 64 * 1024;
    static constexpr int kTimeoutMs = 30'000;
    static constexpr int kMaxRedirects = 3;
    static constexpr int kFirstAutomaticCheckMs = 60'000;
    static constexpr int kAutomaticIntervalMs = 24 * 60 * 60 * 1000;
    // The user default that names the feed; without it no feed is set.
    static constexpr auto kFeedUrlKey = "SUFeedURL";
    static constexpr int kNoFeedCode = 2;
    static constexpr auto kNoFeedMessage = "未设置更新源，无法检查更新。";

    Updater(QUrl feedUrl, QString currentVersion, UserDefaults& defaults, QObject* parent = nullptr);
    ~Updater() override;

    const QUrl& feedUrl() const { return m_feedUrl; }
    const QString& currentVersion() const { return m_currentVersion; }
    bool checking() const { return m_reply != nullptr; }
    // How long one check may take in all, however steadily the feed trickles in.
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

    // Off until the user turns it on: nothing goes out to the network unasked.
    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool enabled);
    // Arms the automatic checks (when enabled).
    void start();
    // The check the user asked for; a check under way is taken over, not repeated.
    void checkForUpdates();
    void checkInBackground();

Q_SIGNALS:
    void updateFound(const vennimo::AppcastItem& item, bool userInitiated);
    void noUpdateFound(bool userInitiated);
    void checkFailed(const vennimo::Error& error, bool userInitiated);
    // Every check ends with this, after its result.
    void sessionFinished();

private:
    void check(bool userInitiated);
    void finish(QNetworkReply* reply);
    void reschedule();
    Error failure(const QString& reason) const;

    QUrl m_feedUrl;
    QString m_currentVersion;
    UserDefaults& m_defaults;
    QNetworkAccessManager* m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    QByteArray m_body;
    bool m_oversized = false;
    bool m_userInitiated = false;
    std::chrono::milliseconds m_timeout{kTimeoutMs};
    QTimer m_timer;
};

} // namespace vennimo
