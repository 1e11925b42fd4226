#pragma once

#include "model/FieldDef.h"
#include "model/RowData.h"

#include <QString>

#include <string>
#include <vector>

// A filter expression compiled against a table's fields: comparisons joined by "and".
//   comparison := field operator value
//   operator   := "=" | "<>" | "<" | ">" | "<=" | ">=" | "LIKE"   (words in any case)
//   value      := 'text' (a quote inside doubled) | True | False | integer
// Text compares with regard to case. Date fields read a quoted value in the short date format.
// LIKE matches the whole text: "%" any run of characters, "_" one character, "\" makes the
// next character literal. A comparison on an empty field (null, or the empty text) is false.
// A derived field compares as the text it works out.
class FilterExpression {
public:
    FilterExpression() = default;

    // Throws CorvantisError. Messages about the expression as a whole are preceded by
    // tableName and ": " when tableName is not empty; a value a field cannot take is reported
    // with the field's own conversion message.
    static FilterExpression compile(const QString& text, const FieldList& fields,
                                    const QString& tableName, const DerivedFieldList& derived = {});

    bool matches(const RowData& row) const;
    bool isEmpty() const { return m_terms.empty(); }

    // LIKE on UTF-8 text, exposed for tests and for callers that match a single value.
    static bool like(std::string_view text, std::string_view pattern);

    enum class Op { Equal, NotEqual, Less, Greater, LessEqual, GreaterEqual, Like };

private:
    struct LikeToken {
        enum Kind { Literal, One, Any } kind;
        std::string literal;
    };
    using LikePattern = std::vector<LikeToken>;
    static LikePattern compileLike(std::string_view pattern);
    static bool matchLike(std::string_view text, const LikePattern& tokens);

    struct Term {
        int field = -1;
        FieldKind kind = FieldKind::String;
        Op op = Op::Equal;
        std::string text;        // text and LIKE values, UTF-8
        std::int64_t number = 0; // integers, days, booleans
        LikePattern pattern;
        QString (*derived)(std::string_view) = nullptr; // the field's text works it out
    };
    bool matchTerm(const Term& term, const RowData& row) const;

    std::vector<Term> m_terms;
};
