#pragma once

#include <QByteArray>

// The content lines of an iCalendar text as they stand in it, folded or not, for reading and
// changing a text in place without libical's rewriting it.
namespace ContentLines {

// A logical line of a text: from its start to past its line break, its folded continuations
// included, and its name (upper case).
struct ContentLine {
    qsizetype start;
    qsizetype end;
    QByteArray name;
};

// The line as it reads unfolded, without its line break and carriage returns.
QByteArray unfolded(const QByteArray& bytes, const ContentLine& line);

// The value of an unfolded line: after the first colon outside a quoted parameter value.
QByteArray valueOf(const QByteArray& line);

// Calls f for every logical line of bytes[from, to).
template <class F> void forEachLine(const QByteArray& bytes, qsizetype from, qsizetype to, F&& f) {
    const char* data = bytes.constData();
    const auto lineEnd = [&](qsizetype pos) {
        const qsizetype newline = bytes.indexOf('\n', pos);
        return newline < 0 || newline >= to ? to : newline + 1;
    };
    qsizetype pos = from;
    while (pos < to) {
        ContentLine line{pos, lineEnd(pos), QByteArray()};
        while (line.end < to && (data[line.end] == ' ' || data[line.end] == '\t'))
            line.end = lineEnd(line.end);
        pos = line.end;
        qsizetype name = line.start;
        while (name < line.end && data[name] != ':' && data[name] != ';' && data[name] != '\r' &&
               data[name] != '\n')
            ++name;
        // A line without ':' or ';' has no name: libical keeps nothing of it (a bare "END"
        // ends nothing).
        if (name < line.end && (data[name] == ':' || data[name] == ';'))
            line.name = bytes.mid(line.start, name - line.start).trimmed().toUpper();
        f(line);
    }
}

// Where a to-do stands in a text: from its BEGIN line to past its END line.
struct Span {
    qsizetype begin = -1;
    qsizetype end = -1;
    explicit operator bool() const { return begin >= 0; }
};

// The to-do of a calendar object that libical takes for its task: the first VTODO of the
// VCALENDAR without RECURRENCE-ID.
Span masterTodo(const QByteArray& bytes);

} // namespace ContentLines
