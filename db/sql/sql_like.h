#pragma once
// Jet's LIKE patterns: * any run of characters, ? one character, # one
// digit, [abc] [a-z] one of a set, [!abc] one not in it; any other
// character stands for itself. Case is ignored, as in the condition's text
// comparison. [*] [?] [#] match the sign itself.

#include <string_view>

namespace varnika {

enum class LikeResult { NoMatch, Match, BadPattern };

LikeResult likeMatch(std::u16string_view text, std::u16string_view pattern);
// False when a [ is not closed.
bool isValidLikePattern(std::u16string_view pattern);

}  // namespace varnika
