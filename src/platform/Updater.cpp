#include "platform/Updater.h"

#include "platform/Logging.h"
#include "platform/UserDefaults.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace vennimo {

Updater::Updater(QUrl feedUrl, QString currentVersion, UserDefaults& defaults, QObject* parent)
    : QObject(parent)
    , m_feedUrl(std::move(feedUrl))
    , m_currentVersion(std::move(currentVersion))
    , m_defaults(defaults)
    , m_network(new QNetworkAccessManager(this)) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Updater::checkInBackground);
}

Updater::~Updater() {
    // No result may be reported from a half-destroyed updater.
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
}

bool Updater::automaticallyChecksForUpdates() const {
    return m_defaults.boolValue(QLatin1String(kAutomaticChecksKey)).value_or(false);
}

void Updater::setAutomaticallyChecksForUpdates(bool enabled) {
    // Refused writes leave the setting as it was; the schedule follows what is stored.
    if (!m_defaults.setBool(QLatin1String(kAutomaticChecksKey), enabled))
        qCWarning(lcApp, "automatic update checks not changed");
    reschedule();
}

void Updater::start() {
    if (automaticallyChecksForUpdates())
        m_timer.start(kFirstAutomaticCheckMs);
}

void Updater::reschedule() {
    if (automaticallyChecksForUpdates()) {
        if (!m_timer.isActive())
            m_timer.start(kAutomaticIntervalMs);
    } else {
        m_timer.stop();
    }
}

void Updater::checkForUpdates() {
    check(true);
}

void Updater::checkInBackground() {
    check(false);
}

Error Updater::failure(const QString& reason) const {
    Error error =
        Error::make(QLatin1String(kUpdaterErrorDomain), 1, QStringLiteral("无法检查更新，请稍后再试。"));
    error.failureReason = reason;
    return error;
}

void Updater::check(bool userInitiated) {
    if (m_reply) {
        m_userInitiated = m_userInitiated || userInitiated;
        return;
    }
    m_userInitiated = userInitiated;
    if (m_feedUrl.isEmpty()) {
        // Nothing is wrong with the network: there is simply nowhere to look.
        Q_EMIT checkFailed(
            Error::make(QLatin1String(kUpdaterErrorDomain), kNoFeedCode, QString::fromUtf8(kNoFeedMessage)),
            userInitiated);
        Q_EMIT sessionFinished();
        return;
    }
    const QString scheme = m_feedUrl.scheme();
    if (!m_feedUrl.isValid() || (scheme != QLatin1String("https") && scheme != QLatin1String("http"))) {
        Q_EMIT checkFailed(failure(QStringLiteral("no usable feed URL: ") + m_feedUrl.toString()),
                           userInitiated);
        Q_EMIT sessionFinished();
        return;
    }
    QNetworkRequest request(m_feedUrl);
    // The transfer timeout only notices a feed that stops; one that sends a byte now and then is
    // cut off by the deadline below.
    request.setTransferTimeout(int(m_timeout.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("VennimoGallery/") + m_currentVersion);
    m_body.clear();
    QNetworkReply* reply = m_network->get(request);
    m_reply = reply;
    QTimer::singleShot(m_timeout, reply, &QNetworkReply::abort);
    // Without a read buffer the network thread keeps taking in an endless body as fast as it
    // comes, whatever is read here; the count of what arrived ends it as soon as it is too long.
    reply->setReadBufferSize(kReadBufferBytes);
    m_oversized = false;
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64) {
        if (received <= kMaxFeedBytes)
            return;
        m_oversized = true;
        reply->abort();
    });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        m_body += reply->read(kMaxFeedBytes + 1 - m_body.size());
        if (m_body.size() > kMaxFeedBytes) {
            m_oversized = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finish(reply); });
}

void Updater::finish(QNetworkReply* reply) {
    reply->deleteLater();
    m_reply = nullptr;
    const bool userInitiated = m_userInitiated;
    if (m_body.size() <= kMaxFeedBytes)
        m_body += reply->read(kMaxFeedBytes + 1 - m_body.size());
    const QByteArray body = std::exchange(m_body, {});
    if (body.size() > kMaxFeedBytes || m_oversized) {
        Q_EMIT checkFailed(failure(QStringLiteral("the feed is larger than %1 bytes").arg(kMaxFeedBytes)),
                           userInitiated);
    } else if (reply->error() != QNetworkReply::NoError) {
        Q_EMIT checkFailed(failure(reply->errorString()), userInitiated);
    } else if (Result<QList<AppcastItem>> items = parseAppcast(body); !items) {
        Q_EMIT checkFailed(failure(items.error().failureReason), userInitiated);
    } else if (const std::optional<AppcastItem> newest = newestAppcastItem(*items);
               newest && compareVersions(newest->version, m_currentVersion) > 0) {
        Q_EMIT updateFound(*newest, userInitiated);
    } else {
        Q_EMIT noUpdateFound(userInitiated);
    }
    Q_EMIT sessionFinished();
    reschedule();
}

} // namespace vennimo
