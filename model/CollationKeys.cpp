#include "model/CollationKeys.h"

#include <QLocale>
#include <QString>

#include <unicode/ucol.h>
#include <unicode/uset.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace {

// How many primary ranks a text keeps at most.
constexpr std::size_t MaxRanks = 32;

int sign(int value) {
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

// Byte by byte, a text that is the start of another first.
int compareBytes(std::string_view a, std::string_view b) {
    const int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
    if (c != 0)
        return sign(c);
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

} // namespace

// The primary ranks of the code points below Size (ASCII and the Latin letters after it) in
// one locale: how many a character has (none for one without a primary weight, Unsupported for
// one the table cannot stand for) and which. A character stands in the table when its primary
// weights are those of one or two ASCII characters and it does not continue a contraction of
// the locale that starts in the table; the ASCII characters' weights are ranked in their
// order. Texts then order at the first level as their rank sequences do, as long as they keep
// to the table.
struct RankTable {
    static constexpr unsigned Size = 0x250;
    static constexpr std::uint8_t Unsupported = 0xFF;
    static constexpr std::uint8_t Slow = 0xFE; // in `ascii`: ask count, ranks and starts

    std::uint8_t count[Size];
    std::uint8_t ranks[Size][2] = {};
    // A contraction of the locale starts with the code point: its ranks hold only when the
    // next character stands in the table.
    bool starts[Size] = {};
    // An ASCII character's one rank, 0 for none, or Slow.
    std::uint8_t ascii[0x80];

    explicit RankTable(const UCollator* collator) {
        std::fill(std::begin(count), std::end(count), Unsupported);
        std::fill(std::begin(ascii), std::end(ascii), Slow);
        if (!collator)
            return;
        std::map<std::string, int> rankOf;
        for (unsigned c = 0; c < 0x80; ++c)
            if (const std::string primary = primaryOf(collator, c); !primary.empty())
                rankOf.emplace(primary, 0);
        int rank = 0;
        for (auto& entry : rankOf)
            entry.second = ++rank;
        if (rank >= Slow)
            return;
        bool continues[Size] = {};
        UErrorCode status = U_ZERO_ERROR;
        USet* contractions = uset_openEmpty();
        ucol_getContractionsAndExpansions(collator, contractions, nullptr, true, &status);
        UChar text[64];
        for (std::int32_t i = 0; U_SUCCESS(status) && i < uset_getItemCount(contractions); ++i) {
            UChar32 start = 0;
            UChar32 end = 0;
            UErrorCode itemStatus = U_ZERO_ERROR;
            const std::int32_t length =
                uset_getItem(contractions, i, &start, &end, text, 64, &itemStatus);
            if (length < 2 || length > 64 || text[0] >= Size)
                continue; // a contraction that starts outside the table is never reached
            starts[text[0]] = true;
            for (std::int32_t k = 1; k < length; ++k)
                if (text[k] < Size)
                    continues[text[k]] = true;
        }
        uset_close(contractions);
        if (U_FAILURE(status))
            return;
        for (unsigned c = 0; c < Size; ++c) {
            if (continues[c])
                continue;
            const std::string primary = primaryOf(collator, c);
            if (primary.empty()) {
                count[c] = 0;
            } else if (const auto one = rankOf.find(primary); one != rankOf.end()) {
                count[c] = 1;
                ranks[c][0] = std::uint8_t(one->second);
            } else {
                for (const auto& [first, firstRank] : rankOf) {
                    const auto second = primary.compare(0, first.size(), first) == 0
                                            ? rankOf.find(primary.substr(first.size()))
                                            : rankOf.end();
                    if (second != rankOf.end()) {
                        count[c] = 2;
                        ranks[c][0] = std::uint8_t(firstRank);
                        ranks[c][1] = std::uint8_t(second->second);
                        break;
                    }
                }
            }
            if (c < 0x80 && !starts[c] && count[c] <= 1)
                ascii[c] = count[c] ? ranks[c][0] : 0;
        }
    }

    // The primary weights of one character: its sort key up to the level separator.
    static std::string primaryOf(const UCollator* collator, unsigned codePoint) {
        const UChar text = UChar(codePoint);
        std::uint8_t key[64];
        const std::int32_t size = ucol_getSortKey(collator, &text, 1, key, sizeof key);
        std::string primary;
        for (std::int32_t i = 0; i < std::min<std::int32_t>(size, sizeof key) && key[i] != 1; ++i)
            primary += char(key[i]);
        return primary;
    }

    // The table of a locale, made once for all the lists and orders of the program.
    static std::shared_ptr<const RankTable> of(const QByteArray& locale,
                                               const UCollator* collator) {
        static std::mutex guard;
        static std::map<QByteArray, std::shared_ptr<const RankTable>> tables;
        const std::lock_guard<std::mutex> lock(guard);
        auto& table = tables[locale];
        if (!table)
            table = std::make_shared<const RankTable>(collator);
        return table;
    }
};

// An ICU collator set up as QCollator sets up its own for a locale (ICU underneath on this
// platform): normalization on, the locale's strength (secondary when case is ignored), no
// numeric ordering, punctuation not ignored; with the locale's table of primary ranks.
class CollationKeys::Collator {
public:
    Collator(const QByteArray& locale, bool caseInsensitive) {
        UErrorCode status = U_ZERO_ERROR;
        m_collator = ucol_open(locale.constData(), &status);
        if (U_FAILURE(status)) {
            if (m_collator)
                ucol_close(m_collator);
            m_collator = nullptr; // as QCollator: all text equal
            m_table = std::make_shared<const RankTable>(nullptr);
            return;
        }
        const std::pair<UColAttribute, UColAttributeValue> settings[] = {
            {UCOL_NORMALIZATION_MODE, UCOL_ON},
            {UCOL_STRENGTH, caseInsensitive ? UCOL_SECONDARY : UCOL_DEFAULT_STRENGTH},
            {UCOL_NUMERIC_COLLATION, UCOL_OFF},
            {UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE},
        };
        for (const auto& [attribute, value] : settings) {
            status = U_ZERO_ERROR;
            ucol_setAttribute(m_collator, attribute, value, &status);
        }
        m_table = RankTable::of(locale, m_collator);
    }
    ~Collator() {
        if (m_collator)
            ucol_close(m_collator);
    }
    Collator(const Collator&) = delete;
    Collator& operator=(const Collator&) = delete;

    int compare(std::string_view a, std::string_view b) const {
        if (!m_collator)
            return 0;
        UErrorCode status = U_ZERO_ERROR;
        return sign(ucol_strcollUTF8(m_collator, a.data(), std::int32_t(a.size()), b.data(),
                                     std::int32_t(b.size()), &status));
    }
    const RankTable& table() const { return *m_table; }

private:
    UCollator* m_collator = nullptr;
    std::shared_ptr<const RankTable> m_table;
};

// Bytes in blocks that never move, so that what is stored keeps its address.
class CollationKeys::ByteBlocks {
public:
    const std::uint8_t* store(const std::uint8_t* bytes, std::size_t size) {
        static const std::uint8_t none = 0;
        if (size == 0)
            return &none; // never null: a key's null address means it was not made yet
        if (std::size_t(m_end - m_cursor) < size) {
            const std::size_t block = std::max<std::size_t>(size, std::size_t(1) << 20);
            m_blocks.push_back(std::make_unique<std::uint8_t[]>(block));
            m_cursor = m_blocks.back().get();
            m_end = m_cursor + block;
        }
        std::uint8_t* at = m_cursor;
        std::memcpy(at, bytes, size);
        m_cursor += size;
        return at;
    }

private:
    std::vector<std::unique_ptr<std::uint8_t[]>> m_blocks;
    std::uint8_t* m_cursor = nullptr;
    std::uint8_t* m_end = nullptr;
};

CollationKeys::CollationKeys(int field, bool caseInsensitive)
    : m_field(field), m_caseInsensitive(caseInsensitive), m_store(std::make_unique<ByteBlocks>()) {
    const QLocale locale;
    m_bytewise = locale.language() == QLocale::C;
    if (!m_bytewise)
        m_collator = std::make_unique<Collator>(locale.bcp47Name().replace(u'-', u'_').toLatin1(),
                                                caseInsensitive);
}

CollationKeys::~CollationKeys() = default;

// A slot for a version's key, with room for `more` keys to follow: moving every key of a large
// list to make room for a few new ones would cost more than making theirs.
CollationKeys::Key& CollationKeys::newKey(std::uint32_t version, std::size_t more) {
    if (m_slot.size() <= version) {
        const std::size_t versions = std::size_t(version) + 1;
        if (m_slot.capacity() < versions)
            m_slot.reserve(versions + versions / 4 + 1024);
        m_slot.resize(versions, 0);
    }
    if (m_keys.capacity() < m_keys.size() + more)
        m_keys.reserve(m_keys.size() + more + more / 4 + 1024);
    m_keys.emplace_back();
    m_slot[version] = std::uint32_t(m_keys.size());
    return m_keys.back();
}

void CollationKeys::makeKey(std::string_view text, Key& slot) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::size_t size = text.size();
    std::uint8_t ranks[MaxRanks];
    std::size_t length = 0;
    bool complete = true;
    if (m_bytewise) {
        length = std::min<std::size_t>(size, 16);
        std::memcpy(ranks, bytes, length);
        complete = size <= 16;
    } else {
        const RankTable& table = m_collator->table();
        // The code point at i and its length in bytes; 0 for one past the table's end.
        auto next = [&](std::size_t i, unsigned& codePoint) -> std::size_t {
            codePoint = bytes[i];
            if (codePoint < 0x80)
                return 1;
            if (codePoint >= 0xC2 && codePoint <= 0xC9 && i + 1 < size &&
                (bytes[i + 1] & 0xC0) == 0x80) {
                codePoint = (codePoint & 0x1F) << 6 | (bytes[i + 1] & 0x3F);
                return codePoint < RankTable::Size ? 2 : 0;
            }
            return 0;
        };
        auto inTable = [&](std::size_t i) {
            unsigned codePoint = 0;
            return i >= size ||
                   (next(i, codePoint) && table.count[codePoint] != RankTable::Unsupported);
        };
        std::size_t i = 0;
        while (i < size && length < MaxRanks) {
            if (bytes[i] < 0x80 && table.ascii[bytes[i]] != RankTable::Slow) {
                if (const std::uint8_t rank = table.ascii[bytes[i]])
                    ranks[length++] = rank;
                ++i;
                continue;
            }
            unsigned codePoint = 0;
            const std::size_t step = next(i, codePoint);
            const std::uint8_t count = step ? table.count[codePoint] : RankTable::Unsupported;
            if (count == RankTable::Unsupported || length + count > MaxRanks ||
                (table.starts[codePoint] && !inTable(i + step))) {
                complete = false;
                break;
            }
            for (std::uint8_t k = 0; k < count; ++k)
                ranks[length++] = table.ranks[codePoint][k];
            i += step;
        }
        if (i < size) // the ranks ran out, or a character the table cannot stand for
            complete = false;
    }
    std::uint64_t head[2] = {0, 0};
    for (std::size_t i = 0; i < 16; ++i)
        head[i / 8] = head[i / 8] << 8 | (i < length ? ranks[i] : 0u);
    slot.ranks = m_store->store(ranks, length);
    slot.length = std::uint8_t(length);
    slot.complete = complete;
    slot.head[0] = head[0];
    slot.head[1] = head[1];
}

const CollationKeys::Key& CollationKeys::key(const std::vector<RowData>& versions,
                                             std::uint32_t version) {
    if (!isMade(version))
        makeKey(versions[version].raw(m_field), newKey(version, 1));
    return made(version);
}

void CollationKeys::forget(std::uint32_t version) {
    if (version < m_slot.size())
        m_slot[version] = 0;
}

void CollationKeys::make(const std::vector<RowData>& versions,
                         const std::vector<std::uint32_t>& which) {
    // The versions wanted, marked and then taken in ascending order.
    std::vector<bool> wanted(versions.size(), false);
    std::size_t count = 0;
    for (const std::uint32_t v : which)
        if (!isMade(v) && !wanted[v]) {
            wanted[v] = true;
            ++count;
        }
    for (std::uint32_t v = 0; count > 0; ++v) {
        if (!wanted[v])
            continue;
        if (!versions[v].isNull(m_field))
            makeKey(versions[v].raw(m_field), newKey(v, count));
        --count;
    }
}

int CollationKeys::compare(const std::vector<RowData>& versions, std::uint32_t a, const Key& x,
                           std::uint32_t b, const Key& y) const {
    if (m_bytewise)
        return compareBytes(versions[a].raw(m_field), versions[b].raw(m_field));
    // The first primary weight that differs decides; a text whose weights all came before
    // the other's end comes first.
    const int c = std::memcmp(x.ranks, y.ranks, std::min(x.length, y.length));
    if (c != 0)
        return sign(c);
    if (x.length < y.length && x.complete)
        return -1;
    if (y.length < x.length && y.complete)
        return 1;
    return m_collator->compare(versions[a].raw(m_field), versions[b].raw(m_field));
}
