// Feeds arbitrary bytes to the reader of a CalDAV server's XML answers, as a Multi-Status body
// and as an error body, and checks what the sync relies on.
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
    const QUrl base(QStringLiteral("https://cal.example.org/u/tasks/"));
    for (const Dav::Response& response : parsed.responses) {
        // Every href comes out as an absolute path, however the server wrote it.
        if (!Dav::ResolveHref(base, response.href).startsWith(QLatin1Char('/')))
            std::abort();
        if (response.status < 0 || response.status > 999)
            std::abort();
    }
    Dav::ParseErrorConditions(bytes);
    return 0;
}
