#pragma once

#include <QByteArray>
#include <QString>

// What the URL window shows about a fetched page: its meta description, or else its title.
// The page is taken as the bytes it arrived in; nothing is decoded before the search, so a page in
// any single-byte or UTF-8 encoding is searched the same way. Qt Core only.
namespace WebPage {

// The description or title as the page's own bytes (empty when the page has neither):
//  - the value of the first `<meta name="DESCRIPTION"` tag's `content="..."`, when the marker
//    lies within the 512 bytes from the tag's start and the value is at most 512 bytes long;
//    an empty value counts as no description;
//  - otherwise the text between the first `<title>` and the first `</title>` of the page (that
//    one must come after the other), without surrounding blanks and control characters.
// Searches ignore the case of ASCII letters; character references are left as they are.
QByteArray ExtractBytes(const QByteArray& page);

// ExtractBytes as text: UTF-8 when the bytes are well-formed UTF-8, otherwise Windows-1252.
QString Extract(const QByteArray& page);

} // namespace WebPage
