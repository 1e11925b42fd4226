#include "dialogs/WebFetch.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

namespace {

// The proxies the desktop is set up with, for this one manager only.
class SystemProxies final : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override {
        return systemProxyForQuery(query);
    }
};

} // namespace

namespace WebFetch {

QByteArray Fetch(const QString& address, const Limits& limits) {
    const QUrl url(address);
    const QString scheme = url.scheme().toLower();
    // Only web pages: no local files or other schemes the network layer would also open.
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QStringLiteral("http") && scheme != QStringLiteral("https")))
        return QByteArray();

    QNetworkAccessManager manager;
    manager.setProxyFactory(new SystemProxies);

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, AgentName);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);

    QByteArray body;
    QEventLoop loop;
    QNetworkReply* reply = manager.get(request);
    reply->setReadBufferSize(64 * 1024);

    const auto readSome = [&] {
        const qint64 room = limits.maxBytes - body.size();
        if (room > 0)
            body += reply->read(room);
        if (body.size() >= limits.maxBytes)
            reply->abort(); // enough of it: the rest is not read
    };
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, readSome);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);

    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
    deadline.start(limits.timeLimitMs);

    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    deadline.stop();
    if (reply->bytesAvailable() > 0 && body.size() < limits.maxBytes)
        readSome();
    delete reply;
    return body;
}

} // namespace WebFetch
