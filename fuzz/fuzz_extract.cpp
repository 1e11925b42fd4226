// Feeds arbitrary bytes, as a fetched page, to the reader of its description or title, and checks
// what must always hold.
#include "storage/WebPage.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray page(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QByteArray text = WebPage::ExtractBytes(page);
    // The result is a piece of the page: nothing is made up or decoded.
    if (!page.contains(text))
        std::abort();
    // A title is trimmed, so blanks at the ends come only from a description: at most 512 bytes,
    // no quote, standing between a content marker and a quote.
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    if (!text.isEmpty() && (blank(text.front()) || blank(text.back()))) {
        if (text.size() > 512 || text.contains('"') ||
            !page.toLower().contains("content=\"" + text.toLower() + '"'))
            std::abort();
    }
    // The text form always decodes, and never loses the text.
    const QString shown = WebPage::Extract(page);
    if (shown.isEmpty() != text.isEmpty())
        std::abort();
    return 0;
}
