#include "model/FilterExpression.h"

#include "base/CorvantisError.h"
#include "base/DatesAndClock.h"
#include "model/FieldValues.h"

namespace {

constexpr std::int64_t MsPerDay = 86400000;

class Lexer {
public:
    Lexer(const QString& text, QString tableName)
        : m_text(text), m_tableName(std::move(tableName)) {}

    void skipBlanks() {
        while (m_pos < m_text.size() && m_text.at(m_pos).isSpace())
            ++m_pos;
    }
    bool atEnd() {
        skipBlanks();
        return m_pos >= m_text.size();
    }
    qsizetype position() const { return m_pos; }

    [[noreturn]] void fail(const QString& what) const { failAt(m_pos, what); }
    [[noreturn]] void failAt(qsizetype position, const QString& what) const {
        QString message = QStringLiteral("Invalid filter expression at position %1: %2")
                              .arg(position + 1)
                              .arg(what);
        if (!m_tableName.isEmpty())
            message = m_tableName + QStringLiteral(": ") + message;
        throw CorvantisError(message);
    }

    // A name: letters, digits and underscores.
    QString word() {
        skipBlanks();
        const qsizetype start = m_pos;
        while (m_pos < m_text.size() &&
               (m_text.at(m_pos).isLetterOrNumber() || m_text.at(m_pos) == u'_'))
            ++m_pos;
        return m_text.mid(start, m_pos - start);
    }

    bool peek(QChar c) {
        skipBlanks();
        return m_pos < m_text.size() && m_text.at(m_pos) == c;
    }

    FilterExpression::Op op() {
        skipBlanks();
        auto take = [this](int n) { m_pos += n; };
        const QStringView rest = QStringView(m_text).mid(m_pos);
        if (rest.startsWith(u"<>")) {
            take(2);
            return FilterExpression::Op::NotEqual;
        }
        if (rest.startsWith(u"<=")) {
            take(2);
            return FilterExpression::Op::LessEqual;
        }
        if (rest.startsWith(u">=")) {
            take(2);
            return FilterExpression::Op::GreaterEqual;
        }
        if (rest.startsWith(u'=')) {
            take(1);
            return FilterExpression::Op::Equal;
        }
        if (rest.startsWith(u'<')) {
            take(1);
            return FilterExpression::Op::Less;
        }
        if (rest.startsWith(u'>')) {
            take(1);
            return FilterExpression::Op::Greater;
        }
        const qsizetype save = m_pos;
        if (word().compare(u"like", Qt::CaseInsensitive) == 0)
            return FilterExpression::Op::Like;
        m_pos = save;
        fail(QStringLiteral("operator expected"));
    }

    // A quoted text; a quote inside is written twice.
    QString quoted() {
        skipBlanks();
        ++m_pos; // opening quote
        QString value;
        for (;;) {
            if (m_pos >= m_text.size())
                fail(QStringLiteral("unterminated quoted text"));
            const QChar c = m_text.at(m_pos++);
            if (c == u'\'') {
                if (m_pos < m_text.size() && m_text.at(m_pos) == u'\'') {
                    value += u'\'';
                    ++m_pos;
                    continue;
                }
                return value;
            }
            value += c;
        }
    }

    // An unquoted value: a word or a number with an optional sign.
    QString bare() {
        skipBlanks();
        const qsizetype start = m_pos;
        if (m_pos < m_text.size() && (m_text.at(m_pos) == u'-' || m_text.at(m_pos) == u'+'))
            ++m_pos;
        while (m_pos < m_text.size() &&
               (m_text.at(m_pos).isLetterOrNumber() || m_text.at(m_pos) == u'_'))
            ++m_pos;
        return m_text.mid(start, m_pos - start);
    }

private:
    const QString& m_text;
    QString m_tableName;
    qsizetype m_pos = 0;
};

std::size_t codePointLength(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    return 1;
}

template <typename T> int compareValues(T a, T b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

bool opHolds(FilterExpression::Op op, int cmp) {
    switch (op) {
    case FilterExpression::Op::Equal:
        return cmp == 0;
    case FilterExpression::Op::NotEqual:
        return cmp != 0;
    case FilterExpression::Op::Less:
        return cmp < 0;
    case FilterExpression::Op::Greater:
        return cmp > 0;
    case FilterExpression::Op::LessEqual:
        return cmp <= 0;
    case FilterExpression::Op::GreaterEqual:
        return cmp >= 0;
    case FilterExpression::Op::Like:
        break;
    }
    return false;
}

} // namespace

FilterExpression FilterExpression::compile(const QString& text, const FieldList& fields,
                                           const QString& tableName,
                                           const DerivedFieldList& derived) {
    FilterExpression expression;
    Lexer lex(text, tableName);
    if (lex.atEnd())
        return expression;
    for (;;) {
        const QString name = lex.word();
        if (name.isEmpty())
            lex.fail(QStringLiteral("field name expected"));
        int field = -1;
        for (std::size_t i = 0; i < fields.size(); ++i)
            if (fields[i].name.compare(name, Qt::CaseInsensitive) == 0) {
                field = static_cast<int>(i);
                break;
            }
        // A derived field compares as text: the term reads its source field.
        QString (*derivedText)(std::string_view) = nullptr;
        for (std::size_t d = 0; field < 0 && d < derived.size(); ++d) {
            if (derived[d].name.compare(name, Qt::CaseInsensitive) != 0)
                continue;
            for (std::size_t i = 0; i < fields.size(); ++i)
                if (fields[i].name.compare(derived[d].source, Qt::CaseInsensitive) == 0 &&
                    fields[i].isText()) {
                    field = static_cast<int>(i);
                    derivedText = derived[d].text;
                }
        }
        if (field < 0) {
            QString message = QStringLiteral("Field '%1' not found").arg(name);
            if (!tableName.isEmpty())
                message = tableName + QStringLiteral(": ") + message;
            throw CorvantisError(message);
        }
        const FieldDef& def = fields[static_cast<std::size_t>(field)];
        Term term;
        term.field = field;
        term.kind = def.kind;
        term.derived = derivedText;
        term.op = lex.op();
        const bool isQuoted = lex.peek(u'\'');
        const QString value = isQuoted ? lex.quoted() : lex.bare();
        if (!isQuoted && value.isEmpty())
            lex.fail(QStringLiteral("value expected"));
        if (term.op == Op::Like && !def.isText())
            lex.fail(QStringLiteral("LIKE needs a text field"));

        switch (def.kind) {
        case FieldKind::String:
        case FieldKind::Memo:
            term.text = value.toStdString();
            if (term.op == Op::Like)
                term.pattern = compileLike(term.text);
            break;
        case FieldKind::Integer:
        case FieldKind::AutoInc:
        case FieldKind::Word: {
            bool ok = false;
            term.number = value.trimmed().toLongLong(&ok);
            if (!ok)
                throw CorvantisError(
                    QStringLiteral("'%1' is not a valid integer value for field '%2'")
                        .arg(value, def.name));
            break;
        }
        case FieldKind::Date:
        case FieldKind::DateTime: {
            const QDate day = uGeneral::ParseShortDate(value);
            if (!day.isValid())
                throw CorvantisError(QStringLiteral("'%1' is not a valid date").arg(value));
            term.number = day.toJulianDay();
            break;
        }
        case FieldKind::Boolean: {
            const auto flag = FieldValues::parseBoolean(value, def.name);
            if (!flag)
                lex.fail(QStringLiteral("value expected"));
            term.number = *flag ? 1 : 0;
            break;
        }
        }
        expression.m_terms.push_back(std::move(term));

        if (lex.atEnd())
            break;
        const qsizetype at = lex.position();
        if (lex.word().compare(u"and", Qt::CaseInsensitive) != 0)
            lex.failAt(at, QStringLiteral("'and' expected"));
    }
    return expression;
}

bool FilterExpression::matches(const RowData& row) const {
    for (const Term& term : m_terms)
        if (!matchTerm(term, row))
            return false;
    return true;
}

bool FilterExpression::matchTerm(const Term& term, const RowData& row) const {
    if (row.isNull(term.field))
        return false;
    switch (term.kind) {
    case FieldKind::String:
    case FieldKind::Memo: {
        std::string_view value = row.raw(term.field);
        std::string derived;
        if (term.derived) {
            derived = term.derived(value).toStdString();
            value = derived;
        }
        if (value.empty())
            return false;
        if (term.op == Op::Like)
            return matchLike(value, term.pattern);
        return opHolds(term.op, value.compare(term.text));
    }
    case FieldKind::Integer:
    case FieldKind::AutoInc:
    case FieldKind::Word:
    case FieldKind::Date:
        return opHolds(term.op, compareValues<std::int64_t>(row.int32(term.field), term.number));
    case FieldKind::DateTime: {
        const std::int64_t ms = row.int64(term.field);
        const std::int64_t day = ms >= 0 ? ms / MsPerDay : -((-ms + MsPerDay - 1) / MsPerDay);
        return opHolds(term.op, compareValues<std::int64_t>(day, term.number));
    }
    case FieldKind::Boolean:
        return opHolds(term.op, compareValues<std::int64_t>(row.boolean(term.field), term.number));
    }
    return false;
}

bool FilterExpression::like(std::string_view text, std::string_view pattern) {
    return matchLike(text, compileLike(pattern));
}

FilterExpression::LikePattern FilterExpression::compileLike(std::string_view pattern) {
    LikePattern tokens;
    for (std::size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        if (c == '%') {
            // Two wildcards in a row count as one.
            if (tokens.empty() || tokens.back().kind != LikeToken::Any)
                tokens.push_back({LikeToken::Any, {}});
            ++i;
            continue;
        }
        if (c == '_') {
            tokens.push_back({LikeToken::One, {}});
            ++i;
            continue;
        }
        if (c == '\\' && i + 1 < pattern.size())
            ++i;
        const std::size_t len =
            std::min(codePointLength(static_cast<unsigned char>(pattern[i])), pattern.size() - i);
        if (tokens.empty() || tokens.back().kind != LikeToken::Literal)
            tokens.push_back({LikeToken::Literal, {}});
        tokens.back().literal.append(pattern.data() + i, len);
        i += len;
    }
    return tokens;
}

bool FilterExpression::matchLike(std::string_view text, const LikePattern& tokens) {
    // The common search shape "%text%" is a plain substring search.
    if (tokens.size() == 3 && tokens[0].kind == LikeToken::Any &&
        tokens[1].kind == LikeToken::Literal && tokens[2].kind == LikeToken::Any)
        return text.find(tokens[1].literal) != std::string_view::npos;

    // Greedy match that backtracks to the last "%" on a mismatch.
    std::size_t ti = 0;
    std::size_t pi = 0;
    std::size_t starToken = std::string::npos;
    std::size_t starText = 0;
    const std::size_t n = text.size();
    while (ti < n || pi < tokens.size()) {
        if (pi < tokens.size()) {
            const LikeToken& token = tokens[pi];
            if (token.kind == LikeToken::Any) {
                starToken = pi++;
                starText = ti;
                continue;
            }
            if (token.kind == LikeToken::One && ti < n) {
                ti += std::min(codePointLength(static_cast<unsigned char>(text[ti])), n - ti);
                ++pi;
                continue;
            }
            if (token.kind == LikeToken::Literal &&
                text.substr(ti, token.literal.size()) == std::string_view(token.literal)) {
                ti += token.literal.size();
                ++pi;
                continue;
            }
        }
        if (starToken != std::string::npos && starText < n) {
            starText +=
                std::min(codePointLength(static_cast<unsigned char>(text[starText])), n - starText);
            ti = starText;
            pi = starToken + 1;
            continue;
        }
        return false;
    }
    return true;
}
