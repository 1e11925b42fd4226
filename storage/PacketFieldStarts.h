#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

// The attribute starts of a table's fields as writers lay rows out, `Name="`, for the list file
// reader's row path. The candidates at a position are the fields (from a given one on) whose name
// begins with the byte there, so a row's attribute is usually recognised with a single comparison
// however many empty fields it skips. Header-only: the row path calls it in its innermost loop.
class PacketFieldStarts {
public:
    // No field starts here.
    static constexpr int None = -1;

    // One attribute start, recognised in one comparison instead of reading the name, the "="
    // and the quote byte by byte.
    class Start {
    public:
        explicit Start(std::string_view name) : m_size(name.size() + 2) {
            m_text.assign(name.data(), name.size());
            m_text += "=\"";
            std::memcpy(m_bytes, m_text.data(), std::min<std::size_t>(m_size, 16));
            m_mask = m_size >= 16 ? 0xFFFFu : (1u << m_size) - 1;
        }
        // The length of the start at p, 0 when p does not begin with it.
        std::size_t at(const char* p, const char* e) const {
#if defined(__SSE2__)
            if (m_size <= 16 && e - p >= 16) {
                const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                const __m128i y = _mm_load_si128(reinterpret_cast<const __m128i*>(m_bytes));
                const auto same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y)));
                return (same & m_mask) == m_mask ? m_size : 0;
            }
#endif
            return std::size_t(e - p) >= m_size && std::memcmp(p, m_text.data(), m_size) == 0
                       ? m_size
                       : 0;
        }

    private:
        alignas(16) char m_bytes[16] = {};
        unsigned m_mask;
        std::size_t m_size;
        std::string m_text;
    };

    void add(std::string_view name) {
        const std::size_t field = m_starts.size();
        m_starts.emplace_back(name);
        if (field < 64)
            m_byFirst[static_cast<unsigned char>(name[0])] |= std::uint64_t(1) << field;
    }
    // The field, from `from` on, whose start is at p (before e), p moved past it; None for none.
    // The first candidate is tried here, small enough to sit in the caller's loop.
    int match(const char*& p, const char* e, int from) const {
        return Matcher(*this).match(p, e, from);
    }

    // The same for the reading of a row: made once, it keeps where the starts lie in the
    // reader's own variables, which the bytes it stores cannot change, instead of reading them
    // from the table again for every attribute.
    class Matcher {
    public:
        explicit Matcher(const PacketFieldStarts& all)
            : m_all(all), m_starts(all.m_starts.data()), m_byFirst(all.m_byFirst) {}
        int match(const char*& p, const char* e, int from) const {
            if (from < 64) {
                const std::uint64_t candidates =
                    m_byFirst[static_cast<unsigned char>(*p)] & (~std::uint64_t(0) << from);
                if (candidates) {
                    const int f = __builtin_ctzll(candidates);
                    if (const std::size_t n = m_starts[f].at(p, e)) {
                        p += n;
                        return f;
                    }
                }
            }
            return m_all.matchRest(p, e, from);
        }

    private:
        const PacketFieldStarts& m_all;
        const Start* m_starts;
        const std::uint64_t* m_byFirst;
    };

private:
    int matchRest(const char*& p, const char* e, int from) const {
        if (from < 64) {
            std::uint64_t candidates =
                m_byFirst[static_cast<unsigned char>(*p)] & (~std::uint64_t(0) << from);
            candidates &= candidates - 1; // the first was tried
            while (candidates) {
                const int f = __builtin_ctzll(candidates);
                if (const std::size_t n = m_starts[std::size_t(f)].at(p, e)) {
                    p += n;
                    return f;
                }
                candidates &= candidates - 1;
            }
            if (m_starts.size() <= 64)
                return None;
        }
        for (std::size_t f = std::max<std::size_t>(std::size_t(from), 64); f < m_starts.size();
             ++f) {
            if (const std::size_t n = m_starts[f].at(p, e)) {
                p += n;
                return int(f);
            }
        }
        return None;
    }

    std::vector<Start> m_starts;
    std::uint64_t m_byFirst[256] = {}; // fields below 64 by the first byte of their name
};
