#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>

// What a WebDAV server answers in XML: a 207 Multi-Status body (PROPFIND, REPORT, MKCALENDAR
// errors) or a DAV:error body (the preconditions a refused request names).
//
// Element names are kept in Clark notation, "{namespace}local", so that a server's choice of
// prefixes never matters. Only what a calendar client reads is kept of each property: its text,
// the names of its child elements, the hrefs inside it and the "name" attributes of CalDAV comp
// elements.
namespace Dav {

inline const QString Namespace = QStringLiteral("DAV:");
inline const QString CalDavNamespace = QStringLiteral("urn:ietf:params:xml:ns:caldav");
inline const QString CalendarServerNamespace = QStringLiteral("http://calendarserver.org/ns/");

// "{DAV:}displayname" and its kin.
inline QString Name(const QString& ns, const QString& local) {
    return QLatin1Char('{') + ns + QLatin1Char('}') + local;
}
inline const QString DisplayName = Name(Namespace, QStringLiteral("displayname"));
inline const QString ResourceType = Name(Namespace, QStringLiteral("resourcetype"));
inline const QString Collection = Name(Namespace, QStringLiteral("collection"));
inline const QString GetEtag = Name(Namespace, QStringLiteral("getetag"));
inline const QString SyncToken = Name(Namespace, QStringLiteral("sync-token"));
inline const QString CurrentUserPrincipal =
    Name(Namespace, QStringLiteral("current-user-principal"));
inline const QString ValidSyncToken = Name(Namespace, QStringLiteral("valid-sync-token"));
inline const QString Calendar = Name(CalDavNamespace, QStringLiteral("calendar"));
inline const QString CalendarData = Name(CalDavNamespace, QStringLiteral("calendar-data"));
inline const QString CalendarHomeSet = Name(CalDavNamespace, QStringLiteral("calendar-home-set"));
inline const QString SupportedComponents =
    Name(CalDavNamespace, QStringLiteral("supported-calendar-component-set"));
inline const QString GetCtag = Name(CalendarServerNamespace, QStringLiteral("getctag"));

struct Property {
    QString name;          // Clark notation
    QString text;          // the element's own text, trimmed
    QStringList children;  // names of the child elements
    QStringList hrefs;     // the DAV:href texts anywhere inside
    QStringList compNames; // the "name" attribute of each CalDAV comp element inside
};

struct Response {
    QString href;   // as the server wrote it (see ResolveHref)
    int status = 0; // the response's own status line, when it has one (removed members)
    // The properties the server found (a propstat with a 2xx status), in the answer's order; a
    // response holds a few, so a list costs less than a table would a million times over.
    QList<Property> properties;
    // The properties the server listed with another status (not found, forbidden).
    QStringList missing;

    // The property of that name; an empty one when the server did not give it.
    const Property& property(const QString& name) const;
    bool has(const QString& name) const;
    QString text(const QString& name) const { return property(name).text; }
};

struct Multistatus {
    QList<Response> responses;
    QString syncToken; // the top-level DAV:sync-token of a sync-collection answer
};

// Reads a Multi-Status body piece by piece as it arrives, so an answer is never held whole: what
// is kept is what the client reads of it. What it keeps is bounded in proportion to the answer
// (a few times its bytes), so no answer, however its elements are shaped, makes the client hold
// more than that.
class MultistatusReader {
public:
    MultistatusReader();
    ~MultistatusReader();
    MultistatusReader(const MultistatusReader&) = delete;
    MultistatusReader& operator=(const MultistatusReader&) = delete;

    // Reads the next piece of the body. False once the answer is refused (see reason()); the
    // rest need not be read then.
    bool addData(const QByteArray& piece);
    // The body has ended: true with the whole answer in out, else false with reason() (out is
    // then empty).
    bool finish(Multistatus& out);
    QString reason() const;
    qint64 bytesRead() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Reads a whole Multi-Status body. Returns false with a reason ("line 3: ...") when the text is
// not well-formed XML or its root is not DAV:multistatus.
bool ParseMultistatus(const QByteArray& body, Multistatus& out, QString& reason);

// The names of the children of a DAV:error body; empty when the body is no such element.
QStringList ParseErrorConditions(const QByteArray& body);

// "HTTP/1.1 404 Not Found" -> 404; 0 when the line holds no status.
int ParseStatusLine(const QString& line);

// Whether two addresses are the same origin: scheme, host and port (a default port written or
// not).
bool SameOrigin(const QUrl& a, const QUrl& b);

// A server's href (an absolute path, a full address or, rarely, a relative one) as the one
// spelling this client keeps: the fully encoded path, resolved against the request's address.
// An href naming another origin (another scheme, host or port) resolves to nothing: an empty
// text.
QString ResolveHref(const QUrl& base, const QString& href);

// The path of a collection with its closing slash, as the hrefs of its members start.
QString CollectionPath(const QUrl& collection);
// Whether a member's href is the collection's own path (written with or without its slash).
bool SameCollection(const QString& href, const QString& collectionPath);
// The response about the address asked for (a server may spell its href another way).
const Response* SelfResponse(const Multistatus& parsed, const QUrl& url);

// A request body: the XML declaration and `root` (a "D:" or "C:" name) around `content`, the
// DAV, CalDAV and CalendarServer namespaces declared as D, C and CS.
QByteArray RequestBody(const char* root, const QByteArray& content);

// Text escaped for XML element content.
QByteArray Escaped(const QString& text);

} // namespace Dav
