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

// Reads one property element (the reader on its start) to its end.
Property readProperty(QXmlStreamReader& xml) {
    Property property;
    QString ownText;
    int depth = 1;
    while (depth > 0 && !xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            if (depth == 1)
                property.children.append(clarkName(xml));
            if (isDav(xml, QLatin1String("href"))) {
                property.hrefs.append(
                    xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed());
                break; // readElementText left the reader on the href's end
            }
            if (xml.namespaceUri() == CalDavNamespace && xml.name() == QLatin1String("comp"))
                property.compNames.append(xml.attributes().value(QLatin1String("name")).toString());
            ++depth;
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::Characters:
            if (depth == 1)
                ownText += xml.text();
            break;
        default:
            break;
        }
    }
    property.text = ownText.trimmed();
    return property;
}

// Reads a DAV:propstat (the reader on its start): its properties and its status.
void readPropstat(QXmlStreamReader& xml, Response& response) {
    QHash<QString, Property> found;
    int status = 0;
    while (xml.readNextStartElement()) {
        if (isDav(xml, QLatin1String("prop"))) {
            while (xml.readNextStartElement()) {
                const QString name = clarkName(xml);
                found.insert(name, readProperty(xml));
            }
        } else if (isDav(xml, QLatin1String("status"))) {
            status = ParseStatusLine(xml.readElementText(QXmlStreamReader::IncludeChildElements));
        } else {
            xml.skipCurrentElement();
        }
    }
    // A propstat without a status line is taken as found: some servers leave it out.
    if (status == 0 || (status >= 200 && status < 300)) {
        response.properties.insert(found);
    } else {
        for (auto it = found.cbegin(); it != found.cend(); ++it)
            response.missing.append(it.key());
    }
}

// Reads a DAV:response; a response naming several hrefs with one status gives one per href.
void readResponse(QXmlStreamReader& xml, QList<Response>& out) {
    Response response;
    QStringList hrefs;
    while (xml.readNextStartElement()) {
        if (isDav(xml, QLatin1String("href")))
            hrefs.append(xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed());
        else if (isDav(xml, QLatin1String("status")))
            response.status =
                ParseStatusLine(xml.readElementText(QXmlStreamReader::IncludeChildElements));
        else if (isDav(xml, QLatin1String("propstat")))
            readPropstat(xml, response);
        else
            xml.skipCurrentElement();
    }
    for (const QString& href : hrefs) {
        response.href = href;
        out.append(response);
    }
}

} // namespace

bool ParseMultistatus(const QByteArray& body, Multistatus& out, QString& reason) {
    out = Multistatus();
    if (body.trimmed().isEmpty()) {
        reason = QStringLiteral("the answer is empty");
        return false;
    }
    QXmlStreamReader xml(body);
    if (xml.readNextStartElement()) {
        if (!isDav(xml, QLatin1String("multistatus"))) {
            reason = QStringLiteral("the answer is <%1>, not a WebDAV multistatus")
                         .arg(xml.qualifiedName().toString());
            return false;
        }
        while (xml.readNextStartElement()) {
            if (isDav(xml, QLatin1String("response")))
                readResponse(xml, out.responses);
            else if (isDav(xml, QLatin1String("sync-token")))
                out.syncToken =
                    xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
            else
                xml.skipCurrentElement();
        }
        // Anything after the root must still be well-formed (a cut answer ends here).
        while (!xml.atEnd())
            xml.readNext();
    }
    if (xml.hasError()) {
        QString error = xml.errorString();
        if (error.endsWith(QLatin1Char('.')))
            error.chop(1); // the reason sits inside the caller's sentence
        reason = QStringLiteral("line %1: %2").arg(xml.lineNumber()).arg(error);
        out = Multistatus();
        return false;
    }
    return true;
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

QString ResolveHref(const QUrl& base, const QString& href) {
    const QUrl resolved = base.resolved(QUrl::fromEncoded(href.trimmed().toUtf8()));
    // One spelling for every way of writing the same path: decode what may be decoded, then
    // encode it back the one way QUrl does.
    QUrl path;
    path.setPath(resolved.path(QUrl::FullyDecoded), QUrl::DecodedMode);
    return path.path(QUrl::FullyEncoded);
}

QString CollectionPath(const QUrl& collection) {
    QString path = ResolveHref(collection, collection.path(QUrl::FullyEncoded));
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

bool SameCollection(const QString& href, const QString& collectionPath) {
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
