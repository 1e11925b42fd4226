// Feeds arbitrary text to the filter language. The input is three parts split at NUL bytes: an
// expression, a task text and a LIKE pattern. The expression is set and applied on a small task
// table (it is refused with a message or shows a subset of the rows); the pattern is matched
// against the text and the table's tasks, through the whole filter path, and must agree with a
// plain reference matcher on characters.
#include "base/CorvantisError.h"
#include "model/DataTable.h"
#include "model/FilterExpression.h"
#include "model/TaskRecord.h"
#include "model/TaskTable.h"

#include <QByteArrayList>
#include <QDate>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// "%" any run of characters, "_" one character, "\" makes the next one literal (a "\" at the
// end stands for itself), anything else itself, case counts; the whole text must match.
bool referenceLike(const std::u32string& text, const std::u32string& pattern) {
    struct Token {
        enum { Any, One, Char } kind;
        char32_t c;
    };
    std::vector<Token> tokens;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == U'%')
            tokens.push_back({Token::Any, 0});
        else if (pattern[i] == U'_')
            tokens.push_back({Token::One, 0});
        else if (pattern[i] == U'\\' && i + 1 < pattern.size())
            tokens.push_back({Token::Char, pattern[++i]});
        else
            tokens.push_back({Token::Char, pattern[i]});
    }
    // matches[t]: the tokens from t on match the text from the current position on.
    const std::size_t n = text.size();
    std::vector<char> next(tokens.size() + 1, 0);
    std::vector<char> here(tokens.size() + 1, 0);
    for (std::size_t i = n + 1; i-- > 0;) {
        here[tokens.size()] = i == n;
        for (std::size_t t = tokens.size(); t-- > 0;) {
            const Token& token = tokens[t];
            if (token.kind == Token::Any)
                here[t] = here[t + 1] || (i < n && next[t]);
            else
                here[t] = i < n && (token.kind == Token::One || token.c == text[i]) && next[t + 1];
        }
        std::swap(next, here);
    }
    return next[0];
}

std::u32string characters(const QString& text) {
    const QList<uint> ucs4 = text.toUcs4();
    return std::u32string(ucs4.begin(), ucs4.end());
}

void addTask(DataTable& table, const QString& task, const QString& status, int progress,
             bool bookmarked) {
    table.append();
    table.setString(TaskRecord::Task, task);
    table.setString(TaskRecord::Status, status);
    table.setInteger(TaskRecord::Progress, progress);
    table.setBoolean(TaskRecord::Bookmarked, bookmarked);
    table.setDate(TaskRecord::CreatedDate, QDate(2025, 3, 12));
    table.post();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayList parts =
        QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0');
    const QString expression = QString::fromUtf8(parts.value(0));
    // The task text is cut to what the field holds: 255 characters, never half of one (a
    // UTF-16 cut could split a surrogate pair and leave a text no list can hold).
    const std::u32string typed = characters(QString::fromUtf8(parts.value(1))).substr(0, 255);
    const QString text = QString::fromUcs4(typed.c_str(), qsizetype(typed.size()));
    const QString pattern = QString::fromUtf8(parts.value(2));

    DataTable table;
    table.setObjectName(QStringLiteral("cdsTasks"));
    TaskTable::CreateEmpty(table);
    table.setKeepHistory(false);
    addTask(table, QStringLiteral("Buy milk"), QStringLiteral("Not Started"), 0, true);
    addTask(table, QStringLiteral("caf\u00e9 _100%_ \\ done"), QStringLiteral("Complete"), 100,
            false);
    addTask(table, QString(), QStringLiteral("In progress"), 50, false);
    addTask(table, text, QStringLiteral("Paused"), 7, true);

    // Any expression: refused with a message, or showing some of the rows.
    try {
        table.setFilter(expression);
        table.setFiltered(true);
        if (table.visibleRowCount() > 4)
            std::abort();
        for (int r = 0; r < table.visibleRowCount(); ++r)
            for (int f = 0; f < int(table.fields().size()); ++f)
                (void)table.displayTextOf(table.rowDataAt(r), f);
    } catch (const CorvantisError& error) {
        if (error.message().isEmpty())
            std::abort();
    }
    table.setFiltered(false);

    // LIKE alone, and through the language: a row is shown when its task matches, and never
    // when its task is empty.
    const std::u32string wanted = characters(pattern);
    const QByteArray textBytes = text.toUtf8();
    const QByteArray patternBytes = pattern.toUtf8();
    if (FilterExpression::like(
            std::string_view(textBytes.constData(), std::size_t(textBytes.size())),
            std::string_view(patternBytes.constData(), std::size_t(patternBytes.size()))) !=
        referenceLike(characters(text), wanted))
        std::abort();
    QString quoted = pattern;
    quoted.replace(u'\'', QStringLiteral("''"));
    const int task = table.fieldIndex(TaskRecord::Task);
    int matching = 0;
    for (int r = 0; r < table.visibleRowCount(); ++r) {
        const QString value = table.textOf(table.rowDataAt(r), task);
        matching += !value.isEmpty() && referenceLike(characters(value), wanted);
    }
    table.setFilter(QStringLiteral("Task LIKE '") + quoted + u'\'');
    table.setFiltered(true);
    if (table.visibleRowCount() != matching)
        std::abort();
    for (int r = 0; r < table.visibleRowCount(); ++r)
        if (!referenceLike(characters(table.textOf(table.rowDataAt(r), task)), wanted))
            std::abort();
    return 0;
}
