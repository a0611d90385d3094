#pragma once
// Text helpers for the engine's UTF-16 strings: UTF-8 conversion and the
// general, language-independent simple case mapping.

#include <string>
#include <string_view>

namespace varnika {

// Invalid UTF-8 bytes become U+FFFD. Code points above U+FFFF become pairs.
std::u16string fromUtf8(std::string_view utf8);
// Lone surrogates become U+FFFD.
std::string toUtf8(std::u16string_view utf16);
// toUtf8(utf16) added to the end of `out`.
void appendUtf8(std::string& out, std::u16string_view utf16);

char16_t toUpperChar(char16_t c);
char16_t toLowerChar(char16_t c);
// Every character whose toUpperChar is `upper`, `upper` itself among them
// when it is its own capital.
std::u16string charsWithUpper(char16_t upper);
std::u16string toUpper(std::u16string_view s);
std::u16string toLower(std::u16string_view s);

// Name comparison as Jet does it for tables and columns: case does not matter.
bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b);

// Digits of a decimal integer, for building messages.
std::u16string toU16(std::string_view ascii);

}  // namespace varnika
