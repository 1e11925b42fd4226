#include "sync/CalDavClient.h"

#include "sync/DavMultistatus.h"
#include "sync/TrustedCertificates.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslError>
#include <QTimer>
#include <QUuid>

namespace {

bool holdsTasks(const QStringList& components) {
    return components.isEmpty() ||
           components.contains(QStringLiteral("VTODO"), Qt::CaseInsensitive);
}

QString reasonOr(const QString& reason, int status) {
    if (!reason.isEmpty())
        return reason;
    switch (status) {
    case 401:
        return QStringLiteral("Unauthorized");
    case 403:
        return QStringLiteral("Forbidden");
    case 404:
        return QStringLiteral("Not Found");
    case 412:
        return QStringLiteral("Precondition Failed");
    case 500:
        return QStringLiteral("Internal Server Error");
    case 502:
        return QStringLiteral("Bad Gateway");
    case 503:
        return QStringLiteral("Service Unavailable");
    default:
        return QString();
    }
}

} // namespace

// One request on its way.
struct CalDavClient::InFlight {
    enum Abort { NotAborted, TimedOut, TooLarge, Cancelled, Unreadable };
    Abort abort = NotAborted;
    QList<QSslError> sslErrors;
    QSslCertificate certificate; // presented with the errors
    QTimer timer;
    std::shared_ptr<Dav::MultistatusReader> reader; // reads a Multi-Status as it comes
    bool streamed = false;                          // the answer went to the reader
    QByteArray body;
    qint64 received = 0;
};

CalDavClient::CalDavClient(QObject* parent)
    : QObject(parent), m_network(new QNetworkAccessManager(this)),
      m_trustFolder(TrustedCertificates::DefaultFolder()) {
    // A password never follows a redirect to another server.
    m_network->setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
}

CalDavClient::~CalDavClient() {
    // No callback runs on a client that is going away.
    const QList<QNetworkReply*> replies = m_inFlight.keys();
    for (QNetworkReply* reply : replies) {
        reply->disconnect(this);
        reply->abort();
    }
}

void CalDavClient::setCredentials(const QString& userName, const QString& password) {
    m_authorization = userName.isEmpty() && password.isEmpty()
                          ? QByteArray()
                          : "Basic " + (userName + QLatin1Char(':') + password).toUtf8().toBase64();
    m_origin.clear(); // the next request names the server they are for
    m_accepted = false;
}

void CalDavClient::setOrigin(const QUrl& server) {
    m_origin = server.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment |
                               QUrl::RemoveUserInfo);
}

CalDavClient::Failure CalDavClient::otherServer(const QUrl& url, const QUrl& namedBy) const {
    if (m_origin.isEmpty() || Dav::SameOrigin(url, m_origin))
        return Failure();
    const QString ours = ServerName(m_origin);
    QString theirs = ServerName(url);
    if (url.scheme().compare(m_origin.scheme(), Qt::CaseInsensitive) != 0)
        theirs = url.scheme() + QStringLiteral("://") + theirs;
    if (!namedBy.isEmpty())
        return {Failure::OtherServer, 0,
                tr("The server %1 named another server, %2; the password for %1 is sent to no "
                   "other server")
                    .arg(ours, theirs)};
    return {Failure::OtherServer, 0,
            tr("The calendar is on %2, not on the server %1; the password for %1 is sent to no "
               "other server")
                .arg(ours, theirs)};
}

QString CalDavClient::ServerName(const QUrl& url) {
    return url.port() >= 0 ? QStringLiteral("%1:%2").arg(url.host()).arg(url.port()) : url.host();
}

QString CalDavClient::HrefFor(const QUrl& collection, const QString& uid) {
    const QString name = QString::fromLatin1(QUrl::toPercentEncoding(uid)) + QStringLiteral(".ics");
    return Dav::ResolveHref(collection, Dav::CollectionPath(collection) + name);
}

void CalDavClient::cancel() {
    const QList<QNetworkReply*> replies = m_inFlight.keys();
    for (QNetworkReply* reply : replies) {
        const auto found = m_inFlight.find(reply);
        if (found == m_inFlight.end())
            continue; // an earlier callback already finished it
        found.value()->abort = InFlight::Cancelled;
        reply->abort();
    }
}

void CalDavClient::send(const QByteArray& verb, const QUrl& url, const QByteArray& body,
                        const Headers& headers, Target target,
                        std::function<void(const Failure&, const Answer&)> done,
                        std::shared_ptr<Dav::MultistatusReader> reader) {
    if (m_origin.isEmpty())
        setOrigin(url);
    if (const Failure refused = otherServer(url)) {
        // Not a byte goes there; the callback still comes later, as for every request.
        QTimer::singleShot(0, this, [refused, done] { done(refused, Answer()); });
        return;
    }
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    // A compressed answer is welcome and held to the size cap like any other; Qt's own guard
    // would drop a large, well-compressed one (a long description) as a bomb. Past twice the
    // cap (which stops the answer first) it stays as a second guard.
    request.setDecompressedSafetyCheckThreshold(2 * m_maxBodySize);
    const bool withCredentials = !m_authorization.isEmpty();
    if (withCredentials)
        request.setRawHeader("Authorization", m_authorization);
    for (const auto& header : headers)
        request.setRawHeader(header.first, header.second);
    if (!body.isEmpty() && !request.hasRawHeader("Content-Type"))
        request.setRawHeader("Content-Type", "application/xml; charset=utf-8");

    QNetworkReply* reply = m_network->sendCustomRequest(request, verb, body);
    auto state = std::make_shared<InFlight>();
    state->reader = std::move(reader);
    m_inFlight.insert(reply, state);

    state->timer.setSingleShot(true);
    state->timer.setInterval(m_timeoutMs);
    connect(&state->timer, &QTimer::timeout, reply, [reply, state] {
        state->abort = InFlight::TimedOut;
        reply->abort();
    });
    state->timer.start();
    const auto progressed = [this, reply, state](qint64, qint64 total) {
        state->timer.start();
        if (total > m_maxBodySize) {
            state->abort = InFlight::TooLarge;
            reply->abort();
        }
    };
    connect(reply, &QNetworkReply::downloadProgress, this, progressed);
    connect(reply, &QNetworkReply::uploadProgress, this, [state] { state->timer.start(); });
    // The answer as it comes: a Multi-Status to its reader, anything else gathered; either held
    // to the size cap as decompressed.
    const auto take = [this, reply, state] {
        if (state->abort != InFlight::NotAborted)
            return;
        const QByteArray piece = reply->readAll();
        state->received += piece.size();
        if (state->received > m_maxBodySize) {
            state->abort = InFlight::TooLarge;
            reply->abort();
            return;
        }
        if (state->reader &&
            reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 207) {
            state->streamed = true;
            if (!state->reader->addData(piece)) {
                state->abort = InFlight::Unreadable;
                reply->abort();
            }
        } else {
            state->body += piece;
        }
    };
    connect(reply, &QNetworkReply::readyRead, this, take);
    connect(reply, &QNetworkReply::sslErrors, this,
            [this, reply, url, state](const QList<QSslError>& errors) {
                QSslCertificate presented = reply->sslConfiguration().peerCertificate();
                for (qsizetype i = 0; presented.isNull() && i < errors.size(); ++i)
                    presented = errors[i].certificate();
                // The very certificate the user chose to trust for this server, and no other.
                if (!presented.isNull() &&
                    presented == TrustedCertificates::Trusted(url, m_trustFolder)) {
                    reply->ignoreSslErrors(errors);
                    return;
                }
                state->sslErrors += errors;
                state->certificate = presented;
            });
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, state, url, target, withCredentials, done, take] {
                state->timer.stop();
                take(); // what came with the end
                m_inFlight.remove(reply);
                reply->deleteLater();
                Failure failure;
                Answer answer;
                finished(*reply, *state, url, target, failure, answer);
                if (!failure && withCredentials && answer.status >= 200 && answer.status < 300)
                    m_accepted = true;
                done(failure, answer);
            });
}

void CalDavClient::finished(QNetworkReply& reply, InFlight& state, const QUrl& url, Target target,
                            Failure& failure, Answer& answer) {
    const QString server = ServerName(url);
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply.error();
    if (state.abort == InFlight::TimedOut) {
        const int seconds = (m_timeoutMs + 999) / 1000;
        failure = {
            Failure::TimedOut, 0,
            seconds == 1
                ? tr("The server %1 did not answer within 1 second").arg(server)
                : tr("The server %1 did not answer within %2 seconds").arg(server).arg(seconds)};
    } else if (state.abort == InFlight::TooLarge) {
        failure = {Failure::TooLarge, 0,
                   tr("The server %1 sent an answer larger than %2 MB")
                       .arg(server)
                       .arg((m_maxBodySize + (1 << 20) - 1) >> 20)};
    } else if (state.abort == InFlight::Unreadable) {
        failure = malformed(url, state.reader->reason());
    } else if (state.abort == InFlight::Cancelled) {
        failure = {Failure::Cancelled, 0, tr("The sync with %1 was cancelled").arg(server)};
    } else if (!state.sslErrors.isEmpty()) {
        QStringList reasons;
        for (const QSslError& sslError : state.sslErrors)
            reasons.append(sslError.errorString());
        reasons.removeDuplicates();
        failure = {Failure::Tls, 0,
                   tr("The server %1 presented a certificate this system does not trust: %2")
                       .arg(server, reasons.join(QStringLiteral("; "))),
                   state.certificate};
    } else if (status.isValid() && status.toInt() > 0) {
        answer.status = status.toInt();
        answer.reason =
            reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().trimmed();
        answer.body = std::move(state.body);
        answer.etag = reply.rawHeader("ETag");
        // An error of the transfer, not of the status: the answer is not whole (the connection
        // closed before its length, a body Qt could not decompress).
        const bool cut = (error > QNetworkReply::NoError && error < 200) ||
                         error == QNetworkReply::ProtocolFailure ||
                         (error == QNetworkReply::UnknownContentError && answer.status < 400);
        if (cut) {
            answer = Answer();
            failure = {error == QNetworkReply::RemoteHostClosedError ? Failure::Offline
                                                                     : Failure::Malformed,
                       0,
                       tr("The answer of the server %1 was not received whole (%2)")
                           .arg(server, reply.errorString())};
        } else if (answer.status == 401 || answer.status == 403 || answer.status == 404 ||
                   answer.status == 412 || answer.status >= 500) {
            failure = statusFailure(url, answer, target);
        }
    } else {
        QString reason;
        Failure::Kind kind = Failure::Offline;
        switch (error) {
        case QNetworkReply::ConnectionRefusedError:
            reason = tr("the connection was refused");
            break;
        case QNetworkReply::HostNotFoundError:
            reason = tr("the server name is unknown");
            break;
        case QNetworkReply::RemoteHostClosedError:
            reason = tr("the server closed the connection");
            break;
        case QNetworkReply::TimeoutError:
            kind = Failure::TimedOut;
            break;
        case QNetworkReply::SslHandshakeFailedError:
            kind = Failure::Tls;
            break;
        case QNetworkReply::OperationCanceledError:
            kind = Failure::Cancelled;
            break;
        default:
            reason = reply.errorString();
            break;
        }
        if (kind == Failure::TimedOut)
            failure = {kind, 0, tr("The server %1 did not answer in time").arg(server)};
        else if (kind == Failure::Tls)
            failure = {
                kind, 0,
                tr("The secure connection to %1 failed: %2").arg(server, reply.errorString())};
        else if (kind == Failure::Cancelled)
            failure = {kind, 0, tr("The sync with %1 was cancelled").arg(server)};
        else
            failure = {kind, 0, tr("Cannot connect to the server %1: %2").arg(server, reason)};
    }
    if (!failure)
        answer.streamed = state.streamed;
}

CalDavClient::Failure CalDavClient::statusFailure(const QUrl& url, const Answer& answer,
                                                  Target target) const {
    const QString server = ServerName(url);
    const QString path = url.path();
    const QString status =
        QStringLiteral("%1 %2").arg(answer.status).arg(reasonOr(answer.reason, answer.status));
    const QString code = status.trimmed();
    switch (answer.status) {
    case 401:
        return {Failure::Unauthorized, 401,
                tr("The server %1 refused the user name or password (%2)").arg(server, code)};
    case 403:
        return {Failure::Forbidden, 403,
                tr("The server %1 refused access to %2 (%3)").arg(server, path, code)};
    case 404:
        return {Failure::NotFound, 404,
                (target == Target::Collection ? tr("The server %1 has no calendar at %2 (%3)")
                 : target == Target::Resource ? tr("The server %1 has no task at %2 (%3)")
                                              : tr("The server %1 has nothing at %2 (%3)"))
                    .arg(server, path, code)};
    case 412:
        return {Failure::Conflict, 412,
                tr("The task at %2 was changed on the server %1 meanwhile (%3)")
                    .arg(server, path, code)};
    default:
        break;
    }
    if (answer.status >= 500)
        return {Failure::ServerError, answer.status,
                tr("The server %1 failed with error %2").arg(server, code)};
    return {Failure::HttpError, answer.status,
            tr("The server %1 refused the request for %2 with error %3").arg(server, path, code)};
}

CalDavClient::Failure CalDavClient::malformed(const QUrl& url, const QString& reason) const {
    return {
        Failure::Malformed, 0,
        tr("The server %1 sent an answer that cannot be read (%2)").arg(ServerName(url), reason)};
}

void CalDavClient::multistatus(
    const QByteArray& verb, const QUrl& url, int depth, const QByteArray& body, Target target,
    std::function<void(const Failure&, const Answer&, const Dav::Multistatus&)> done) {
    const Headers headers = {{"Depth", QByteArray::number(depth)}};
    auto reader = std::make_shared<Dav::MultistatusReader>();
    send(
        verb, url, body, headers, target,
        [this, url, target, done, reader](const Failure& failure, const Answer& answer) {
            Dav::Multistatus parsed;
            if (failure) {
                done(failure, answer, parsed);
                return;
            }
            if (answer.status < 200 || answer.status >= 300) {
                done(statusFailure(url, answer, target), answer, parsed);
                return;
            }
            QString reason;
            const bool read = answer.streamed ? reader->finish(parsed)
                                              : Dav::ParseMultistatus(answer.body, parsed, reason);
            if (!read) {
                done(malformed(url, answer.streamed ? reader->reason() : reason), answer, parsed);
                return;
            }
            done(Failure(), answer, parsed);
        },
        reader);
}

void CalDavClient::propfind(const QUrl& url, int depth, const QByteArray& props, Target target,
                            std::function<void(const Failure&, const Dav::Multistatus&)> done) {
    multistatus("PROPFIND", url, depth,
                Dav::RequestBody("D:propfind", "<D:prop>" + props + "</D:prop>"), target,
                [done](const Failure& failure, const Answer&, const Dav::Multistatus& parsed) {
                    done(failure, parsed);
                });
}

// --- discovery ---------------------------------------------------------------------------------

namespace {

const QByteArray DiscoveryProps =
    QByteArrayLiteral("<D:resourcetype/><D:displayname/><C:supported-calendar-component-set/>"
                      "<D:current-user-principal/><C:calendar-home-set/>");

bool isCalendar(const Dav::Response& response) {
    return response.property(Dav::ResourceType).children.contains(Dav::Calendar);
}

QStringList componentsOf(const Dav::Response& response) {
    return response.property(Dav::SupportedComponents).compNames;
}

} // namespace

void CalDavClient::discover(const QUrl& url, Done<Discovery> done) {
    discoverAt(url, false, std::move(done));
}

void CalDavClient::discoverAt(const QUrl& url, bool wellKnownTried, Done<Discovery> done) {
    propfind(
        url, 0, DiscoveryProps, Target::Account,
        [this, url, wellKnownTried, done](const Failure& failure, const Dav::Multistatus& parsed) {
            const bool atRoot = url.path().isEmpty() || url.path() == QLatin1String("/");
            if (failure && atRoot && !wellKnownTried &&
                (failure.kind == Failure::NotFound || failure.kind == Failure::HttpError)) {
                discoverAt(url.resolved(QUrl(QStringLiteral("/.well-known/caldav"))), true, done);
                return;
            }
            if (failure) {
                done(failure, Discovery());
                return;
            }
            const Dav::Response* self = Dav::SelfResponse(parsed, url);
            if (self && isCalendar(*self)) {
                Discovery found;
                found.givenCalendar = true;
                found.home = url.resolved(QUrl(QStringLiteral("..")));
                if (holdsTasks(componentsOf(*self)))
                    found.calendars.append(
                        {url, self->text(Dav::DisplayName), componentsOf(*self)});
                done(Failure(), found);
                return;
            }
            if (self) {
                const QStringList homes = self->property(Dav::CalendarHomeSet).hrefs;
                const QStringList principal = self->property(Dav::CurrentUserPrincipal).hrefs;
                const QUrl next = url.resolved(QUrl::fromEncoded(
                    (homes.isEmpty() ? principal.value(0) : homes.first()).toUtf8()));
                if (const Failure refused = otherServer(next, url)) {
                    done(refused, Discovery());
                    return;
                }
                if (!homes.isEmpty()) {
                    listCalendars(next, done);
                    return;
                }
                if (!principal.isEmpty()) {
                    discoverPrincipal(next, done);
                    return;
                }
            }
            // No principal: the address may hold the calendars itself.
            listCalendars(url, done);
        });
}

void CalDavClient::discoverPrincipal(const QUrl& principal, Done<Discovery> done) {
    propfind(principal, 0, QByteArrayLiteral("<C:calendar-home-set/>"), Target::Account,
             [this, principal, done](const Failure& failure, const Dav::Multistatus& parsed) {
                 if (failure) {
                     done(failure, Discovery());
                     return;
                 }
                 const Dav::Response* self = Dav::SelfResponse(parsed, principal);
                 const QStringList homes =
                     self ? self->property(Dav::CalendarHomeSet).hrefs : QStringList();
                 const QUrl home =
                     homes.isEmpty()
                         ? principal
                         : principal.resolved(QUrl::fromEncoded(homes.first().toUtf8()));
                 if (const Failure refused = otherServer(home, principal)) {
                     done(refused, Discovery());
                     return;
                 }
                 listCalendars(home, done);
             });
}

void CalDavClient::listCalendars(const QUrl& home, Done<Discovery> done) {
    propfind(
        home, 1,
        QByteArrayLiteral("<D:resourcetype/><D:displayname/><C:supported-calendar-component-set/>"),
        Target::Account, [home, done](const Failure& failure, const Dav::Multistatus& parsed) {
            Discovery found;
            if (failure) {
                done(failure, found);
                return;
            }
            found.home = home;
            for (const Dav::Response& response : parsed.responses) {
                const QString path = Dav::ResolveHref(home, response.href);
                // A calendar on another server is none of this account's.
                if (path.isEmpty() || !isCalendar(response) || !holdsTasks(componentsOf(response)))
                    continue;
                QUrl url = home;
                url.setPath(path, QUrl::StrictMode);
                found.calendars.append(
                    {url, response.text(Dav::DisplayName), componentsOf(response)});
            }
            done(Failure(), found);
        });
}

void CalDavClient::makeCalendar(const QUrl& home, const QString& displayName, Done<Calendar> done) {
    QUrl url = home;
    url.setPath(Dav::CollectionPath(home) + QUuid::createUuid().toString(QUuid::WithoutBraces) +
                    QLatin1Char('/'),
                QUrl::StrictMode);
    const QByteArray body = Dav::RequestBody(
        "C:mkcalendar", "<D:set><D:prop><D:displayname>" + Dav::Escaped(displayName) +
                            "</D:displayname><C:supported-calendar-component-set>"
                            "<C:comp name=\"VTODO\"/></C:supported-calendar-component-set>"
                            "</D:prop></D:set>");
    send("MKCALENDAR", url, body, {}, Target::Account,
         [this, url, displayName, done](const Failure& failure, const Answer& answer) {
             if (failure) {
                 done(failure, Calendar());
             } else if (answer.status != 201 && answer.status != 200) {
                 done(statusFailure(url, answer, Target::Account), Calendar());
             } else {
                 done(Failure(), Calendar{url, displayName, {QStringLiteral("VTODO")}});
             }
         });
}
