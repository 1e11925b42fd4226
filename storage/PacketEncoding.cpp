#include "storage/PacketEncoding.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace PacketEncoding {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Length of the well-formed sequence starting at p (at most `left` bytes), 0 when ill-formed.
std::size_t sequenceLength(const unsigned char* p, std::size_t left) {
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    auto cont = [&](std::size_t i, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
        return i < left && p[i] >= lo && p[i] <= hi;
    };
    if (c >= 0xC2 && c <= 0xDF)
        return cont(1) ? 2 : 0;
    if (c == 0xE0)
        return cont(1, 0xA0) && cont(2) ? 3 : 0;
    if ((c >= 0xE1 && c <= 0xEC) || c == 0xEE || c == 0xEF)
        return cont(1) && cont(2) ? 3 : 0;
    if (c == 0xED)
        return cont(1, 0x80, 0x9F) && cont(2) ? 3 : 0;
    if (c == 0xF0)
        return cont(1, 0x90) && cont(2) && cont(3) ? 4 : 0;
    if (c >= 0xF1 && c <= 0xF3)
        return cont(1) && cont(2) && cont(3) ? 4 : 0;
    if (c == 0xF4)
        return cont(1, 0x80, 0x8F) && cont(2) && cont(3) ? 4 : 0;
    return 0;
}

// Index of the first byte at or after `from` that is not ASCII; size when there is none.
std::size_t skipAscii(const unsigned char* p, std::size_t from, std::size_t size) {
    std::size_t i = from;
#if defined(__SSE2__)
    // Long runs (the markup of a list file, most of its values) sixty-four bytes at a time.
    while (i + 64 <= size) {
        const auto* q = reinterpret_cast<const __m128i*>(p + i);
        const std::uint64_t high =
            std::uint64_t(unsigned(_mm_movemask_epi8(_mm_loadu_si128(q)))) |
            std::uint64_t(unsigned(_mm_movemask_epi8(_mm_loadu_si128(q + 1)))) << 16 |
            std::uint64_t(unsigned(_mm_movemask_epi8(_mm_loadu_si128(q + 2)))) << 32 |
            std::uint64_t(unsigned(_mm_movemask_epi8(_mm_loadu_si128(q + 3)))) << 48;
        if (high)
            return i + std::size_t(__builtin_ctzll(high));
        i += 64;
    }
    while (i + 16 <= size) {
        const int high =
            _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
        if (high)
            return i + std::size_t(__builtin_ctz(static_cast<unsigned>(high)));
        i += 16;
    }
#endif
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // What is left of short text (a row's value) eight bytes at a time.
    while (i + 8 <= size) {
        std::uint64_t word;
        std::memcpy(&word, p + i, sizeof word);
        if (const std::uint64_t high = word & 0x8080808080808080ull)
            return i + std::size_t(__builtin_ctzll(high) / 8);
        i += 8;
    }
#endif
    while (i < size && p[i] < 0x80)
        ++i;
    return i;
}

// Windows-1252 bytes 0x80-0x9F.
constexpr char16_t HighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

bool isWellFormedUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    std::size_t i = 0;
    while (true) {
        i = skipAscii(p, i, size);
        if (i >= size)
            return true;
        // Two- and three-byte sequences (accented letters, most scripts) checked in line.
        const unsigned c = p[i];
        if (c >= 0xC2 && c <= 0xDF && i + 1 < size && (p[i + 1] & 0xC0) == 0x80) {
            i += 2;
            continue;
        }
        if ((c & 0xF0) == 0xE0 && i + 2 < size) {
            const unsigned c1 = p[i + 1];
            if ((c1 & 0xC0) == 0x80 && (p[i + 2] & 0xC0) == 0x80 && (c != 0xE0 || c1 >= 0xA0) &&
                (c != 0xED || c1 < 0xA0)) {
                i += 3;
                continue;
            }
        }
        const std::size_t n = sequenceLength(p + i, size - i);
        if (n == 0)
            return false;
        i += n;
    }
}

bool declaresUtf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size() && isSpace(bytes[i]))
        ++i;
    if (bytes.substr(i, 2) != "<?")
        return false;
    const std::size_t close = bytes.find("?>", i + 2);
    if (close == std::string_view::npos)
        return false;
    const std::string_view decl = bytes.substr(i + 2, close - i - 2);
    std::size_t k = 0;
    // The target name ("xml"), then pseudo-attributes name = "value".
    while (k < decl.size() && !isSpace(decl[k]))
        ++k;
    while (true) {
        while (k < decl.size() && isSpace(decl[k]))
            ++k;
        const std::size_t nameBegin = k;
        while (k < decl.size() && !isSpace(decl[k]) && decl[k] != '=')
            ++k;
        const std::string_view name = decl.substr(nameBegin, k - nameBegin);
        while (k < decl.size() && isSpace(decl[k]))
            ++k;
        if (name.empty() || k >= decl.size() || decl[k] != '=')
            return false;
        ++k;
        while (k < decl.size() && isSpace(decl[k]))
            ++k;
        if (k >= decl.size() || (decl[k] != '"' && decl[k] != '\''))
            return false;
        const char quote = decl[k++];
        const std::size_t end = decl.find(quote, k);
        if (end == std::string_view::npos)
            return false;
        if (equalsIgnoringCase(name, "encoding"))
            return equalsIgnoringCase(decl.substr(k, end - k), "UTF-8");
        k = end + 1;
    }
}

char* writeUtf8(char* out, char32_t cp) {
    if (cp < 0x80) {
        *out++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out++ = static_cast<char>(0xC0 | (cp >> 6));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (cp >> 12));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (cp >> 18));
        *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

void appendUtf8(std::string& out, char32_t cp) {
    char bytes[4];
    out.append(bytes, std::size_t(writeUtf8(bytes, cp) - bytes));
}

namespace {

// Copies runs of ASCII as they are and hands each other byte sequence to `convert`, which
// appends its text and returns how many bytes it took.
template <class Convert>
std::string convertBeyondAscii(std::string_view bytes, std::size_t expected, Convert convert) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::string out;
    out.reserve(expected);
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t ascii = skipAscii(p, i, bytes.size());
        out.append(bytes.data() + i, ascii - i);
        i = ascii;
        if (i < bytes.size())
            i += convert(out, p + i, bytes.size() - i);
    }
    return out;
}

} // namespace

namespace {

// A byte above 0x7F as the Windows-1252 character of its number.
void appendWindows1252(std::string& out, unsigned char c) {
    appendUtf8(out, c < 0xA0 ? char32_t(HighControls[c - 0x80]) : char32_t(c));
}

} // namespace

std::string windows1252ToUtf8(std::string_view bytes) {
    return convertBeyondAscii(bytes, bytes.size() + bytes.size() / 8,
                              [](std::string& out, const unsigned char* p, std::size_t) {
                                  appendWindows1252(out, *p);
                                  return std::size_t(1);
                              });
}

std::string mendUtf8(std::string_view bytes) {
    return convertBeyondAscii(bytes, bytes.size() + 16,
                              [](std::string& out, const unsigned char* p, std::size_t left) {
                                  const std::size_t n = sequenceLength(p, left);
                                  if (n == 0) {
                                      appendWindows1252(out, *p);
                                      return std::size_t(1);
                                  }
                                  out.append(reinterpret_cast<const char*>(p), n);
                                  return n;
                              });
}

std::string repairUtf8(std::string_view bytes) {
    return convertBeyondAscii(bytes, bytes.size(),
                              [](std::string& out, const unsigned char* p, std::size_t left) {
                                  const std::size_t n = sequenceLength(p, left);
                                  if (n == 0) {
                                      appendUtf8(out, 0xFFFD);
                                      return std::size_t(1);
                                  }
                                  out.append(reinterpret_cast<const char*>(p), n);
                                  return n;
                              });
}

Reading classify(std::string_view bytes, std::string& storage) {
    storage.clear();
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        return Reading{bytes.substr(3), Reading::Fallback::Repair};
    if (declaresUtf8(bytes))
        return Reading{bytes, Reading::Fallback::Windows1252};
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    if (skipAscii(p, 0, bytes.size()) == bytes.size())
        return Reading{bytes, Reading::Fallback::None};
    storage = windows1252ToUtf8(bytes);
    return Reading{storage, Reading::Fallback::None};
}

std::string fallbackText(const Reading& reading) {
    switch (reading.fallback) {
    case Reading::Fallback::Repair:
        return repairUtf8(reading.text);
    case Reading::Fallback::Windows1252:
        return mendUtf8(reading.text);
    case Reading::Fallback::None:
        break;
    }
    return std::string(reading.text);
}

} // namespace PacketEncoding
