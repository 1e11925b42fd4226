#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QSslCertificate>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
namespace Dav {
struct Multistatus;
class MultistatusReader;
} // namespace Dav

// A CalDAV client for one account: every call sends its requests and returns at once; its
// callback runs later, on this thread, when the server has answered or the request has failed.
// Nothing here waits, so the window stays responsive however slow the server is.
//
// Each failure comes back as one message for the user that names the server. A request that
// makes no progress for the time-out is given up, and an answer larger than the size cap is cut
// off; an answer the connection or Qt cut short or dropped is a failure, never taken as whole.
// Multi-Status answers are read as they arrive, so what the client holds of one is what it keeps.
//
// The client talks to one server, its origin (scheme, host and port): the one setOrigin names,
// else that of the first request after the credentials were set. The user's password goes
// nowhere else: an answer that names another server for the principal or the calendars fails
// with a message naming both, and no request is sent to another origin.
//
// HTTPS checks the server's certificate against the system's. A certificate the system does not
// trust fails the request, the certificate in the failure for the user to judge, unless it is the
// very certificate the user chose to trust for that host and port (TrustedCertificates).
//
// Resources are named by their href: the fully encoded absolute path on the server (see
// Dav::ResolveHref), the one spelling the sync state keeps.
class CalDavClient : public QObject {
    Q_OBJECT
public:
    struct Failure {
        enum Kind {
            None,
            Offline,      // refused, unknown host, no network, connection dropped
            Unauthorized, // 401: wrong user name or password
            Forbidden,    // 403
            NotFound,     // 404
            Conflict,     // 412: changed on the server since the ETag we hold
            ServerError,  // 5xx
            HttpError,    // any other status the request did not expect
            TimedOut,
            Tls,         // the certificate or the secure connection
            OtherServer, // an answer named another server: the password is not sent there
            Malformed,
            TooLarge,
            Cancelled,
            Local, // not the server: the list refused a change, or the state was not written
        };
        Failure() = default;
        Failure(Kind kind, int status, const QString& message,
                const QSslCertificate& certificate = QSslCertificate())
            : kind(kind), status(status), message(message), certificate(certificate) {}

        Kind kind = None;
        int status = 0; // the HTTP status, when the server answered
        QString message;
        // Tls: the certificate the server presented, when the system does not trust it.
        QSslCertificate certificate;

        explicit operator bool() const { return kind != None; }
    };

    struct Calendar {
        QUrl url;
        QString displayName;
        QStringList components; // empty: the server did not say (any component)
    };
    struct Discovery {
        QList<Calendar> calendars;  // those that can hold tasks (VTODO)
        QUrl home;                  // where new calendars go (MKCALENDAR); empty when unknown
        bool givenCalendar = false; // the address given was a calendar itself
    };
    struct Member {
        QString href;
        QByteArray etag;
    };
    struct Resource {
        QString href;
        QByteArray etag;
        QByteArray data; // the iCalendar text
    };
    // Where the last pull left off: the server's sync token, or its ctag where it has no tokens.
    struct Cursor {
        QByteArray syncToken;
        QByteArray ctag;
    };
    struct Changes {
        // true: `members` lists every member and whatever is not listed is gone; false: it lists
        // the changed and new members only, and `removed` the ones gone.
        bool full = false;
        QList<Member> members;
        QStringList removed;
        Cursor cursor; // to be stored once the changes are applied
    };

    template <typename T> using Done = std::function<void(const Failure& failure, const T& result)>;
    using Finished = std::function<void(const Failure& failure)>;

    explicit CalDavClient(QObject* parent = nullptr);
    ~CalDavClient() override;

    // The user name and password, for the server the next requests go to (see above).
    void setCredentials(const QString& userName, const QString& password);
    // The server this client talks to (its scheme, host and port; the path is not used).
    void setOrigin(const QUrl& server);
    QUrl origin() const { return m_origin; }
    // Whether the server accepted the credentials: it answered a request that carried them with
    // success. Cleared by setCredentials.
    bool credentialsAccepted() const { return m_accepted; }
    // Where the certificates the user trusts are kept (TrustedCertificates::DefaultFolder()).
    void setTrustFolder(const QString& folder) { m_trustFolder = folder; }
    // A request that makes no progress for this long fails (default 60 s: a large calendar's
    // first sync report can keep a small server busy for a while before its first byte).
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    int timeout() const { return m_timeoutMs; }
    // An answer larger than this fails (default 256 MB).
    void setMaxBodySize(qint64 bytes) { m_maxBodySize = bytes; }
    // Hrefs per calendar-multiget request (default 500).
    void setMultigetBatch(int hrefs) { m_multigetBatch = qMax(1, hrefs); }

    // Finds the task calendars from a calendar's address or a server's: the address itself
    // when it is a calendar, else through its current-user-principal and calendar-home-set (or,
    // for a server's root, /.well-known/caldav).
    void discover(const QUrl& url, Done<Discovery> done);
    // Makes a new task calendar under `home` with a display name (MKCALENDAR).
    void makeCalendar(const QUrl& home, const QString& displayName, Done<Calendar> done);

    // What changed on the server since `cursor` (empty: everything). The ctag is asked first:
    // when it is the cursor's, nothing changed. Else a sync-collection REPORT with the token,
    // following truncated answers; a token the server no longer knows gives a full listing. A
    // server without sync tokens is listed by the ETags of all members.
    void fetchChanges(const QUrl& collection, const Cursor& cursor, Done<Changes> done);
    // The parts of fetchChanges, one request each.
    struct SyncPage {
        QList<Member> changed;
        QStringList removed;
        QByteArray syncToken;
        bool truncated = false;    // 507: ask again with syncToken for the rest
        bool invalidToken = false; // the server no longer knows the token
        bool unsupported = false;  // the server has no sync-collection REPORT
    };
    void syncCollection(const QUrl& collection, const QByteArray& syncToken, Done<SyncPage> done);
    void listEtags(const QUrl& collection, Done<QList<Member>> done);
    void getCtag(const QUrl& collection, Done<QByteArray> done);

    // The resources named (calendar-multiget, in batches). Those the server no longer has are
    // listed in `missing`.
    struct Fetched {
        QList<Resource> resources;
        QStringList missing;
    };
    void multiget(const QUrl& collection, const QStringList& hrefs, Done<Fetched> done);
    void get(const QUrl& collection, const QString& href, Done<Resource> done);
    // Writes a resource: If-Match `etag`, or If-None-Match: * when `etag` is empty (a new
    // resource). The result is the new ETag, empty when the server did not give one. A resource
    // changed (or, for a new one, made) on the server meanwhile fails with Conflict.
    void put(const QUrl& collection, const QString& href, const QByteArray& data,
             const QByteArray& etag, Done<QByteArray> done);
    // Deletes a resource, If-Match `etag` (when not empty). A resource already gone is no
    // failure; one changed on the server meanwhile fails with Conflict.
    void remove(const QUrl& collection, const QString& href, const QByteArray& etag, Finished done);

    // Gives up every request in flight; their callbacks get Cancelled.
    void cancel();
    int requestsInFlight() const { return int(m_inFlight.size()); }

    // The server as the messages name it: its host, and its port when one is given.
    static QString ServerName(const QUrl& url);
    // A new resource's href in a collection, from a UID.
    static QString HrefFor(const QUrl& collection, const QString& uid);

private:
    struct Answer {
        int status = 0;
        QString reason;  // the status line's phrase
        QByteArray body; // empty when it was read as it came (a Multi-Status)
        QByteArray etag;
        bool streamed = false; // the body went to the request's reader
    };
    // What a request asked for, so a failure message can say what was missing.
    enum class Target { Account, Collection, Resource };
    using Headers = QList<QPair<QByteArray, QByteArray>>;
    // Sends a request; with a reader, a Multi-Status answer is read as it comes.
    void send(const QByteArray& verb, const QUrl& url, const QByteArray& body,
              const Headers& headers, Target target,
              std::function<void(const Failure&, const Answer&)> done,
              std::shared_ptr<Dav::MultistatusReader> reader = nullptr);
    // A failure for a request to another server than the client's; none when it is the same.
    Failure otherServer(const QUrl& url, const QUrl& namedBy = QUrl()) const;
    // A request whose answer must be a Multi-Status (207).
    void
    multistatus(const QByteArray& verb, const QUrl& url, int depth, const QByteArray& body,
                Target target,
                std::function<void(const Failure&, const Answer&, const Dav::Multistatus&)> done);
    void propfind(const QUrl& url, int depth, const QByteArray& props, Target target,
                  std::function<void(const Failure&, const Dav::Multistatus&)> done);
    struct InFlight;
    // What a request that ended came to.
    void finished(QNetworkReply& reply, InFlight& state, const QUrl& url, Target target,
                  Failure& failure, Answer& answer);
    Failure statusFailure(const QUrl& url, const Answer& answer, Target target) const;
    Failure malformed(const QUrl& url, const QString& reason) const;

    void discoverAt(const QUrl& url, bool wellKnownTried, Done<Discovery> done);
    void discoverPrincipal(const QUrl& principal, Done<Discovery> done);
    void listCalendars(const QUrl& home, Done<Discovery> done);
    void continueSync(const QUrl& collection, const QByteArray& token, SyncPage gathered, int pages,
                      Done<SyncPage> done);
    void fetchAll(const QUrl& collection, const QByteArray& ctag, Done<Changes> done);
    void fetchByEtags(const QUrl& collection, const QByteArray& ctag, Done<Changes> done);
    void multigetFrom(const QUrl& collection, const QStringList& hrefs, int from,
                      std::shared_ptr<Fetched> gathered, Done<Fetched> done);

    QNetworkAccessManager* m_network;
    QByteArray m_authorization;
    QUrl m_origin;
    bool m_accepted = false;
    QString m_trustFolder;
    int m_timeoutMs = 60000;
    qint64 m_maxBodySize = qint64(256) * 1024 * 1024;
    int m_multigetBatch = 500;
    QHash<QNetworkReply*, std::shared_ptr<InFlight>> m_inFlight;
};
