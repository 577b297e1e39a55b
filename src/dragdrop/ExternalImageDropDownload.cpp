#include "dragdrop/ExternalImageDrop.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <cerrno>
#include <mutex>

namespace vennimo {

namespace {

Error invalidAddress() {
    return Error::failure(QStringLiteral("图片地址无效。"));
}
Error unreadableInline() {
    return Error::failure(QStringLiteral("内嵌图片无法读取。"));
}
Error refusedAnswer() {
    return Error::failure(QStringLiteral("图片地址无法读取或图片超过 64 MB。"));
}
Error tooLarge() {
    return Error::failure(QStringLiteral("图片超过 64 MB。"));
}

bool isHttp(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

// Downloads keep nothing between requests and send nothing stored.
class NoCookies : public QNetworkCookieJar {
public:
    QList<QNetworkCookie> cookiesForUrl(const QUrl&) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie>&, const QUrl&) override { return false; }
};

Error networkError(QNetworkReply::NetworkError code, const QString& reason) {
    Error error = Error::make(QStringLiteral("Vennimo.Network"), int(code), QStringLiteral("无法下载图片。"));
    error.failureReason = reason;
    return error;
}

// One download: a session of its own on the calling thread's event loop, ended in every case.
class ImageDropDownload {
public:
    ImageDropDownload(QUrl url, const ExternalImageDrop::DownloadOptions& options)
        : m_url(std::move(url))
        , m_options(options) {}

    vennimo::Result<QByteArray> run() {
        QEventLoop loop;
        QNetworkAccessManager manager;
        manager.setCookieJar(new NoCookies);
        manager.setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy);
        manager.setCache(nullptr);

        // Credentials written into a dropped address are not sent either.
        QUrl target = m_url;
        target.setUserInfo(QString());
        QNetworkRequest request(target);
        request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
        request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
        request.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, QNetworkRequest::Manual);
        request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
        QNetworkReply* reply = manager.get(request);

        bool done = false;
        auto finish = [&](std::optional<Error> failure) {
            if (failure && !m_failure)
                m_failure = std::move(failure);
            if (!done) {
                done = true;
                loop.quit();
            }
        };

        // Silence longer than the request time-out fails the transfer, as does the whole transfer
        // running past the resource time-out.
        QTimer idle;
        idle.setSingleShot(true);
        idle.setInterval(int(m_options.requestTimeout.count()));
        QTimer resource;
        resource.setSingleShot(true);
        QTimer wait;
        wait.setSingleShot(true);
        bool waitedOut = false;
        QObject::connect(&idle, &QTimer::timeout, &loop, [&] {
            finish(Error::fromErrno(ETIMEDOUT));
            reply->abort();
        });
        QObject::connect(&resource, &QTimer::timeout, &loop, [&] {
            finish(Error::fromErrno(ETIMEDOUT));
            reply->abort();
        });
        QObject::connect(&wait, &QTimer::timeout, &loop, [&] {
            waitedOut = true;
            finish(std::nullopt);
            reply->abort();
        });

        // Once on https, a redirect back to plain http would hand the address to anyone listening.
        bool secure = target.scheme().toLower() == QLatin1String("https");
        QObject::connect(reply, &QNetworkReply::redirected, &loop, [&](const QUrl& next) {
            idle.start();
            const bool downgrade = secure && next.scheme().toLower() != QLatin1String("https");
            if (isHttp(next) && !downgrade) {
                secure = next.scheme().toLower() == QLatin1String("https");
                Q_EMIT reply->redirectAllowed();
                return;
            }
            // Not followed: what remains is a 3xx answer.
            finish(refusedAnswer());
            reply->abort();
        });
        QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, [&] {
            idle.start();
            if (m_checkedResponse || done)
                return;
            const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            const int code = status.toInt();
            if (code >= 300 && code < 400 && reply->hasRawHeader("Location"))
                return;
            m_checkedResponse = true;
            const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
            const bool lengthTooLarge =
                length.isValid() && length.toLongLong() > ExternalImageDrop::kMaxImageBytes;
            if (!status.isValid() || code < 200 || code > 299 || lengthTooLarge) {
                finish(refusedAnswer());
                reply->abort();
            }
        });
        QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
            idle.start();
            if (done)
                return;
            const QByteArray chunk = reply->readAll();
            if (m_bytes.size() + chunk.size() > ExternalImageDrop::kMaxImageBytes) {
                finish(tooLarge());
                reply->abort();
                return;
            }
            m_bytes.append(chunk);
        });
        QObject::connect(reply, &QNetworkReply::finished, &loop, [&] {
            if (done)
                return;
            const int code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            if (reply->error() != QNetworkReply::NoError) {
                // An answer that was not 2xx (a redirect Qt itself declined included) is the
                // server's refusal, not a network failure.
                const bool answered = code != 0 && (code < 200 || code > 299);
                finish(answered ? refusedAnswer() : networkError(reply->error(), reply->errorString()));
                return;
            }
            if (!m_checkedResponse && (code < 200 || code > 299)) {
                finish(refusedAnswer());
                return;
            }
            const QByteArray rest = reply->readAll();
            if (m_bytes.size() + rest.size() > ExternalImageDrop::kMaxImageBytes) {
                finish(tooLarge());
                return;
            }
            m_bytes.append(rest);
            finish(std::nullopt);
        });

        // Nothing wakes this loop when the drop is cancelled from another thread: it looks.
        QTimer cancelPoll;
        if (m_options.cancelled) {
            QObject::connect(&cancelPoll, &QTimer::timeout, &loop, [&] {
                if (!*m_options.cancelled)
                    return;
                finish(ExternalImageDrop::cancelledError());
                reply->abort();
            });
            cancelPoll.start(ExternalImageDrop::kCancelPollMs);
        }
        idle.start();
        resource.start(int(m_options.resourceTimeout.count()));
        wait.start(int(m_options.wait.count()));
        if (!done)
            loop.exec();
        reply->disconnect();
        reply->abort();
        delete reply;
        if (waitedOut && !m_failure)
            return ExternalImageDrop::timedOutError();
        if (m_failure)
            return *m_failure;
        return m_bytes;
    }

private:
    const QUrl m_url;
    const ExternalImageDrop::DownloadOptions m_options;
    QByteArray m_bytes;
    std::optional<Error> m_failure;
    bool m_checkedResponse = false;
};

} // namespace

vennimo::Result<QByteArray> ExternalImageDrop::decodeDataUrl(const QByteArray& url) {
    if (url.size() > kMaxDataUrlChars)
        return invalidAddress();
    const qsizetype comma = url.indexOf(',');
    if (comma < 0)
        return invalidAddress();
    const QByteArray header = url.left(comma).toLower();
    if (!header.startsWith("data:image/"))
        return invalidAddress();
    if (!header.endsWith(";base64"))
        return unreadableInline();
    const QByteArray encoded = QByteArray::fromPercentEncoding(url.mid(comma + 1));
    // Refuse before decoding what could only decode to more than the limit.
    if (encoded.size() / 4 * 3 > kMaxImageBytes + 3)
        return unreadableInline();
    auto decoded = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    if (decoded.decodingStatus != QByteArray::Base64DecodingStatus::Ok ||
        decoded.decoded.size() > kMaxImageBytes)
        return unreadableInline();
    return decoded.decoded;
}

Error ExternalImageDrop::timedOutError() {
    return Error::failure(QStringLiteral("下载图片超时。"));
}

Error ExternalImageDrop::cancelledError() {
    return Error::failure(QStringLiteral("拖入的图片已停止导入。"));
}

vennimo::Result<QByteArray> ExternalImageDrop::download(const QUrl& url, const DownloadOptions& options) {
    if (url.scheme().toLower() == QLatin1String("data"))
        return decodeDataUrl(url.toEncoded());
    if (!isHttp(url))
        return invalidAddress();
    return ImageDropDownload(url, options).run();
}

} // namespace vennimo
