#include "ops/title_case.h"

#include "db/text.h"

namespace varnika {

namespace {
constexpr char16_t kCapitalDottedI = u'\u0130';  // İ
constexpr char16_t kSmallDotlessI = u'\u0131';   // ı
}  // namespace

std::u16string lowerTurkish(std::u16string_view text)
{
    std::u16string s(text);
    for (char16_t& c : s) {
        if (c == kCapitalDottedI) c = u'i';
        else if (c == u'I') c = kSmallDotlessI;
        else c = toLowerChar(c);
    }
    return s;
}

char16_t raiseTurkish(char16_t c)
{
    if (c == u'i') return kCapitalDottedI;
    if (c == kSmallDotlessI) return u'I';
    return toUpperChar(c);
}

std::u16string titleCase(std::u16string_view text)
{
    std::u16string s = lowerTurkish(text);
    if (s.empty()) return s;
    s[0] = raiseTurkish(s[0]);
    for (size_t pos = s.find(u' '); pos != std::u16string::npos; pos = s.find(u' ', pos + 1)) {
        if (pos + 1 < s.size()) s[pos + 1] = raiseTurkish(s[pos + 1]);
    }
    return s;
}

}  // namespace varnika
