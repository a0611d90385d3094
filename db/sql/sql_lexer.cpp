#include "db/sql/sql_lexer.h"

#include "db/text.h"

namespace varnika {
namespace {

bool isSpace(char16_t c, SqlText text)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || (c == 0x00A0 && text == SqlText::RecordSource);
}

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

bool isWordStart(char16_t c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_' || c >= 0x80;
}

bool isWordChar(char16_t c)
{
    return isWordStart(c) || isDigit(c);
}

bool isSymbolChar(char16_t c)
{
    switch (c) {
    case u'=': case u'<': case u'>': case u'+': case u'-': case u'*': case u'/': case u'\\':
    case u'^': case u'&': case u'(': case u')': case u',': case u'.': case u';':
        return true;
    default:
        return false;
    }
}

Status syntaxError(SqlText text, std::string what, int position)
{
    if (text == SqlText::DdlStatement)
        return invalidArgument("syntax error in the statement at position " + std::to_string(position + 1) + ": " + what);
    return invalidArgument("syntax error in the record source: " + what + " at position " + std::to_string(position + 1));
}

}  // namespace

Result<SqlTokens> tokenizeSql(std::u16string_view s, SqlText text, size_t from)
{
    SqlTokens out;
    std::vector<SqlToken>& tokens = out.list;
    size_t i = std::min(from, s.size());
    tokens.reserve((s.size() - i) / 4 + 2);  // about as many as a statement of short words has
    while (true) {
        while (i < s.size() && isSpace(s[i], text)) ++i;
        SqlToken t;
        t.position = static_cast<int>(i);
        if (i >= s.size()) {
            t.kind = SqlTokenKind::End;
            tokens.push_back(t);
            return out;
        }
        const char16_t c = s[i];
        if (isWordStart(c)) {
            size_t j = i;
            while (j < s.size() && isWordChar(s[j])) ++j;
            t.kind = SqlTokenKind::Word;
            t.text = s.substr(i, j - i);
            i = j;
        } else if (c == u'[') {
            const size_t close = s.find(u']', i + 1);
            if (close == std::u16string_view::npos)
                return syntaxError(text, "the bracket that opens a name is not closed", t.position);
            t.kind = SqlTokenKind::Bracketed;
            t.text = s.substr(i + 1, close - i - 1);
            if (t.text.empty()) return syntaxError(text, "empty name in brackets", t.position);
            if (t.text.find(u'[') != std::u16string_view::npos)
                return syntaxError(text, "a bracket inside a bracketed name", t.position);
            i = close + 1;
        } else if (c == u'\'' || c == u'"') {
            t.kind = SqlTokenKind::String;
            size_t j = i + 1, run = j;  // the characters from `run` on are taken as they stand
            bool closed = false;
            std::u16string* undone = nullptr;  // made at the first doubled quote
            while (j < s.size()) {
                if (s[j] != c) {
                    ++j;
                    continue;
                }
                if (j + 1 < s.size() && s[j + 1] == c) {  // a doubled quote stands for one
                    if (!undone) undone = &out.undone.emplace_front();
                    undone->append(s.substr(run, j - run));
                    undone->push_back(c);
                    j += 2;
                    run = j;
                    continue;
                }
                if (undone) {
                    undone->append(s.substr(run, j - run));
                    t.text = *undone;
                } else {
                    t.text = s.substr(run, j - run);
                }
                closed = true;
                ++j;
                break;
            }
            if (!closed) return syntaxError(text, "the text that starts here has no closing quote", t.position);
            i = j;
        } else if (c == u'#') {
            const size_t close = s.find(u'#', i + 1);
            if (close == std::u16string_view::npos)
                return syntaxError(text, "the date that starts here has no closing #", t.position);
            t.kind = SqlTokenKind::Date;
            t.text = s.substr(i + 1, close - i - 1);
            i = close + 1;
        } else if (isDigit(c) || (c == u'.' && i + 1 < s.size() && isDigit(s[i + 1]))) {
            size_t j = i;
            while (j < s.size() && isDigit(s[j])) ++j;
            if (j < s.size() && s[j] == u'.') {
                ++j;
                while (j < s.size() && isDigit(s[j])) ++j;
            }
            if (j < s.size() && (s[j] == u'E' || s[j] == u'e')) {
                size_t k = j + 1;
                if (k < s.size() && (s[k] == u'+' || s[k] == u'-')) ++k;
                if (k < s.size() && isDigit(s[k])) {
                    while (k < s.size() && isDigit(s[k])) ++k;
                    j = k;
                }
            }
            if (j < s.size() && isWordChar(s[j])) return syntaxError(text, "a number runs into a name", t.position);
            t.kind = SqlTokenKind::Number;
            t.text = s.substr(i, j - i);
            i = j;
        } else {
            t.kind = SqlTokenKind::Symbol;
            const char16_t next = i + 1 < s.size() ? s[i + 1] : 0;
            if ((c == u'<' && (next == u'>' || next == u'=')) || (c == u'>' && next == u'=')) {
                t.text = s.substr(i, 2);
                i += 2;
            } else if (isSymbolChar(c)) {
                t.text = s.substr(i, 1);
                ++i;
            } else {
                return syntaxError(text, std::string("unexpected character \"").append(toUtf8(s.substr(i, 1))) + "\"", t.position);
            }
        }
        tokens.push_back(t);
    }
}

}  // namespace varnika
