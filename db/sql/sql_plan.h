#pragma once
// Private details of a bound query: the condition's tree with names
// resolved, and the evaluator's value. Used only by the sql_*.cpp files.

#include "db/sql/sql_ast.h"
#include "db/sql/sql_query.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnika {

// A value during evaluation. Text is a view: into the row's own value, a
// literal of the plan, or the scratch buffer of the node that made it, so
// evaluating a row copies no text it does not have to build.
struct EvalValue {
    enum class Kind : uint8_t { Null, Boolean, Integer, Currency, Double, Date, Text, Other };
    Kind kind = Kind::Null;
    bool b = false;
    int64_t i = 0;  // Integer value, or Currency ticks
    double d = 0;   // Double value, or Date serial
    std::u16string_view text;

    static EvalValue null() { return {}; }
    static EvalValue boolean(bool v) { EvalValue r; r.kind = Kind::Boolean; r.b = v; return r; }
    static EvalValue integer(int64_t v) { EvalValue r; r.kind = Kind::Integer; r.i = v; return r; }
    static EvalValue currency(int64_t ticks) { EvalValue r; r.kind = Kind::Currency; r.i = ticks; return r; }
    static EvalValue dbl(double v) { EvalValue r; r.kind = Kind::Double; r.d = v; return r; }
    static EvalValue date(double v) { EvalValue r; r.kind = Kind::Date; r.d = v; return r; }
    static EvalValue textView(std::u16string_view v) { EvalValue r; r.kind = Kind::Text; r.text = v; return r; }
    bool isNull() const { return kind == Kind::Null; }
    bool isNumeric() const { return kind >= Kind::Boolean && kind <= Kind::Date; }
};

// What a node gives, as far as binding can tell.
enum class StaticKind : uint8_t { Unknown, Null, Boolean, Number, Date, Text, Binary };

enum class SqlFunction : uint8_t {
    None, Len, Left, Right, Mid, UCase, LCase, Trim, LTrim, RTrim, InStr, Replace,
    Year, Month, Day, Hour, Minute, Second, Date, Now, DateSerial, DateValue,
    Int, Fix, Abs, Round, Val, CStr, CInt, CLng, CDbl, CCur, CDate, IsNull, Nz, IIf,
};

struct SqlFunctionInfo {
    std::u16string_view name;
    SqlFunction id;
    int minArgs;
    int maxArgs;
    StaticKind result;
};

// Nullptr when no function has that name (case ignored).
const SqlFunctionInfo* findSqlFunction(std::u16string_view name);

struct BoundNode {
    SqlOp op = SqlOp::Literal;
    bool negated = false;
    SqlFunction function = SqlFunction::None;
    StaticKind kind = StaticKind::Unknown;
    int firstChild = 0;
    int childCount = 0;
    int position = 0;
    int column = -1;
    // Literal: kind and numbers in `literal`, its text in `literalText`.
    EvalValue literal;
    std::u16string literalText;
    // Text built while evaluating, reused from row to row.
    mutable std::u16string scratch;
    mutable std::vector<std::u16string> argText;
};

class QueryPlan {
public:
    std::u16string table;
    std::vector<SqlColumn> columns;
    RegionalSettings settings;
    double now = 0;
    std::vector<BoundNode> nodes;
    std::vector<int> children;
    int root = -1;
    std::vector<std::pair<int, bool>> order;  // column, descending

    int child(const BoundNode& n, int k) const { return children[static_cast<size_t>(n.firstChild + k)]; }

    // Evaluates node `index` over the row; false with `error` set on failure.
    bool eval(int index, RowValues row, EvalValue& out, Status& error) const;
    bool callFunction(const BoundNode& n, RowValues row, EvalValue& out, Status& error) const;
    bool arithmetic(const BoundNode& n, const EvalValue& a, const EvalValue& b, EvalValue& out, Status& error) const;
    // Compares two non-null values as Jet does; false with `error` when they
    // cannot be compared.
    bool compare(const EvalValue& a, const EvalValue& b, int& result, Status& error) const;
    // Tri of a value used as a condition.
    bool truth(const EvalValue& v, Tri& out, Status& error) const;
    // Numbers of text, -1/0 of booleans; Null stays Null.
    bool toNumber(const EvalValue& v, EvalValue& out, Status& error) const;
    // The text form of v, written into `buffer` unless v is text already.
    bool toText(const EvalValue& v, std::u16string& buffer, std::u16string_view& out, Status& error) const;
    void appendText(std::u16string& out, const EvalValue& v) const;
    bool toDateSerial(const EvalValue& v, double& out, Status& error) const;
    bool toWhole(const EvalValue& v, int64_t& out, Status& error) const;
};

EvalValue evalValueOf(const Variant& v);
double numericValue(const EvalValue& v);  // for Boolean .. Date

}  // namespace varnika
