#pragma once
// Reading a record source: a bare table name, or
//   SELECT * FROM table [WHERE condition] [ORDER BY column [ASC|DESC], ...] [;]
// Keywords in any case; names plain or in [brackets]. Any other statement,
// a second statement or trailing text is refused, so that a typed condition
// can narrow a selection but never change data. Whether the table exists
// is for the caller to check.

#include "db/sql/sql_ast.h"
#include "db/status.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnika {

struct SqlOrderTerm {
    std::u16string column;
    bool descending = false;
};

struct RecordSourceQuery {
    std::u16string tableName;
    bool isStatement = false;  // false when the record source was the table name alone
    std::optional<SqlExpression> where;
    std::vector<SqlOrderTerm> orderBy;
};

// Nesting (parentheses, NOT, signs, function calls) deeper than this is
// refused, and so is a condition whose tree is deeper than
// kMaxSqlExpressionDepth, so that hostile input cannot exhaust the stack.
constexpr int kMaxSqlNesting = 100;
constexpr int kMaxSqlExpressionDepth = 300;
// Longest record source accepted.
constexpr size_t kMaxRecordSourceLength = 64 * 1024;

// Fails with InvalidArgument and a message that names the place of the
// fault for anything that is not one of the two forms above.
Result<RecordSourceQuery> parseRecordSource(std::u16string_view source);

// Parses a condition alone (what follows WHERE), for tests and tools.
Result<SqlExpression> parseSqlCondition(std::u16string_view condition);

}  // namespace varnika
