#pragma once
// The names Jet gives its tables, fields and indexes.

#include <string_view>

namespace varnika {

// Whether a name can be a Jet column, table or index name: 1 to 64
// characters, no leading space, none of . ! ` [ ] and no control characters.
constexpr bool isValidObjectName(std::u16string_view n)
{
    constexpr size_t kMaxNameCharacters = 64;
    if (n.empty() || n.size() > kMaxNameCharacters || n.front() == u' ') return false;
    for (char16_t c : n) {
        if (c < 0x20 || c == u'.' || c == u'!' || c == u'`' || c == u'[' || c == u']') return false;
    }
    return true;
}

}  // namespace varnika
