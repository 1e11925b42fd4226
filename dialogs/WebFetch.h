#pragma once

#include <QByteArray>
#include <QString>

class QWidget;

// Fetches one web page for the URL window. The call looks synchronous: it runs a local event
// loop, so the program stays painted while the page comes in, with the busy cursor. Input the
// user gives meanwhile is dropped, not kept for later, except what ends the wait (see Escape).
namespace WebFetch {

// A short fixed agent name, sent as the User-Agent header.
inline const QString AgentName = QStringLiteral("Corvantis");

struct Limits {
    // The whole fetch, from the request to the last byte of the body, as a deadline: it never
    // ends early. A slow or silent server must not hold the program for long: the user is
    // waiting in a modal window.
    int timeLimitMs = 15000;
    // More than enough for a page's head; the rest of a larger body is not read.
    qint64 maxBytes = 4 * 1024 * 1024;
    // A redirect loop ends here instead of asking the server over and over.
    int maxRedirects = 5;
};

// How the user ends a wait: a press of `cancelButton`, Escape in `window`, or a request to close
// `window` ends the fetch at once and then takes its ordinary course (the window closes).
struct Escape {
    QWidget* window = nullptr;
    QWidget* cancelButton = nullptr;
};

// The body of the page at `address` (http or https, exactly as typed), at most maxBytes of it;
// empty when the address is not an http(s) address or nothing could be read. A body that
// stops early (time limit, broken connection, the user's cancel) is given as far as it came. An
// error page that the server sends (404 and the like) is a page too. No cache is read or
// written; proxies are the system's.
QByteArray Fetch(const QString& address, const Limits& limits = Limits(),
                 const Escape& escape = Escape());

} // namespace WebFetch
