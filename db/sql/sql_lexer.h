#pragma once
// Splits the text of a record source or a statement into the tokens of Jet
// SQL. Keywords are not told apart here: a plain name is a word the parser
// compares without regard to case; a [bracketed] name is never a keyword.

#include "db/status.h"

#include <forward_list>
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
    // Name, literal text, number digits or symbol: a view into the source,
    // or, for a text whose doubled quotes were undone, into the list's own
    // copy. Valid while both the source and the token list live.
    std::u16string_view text;
    int position = 0;  // offset in the source
};

struct SqlTokens {
    std::vector<SqlToken> list;
    // The texts that differ from the source (moving the list keeps them
    // where they are, and the views on them valid).
    std::forward_list<std::u16string> undone;
};

// What is being split. A record source (and the UPDATE and DELETE
// statements, which take its conditions) takes a no-break space for a
// blank, as text pasted into the window's boxes may hold one; a
// data-definition statement keeps it as part of a name, so that a field
// name typed with one is made as typed. Messages name the text as
// "the record source" or "the statement".
enum class SqlText : uint8_t { RecordSource, DdlStatement };

// Fails with InvalidArgument on a quote, bracket or # that is not closed,
// on an empty or nested [name], and on a character that has no place in a
// statement; the message gives the place. Splitting starts at `from`, a
// place where a token starts; the positions stay those in `source`.
Result<SqlTokens> tokenizeSql(std::u16string_view source, SqlText text = SqlText::RecordSource, size_t from = 0);

}  // namespace varnika
