#pragma once
// The statements that change records, carried out through the record-set
// path the window uses:
//   UPDATE t SET c = v [, c = v ...] [WHERE condition]
//   DELETE [*] FROM t [WHERE condition]
// The condition is any condition a record source takes, and selects the
// same records (jet/query_executor.h); each value is a constant: 'text', a
// number, #date#, True, False, Yes, No or Null. Each record is changed as
// one unit by the table writer, so every index stays consistent.

#include "db/sql/sql_parser.h"
#include "db/regional_settings.h"
#include "db/status.h"
#include "db/variant.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace varnika {

namespace jet { class Database; }

struct FieldAssignment {
    std::u16string column;
    Variant value;             // a #date# keeps its text, with dateLiteral set
    bool dateLiteral = false;
};

struct UpdateStatement {
    RecordSourceQuery selection;  // the table and the WHERE condition
    std::vector<FieldAssignment> assignments;
};

struct DeleteStatement {
    RecordSourceQuery selection;
};

using DataStatement = std::variant<UpdateStatement, DeleteStatement>;

// Whether the statement's first word is UPDATE or DELETE.
bool isDataStatement(std::u16string_view text);

// Fails with InvalidArgument, naming the place, for anything else.
Result<DataStatement> parseDataStatement(std::u16string_view text);

// Carries out the statement on `db` and returns how many records it
// selected (all of them changed or deleted). Every value is converted to
// its field's type, and the fields named are checked, before anything is
// written: a value that does not fit changes nothing. A failure while the
// records are written (a unique index refusing a value, a full disk) stops
// there; the records changed before it stay changed, as in the window, and
// the message says how many they are.
Result<int64_t> executeDataStatement(const std::shared_ptr<jet::Database>& db, const DataStatement& statement,
                                     const RegionalSettings& settings);

}  // namespace varnika
