#include "model/CollationKeys.h"

#include <QLocale>
#include <QString>

#include <unicode/ucol.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>

// An ICU collator set up as QCollator sets up its own for a locale (ICU underneath on this
// platform): normalization on, the locale's strength (secondary when case is ignored), no
// numeric ordering, punctuation not ignored. One per thread.
class CollationKeys::Collator {
public:
    Collator(const QByteArray& locale, bool caseInsensitive) {
        UErrorCode status = U_ZERO_ERROR;
        m_collator = ucol_open(locale.constData(), &status);
        if (U_FAILURE(status)) {
            if (m_collator)
                ucol_close(m_collator);
            m_collator = nullptr; // as QCollator: every key empty, all text equal
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
    }
    ~Collator() {
        if (m_collator)
            ucol_close(m_collator);
    }
    Collator(const Collator&) = delete;
    Collator& operator=(const Collator&) = delete;

    // The key of UTF-8 text into buffer (resized as needed); its length.
    std::size_t key(std::string_view text, std::vector<char>& buffer) {
        if (!m_collator)
            return 0;
        m_text = QString::fromUtf8(text.data(), qsizetype(text.size()));
        const auto* chars = reinterpret_cast<const UChar*>(m_text.utf16());
        const auto length = std::int32_t(m_text.size());
        buffer.resize(std::max<std::size_t>(buffer.size(), 32 + 4 * m_text.size()));
        std::int32_t size = ucol_getSortKey(m_collator, chars, length,
                                            reinterpret_cast<std::uint8_t*>(buffer.data()),
                                            std::int32_t(buffer.size()));
        if (std::size_t(size) > buffer.size()) {
            buffer.resize(std::size_t(size));
            size = ucol_getSortKey(m_collator, chars, length,
                                   reinterpret_cast<std::uint8_t*>(buffer.data()), size);
        }
        return std::size_t(std::max(size, 0));
    }

private:
    UCollator* m_collator = nullptr;
    QString m_text;
};

// Bytes in blocks that never move, so that what is stored keeps its address.
class CollationKeys::ByteBlocks {
public:
    const char* store(const char* bytes, std::size_t size) {
        if (size == 0)
            return ""; // never null: a key's null address means it was not made yet
        if (std::size_t(m_end - m_cursor) < size) {
            const std::size_t block = std::max<std::size_t>(size, std::size_t(1) << 20);
            m_blocks.push_back(std::make_unique<char[]>(block));
            m_cursor = m_blocks.back().get();
            m_end = m_cursor + block;
        }
        char* at = m_cursor;
        std::memcpy(at, bytes, size);
        m_cursor += size;
        return at;
    }
    void take(ByteBlocks&& other) {
        for (auto& block : other.m_blocks)
            m_blocks.push_back(std::move(block));
        other.m_blocks.clear();
        other.m_cursor = other.m_end = nullptr;
    }

private:
    std::vector<std::unique_ptr<char[]>> m_blocks;
    char* m_cursor = nullptr;
    char* m_end = nullptr;
};

namespace {

std::uint64_t keyPrefix(const char* key, std::size_t size) {
    std::uint64_t prefix = 0;
    for (std::size_t i = 0; i < 8; ++i)
        prefix = prefix << 8 | (i < size ? static_cast<unsigned char>(key[i]) : 0u);
    return prefix;
}

} // namespace

CollationKeys::CollationKeys(int field, bool caseInsensitive)
    : m_field(field), m_caseInsensitive(caseInsensitive), m_store(std::make_unique<ByteBlocks>()) {
    const QLocale locale;
    m_bytewise = locale.language() == QLocale::C;
    m_locale = locale.bcp47Name().replace(u'-', u'_').toLatin1();
}

CollationKeys::~CollationKeys() = default;

CollationKeys::Collator* CollationKeys::ownCollator() {
    if (m_bytewise)
        return nullptr;
    if (!m_collator)
        m_collator = std::make_unique<Collator>(m_locale, m_caseInsensitive);
    return m_collator.get();
}

void CollationKeys::grow(std::size_t versions) {
    if (m_keys.size() < versions)
        m_keys.resize(versions);
}

int CollationKeys::compare(const Key& a, const Key& b) {
    const int c = std::memcmp(a.bytes, b.bytes, std::min(a.size, b.size));
    if (c != 0)
        return c;
    return a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
}

// Makes the key of text into slot, with the given collator (none for byte order).
void CollationKeys::makeKey(Collator* collator, std::string_view text, std::vector<char>& buffer,
                            ByteBlocks& store, Key& slot) {
    std::size_t size = text.size();
    const char* bytes = text.data();
    if (collator) {
        size = collator->key(text, buffer);
        bytes = buffer.data();
    }
    slot.bytes = store.store(bytes, size);
    slot.size = std::uint32_t(size);
    slot.prefix = keyPrefix(bytes, size);
}

const CollationKeys::Key& CollationKeys::key(const std::vector<RowData>& versions,
                                             std::uint32_t version) {
    grow(versions.size());
    Key& slot = m_keys[version];
    if (!slot.bytes)
        makeKey(ownCollator(), versions[version].raw(m_field), m_buffer, *m_store, slot);
    return slot;
}

void CollationKeys::forget(std::uint32_t version) {
    if (version < m_keys.size())
        m_keys[version] = Key();
}

void CollationKeys::make(const std::vector<RowData>& versions,
                         const std::vector<std::uint32_t>& which) {
    grow(versions.size());
    std::vector<std::uint32_t> missing;
    for (const std::uint32_t v : which)
        if (!m_keys[v].bytes && !versions[v].isNull(m_field))
            missing.push_back(v);
    if (missing.empty())
        return;
    auto makeOn = [&](Collator* collator, std::vector<char>& buffer, ByteBlocks& store,
                      std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            const std::uint32_t v = missing[i];
            makeKey(collator, versions[v].raw(m_field), buffer, store, m_keys[v]);
        }
    };
    // A collation key takes about a microsecond to make: the keys of a large list are shared
    // out among the processors, each with a collator of its own writing its own slots.
    constexpr std::size_t PerThread = 16384;
    const std::size_t threads =
        m_bytewise ? 1
                   : std::min<std::size_t>({std::max(1u, std::thread::hardware_concurrency()), 4,
                                            missing.size() / PerThread + 1});
    std::vector<ByteBlocks> stores(threads);
    std::vector<std::exception_ptr> failures(threads);
    std::vector<std::thread> helpers;
    helpers.reserve(threads);
    const std::size_t share = (missing.size() + threads - 1) / threads;
    std::size_t shared = share; // the keys from here on are being made by another thread
    for (std::size_t t = 1; t < threads; ++t) {
        const std::size_t from = t * share;
        const std::size_t to = std::min(missing.size(), from + share);
        try {
            helpers.emplace_back([&, t, from, to] {
                try {
                    Collator collator(m_locale, m_caseInsensitive);
                    std::vector<char> buffer;
                    makeOn(&collator, buffer, stores[t], from, to);
                } catch (...) {
                    failures[t] = std::current_exception();
                }
            });
            shared = to;
        } catch (const std::system_error&) {
            break; // no more threads: this one makes the rest
        }
    }
    try {
        makeOn(ownCollator(), m_buffer, stores[0], 0, share);
        makeOn(ownCollator(), m_buffer, stores[0], shared, missing.size());
    } catch (...) {
        failures[0] = std::current_exception();
    }
    for (std::thread& helper : helpers)
        helper.join();
    for (ByteBlocks& store : stores)
        m_store->take(std::move(store));
    for (const std::exception_ptr& failure : failures)
        if (failure)
            std::rethrow_exception(failure);
}
