#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// How the bytes of a list file are taken as text. The reader works on UTF-8 only, so a file is
// turned into well-formed UTF-8 once, up front, before it is scanned.
namespace PacketEncoding {

// Whether a and b are the same text with ASCII letters compared without regard to case.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

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

// Text meant as UTF-8 that is not wholly so: its well-formed sequences as they are, and each
// byte that is not part of one as the Windows-1252 character of that byte.
std::string mendUtf8(std::string_view bytes);

// Appends the UTF-8 form of a Unicode scalar value (not a surrogate, at most U+10FFFF).
void appendUtf8(std::string& out, char32_t codePoint);
// The same written at out (up to four bytes); returns the end of what was written.
char* writeUtf8(char* out, char32_t codePoint);

// How the bytes of a packet are taken as text. A byte-order mark, or a declaration naming
// UTF-8, asks for UTF-8; that holds only when every byte sequence is well-formed, which the
// reader checks as it scans rather than in a pass of its own, falling back when it is not.
struct Reading {
    enum class Fallback {
        None,        // text is well-formed UTF-8 already
        Windows1252, // ill-formed: each byte outside a UTF-8 sequence is single-byte text
        Repair,      // ill-formed after a byte-order mark: replace what is ill-formed
    };
    std::string_view text; // the byte-order mark dropped
    Fallback fallback = Fallback::None;
};

// Decides how bytes are read. Text without a BOM or a UTF-8 declaration is Windows-1252, which
// is converted into `storage` (plain ASCII reads the same either way and is left in place).
Reading classify(std::string_view bytes, std::string& storage);

// The text to scan instead when reading.text proves ill-formed.
std::string fallbackText(const Reading& reading);

} // namespace PacketEncoding
