#include "storage/WebPage.h"

#include "storage/PacketEncoding.h"

#include <string>
#include <string_view>

namespace {

constexpr qsizetype Window = 512;

const QByteArray DescriptionTag = QByteArrayLiteral("<meta name=\"DESCRIPTION\"");
const QByteArray ContentMarker = QByteArrayLiteral("content=\"");
const QByteArray TitleStart = QByteArrayLiteral("<title>");
const QByteArray TitleEnd = QByteArrayLiteral("</title>");

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// First place of `needle` in bytes [from, to) of `hay`, ASCII letters compared without case;
// -1 when it does not lie wholly inside that stretch.
qsizetype find(const QByteArray& hay, const QByteArray& needle, qsizetype from, qsizetype to) {
    to = std::min(to, hay.size());
    const qsizetype n = needle.size();
    const char first = lower(needle.front());
    for (qsizetype i = from; i + n <= to; ++i) {
        if (lower(hay[i]) != first)
            continue;
        qsizetype k = 1;
        while (k < n && lower(hay[i + k]) == lower(needle[k]))
            ++k;
        if (k == n)
            return i;
    }
    return -1;
}

bool isBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

QByteArray description(const QByteArray& page) {
    const qsizetype tag = find(page, DescriptionTag, 0, page.size());
    if (tag < 0)
        return QByteArray();
    const qsizetype marker = find(page, ContentMarker, tag, tag + Window);
    if (marker < 0)
        return QByteArray();
    const qsizetype value = marker + ContentMarker.size();
    // The value may be up to 512 bytes long. Its closing quote may also be its first byte:
    // content="" is an empty description, not everything up to the next quote of the page.
    const qsizetype end = std::min(page.size(), value + Window + 1);
    const qsizetype quote = page.indexOf('"', value);
    if (quote < 0 || quote >= end)
        return QByteArray();
    return page.mid(value, quote - value);
}

QByteArray title(const QByteArray& page) {
    const qsizetype start = find(page, TitleStart, 0, page.size());
    if (start < 0)
        return QByteArray();
    const qsizetype from = start + TitleStart.size();
    // The end tag is the page's first one, even when it comes before the start tag.
    const qsizetype end = find(page, TitleEnd, 0, page.size());
    if (end <= from)
        return QByteArray();
    qsizetype a = from;
    qsizetype b = end;
    while (a < b && isBlankOrControl(page[a]))
        ++a;
    while (b > a && isBlankOrControl(page[b - 1]))
        --b;
    return page.mid(a, b - a);
}

} // namespace

namespace WebPage {

QByteArray ExtractBytes(const QByteArray& page) {
    QByteArray text = description(page);
    if (text.isEmpty())
        text = title(page);
    return text;
}

QString Extract(const QByteArray& page) {
    const QByteArray bytes = ExtractBytes(page);
    const std::string_view view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    if (PacketEncoding::isWellFormedUtf8(view))
        return QString::fromUtf8(bytes);
    const std::string utf8 = PacketEncoding::windows1252ToUtf8(view);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

} // namespace WebPage
