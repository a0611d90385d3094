#pragma once
// Splits the text of a record source into the tokens of Jet SQL. Keywords
// are not told apart here: a plain name is a word the parser compares
// without regard to case; a [bracketed] name is never a keyword.

#include "db/status.h"

#include <string>
#include <string_view>
#include <vector>

namespace varnika {

enum class SqlTokenKind : uint8_t {
    Word,       // plain name or keyword
    Bracketed,  // [name]
    String,     // 'text' or "text", quotes undone
    Number,     // 12, 1.5, 2E3
    Date,       // #...#, the text between the signs
    Symbol,     // = <> < > <= >= + - * / \ ^ & ( ) , . ;
    End,
};

struct SqlToken {
    SqlTokenKind kind = SqlTokenKind::End;
    std::u16string text;  // name, literal text, number digits or symbol
    int position = 0;     // offset in the source
};

// Fails with InvalidArgument on a quote, bracket or # that is not closed
// and on a character that has no place in a statement.
Result<std::vector<SqlToken>> tokenizeSql(std::u16string_view source);

}  // namespace varnika
