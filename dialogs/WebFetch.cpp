#include "dialogs/WebFetch.h"

#include "widgets/BusyCursor.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <algorithm>

namespace {

// The proxies the desktop is set up with, for this one manager only.
class SystemProxies final : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override {
        return systemProxyForQuery(query);
    }
};

// While a page is fetched: the user's input is dropped (a click must not run its command
// after the wait), except what ends the wait, which aborts the fetch and goes on its way.
class InputDuringFetch final : public QObject {
public:
    InputDuringFetch(QNetworkReply* reply, const WebFetch::Escape& escape)
        : m_reply(reply), m_window(escape.window), m_cancel(escape.cancelButton) {
        qApp->installEventFilter(this);
    }
    ~InputDuringFetch() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Close:
            if (m_window && watched == m_window)
                end();
            return false;
        case QEvent::ShortcutOverride:
            // Taken here, so that no shortcut fires; the key then comes as a key press.
            event->accept();
            return true;
        case QEvent::KeyPress:
            if (!watched->isWidgetType())
                return false; // the window passes it on to the widget, which decides
            if (m_window && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
                static_cast<QWidget*>(watched)->window() == m_window) {
                end();
                return false;
            }
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            if (!watched->isWidgetType())
                return false;
            if (m_cancel && watched == m_cancel) {
                end();
                return false;
            }
            return true;
        case QEvent::KeyRelease:
        case QEvent::MouseButtonRelease:
            return watched->isWidgetType();
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::Shortcut:
        case QEvent::InputMethod:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
            return true;
        default:
            return false;
        }
    }

private:
    void end() {
        if (m_reply && m_reply->isRunning())
            m_reply->abort();
    }

    QPointer<QNetworkReply> m_reply;
    QPointer<QWidget> m_window;
    QPointer<QWidget> m_cancel;
};

} // namespace

namespace WebFetch {

QByteArray Fetch(const QString& address, const Limits& limits, const Escape& escape) {
    const QUrl url(address);
    const QString scheme = url.scheme().toLower();
    // Only web pages: no local files or other schemes the network layer would also open.
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QStringLiteral("http") && scheme != QStringLiteral("https")))
        return QByteArray();

    const BusyCursor busy;
    const QDeadlineTimer deadline(limits.timeLimitMs, Qt::PreciseTimer);
    QNetworkAccessManager manager;
    manager.setProxyFactory(new SystemProxies);

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, AgentName);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setMaximumRedirectsAllowed(limits.maxRedirects);

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

    // A timer may wake a little early; the deadline decides.
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, reply, [&] {
        if (deadline.hasExpired())
            reply->abort();
        else
            timer.start(std::max<qint64>(1, deadline.remainingTime()));
    });
    timer.start(std::max<qint64>(1, deadline.remainingTime()));

    if (!reply->isFinished()) {
        const InputDuringFetch input(reply, escape);
        loop.exec();
    }
    timer.stop();
    if (reply->bytesAvailable() > 0 && body.size() < limits.maxBytes)
        readSome();
    delete reply;
    return body;
}

} // namespace WebFetch
