#pragma once

#include <QByteArray>
#include <QString>

// Fetches one web page for the URL window. The call looks synchronous: it runs a local event
// loop that leaves out the user's input, so the program stays painted but takes no commands
// until the page is in or the fetch gives up.
namespace WebFetch {

// A short fixed agent name, sent as the User-Agent header.
inline const QString AgentName = QStringLiteral("Corvantis");

struct Limits {
    // The whole fetch, from the request to the last byte of the body. A slow or silent server
    // must not hold the program for long: the user is waiting in a modal window.
    int timeLimitMs = 15000;
    // More than enough for a page's head; the rest of a larger body is not read.
    qint64 maxBytes = 4 * 1024 * 1024;
};

// The body of the page at `address` (http or https, exactly as typed), at most maxBytes of it;
// empty when the address is not an http(s) address or nothing could be read. A body that
// stops early (time limit, broken connection) is given as far as it came. An error page that
// the server sends (404 and the like) is a page too. No cache is read or written; proxies are
// the system's.
QByteArray Fetch(const QString& address, const Limits& limits = Limits());

} // namespace WebFetch
