// Text conversions between the 8-bit system code page (UTF-8 here) and
// UTF-16, and the case rules the engine uses for names.
//
// Conversions are total: invalid UTF-8 and unpaired surrogates become U+FFFD
// (wide) or '?' (8-bit). Each maximal run of bytes that starts a valid
// sequence but cannot be completed becomes one U+FFFD; any other invalid
// byte (a stray continuation byte, C0, C1, F5..FF, or a byte that would make
// an overlong form, an encoded surrogate or a value above U+10FFFF) becomes
// one U+FFFD of its own. A length limit is applied at a character boundary,
// never through a character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velk::platform {

std::u16string toUtf16(std::string_view utf8);
std::string toUtf8(std::u16string_view utf16);

// As above, but the result holds at most maxUnits UTF-16 units / maxBytes
// bytes; the cut falls before the first character that would not fit.
std::u16string toUtf16(std::string_view utf8, std::size_t maxUnits);
std::string toUtf8(std::u16string_view utf16, std::size_t maxBytes);

// The first maxUnits units of a UTF-16 text (all of it when it is shorter);
// a cut that would keep the high half of a surrogate pair falls before it.
std::u16string_view cutUtf16(std::u16string_view text, std::size_t maxUnits);

// True when the bytes are well-formed UTF-8 (the conversions above change
// nothing in them).
bool isValidUtf8(std::string_view text);

// Length of a zero-terminated UTF-16 text (0 for null).
std::size_t u16length(const char16_t* text);

// ASCII-only upper-casing: bytes >= 0x80 are left alone, so UTF-8 survives.
void upperAsciiInPlace(std::string& text);
char upperAscii(char c);

// UTF-16 unit folded to lower case: ASCII, Latin-1, Latin Extended-A/B,
// Greek and Cyrillic at least, from a table (not the C locale).
char16_t foldCase(char16_t unit);
bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b);

}  // namespace velk::platform

namespace velk::platform {
// The whole text folded unit by unit with foldCase: two names are equal
// under equalsIgnoreCase exactly when their folded forms are equal.
std::u16string foldCase(std::u16string_view text);
}  // namespace velk::platform
