// Feeds arbitrary bytes to the reader of a CalDAV server's XML answers, as a Multi-Status body
// (whole, and in pieces as a network gives it) and as an error body, and checks what the sync
// relies on.
#include "sync/DavMultistatus.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    Dav::Multistatus parsed;
    QString reason;
    const bool read = Dav::ParseMultistatus(bytes, parsed, reason);
    // A refusal always says why and leaves nothing half read.
    if (!read && (reason.isEmpty() || !parsed.responses.isEmpty() || !parsed.syncToken.isEmpty()))
        std::abort();
    // Read in pieces, the answer reads the same.
    Dav::MultistatusReader reader;
    const qsizetype cut = size > 0 ? qsizetype(data[0]) % (bytes.size() + 1) : 0;
    reader.addData(bytes.left(cut));
    reader.addData(bytes.mid(cut, cut));
    reader.addData(bytes.mid(2 * cut));
    Dav::Multistatus pieces;
    if (reader.finish(pieces) != read || pieces.responses.size() != parsed.responses.size() ||
        pieces.syncToken != parsed.syncToken)
        std::abort();
    const QUrl base(QStringLiteral("https://cal.example.org/u/tasks/"));
    for (const Dav::Response& response : parsed.responses) {
        // Every href comes out as an absolute path on the server asked, or as nothing.
        const QString path = Dav::ResolveHref(base, response.href);
        if (!path.isEmpty() && !path.startsWith(QLatin1Char('/')))
            std::abort();
        if (response.status < 0 || response.status > 999)
            std::abort();
    }
    Dav::ParseErrorConditions(bytes);
    return 0;
}
