#pragma once
// Turkish-aware title case: the text is lowered, then its first character and
// every character after a space are raised. The dotted capital İ and the
// dotless small ı are mapped by hand, since the general case mapping pairs
// I with i.

#include <string>
#include <string_view>

namespace varnika {

// İ -> i, I -> ı, then the general lower-case mapping.
std::u16string lowerTurkish(std::u16string_view text);
// i -> İ, ı -> I, then the general upper-case mapping.
char16_t raiseTurkish(char16_t c);
// Only U+0020 starts a word; tabs, hyphens and apostrophes do not.
std::u16string titleCase(std::u16string_view text);

}  // namespace varnika
