#include "calendar/ContentLines.h"

#include <vector>

namespace ContentLines {

// The line as it reads unfolded, without its line break and carriage returns.
QByteArray unfolded(const QByteArray& bytes, const ContentLine& line) {
    QByteArray text = bytes.mid(line.start, line.end - line.start);
    text.replace('\r', QByteArray());
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            if (i + 1 < text.size() && (text[i + 1] == ' ' || text[i + 1] == '\t'))
                ++i; // a fold: the line break and the blank that follows it are not text
            continue;
        }
        out += text[i];
    }
    return out;
}

// The value of an unfolded line: after the first colon outside a quoted parameter value.
QByteArray valueOf(const QByteArray& line) {
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted)
            return line.mid(i + 1);
    }
    return QByteArray();
}

// The to-do of a calendar object that libical takes for its task: the first VTODO of the
// VCALENDAR without RECURRENCE-ID.
Span masterTodo(const QByteArray& bytes) {
    std::vector<QByteArray> open;
    Span todo;
    bool occurrence = false;
    Span found;
    forEachLine(bytes, 0, bytes.size(), [&](const ContentLine& line) {
        if (found)
            return;
        const bool inTodo = open.size() == 2 && open[0] == "VCALENDAR" && open[1] == "VTODO";
        if (line.name == "BEGIN") {
            open.push_back(valueOf(unfolded(bytes, line)).trimmed().toUpper());
            if (open.size() == 2 && open[0] == "VCALENDAR" && open[1] == "VTODO") {
                todo = {line.start, -1};
                occurrence = false;
            }
        } else if (line.name == "END") {
            if (inTodo && !occurrence)
                found = {todo.begin, line.end};
            if (!open.empty())
                open.pop_back();
        } else if (inTodo && line.name == "RECURRENCE-ID") {
            occurrence = true;
        }
    });
    return found;
}

} // namespace ContentLines
