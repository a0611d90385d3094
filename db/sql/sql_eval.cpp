// Evaluation of a bound condition over one row.

#include "db/convert.h"
#include "db/date_time.h"
#include "db/sql/sql_like.h"
#include "db/sql/sql_plan.h"
#include "db/text.h"

#include <cmath>

namespace varnika {

using Kind = EvalValue::Kind;

namespace {

constexpr int64_t kTicksPerUnit = 10000;

Status mismatchError(const char* what)
{
    return Status(ErrorCode::TypeMismatch, std::string("data type mismatch: ") + what);
}

Status nullError()
{
    return Status(ErrorCode::TypeMismatch, "invalid use of Null");
}

Status overflowError()
{
    return invalidArgument("the result of the calculation is out of range");
}

bool fitsLong(int64_t v)
{
    return v >= INT32_MIN && v <= INT32_MAX;
}

// Integers that outgrow a Long continue as Double, as Jet's arithmetic does.
EvalValue wholeResult(int64_t v)
{
    return fitsLong(v) ? EvalValue::integer(v) : EvalValue::dbl(static_cast<double>(v));
}

bool finiteResult(double d, EvalValue& out, Status& error)
{
    if (!std::isfinite(d)) {
        error = overflowError();
        return false;
    }
    out = EvalValue::dbl(d);
    return true;
}

int64_t ticksOf(const EvalValue& v)
{
    return v.kind == Kind::Currency ? v.i : v.i * kTicksPerUnit;  // Integer or Boolean
}

}  // namespace

int compareText(std::u16string_view a, std::u16string_view b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t k = 0; k < n; ++k) {
        if (a[k] == b[k]) continue;
        const char16_t ua = toUpperChar(a[k]), ub = toUpperChar(b[k]);
        if (ua != ub) return ua < ub ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

EvalValue evalValueOf(const Variant& v)
{
    switch (v.type()) {
    case VariantType::Null: return EvalValue::null();
    case VariantType::Boolean: return EvalValue::boolean(v.asBoolean());
    case VariantType::Byte: return EvalValue::integer(v.asByte());
    case VariantType::Integer: return EvalValue::integer(v.asInteger());
    case VariantType::Long: return EvalValue::integer(v.asLong());
    case VariantType::Currency: return EvalValue::currency(v.asCurrency().ticks);
    case VariantType::Single: return EvalValue::dbl(v.asSingle());
    case VariantType::Double: return EvalValue::dbl(v.asDouble());
    case VariantType::Date: return EvalValue::date(v.asDate().serial);
    case VariantType::Text: return EvalValue::textView(v.asText());
    case VariantType::Decimal: {
        auto d = variantToDouble(v, RegionalSettings());
        return EvalValue::dbl(d.isOk() ? *d : 0);
    }
    case VariantType::Binary:
    case VariantType::Guid: break;
    }
    EvalValue other;
    other.kind = Kind::Other;
    return other;
}

double numericValue(const EvalValue& v)
{
    switch (v.kind) {
    case Kind::Boolean: return v.b ? -1.0 : 0.0;
    case Kind::Integer: return static_cast<double>(v.i);
    case Kind::Currency: return static_cast<double>(v.i) / kTicksPerUnit;
    case Kind::Double:
    case Kind::Date: return v.d;
    default: return 0;
    }
}

bool QueryPlan::toNumber(const EvalValue& v, EvalValue& out, Status& error) const
{
    switch (v.kind) {
    case Kind::Null:
    case Kind::Integer:
    case Kind::Currency:
    case Kind::Double:
    case Kind::Date: out = v; return true;
    case Kind::Boolean: out = EvalValue::integer(v.b ? -1 : 0); return true;
    case Kind::Text: {
        auto d = textToDouble(v.text, settings);
        if (!d.isOk()) {
            error = Status(ErrorCode::TypeMismatch, "data type mismatch: " + d.status().message());
            return false;
        }
        out = EvalValue::dbl(*d);
        return true;
    }
    case Kind::Other: break;
    }
    error = mismatchError("a binary value is not a number");
    return false;
}

void QueryPlan::appendText(std::u16string& out, const EvalValue& v) const
{
    switch (v.kind) {
    case Kind::Null:
    case Kind::Other: return;
    case Kind::Boolean: out += v.b ? u"True" : u"False"; return;
    case Kind::Integer: appendVariantText(out, Variant::longValue(static_cast<int32_t>(v.i)), settings); return;
    case Kind::Currency: out += currencyToText(Currency{v.i}, settings); return;
    case Kind::Double: appendVariantText(out, Variant::doubleValue(v.d), settings); return;
    case Kind::Date: out += dateToText(v.d, settings); return;
    case Kind::Text: out += v.text; return;
    }
}

bool QueryPlan::toText(const EvalValue& v, std::u16string& buffer, std::u16string_view& out, Status& error) const
{
    if (v.kind == Kind::Text) {
        out = v.text;
        return true;
    }
    if (v.kind == Kind::Other) {
        error = mismatchError("a binary value has no text form");
        return false;
    }
    buffer.clear();
    appendText(buffer, v);
    out = buffer;
    return true;
}

bool QueryPlan::toDateSerial(const EvalValue& v, double& out, Status& error) const
{
    if (v.kind == Kind::Text) {
        auto d = textToDate(v.text, settings);
        if (!d.isOk()) {
            error = Status(ErrorCode::TypeMismatch, "data type mismatch: " + d.status().message());
            return false;
        }
        out = *d;
        return true;
    }
    if (!v.isNumeric()) {
        error = v.isNull() ? nullError() : mismatchError("a binary value is not a date");
        return false;
    }
    out = numericValue(v);
    if (!(out >= kMinDateSerial && out <= kMaxDateSerial + 1)) {
        error = Status(ErrorCode::TypeMismatch, "the number is outside the range of dates");
        return false;
    }
    return true;
}

bool QueryPlan::toWhole(const EvalValue& v, int64_t& out, Status& error) const
{
    if (v.isNull()) {
        error = nullError();
        return false;
    }
    if (v.kind == Kind::Text) {
        auto n = textToScaled(v.text, 0, settings);
        if (!n.isOk()) {
            error = Status(ErrorCode::TypeMismatch, "data type mismatch: " + n.status().message());
            return false;
        }
        out = *n;
        return true;
    }
    if (v.kind == Kind::Integer) {
        out = v.i;
        return true;
    }
    if (v.kind == Kind::Boolean) {
        out = v.b ? -1 : 0;
        return true;
    }
    if (v.kind == Kind::Currency) {
        int64_t q = v.i / kTicksPerUnit;
        const int64_t r = v.i % kTicksPerUnit;
        const int64_t absR = r < 0 ? -r : r;
        if (absR > kTicksPerUnit / 2 || (absR == kTicksPerUnit / 2 && (q & 1) != 0)) q += r < 0 ? -1 : 1;
        out = q;
        return true;
    }
    if (v.kind == Kind::Double || v.kind == Kind::Date) {
        const double r = roundHalfEven(v.d);
        if (!(r >= -9.2e18 && r <= 9.2e18)) {
            error = overflowError();
            return false;
        }
        out = static_cast<int64_t>(r);
        return true;
    }
    error = mismatchError("a binary value is not a number");
    return false;
}

bool QueryPlan::truth(const EvalValue& v, Tri& out, Status& error) const
{
    switch (v.kind) {
    case Kind::Null: out = Tri::Null; return true;
    case Kind::Boolean: out = v.b ? Tri::True : Tri::False; return true;
    case Kind::Integer:
    case Kind::Currency: out = v.i != 0 ? Tri::True : Tri::False; return true;
    case Kind::Double:
    case Kind::Date: out = v.d != 0 ? Tri::True : Tri::False; return true;
    case Kind::Text: {
        auto b = textToBoolean(v.text, settings);
        if (!b.isOk()) {
            error = Status(ErrorCode::TypeMismatch, "data type mismatch: " + b.status().message());
            return false;
        }
        out = *b ? Tri::True : Tri::False;
        return true;
    }
    case Kind::Other: break;
    }
    error = mismatchError("a binary value is not a condition");
    return false;
}

bool QueryPlan::compare(const EvalValue& a, const EvalValue& b, int& result, Status& error) const
{
    if (a.kind == Kind::Other || b.kind == Kind::Other) {
        error = mismatchError("binary values cannot be compared");
        return false;
    }
    if (a.kind == Kind::Text && b.kind == Kind::Text) {
        result = compareText(a.text, b.text);
        return true;
    }
    // Text against a date reads the text as a date, against a number as a number.
    if (a.kind == Kind::Text || b.kind == Kind::Text) {
        const EvalValue& text = a.kind == Kind::Text ? a : b;
        const EvalValue& other = a.kind == Kind::Text ? b : a;
        EvalValue converted;
        if (other.kind == Kind::Date) {
            double serial = 0;
            if (!toDateSerial(text, serial, error)) return false;
            converted = EvalValue::date(serial);
        } else if (!toNumber(text, converted, error)) {
            return false;
        }
        return a.kind == Kind::Text ? compare(converted, other, result, error)
                                    : compare(other, converted, result, error);
    }
    const auto exact = [](Kind k) { return k == Kind::Integer || k == Kind::Boolean || k == Kind::Currency; };
    if (exact(a.kind) && exact(b.kind)) {
        int64_t x, y;
        if (a.kind == Kind::Currency || b.kind == Kind::Currency) {
            x = a.kind == Kind::Boolean ? (a.b ? -kTicksPerUnit : 0) : ticksOf(a);
            y = b.kind == Kind::Boolean ? (b.b ? -kTicksPerUnit : 0) : ticksOf(b);
        } else {
            x = a.kind == Kind::Boolean ? (a.b ? -1 : 0) : a.i;
            y = b.kind == Kind::Boolean ? (b.b ? -1 : 0) : b.i;
        }
        result = x < y ? -1 : x > y ? 1 : 0;
        return true;
    }
    const double x = numericValue(a), y = numericValue(b);
    result = x < y ? -1 : x > y ? 1 : 0;
    return true;
}

bool QueryPlan::arithmetic(const BoundNode& n, const EvalValue& a0, const EvalValue& b0, EvalValue& out,
                           Status& error) const
{
    if (a0.isNull() || b0.isNull()) {
        out = EvalValue::null();
        return true;
    }
    if (n.op == SqlOp::Add && a0.kind == Kind::Text && b0.kind == Kind::Text) {  // + joins two texts
        n.scratch.assign(a0.text);
        n.scratch.append(b0.text);
        out = EvalValue::textView(n.scratch);
        return true;
    }
    EvalValue a, b;
    if (!toNumber(a0, a, error) || !toNumber(b0, b, error)) return false;
    const bool anyDate = a.kind == Kind::Date || b.kind == Kind::Date;
    const bool anyDouble = a.kind == Kind::Double || b.kind == Kind::Double;
    const bool anyCurrency = a.kind == Kind::Currency || b.kind == Kind::Currency;
    switch (n.op) {
    case SqlOp::Add:
    case SqlOp::Subtract: {
        const bool add = n.op == SqlOp::Add;
        if (anyDate) {
            const double r = add ? numericValue(a) + numericValue(b) : numericValue(a) - numericValue(b);
            if (!add && a.kind == Kind::Date && b.kind == Kind::Date) return finiteResult(r, out, error);
            if (!finiteResult(r, out, error)) return false;
            out.kind = Kind::Date;
            return true;
        }
        if (anyDouble) return finiteResult(add ? numericValue(a) + numericValue(b) : numericValue(a) - numericValue(b), out, error);
        if (anyCurrency) {
            int64_t r = 0;
            const bool overflow = add ? __builtin_add_overflow(ticksOf(a), ticksOf(b), &r)
                                      : __builtin_sub_overflow(ticksOf(a), ticksOf(b), &r);
            if (overflow) {
                error = overflowError();
                return false;
            }
            out = EvalValue::currency(r);
            return true;
        }
        out = wholeResult(add ? a.i + b.i : a.i - b.i);
        return true;
    }
    case SqlOp::Multiply: {
        if (anyDouble || anyDate) return finiteResult(numericValue(a) * numericValue(b), out, error);
        if (anyCurrency) {
            if (a.kind == Kind::Currency && b.kind == Kind::Currency) {
                const double r = roundHalfEven(static_cast<double>(a.i) * static_cast<double>(b.i) / kTicksPerUnit);
                if (!(r >= -9.2e18 && r <= 9.2e18)) {
                    error = overflowError();
                    return false;
                }
                out = EvalValue::currency(static_cast<int64_t>(r));
                return true;
            }
            const int64_t ticks = a.kind == Kind::Currency ? a.i : b.i;
            const int64_t factor = a.kind == Kind::Currency ? b.i : a.i;
            int64_t r = 0;
            if (__builtin_mul_overflow(ticks, factor, &r)) {
                error = overflowError();
                return false;
            }
            out = EvalValue::currency(r);
            return true;
        }
        out = wholeResult(a.i * b.i);  // both within Long, the product fits
        return true;
    }
    case SqlOp::Divide: {
        const double divisor = numericValue(b);
        if (divisor == 0) {
            error = invalidArgument("division by zero");
            return false;
        }
        return finiteResult(numericValue(a) / divisor, out, error);
    }
    case SqlOp::IntDivide:
    case SqlOp::Modulo: {
        int64_t x = 0, y = 0;
        if (!toWhole(a, x, error) || !toWhole(b, y, error)) return false;
        if (y == 0) {
            error = invalidArgument("division by zero");
            return false;
        }
        if (y == -1) {  // avoids the one overflow of integer division
            out = n.op == SqlOp::Modulo ? EvalValue::integer(0) : wholeResult(-x);
            return true;
        }
        out = wholeResult(n.op == SqlOp::Modulo ? x % y : x / y);
        return true;
    }
    case SqlOp::Power: {
        const double r = std::pow(numericValue(a), numericValue(b));
        if (std::isnan(r)) {
            error = invalidArgument("the power has no real value");
            return false;
        }
        return finiteResult(r, out, error);
    }
    default: break;
    }
    error = invalidArgument("not an arithmetic operator");
    return false;
}

bool QueryPlan::eval(int index, RowValues row, EvalValue& out, Status& error) const
{
    const BoundNode& n = nodes[static_cast<size_t>(index)];
    switch (n.op) {
    case SqlOp::Literal:
        out = n.literal;
        if (out.kind == Kind::Text) out.text = n.literalText;
        return true;
    case SqlOp::Column:
        if (static_cast<size_t>(n.column) >= row.size()) {
            error = invalidArgument("the row has fewer values than the table has columns");
            return false;
        }
        out = evalValueOf(row[static_cast<size_t>(n.column)]);
        return true;
    case SqlOp::Call: return callFunction(n, row, out, error);
    case SqlOp::Negate: {
        EvalValue v, num;
        if (!eval(child(n, 0), row, v, error) || !toNumber(v, num, error)) return false;
        switch (num.kind) {
        case Kind::Null: out = num; return true;
        case Kind::Integer: out = wholeResult(-num.i); return true;
        case Kind::Currency:
            if (num.i == INT64_MIN) {
                error = overflowError();
                return false;
            }
            out = EvalValue::currency(-num.i);
            return true;
        case Kind::Date: out = EvalValue::date(-num.d); return true;
        default: out = EvalValue::dbl(-num.d); return true;
        }
    }
    case SqlOp::Not: {
        EvalValue v;
        Tri t;
        if (!eval(child(n, 0), row, v, error) || !truth(v, t, error)) return false;
        out = t == Tri::Null ? EvalValue::null() : EvalValue::boolean(t == Tri::False);
        return true;
    }
    case SqlOp::And:
    case SqlOp::Or: {
        // Kleene logic: False AND x is False, True OR x is True, whatever x is.
        const bool isAnd = n.op == SqlOp::And;
        EvalValue v;
        Tri left, right;
        if (!eval(child(n, 0), row, v, error) || !truth(v, left, error)) return false;
        if (isAnd && left == Tri::False) {
            out = EvalValue::boolean(false);
            return true;
        }
        if (!isAnd && left == Tri::True) {
            out = EvalValue::boolean(true);
            return true;
        }
        if (!eval(child(n, 1), row, v, error) || !truth(v, right, error)) return false;
        if (isAnd ? right == Tri::False : right == Tri::True) out = EvalValue::boolean(!isAnd);
        else if (left == Tri::Null || right == Tri::Null) out = EvalValue::null();
        else out = EvalValue::boolean(isAnd);
        return true;
    }
    case SqlOp::Equal:
    case SqlOp::NotEqual:
    case SqlOp::Less:
    case SqlOp::Greater:
    case SqlOp::LessEqual:
    case SqlOp::GreaterEqual: {
        EvalValue a, b;
        if (!eval(child(n, 0), row, a, error) || !eval(child(n, 1), row, b, error)) return false;
        if (a.isNull() || b.isNull()) {
            out = EvalValue::null();
            return true;
        }
        int c = 0;
        if (!compare(a, b, c, error)) return false;
        bool r = false;
        switch (n.op) {
        case SqlOp::Equal: r = c == 0; break;
        case SqlOp::NotEqual: r = c != 0; break;
        case SqlOp::Less: r = c < 0; break;
        case SqlOp::Greater: r = c > 0; break;
        case SqlOp::LessEqual: r = c <= 0; break;
        default: r = c >= 0; break;
        }
        out = EvalValue::boolean(r);
        return true;
    }
    case SqlOp::Like: {
        EvalValue a, b;
        if (!eval(child(n, 0), row, a, error) || !eval(child(n, 1), row, b, error)) return false;
        if (a.isNull() || b.isNull()) {
            out = EvalValue::null();
            return true;
        }
        if (n.argText.size() < 2) n.argText.resize(2);
        std::u16string_view text, pattern;
        if (!toText(a, n.argText[0], text, error) || !toText(b, n.argText[1], pattern, error)) return false;
        const LikeResult r = likeMatch(text, pattern);
        if (r == LikeResult::BadPattern) {
            error = invalidArgument("the LIKE pattern has a [ that is not closed");
            return false;
        }
        out = EvalValue::boolean((r == LikeResult::Match) != n.negated);
        return true;
    }
    case SqlOp::IsNull: {
        EvalValue v;
        if (!eval(child(n, 0), row, v, error)) return false;
        out = EvalValue::boolean(v.isNull() != n.negated);
        return true;
    }
    case SqlOp::In: {
        EvalValue a;
        if (!eval(child(n, 0), row, a, error)) return false;
        if (a.isNull()) {
            out = EvalValue::null();
            return true;
        }
        bool found = false, sawNull = false;
        for (int k = 1; k < n.childCount && !found; ++k) {
            EvalValue item;
            if (!eval(child(n, k), row, item, error)) return false;
            if (item.isNull()) {
                sawNull = true;
                continue;
            }
            int c = 0;
            if (!compare(a, item, c, error)) return false;
            found = c == 0;
        }
        if (found) out = EvalValue::boolean(!n.negated);
        else if (sawNull) out = EvalValue::null();
        else out = EvalValue::boolean(n.negated);
        return true;
    }
    case SqlOp::Between: {
        EvalValue a, low, high;
        if (!eval(child(n, 0), row, a, error) || !eval(child(n, 1), row, low, error)
            || !eval(child(n, 2), row, high, error))
            return false;
        if (a.isNull() || low.isNull() || high.isNull()) {
            out = EvalValue::null();
            return true;
        }
        // Jet takes the two bounds in either order.
        int c = 0;
        if (!compare(low, high, c, error)) return false;
        if (c > 0) std::swap(low, high);
        int cl = 0, ch = 0;
        if (!compare(a, low, cl, error) || !compare(a, high, ch, error)) return false;
        out = EvalValue::boolean((cl >= 0 && ch <= 0) != n.negated);
        return true;
    }
    case SqlOp::Add:
    case SqlOp::Subtract:
    case SqlOp::Multiply:
    case SqlOp::Divide:
    case SqlOp::IntDivide:
    case SqlOp::Modulo:
    case SqlOp::Power: {
        EvalValue a, b;
        if (!eval(child(n, 0), row, a, error) || !eval(child(n, 1), row, b, error)) return false;
        return arithmetic(n, a, b, out, error);
    }
    case SqlOp::Concat: {
        // & treats Null as empty text; only Null & Null is Null.
        EvalValue a, b;
        if (!eval(child(n, 0), row, a, error) || !eval(child(n, 1), row, b, error)) return false;
        if (a.isNull() && b.isNull()) {
            out = EvalValue::null();
            return true;
        }
        if (a.kind == Kind::Other || b.kind == Kind::Other) {
            error = mismatchError("a binary value has no text form");
            return false;
        }
        n.scratch.clear();
        appendText(n.scratch, a);
        appendText(n.scratch, b);
        out = EvalValue::textView(n.scratch);
        return true;
    }
    }
    error = invalidArgument("unknown operation in the condition");
    return false;
}

}  // namespace varnika
