#include "sync/DavMultistatus.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

namespace Dav {

namespace {

QString clarkName(const QXmlStreamReader& xml) {
    return Name(xml.namespaceUri().toString(), xml.name().toString());
}

bool isDav(const QXmlStreamReader& xml, QLatin1String local) {
    return xml.namespaceUri() == Namespace && xml.name() == local;
}

// What is kept of an answer may take this many times its bytes, and this much besides: a text
// kept takes two bytes a character, a list entry a few words. An answer shaped to make a reader
// hold more than that (a long namespace named by a million short elements) is refused.
constexpr qint64 KeptPerByte = 4;
constexpr qint64 KeptBesides = qint64(1) << 20;
// What each kept piece costs beyond its characters, roughly.
constexpr qint64 TextCost = 32;
constexpr qint64 ResponseCost = 128;
constexpr qint64 PropertyCost = 160;

const Property NoProperty;

} // namespace

const Property& Response::property(const QString& name) const {
    for (const Property& p : properties)
        if (p.name == name)
            return p;
    return NoProperty;
}

bool Response::has(const QString& name) const {
    return &property(name) != &NoProperty;
}

// The reader's position in the answer: one role for each element open, and the text being
// gathered. Every element is handled as its start and end come, so the reader can stop at the
// end of any piece and go on with the next.
struct MultistatusReader::State {
    enum Role {
        Root,           // the DAV:multistatus
        Skipped,        // an element nothing is read from (with everything inside)
        InResponse,     // a DAV:response
        ResponseHref,   // its DAV:href
        ResponseStatus, // its DAV:status
        InPropstat,     // a DAV:propstat
        PropstatStatus, // its DAV:status
        InProp,         // its DAV:prop
        InProperty,     // a property of the DAV:prop, or an element inside one
        PropertyHref,   // a DAV:href inside a property
        TopSyncToken,   // the DAV:sync-token of the multistatus
    };

    QXmlStreamReader xml;
    std::vector<Role> open;
    bool started = false; // the root was seen
    bool ended = false;   // the root was closed
    bool failed = false;
    QString reason;
    qint64 read = 0;
    qint64 kept = 0;

    Multistatus out;
    // The response being read.
    Response response;
    QStringList hrefs;
    // The propstat being read.
    QList<Property> found;
    int propstatStatus = 0;
    // The property being read, and where it opened in `open`.
    Property property;
    std::size_t propertyDepth = 0;
    // The text an element gathers (its own and its children's), and a property's own text.
    QString text;
    QString propertyText;

    void fail(const QString& why) {
        if (failed)
            return;
        failed = true;
        reason = why;
        out = Multistatus();
    }
    bool keep(qint64 cost) {
        kept += cost;
        if (kept <= KeptPerByte * read + KeptBesides)
            return true;
        fail(QStringLiteral("the answer holds more than it can be read with (%1 MB for %2 MB "
                            "read)")
                 .arg(kept >> 20)
                 .arg(read >> 20));
        return false;
    }
    bool keepText(const QString& kept) { return keep(TextCost + 2 * kept.size()); }
    QString takeText() { return std::exchange(text, QString()).trimmed(); }

    void start();
    void end();
    void run();
};

void MultistatusReader::State::start() {
    const Role parent = open.empty() ? Skipped : open.back();
    if (!started) {
        started = true;
        if (!isDav(xml, QLatin1String("multistatus"))) {
            fail(QStringLiteral("the answer is <%1>, not a WebDAV multistatus")
                     .arg(xml.qualifiedName().toString()));
            return;
        }
        open.push_back(Root);
        return;
    }
    Role role = Skipped;
    switch (parent) {
    case Root:
        if (isDav(xml, QLatin1String("response"))) {
            role = InResponse;
            response = Response();
            hrefs.clear();
        } else if (isDav(xml, QLatin1String("sync-token"))) {
            role = TopSyncToken;
            text.clear();
        }
        break;
    case InResponse:
        if (isDav(xml, QLatin1String("href")))
            role = ResponseHref;
        else if (isDav(xml, QLatin1String("status")))
            role = ResponseStatus;
        else if (isDav(xml, QLatin1String("propstat"))) {
            role = InPropstat;
            found.clear();
            propstatStatus = 0;
        }
        text.clear();
        break;
    case InPropstat:
        if (isDav(xml, QLatin1String("prop")))
            role = InProp;
        else if (isDav(xml, QLatin1String("status"))) {
            role = PropstatStatus;
            text.clear();
        }
        break;
    case InProp:
        role = InProperty;
        property = Property();
        property.name = clarkName(xml);
        propertyDepth = open.size();
        propertyText.clear();
        if (!keep(PropertyCost) || !keepText(property.name))
            return;
        break;
    case InProperty:
        if (open.size() == propertyDepth + 1) {
            property.children.append(clarkName(xml));
            if (!keepText(property.children.constLast()))
                return;
        }
        if (isDav(xml, QLatin1String("href"))) {
            role = PropertyHref;
            text.clear();
        } else {
            if (xml.namespaceUri() == CalDavNamespace && xml.name() == QLatin1String("comp")) {
                property.compNames.append(xml.attributes().value(QLatin1String("name")).toString());
                if (!keepText(property.compNames.constLast()))
                    return;
            }
            role = InProperty;
        }
        break;
    case ResponseHref:
    case ResponseStatus:
    case PropstatStatus:
    case PropertyHref:
    case TopSyncToken:
        role = parent; // their text takes that of their children along
        break;
    case Skipped:
        break;
    }
    open.push_back(role);
}

void MultistatusReader::State::end() {
    const Role role = open.back();
    open.pop_back();
    const Role parent = open.empty() ? Skipped : open.back();
    if (role == parent && role != InProperty && role != Skipped)
        return; // an element inside a text element: its text stays gathered
    switch (role) {
    case Root:
        ended = true;
        break;
    case TopSyncToken:
        out.syncToken = takeText();
        keepText(out.syncToken);
        break;
    case ResponseHref:
        hrefs.append(takeText());
        keepText(hrefs.constLast());
        break;
    case ResponseStatus:
        response.status = ParseStatusLine(takeText());
        break;
    case PropstatStatus:
        propstatStatus = ParseStatusLine(takeText());
        break;
    case PropertyHref:
        property.hrefs.append(takeText());
        keepText(property.hrefs.constLast());
        break;
    case InProperty:
        if (open.size() == propertyDepth) {
            property.text = std::exchange(propertyText, QString()).trimmed();
            if (keepText(property.text))
                found.append(std::exchange(property, Property()));
        }
        break;
    case InPropstat:
        // A propstat without a status line is taken as found: some servers leave it out.
        if (propstatStatus == 0 || (propstatStatus >= 200 && propstatStatus < 300)) {
            for (Property& p : found) {
                // A property given twice counts once, as the last one said.
                response.properties.removeIf(
                    [&](const Property& earlier) { return earlier.name == p.name; });
                response.properties.append(std::move(p));
            }
        } else {
            for (const Property& p : found)
                response.missing.append(p.name);
        }
        found.clear();
        break;
    case InResponse:
        // A response naming several hrefs with one status gives one per href.
        for (const QString& href : hrefs) {
            if (!keep(ResponseCost))
                return;
            response.href = href;
            out.responses.append(response);
        }
        response = Response();
        break;
    default:
        break;
    }
}

void MultistatusReader::State::run() {
    while (!failed && !xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            start();
            break;
        case QXmlStreamReader::EndElement:
            if (!open.empty())
                end();
            break;
        case QXmlStreamReader::Characters:
            if (open.empty())
                break;
            switch (open.back()) {
            case ResponseHref:
            case ResponseStatus:
            case PropstatStatus:
            case PropertyHref:
            case TopSyncToken:
                text += xml.text();
                break;
            case InProperty:
                if (open.size() == propertyDepth + 1)
                    propertyText += xml.text();
                break;
            default:
                break;
            }
            break;
        default:
            break;
        }
    }
    if (!failed && xml.hasError() && xml.error() != QXmlStreamReader::PrematureEndOfDocumentError) {
        QString error = xml.errorString();
        if (error.endsWith(QLatin1Char('.')))
            error.chop(1); // the reason sits inside the caller's sentence
        fail(QStringLiteral("line %1: %2").arg(xml.lineNumber()).arg(error));
    }
}

MultistatusReader::MultistatusReader() : m_state(std::make_unique<State>()) {}

MultistatusReader::~MultistatusReader() = default;

bool MultistatusReader::addData(const QByteArray& piece) {
    State& s = *m_state;
    if (s.failed)
        return false;
    s.read += piece.size();
    s.xml.addData(piece);
    s.run();
    return !s.failed;
}

bool MultistatusReader::finish(Multistatus& out) {
    State& s = *m_state;
    out = Multistatus();
    if (!s.failed && !s.started && s.read == 0)
        s.fail(QStringLiteral("the answer is empty"));
    if (!s.failed && !s.started && s.xml.error() == QXmlStreamReader::PrematureEndOfDocumentError)
        s.fail(QStringLiteral("the answer is empty")); // nothing but blanks, or a declaration
    if (!s.failed && !s.ended) {
        QString error =
            s.xml.hasError() ? s.xml.errorString() : QStringLiteral("Premature end of document");
        if (error.endsWith(QLatin1Char('.')))
            error.chop(1);
        s.fail(QStringLiteral("line %1: %2").arg(s.xml.lineNumber()).arg(error));
    }
    if (s.failed)
        return false;
    out = std::move(s.out);
    s.out = Multistatus();
    return true;
}

QString MultistatusReader::reason() const {
    return m_state->reason;
}

qint64 MultistatusReader::bytesRead() const {
    return m_state->read;
}

bool ParseMultistatus(const QByteArray& body, Multistatus& out, QString& reason) {
    MultistatusReader reader;
    reader.addData(body);
    if (reader.finish(out))
        return true;
    reason = reader.reason();
    return false;
}

QStringList ParseErrorConditions(const QByteArray& body) {
    QStringList conditions;
    QXmlStreamReader xml(body);
    if (!xml.readNextStartElement() || !isDav(xml, QLatin1String("error")))
        return conditions;
    while (xml.readNextStartElement()) {
        conditions.append(clarkName(xml));
        xml.skipCurrentElement();
    }
    return conditions;
}

int ParseStatusLine(const QString& line) {
    static const QRegularExpression status(QStringLiteral("^\\s*HTTP/\\S+\\s+(\\d{3})"));
    const QRegularExpressionMatch match = status.match(line);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

namespace {

int portOf(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.port(scheme == QLatin1String("https")  ? 443
                    : scheme == QLatin1String("http") ? 80
                                                      : -1);
}

} // namespace

bool SameOrigin(const QUrl& a, const QUrl& b) {
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && portOf(a) == portOf(b);
}

QString ResolveHref(const QUrl& base, const QString& href) {
    const QUrl resolved = base.resolved(QUrl::fromEncoded(href.trimmed().toUtf8()));
    // An href of another scheme ("urn:...") or another server names nothing here.
    if (!SameOrigin(resolved, base))
        return QString();
    // One spelling for every way of writing the same path: decode what may be decoded, then
    // encode it back the one way QUrl does.
    QUrl path;
    path.setPath(resolved.path(QUrl::FullyDecoded), QUrl::DecodedMode);
    const QString encoded = path.path(QUrl::FullyEncoded);
    if (encoded.isEmpty())
        return QStringLiteral("/");
    return encoded.startsWith(QLatin1Char('/')) ? encoded : QString();
}

QString CollectionPath(const QUrl& collection) {
    QString path = ResolveHref(collection, collection.path(QUrl::FullyEncoded));
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

bool SameCollection(const QString& href, const QString& collectionPath) {
    if (href.isEmpty())
        return false;
    return href == collectionPath || href + QLatin1Char('/') == collectionPath;
}

const Response* SelfResponse(const Multistatus& parsed, const QUrl& url) {
    const QString path = CollectionPath(url);
    for (const Response& response : parsed.responses)
        if (SameCollection(ResolveHref(url, response.href), path))
            return &response;
    return parsed.responses.size() == 1 ? &parsed.responses.first() : nullptr;
}

QByteArray RequestBody(const char* root, const QByteArray& content) {
    return QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<") + root +
           " xmlns:D=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:caldav\""
           " xmlns:CS=\"http://calendarserver.org/ns/\">" +
           content + "</" + root + '>';
}

QByteArray Escaped(const QString& text) {
    return text.toHtmlEscaped().toUtf8();
}

} // namespace Dav
