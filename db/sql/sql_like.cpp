#include "db/sql/sql_like.h"

#include "db/text.h"

namespace varnika {
namespace {

bool sameIgnoringCase(char16_t a, char16_t b)
{
    return a == b || toUpperChar(a) == toUpperChar(b);
}

bool inRange(char16_t c, char16_t low, char16_t high)
{
    const char16_t u = toUpperChar(c), l = toLowerChar(c);
    return (c >= low && c <= high) || (u >= low && u <= high) || (l >= low && l <= high);
}

// Whether the pattern element at p matches c; `next` is the element after it.
// Returns false with bad set when the element is a [ that is not closed.
bool matchElement(std::u16string_view pat, size_t p, char16_t c, size_t& next, bool& bad)
{
    const char16_t e = pat[p];
    if (e == u'?') {
        next = p + 1;
        return true;
    }
    if (e == u'#') {
        next = p + 1;
        return c >= u'0' && c <= u'9';
    }
    if (e != u'[') {
        next = p + 1;
        return sameIgnoringCase(e, c);
    }
    size_t i = p + 1;
    bool negate = false;
    if (i < pat.size() && pat[i] == u'!') {
        negate = true;
        ++i;
    }
    bool found = false;
    while (i < pat.size() && pat[i] != u']') {
        const char16_t low = pat[i];
        if (i + 2 < pat.size() && pat[i + 1] == u'-' && pat[i + 2] != u']') {
            if (inRange(c, low, pat[i + 2])) found = true;
            i += 3;
        } else {
            if (sameIgnoringCase(low, c)) found = true;
            ++i;
        }
    }
    if (i >= pat.size()) {
        bad = true;
        return false;
    }
    next = i + 1;
    return negate ? !found : found;
}

}  // namespace

bool isValidLikePattern(std::u16string_view pattern)
{
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != u'[') continue;
        size_t next = 0;
        bool bad = false;
        matchElement(pattern, i, u'a', next, bad);
        if (bad) return false;
        i = next - 1;
    }
    return true;
}

LikeResult likeMatch(std::u16string_view text, std::u16string_view pat)
{
    size_t t = 0, p = 0;
    size_t starP = std::u16string_view::npos, starT = 0;
    while (t < text.size()) {
        if (p < pat.size() && pat[p] == u'*') {
            starP = ++p;
            starT = t;
            continue;
        }
        if (p < pat.size()) {
            size_t next = 0;
            bool bad = false;
            const bool ok = matchElement(pat, p, text[t], next, bad);
            if (bad) return LikeResult::BadPattern;
            if (ok) {
                p = next;
                ++t;
                continue;
            }
        }
        if (starP == std::u16string_view::npos) return LikeResult::NoMatch;
        p = starP;
        t = ++starT;
    }
    while (p < pat.size() && pat[p] == u'*') ++p;
    if (p == pat.size()) return LikeResult::Match;
    return isValidLikePattern(pat) ? LikeResult::NoMatch : LikeResult::BadPattern;
}

}  // namespace varnika
