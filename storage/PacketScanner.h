#pragma once

#include "base/CorvantisError.h"
#include "storage/PacketEncoding.h"

#include <QString>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

// The generic half of the list file reader: tags, attributes, the markup it skips and character
// references over UTF-8 bytes. It knows nothing of fields or rows. Header-only: the row path
// calls these in its innermost loops and needs them inlined.
class PacketScanner {
public:
    enum class Tag { Start, End, Eof };

    // Elements skipped inside the packet may nest this deep.
    static constexpr std::size_t MaxDepth = 256;
    // Longest character reference read, "&#" and ";" included, leading zeros allowed.
    static constexpr std::size_t MaxReference = 32;

    PacketScanner(const char* begin, const char* end) : m_p(begin), m_end(end) {}

    static bool isSpace(char c) { return classes().space[static_cast<unsigned char>(c)]; }
    static bool isNameEnd(char c) { return classes().nameEnd[static_cast<unsigned char>(c)]; }

    static QString fromUtf8(std::string_view text) {
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }

    // The bytes of the first `chars` characters of UTF-8 text (all of it when it is shorter):
    // the lead bytes are counted.
    static std::size_t utf8Prefix(const char* text, std::size_t size, std::size_t chars) {
        std::size_t seen = 0;
        for (std::size_t i = 0; i < size; ++i)
            if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == chars)
                return i;
        return size;
    }

    // A value shown inside a message, cut so that a hostile file cannot flood the error box.
    static QString shown(std::string_view text) {
        constexpr std::size_t Longest = 80;
        if (text.size() <= Longest)
            return fromUtf8(text);
        std::size_t cut = Longest;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;
        return fromUtf8(text.substr(0, cut)) + QStringLiteral("...");
    }

    [[noreturn]] static void mismatch() {
        throw CorvantisError(QStringLiteral("Mismatch in datapacket."));
    }

    [[noreturn]] static void damaged(const QString& what) {
        throw CorvantisError(QStringLiteral("Damaged data packet: %1.").arg(what));
    }

    // The first byte in [p, e) that is a or b; e when there is none. Sixteen bytes at a time:
    // row values are short, and two library searches per value cost more than the values.
    static const char* findEither(const char* p, const char* e, char a, char b) {
#if defined(__SSE2__)
        const __m128i va = _mm_set1_epi8(a);
        const __m128i vb = _mm_set1_epi8(b);
        while (e - p >= 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const int hits =
                _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, va), _mm_cmpeq_epi8(x, vb)));
            if (hits)
                return p + __builtin_ctz(static_cast<unsigned>(hits));
            p += 16;
        }
#endif
        while (p < e && *p != a && *p != b)
            ++p;
        return p;
    }

    // Reads the reference starting at `amp` ("&...;"): its character into cp, and what follows
    // its ";" as the result; nullptr when it is not a valid reference. Rows are full of
    // references (line breaks, tabs, quotes), so the five names and the numbers are matched
    // byte by byte.
    static const char* readReference(const char* amp, const char* e, char32_t& cp) {
        const char* p = amp + 1;
        const std::size_t left = std::size_t(e - p);
        if (left < 3)
            return nullptr;
        switch (p[0]) {
        case 'l':
            cp = '<';
            return p[1] == 't' && p[2] == ';' ? p + 3 : nullptr;
        case 'g':
            cp = '>';
            return p[1] == 't' && p[2] == ';' ? p + 3 : nullptr;
        case 'a':
            if (left >= 4 && p[1] == 'm' && p[2] == 'p' && p[3] == ';') {
                cp = '&';
                return p + 4;
            }
            cp = '\'';
            return left >= 5 && p[1] == 'p' && p[2] == 'o' && p[3] == 's' && p[4] == ';' ? p + 5
                                                                                         : nullptr;
        case 'q':
            cp = '"';
            return left >= 5 && p[1] == 'u' && p[2] == 'o' && p[3] == 't' && p[4] == ';' ? p + 5
                                                                                         : nullptr;
        case '#':
            return readNumericReference(amp, e, cp);
        default:
            return nullptr;
        }
    }

    // Decodes the reference starting at `amp` onto out; returns what follows its ";".
    static const char* decodeReference(std::string& out, const char* amp, const char* e) {
        char32_t cp = 0;
        const char* next = readReference(amp, e, cp);
        if (!next)
            badReference(amp, e);
        if (cp < 0x80)
            out.push_back(static_cast<char>(cp));
        else
            PacketEncoding::appendUtf8(out, cp);
        return next;
    }

    // Appends text with its references decoded.
    static void decodeInto(std::string& out, const char* s, const char* e) {
        while (s < e) {
            const auto* amp = static_cast<const char*>(std::memchr(s, '&', std::size_t(e - s)));
            if (!amp) {
                out.append(s, std::size_t(e - s));
                return;
            }
            out.append(s, std::size_t(amp - s));
            s = decodeReference(out, amp, e);
        }
    }

protected:
    void skipSpaces() {
        while (m_p < m_end && isSpace(*m_p))
            ++m_p;
    }

    std::string_view readName() {
        const char* start = m_p;
        while (m_p < m_end && !isNameEnd(*m_p))
            ++m_p;
        return std::string_view(start, std::size_t(m_p - start));
    }

    [[noreturn]] void unexpectedEnd(std::string_view element) const {
        damaged(QStringLiteral("the file ends inside \"%1\"").arg(shown(element)));
    }

    // Moves to the next tag, skipping text, comments, processing instructions and CDATA. For a
    // start tag the cursor stays after the name, where its attributes begin.
    Tag next(std::string_view& name) {
        while (true) {
            const auto* lt =
                static_cast<const char*>(std::memchr(m_p, '<', std::size_t(m_end - m_p)));
            if (!lt) {
                m_p = m_end;
                return Tag::Eof;
            }
            m_p = lt + 1;
            if (m_p >= m_end)
                damaged(QStringLiteral("the file ends inside a tag"));
            const std::string_view rest(m_p, std::size_t(m_end - m_p));
            if (*m_p == '/') {
                ++m_p;
                name = readName();
                skipSpaces();
                if (m_p >= m_end || *m_p != '>')
                    damaged(QStringLiteral("the end tag \"%1\" is malformed").arg(shown(name)));
                ++m_p;
                return Tag::End;
            }
            auto skipTo = [&](std::string_view terminator, const char* what) {
                const std::size_t at = rest.find(terminator);
                if (at == std::string_view::npos)
                    damaged(QStringLiteral("the file ends inside %1").arg(QLatin1String(what)));
                m_p += at + terminator.size();
            };
            if (*m_p == '?') {
                skipTo("?>", "a processing instruction");
            } else if (rest.substr(0, 3) == "!--") {
                skipTo("-->", "a comment");
            } else if (rest.substr(0, 8) == "![CDATA[") {
                skipTo("]]>", "a CDATA section");
            } else if (*m_p == '!') {
                throw CorvantisError(
                    QStringLiteral("A list file cannot contain a document type declaration."));
            } else {
                name = readName();
                if (name.empty())
                    damaged(QStringLiteral("a tag has no name"));
                return Tag::Start;
            }
        }
    }

    void expectStart(std::string_view& name) {
        if (next(name) != Tag::Start)
            mismatch();
    }

    // After an attribute's name: the "=" and the opening quote, blanks allowed around the "=";
    // returns the quote.
    char valueStart(std::string_view element, std::string_view name) {
        skipSpaces();
        if (name.empty() || m_p >= m_end || *m_p != '=')
            damaged(QStringLiteral("the tag \"%1\" has a malformed attribute").arg(shown(element)));
        ++m_p;
        skipSpaces();
        if (m_p >= m_end || (*m_p != '"' && *m_p != '\''))
            damaged(QStringLiteral("the attribute \"%1\" has no quoted value").arg(shown(name)));
        return *m_p++;
    }

    // Reads the attributes of a start tag up to its ">" or "/>"; returns whether it was "/>".
    // onAttribute gets each one's name and the bytes between its quotes, undecoded.
    template <class F> bool attributes(std::string_view element, F&& onAttribute) {
        while (true) {
            skipSpaces();
            if (m_p >= m_end)
                unexpectedEnd(element);
            if (*m_p == '>') {
                ++m_p;
                return false;
            }
            if (*m_p == '/') {
                ++m_p;
                if (m_p >= m_end || *m_p != '>')
                    damaged(QStringLiteral("the tag \"%1\" is malformed").arg(shown(element)));
                ++m_p;
                return true;
            }
            const std::string_view name = readName();
            const char quote = valueStart(element, name);
            const auto* close =
                static_cast<const char*>(std::memchr(m_p, quote, std::size_t(m_end - m_p)));
            if (!close)
                unexpectedEnd(element);
            onAttribute(name, m_p, close);
            m_p = close + 1;
        }
    }

    bool skipAttributes(std::string_view element) {
        return attributes(element, [](std::string_view, const char*, const char*) {});
    }

    // Skips what an opened element holds, up to and including its end tag.
    void skipChildren(std::string_view element) {
        std::vector<std::string_view> open{element};
        std::string_view name;
        while (!open.empty()) {
            switch (next(name)) {
            case Tag::Eof:
                unexpectedEnd(open.back());
            case Tag::Start:
                if (!skipAttributes(name)) {
                    if (open.size() >= MaxDepth)
                        damaged(QStringLiteral("elements are nested too deeply"));
                    open.push_back(name);
                }
                break;
            case Tag::End:
                if (name != open.back())
                    damaged(QStringLiteral("\"%1\" is closed by \"%2\"")
                                .arg(shown(open.back()), shown(name)));
                open.pop_back();
                break;
            }
        }
    }

    // Reads what an opened element holds up to its end tag: onChild gets the name of each
    // element in it and returns false for one it does not take, which is then skipped whole.
    template <class F> void children(std::string_view element, F&& onChild) {
        std::string_view name;
        while (true) {
            switch (next(name)) {
            case Tag::Eof:
                unexpectedEnd(element);
            case Tag::End:
                if (name != element)
                    damaged(QStringLiteral("\"%1\" is closed by \"%2\"")
                                .arg(shown(element), shown(name)));
                return;
            case Tag::Start:
                if (!onChild(name) && !skipAttributes(name))
                    skipChildren(name);
                break;
            }
        }
    }

    const char* m_p;
    const char* m_end;

private:
    // Byte classes, looked up rather than compared one by one.
    struct ByteClasses {
        bool space[256] = {};
        bool nameEnd[256] = {};
        constexpr ByteClasses() {
            for (const unsigned char c : {' ', '\t', '\n', '\r'})
                space[c] = nameEnd[c] = true;
            for (const unsigned char c : {'=', '/', '>', '<', '"', '\''})
                nameEnd[c] = true;
        }
    };
    static const ByteClasses& classes() {
        static constexpr ByteClasses Classes;
        return Classes;
    }

    static const char* readNumericReference(const char* amp, const char* e, char32_t& cp) {
        const char* p = amp + 2; // after "&#"
        const std::size_t left = std::size_t(e - p);
        if (left >= 4 && unsigned(p[0] - '0') < 10 && unsigned(p[1] - '0') < 10 &&
            unsigned(p[2] - '0') < 10 && p[3] == ';') {
            // "&#013;", "&#010;", "&#009;", "&#092;": the line breaks, tabs and backslashes of
            // every list.
            cp = char32_t((p[0] - '0') * 100 + (p[1] - '0') * 10 + (p[2] - '0'));
            return cp != 0 ? p + 4 : nullptr;
        }
        const bool hex = left >= 1 && (p[0] == 'x' || p[0] == 'X');
        const char* d = p + (hex ? 1 : 0);
        const char* limit = amp + std::min<std::size_t>(std::size_t(e - amp), MaxReference);
        cp = 0;
        const char* digits = d;
        for (; d < limit && *d != ';'; ++d) {
            const char c = *d;
            unsigned digit = 16;
            if (c >= '0' && c <= '9')
                digit = unsigned(c - '0');
            else if (hex && c >= 'a' && c <= 'f')
                digit = unsigned(c - 'a' + 10);
            else if (hex && c >= 'A' && c <= 'F')
                digit = unsigned(c - 'A' + 10);
            if (digit >= (hex ? 16u : 10u))
                return nullptr;
            cp = cp * (hex ? 16 : 10) + digit;
            if (cp > 0x10FFFF)
                return nullptr;
        }
        if (d >= limit || d == digits || cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF))
            return nullptr;
        return d + 1;
    }

    [[noreturn]] static void badReference(const char* amp, const char* e) {
        // Show the reference up to its ";", or up to where it clearly ends without one.
        const char* limit = amp + std::min<std::size_t>(std::size_t(e - amp), MaxReference);
        const char* end = amp + 1;
        while (end < limit && *end != ';' && !isNameEnd(*end) && *end != '&')
            ++end;
        if (end < limit && *end == ';')
            ++end;
        damaged(QStringLiteral("the reference \"%1\" is not valid")
                    .arg(shown(std::string_view(amp, std::size_t(end - amp)))));
    }
};
