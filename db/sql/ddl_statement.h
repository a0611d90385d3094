#pragma once
// The statements that change a database's structure or add rows:
//   ALTER TABLE t ADD [COLUMN] c type [(size)] [NOT NULL] [DEFAULT v]
//   CREATE TABLE t (c type [(size)] [NOT NULL] [PRIMARY KEY] [UNIQUE], ...
//                   [, [CONSTRAINT n] PRIMARY KEY (c, ...)] [, UNIQUE (c, ...)])
//   CREATE [UNIQUE] INDEX n ON t (c [ASC|DESC], ...) [WITH PRIMARY]
//   INSERT INTO t [(c, ...)] VALUES (v, ...)
// Parsing only: the statements are carried out by the database.

#include "db/column_type.h"
#include "db/object_name.h"
#include "db/status.h"
#include "db/variant.h"

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace varnika::jet {

struct ColumnSpec {
    std::u16string name;
    ColumnType type = ColumnType::Text;
    int size = 0;            // Text: characters; Binary: bytes; 0 = the type's default
    bool autoNumber = false; // COUNTER / AUTOINCREMENT
    bool notNull = false;
    bool primaryKey = false;
    bool unique = false;
    std::optional<std::u16string> defaultText;  // as written after DEFAULT
};

struct IndexColumnSpec {
    std::u16string name;
    bool ascending = true;
};

struct IndexSpec {
    std::u16string name;
    std::vector<IndexColumnSpec> columns;
    bool unique = false;
    bool primaryKey = false;
};

struct AlterTableAddColumn {
    std::u16string table;
    ColumnSpec column;
};

struct CreateTable {
    std::u16string table;
    std::vector<ColumnSpec> columns;
    std::vector<IndexSpec> indexes;  // from PRIMARY KEY / UNIQUE clauses and column constraints
};

struct CreateIndex {
    std::u16string table;
    IndexSpec index;
};

struct InsertInto {
    std::u16string table;
    std::vector<std::u16string> columns;  // empty: every column in order
    std::vector<Variant> values;          // literals; text of #dates# is kept as Text with dateLiteral set
    std::vector<bool> dateLiteral;
};

using DdlStatement = std::variant<AlterTableAddColumn, CreateTable, CreateIndex, InsertInto>;

// Parses one statement. Anything else, or trailing text, is InvalidArgument
// with a message that says where the statement went wrong.
Result<DdlStatement> parseDdlStatement(std::u16string_view text);

// Parses statements one after another, each as parseDdlStatement does. A
// script of inserts names the same table and fields, in the same words, on
// every line: when a statement's text up to its values list is the last
// INSERT's, only the values are read again.
class DdlStatementParser {
public:
    Result<DdlStatement> parse(std::u16string_view text);

private:
    std::u16string m_insertHead;  // the last INSERT's text before its values list
    InsertInto m_insert;          // its table and fields
};

// The column type a type word names: Jet's own words (LONG, TEXT, DATETIME,
// COUNTER, ...) and the names Access shows (Long, Date/Time, Memo, ...).
// Returns nothing for an unknown word.
struct TypeWord {
    ColumnType type;
    int defaultSize;  // Text characters / Binary bytes; 0 otherwise
    bool autoNumber;
};
std::optional<TypeWord> lookupTypeWord(std::u16string_view word);

}  // namespace varnika::jet
