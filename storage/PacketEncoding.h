#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// How the bytes of a list file are taken as text. The reader works on UTF-8 only, so a file is
// turned into well-formed UTF-8 once, up front, before it is scanned.
namespace PacketEncoding {

// Whether every byte sequence is well-formed UTF-8: no overlong forms, no surrogates, nothing
// above U+10FFFF, no cut-off sequence at the end.
bool isWellFormedUtf8(std::string_view bytes);

// Whether the first tag (after leading whitespace) is a declaration "<?...?>" whose "encoding"
// names UTF-8; names and value compared without regard to case.
bool declaresUtf8(std::string_view bytes);

// Single-byte Windows-1252 text as UTF-8. Bytes 0x80-0x9F that the code page leaves undefined
// become the C1 controls of the same number, as the platform's own conversion does.
std::string windows1252ToUtf8(std::string_view bytes);

// UTF-8 text with every ill-formed sequence replaced by U+FFFD.
std::string repairUtf8(std::string_view bytes);

// Appends the UTF-8 form of a Unicode scalar value (not a surrogate, at most U+10FFFF).
void appendUtf8(std::string& out, char32_t codePoint);

// The text a packet is scanned as: the byte-order mark dropped, and the bytes decoded when they
// are not taken as UTF-8. A BOM or a UTF-8 declaration over well-formed bytes means UTF-8;
// anything else is Windows-1252. `storage` receives converted text and may be left empty, in
// which case the returned view points into `bytes`.
std::string_view asUtf8(std::string_view bytes, std::string& storage);

} // namespace PacketEncoding
