// The functions a condition may call, with the meaning Jet gives them.

#include "db/convert.h"
#include "db/date_time.h"
#include "db/sql/sql_plan.h"
#include "db/text.h"

#include <cmath>

namespace varnika {

using Kind = EvalValue::Kind;

namespace {

constexpr int kMaxArgs = 6;
constexpr int64_t kTicksPerUnit = 10000;

constexpr SqlFunctionInfo kFunctions[] = {
    {u"Len", SqlFunction::Len, 1, 1, StaticKind::Number},
    {u"Left", SqlFunction::Left, 2, 2, StaticKind::Text},
    {u"Right", SqlFunction::Right, 2, 2, StaticKind::Text},
    {u"Mid", SqlFunction::Mid, 2, 3, StaticKind::Text},
    {u"UCase", SqlFunction::UCase, 1, 1, StaticKind::Text},
    {u"LCase", SqlFunction::LCase, 1, 1, StaticKind::Text},
    {u"Trim", SqlFunction::Trim, 1, 1, StaticKind::Text},
    {u"LTrim", SqlFunction::LTrim, 1, 1, StaticKind::Text},
    {u"RTrim", SqlFunction::RTrim, 1, 1, StaticKind::Text},
    {u"InStr", SqlFunction::InStr, 2, 4, StaticKind::Number},
    {u"Replace", SqlFunction::Replace, 3, 6, StaticKind::Text},
    {u"Year", SqlFunction::Year, 1, 1, StaticKind::Number},
    {u"Month", SqlFunction::Month, 1, 1, StaticKind::Number},
    {u"Day", SqlFunction::Day, 1, 1, StaticKind::Number},
    {u"Hour", SqlFunction::Hour, 1, 1, StaticKind::Number},
    {u"Minute", SqlFunction::Minute, 1, 1, StaticKind::Number},
    {u"Second", SqlFunction::Second, 1, 1, StaticKind::Number},
    {u"Date", SqlFunction::Date, 0, 0, StaticKind::Date},
    {u"Now", SqlFunction::Now, 0, 0, StaticKind::Date},
    {u"DateSerial", SqlFunction::DateSerial, 3, 3, StaticKind::Date},
    {u"DateValue", SqlFunction::DateValue, 1, 1, StaticKind::Date},
    {u"Int", SqlFunction::Int, 1, 1, StaticKind::Number},
    {u"Fix", SqlFunction::Fix, 1, 1, StaticKind::Number},
    {u"Abs", SqlFunction::Abs, 1, 1, StaticKind::Number},
    {u"Round", SqlFunction::Round, 1, 2, StaticKind::Number},
    {u"Val", SqlFunction::Val, 1, 1, StaticKind::Number},
    {u"CStr", SqlFunction::CStr, 1, 1, StaticKind::Text},
    {u"CInt", SqlFunction::CInt, 1, 1, StaticKind::Number},
    {u"CLng", SqlFunction::CLng, 1, 1, StaticKind::Number},
    {u"CDbl", SqlFunction::CDbl, 1, 1, StaticKind::Number},
    {u"CCur", SqlFunction::CCur, 1, 1, StaticKind::Number},
    {u"CDate", SqlFunction::CDate, 1, 1, StaticKind::Date},
    {u"IsNull", SqlFunction::IsNull, 1, 1, StaticKind::Boolean},
    {u"Nz", SqlFunction::Nz, 1, 2, StaticKind::Unknown},
    {u"IIf", SqlFunction::IIf, 3, 3, StaticKind::Unknown},
};

Status nullError()
{
    return Status(ErrorCode::TypeMismatch, "invalid use of Null");
}

Status badCall(std::u16string_view name, const char* what)
{
    return invalidArgument(std::string("invalid call of ").append(toUtf8(name)) + ": " + what);
}

bool isSpace(char16_t c)
{
    return c == u' ';
}

bool foldEqual(char16_t a, char16_t b)
{
    return a == b || toUpperChar(a) == toUpperChar(b);
}

// Position (0-based) of `needle` in `hay` from `from`, or npos.
size_t findText(std::u16string_view hay, std::u16string_view needle, size_t from, bool ignoreCase)
{
    if (needle.empty()) return from <= hay.size() ? from : std::u16string_view::npos;
    if (needle.size() > hay.size()) return std::u16string_view::npos;
    for (size_t i = from; i + needle.size() <= hay.size(); ++i) {
        size_t k = 0;
        while (k < needle.size() && (ignoreCase ? foldEqual(hay[i + k], needle[k]) : hay[i + k] == needle[k])) ++k;
        if (k == needle.size()) return i;
    }
    return std::u16string_view::npos;
}

int64_t floorDiv(int64_t a, int64_t b)
{
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

}  // namespace

const SqlFunctionInfo* findSqlFunction(std::u16string_view name)
{
    for (const SqlFunctionInfo& f : kFunctions)
        if (equalsIgnoreCase(f.name, name)) return &f;
    return nullptr;
}

namespace {

// One call being evaluated: its node, its arguments (evaluated already),
// and how to read them. A family's function returns false with `error` set
// on failure, or true with its result in `out`; a result of Null is
// written by returnNull, as Jet gives for most functions of a Null.
struct Call {
    const QueryPlan& plan;
    const BoundNode& n;
    const EvalValue* args;
    int count;
    std::u16string_view name;
    Status& error;

    SqlFunction function() const { return n.function; }
    bool text(int k, std::u16string_view& s) const
    {
        return plan.toText(args[k], n.argText[static_cast<size_t>(k)], s, error);
    }
    bool whole(int k, int64_t& v) const { return plan.toWhole(args[k], v, error); }
    bool fail(const char* what) const
    {
        error = badCall(name, what);
        return false;
    }
    bool fail(Status s) const
    {
        error = std::move(s);
        return false;
    }
    static bool returnNull(EvalValue& out)
    {
        out = EvalValue::null();
        return true;
    }
};

// Len, Left, Right, Mid, UCase, LCase, Trim, LTrim, RTrim, InStr, Replace.
bool textFunction(const Call& c, EvalValue& out)
{
    const EvalValue* args = c.args;
    const BoundNode& n = c.n;
    switch (c.function()) {
    case SqlFunction::Len: {
        if (args[0].isNull()) return Call::returnNull(out);
        std::u16string_view s;
        if (!c.text(0, s)) return false;
        out = EvalValue::integer(static_cast<int64_t>(s.size()));
        return true;
    }
    case SqlFunction::Left:
    case SqlFunction::Right: {
        int64_t len = 0;
        if (!c.whole(1, len)) return false;
        if (len < 0) return c.fail("the length is negative");
        if (args[0].isNull()) return Call::returnNull(out);
        std::u16string_view s;
        if (!c.text(0, s)) return false;
        const size_t take = static_cast<size_t>(std::min<int64_t>(len, static_cast<int64_t>(s.size())));
        out = EvalValue::textView(c.function() == SqlFunction::Left ? s.substr(0, take) : s.substr(s.size() - take));
        return true;
    }
    case SqlFunction::Mid: {
        int64_t start = 0, len = INT64_MAX;
        if (!c.whole(1, start)) return false;
        if (c.count > 2 && !c.whole(2, len)) return false;
        if (start < 1 || len < 0) return c.fail("the start is below 1 or the length negative");
        if (args[0].isNull()) return Call::returnNull(out);
        std::u16string_view s;
        if (!c.text(0, s)) return false;
        const size_t from = static_cast<size_t>(std::min<int64_t>(start - 1, static_cast<int64_t>(s.size())));
        out = EvalValue::textView(s.substr(from, static_cast<size_t>(std::min<int64_t>(len, static_cast<int64_t>(s.size())))));
        return true;
    }
    case SqlFunction::UCase:
    case SqlFunction::LCase: {
        if (args[0].isNull()) return Call::returnNull(out);
        std::u16string_view s;
        if (!c.text(0, s)) return false;
        n.scratch.assign(s);
        for (char16_t& ch : n.scratch) ch = c.function() == SqlFunction::UCase ? toUpperChar(ch) : toLowerChar(ch);
        out = EvalValue::textView(n.scratch);
        return true;
    }
    case SqlFunction::Trim:
    case SqlFunction::LTrim:
    case SqlFunction::RTrim: {
        if (args[0].isNull()) return Call::returnNull(out);
        std::u16string_view s;
        if (!c.text(0, s)) return false;
        if (c.function() != SqlFunction::RTrim)
            while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
        if (c.function() != SqlFunction::LTrim)
            while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
        out = EvalValue::textView(s);
        return true;
    }
    case SqlFunction::InStr: {
        // InStr([start,] text, sought [, compare]); compare 0 is exact, 1 ignores case.
        int64_t start = 1;
        int first = 0;
        bool ignoreCase = true;
        if (c.count >= 3) {
            if (!c.whole(0, start)) return false;
            first = 1;
            if (c.count == 4) {
                int64_t mode = 1;
                if (!c.whole(3, mode)) return false;
                ignoreCase = mode != 0;
            }
            if (start < 1) return c.fail("the start is below 1");
        }
        if (args[first].isNull() || args[first + 1].isNull()) return Call::returnNull(out);
        std::u16string_view hay, needle;
        if (!c.text(first, hay) || !c.text(first + 1, needle)) return false;
        if (start > static_cast<int64_t>(hay.size()) + (needle.empty() ? 1 : 0)) {
            out = EvalValue::integer(0);
            return true;
        }
        const size_t at = findText(hay, needle, static_cast<size_t>(start - 1), ignoreCase);
        out = EvalValue::integer(at == std::u16string_view::npos ? 0 : static_cast<int64_t>(at) + 1);
        return true;
    }
    case SqlFunction::Replace: {
        // Replace(text, find, with [, start [, count [, compare]]]): the result begins at start.
        int64_t start = 1, times = -1, mode = 0;
        if (c.count > 3 && !c.whole(3, start)) return false;
        if (c.count > 4 && !c.whole(4, times)) return false;
        if (c.count > 5 && !c.whole(5, mode)) return false;
        if (start < 1 || times < -1) return c.fail("the start is below 1 or the count below -1");
        if (args[0].isNull() || args[1].isNull() || args[2].isNull()) return Call::returnNull(out);
        std::u16string_view s, find, with;
        if (!c.text(0, s) || !c.text(1, find) || !c.text(2, with)) return false;
        n.scratch.clear();
        size_t pos = static_cast<size_t>(std::min<int64_t>(start - 1, static_cast<int64_t>(s.size())));
        while (pos < s.size()) {
            const size_t at = (find.empty() || times == 0) ? std::u16string_view::npos : findText(s, find, pos, mode != 0);
            if (at == std::u16string_view::npos) break;
            n.scratch.append(s.substr(pos, at - pos));
            n.scratch.append(with);
            pos = at + find.size();
            if (times > 0) --times;
        }
        if (pos < s.size()) n.scratch.append(s.substr(pos));
        out = EvalValue::textView(n.scratch);
        return true;
    }
    default: return c.fail("unknown function");
    }
}

// Year, Month, Day, Hour, Minute, Second, DateSerial, DateValue, CDate.
bool dateFunction(const Call& c, EvalValue& out)
{
    const EvalValue* args = c.args;
    switch (c.function()) {
    case SqlFunction::Year:
    case SqlFunction::Month:
    case SqlFunction::Day:
    case SqlFunction::Hour:
    case SqlFunction::Minute:
    case SqlFunction::Second: {
        if (args[0].isNull()) return Call::returnNull(out);
        double serial = 0;
        if (!c.plan.toDateSerial(args[0], serial, c.error)) return false;
        auto parts = dateParts(serial);
        if (!parts.isOk()) return c.fail(Status(ErrorCode::TypeMismatch, parts.status().message()));
        const DateParts& p = *parts;
        const SqlFunction f = c.function();
        const int v = f == SqlFunction::Year ? p.year : f == SqlFunction::Month ? p.month
                      : f == SqlFunction::Day ? p.day : f == SqlFunction::Hour ? p.hour
                      : f == SqlFunction::Minute ? p.minute : p.second;
        out = EvalValue::integer(v);
        return true;
    }
    case SqlFunction::DateSerial: {
        // Months and days out of range carry over, as in DateSerial(2010, 13, 0).
        int64_t y = 0, m = 0, d = 0;
        if (!c.whole(0, y) || !c.whole(1, m) || !c.whole(2, d)) return false;
        constexpr int64_t kLimit = 10000000;
        if (y < -kLimit || y > kLimit || m < -kLimit || m > kLimit || d < -kLimit || d > kLimit)
            return c.fail("a part is out of range");
        if (y >= 0 && y <= 99) y = expandTwoDigitYear(static_cast<int>(y));
        y += floorDiv(m - 1, 12);
        m = (m - 1) - floorDiv(m - 1, 12) * 12 + 1;
        if (y < kMinDateYear || y > kMaxDateYear) return c.fail("the year is outside 100 to 9999");
        const double serial = daySerial(static_cast<int>(y), static_cast<int>(m), 1) + static_cast<double>(d - 1);
        if (serial < kMinDateSerial || serial > kMaxDateSerial) return c.fail("the date is outside the years 100 to 9999");
        out = EvalValue::date(serial);
        return true;
    }
    case SqlFunction::DateValue:
    case SqlFunction::CDate: {
        if (args[0].isNull()) {
            if (c.function() == SqlFunction::CDate) return c.fail(nullError());
            return Call::returnNull(out);
        }
        double serial = 0;
        if (!c.plan.toDateSerial(args[0], serial, c.error)) return false;
        out = EvalValue::date(c.function() == SqlFunction::DateValue ? std::trunc(serial) : serial);
        return true;
    }
    default: return c.fail("unknown function");
    }
}

// Int, Fix, Abs, Round, Val.
bool numberFunction(const Call& c, EvalValue& out)
{
    const EvalValue* args = c.args;
    switch (c.function()) {
    case SqlFunction::Int:
    case SqlFunction::Fix:
    case SqlFunction::Abs: {
        EvalValue v;
        if (!c.plan.toNumber(args[0], v, c.error)) return false;
        if (v.isNull()) return Call::returnNull(out);
        const bool isAbs = c.function() == SqlFunction::Abs, isInt = c.function() == SqlFunction::Int;
        switch (v.kind) {
        case Kind::Integer:
            out = isAbs ? EvalValue::integer(v.i < 0 ? -v.i : v.i) : v;
            return true;
        case Kind::Currency: {
            int64_t t = v.i;
            if (isAbs) {
                if (t == INT64_MIN) return c.fail(invalidArgument("the result of the calculation is out of range"));
                t = t < 0 ? -t : t;
            } else {
                t = (isInt ? floorDiv(t, kTicksPerUnit) : t / kTicksPerUnit) * kTicksPerUnit;
            }
            out = EvalValue::currency(t);
            return true;
        }
        default: {
            const double r = isAbs ? std::fabs(v.d) : isInt ? std::floor(v.d) : std::trunc(v.d);
            out = v;
            out.d = r;
            return true;
        }
        }
    }
    case SqlFunction::Round: {
        int64_t places = 0;
        if (c.count > 1 && !c.whole(1, places)) return false;
        if (places < 0 || places > 15) return c.fail("the number of places is outside 0 to 15");
        EvalValue v;
        if (!c.plan.toNumber(args[0], v, c.error)) return false;
        if (v.isNull()) return Call::returnNull(out);
        if (v.kind == Kind::Integer) {
            out = v;
            return true;
        }
        if (v.kind == Kind::Currency) {
            int64_t unit = 1;
            for (int64_t k = places; k < 4; ++k) unit *= 10;
            int64_t q = v.i / unit;
            const int64_t r = v.i % unit;
            const int64_t absR = r < 0 ? -r : r;
            if (absR * 2 > unit || (absR * 2 == unit && (q & 1) != 0)) q += r < 0 ? -1 : 1;
            out = EvalValue::currency(q * unit);
            return true;
        }
        const double scale = std::pow(10.0, static_cast<double>(places));
        const double scaled = v.d * scale;
        out = v;
        out.d = std::isfinite(scaled) ? roundHalfEven(scaled) / scale : v.d;
        return true;
    }
    case SqlFunction::Val: {
        if (args[0].isNull()) return c.fail(nullError());
        std::u16string_view s;
        if (!c.text(0, s)) return false;
        out = EvalValue::dbl(valOfText(s));
        return true;
    }
    default: return c.fail("unknown function");
    }
}

// CStr, CInt, CLng, CDbl, CCur: conversions, which refuse a Null.
bool conversionFunction(const Call& c, EvalValue& out)
{
    const EvalValue* args = c.args;
    switch (c.function()) {
    case SqlFunction::CStr: {
        if (args[0].isNull()) return c.fail(nullError());
        std::u16string_view s;
        if (!c.plan.toText(args[0], c.n.scratch, s, c.error)) return false;
        out = EvalValue::textView(s);
        return true;
    }
    case SqlFunction::CInt:
    case SqlFunction::CLng: {
        int64_t v = 0;
        if (!c.whole(0, v)) return false;
        const bool isInt = c.function() == SqlFunction::CInt;
        if (isInt ? (v < INT16_MIN || v > INT16_MAX) : (v < INT32_MIN || v > INT32_MAX))
            return c.fail(Status(ErrorCode::TypeMismatch, std::string("overflow: the value does not fit in ") +
                                                                 (isInt ? "an Integer" : "a Long Integer")));
        out = EvalValue::integer(v);
        return true;
    }
    case SqlFunction::CDbl: {
        if (args[0].isNull()) return c.fail(nullError());
        EvalValue v;
        if (!c.plan.toNumber(args[0], v, c.error)) return false;
        out = EvalValue::dbl(numericValue(v));
        return true;
    }
    case SqlFunction::CCur: {
        if (args[0].isNull()) return c.fail(nullError());
        if (args[0].kind == Kind::Text) {
            auto t = textToScaled(args[0].text, 4, c.plan.settings);
            if (!t.isOk()) return c.fail(Status(ErrorCode::TypeMismatch, t.status().message()));
            out = EvalValue::currency(*t);
            return true;
        }
        EvalValue v;
        if (!c.plan.toNumber(args[0], v, c.error)) return false;
        if (v.kind == Kind::Currency) {
            out = v;
            return true;
        }
        const double ticks = roundHalfEven(numericValue(v) * kTicksPerUnit);
        if (!(ticks >= -9.2233720368547e18 && ticks <= 9.2233720368547e18))
            return c.fail(Status(ErrorCode::TypeMismatch, "overflow: the value does not fit in a Currency"));
        out = EvalValue::currency(static_cast<int64_t>(ticks));
        return true;
    }
    default: return c.fail("unknown function");
    }
}

}  // namespace

bool QueryPlan::callFunction(const BoundNode& n, RowValues row, EvalValue& out, Status& error) const
{
    // Only the chosen branch of IIf and the fallback of Nz are evaluated.
    if (n.function == SqlFunction::IIf) {
        EvalValue c;
        Tri t;
        if (!eval(child(n, 0), row, c, error) || !truth(c, t, error)) return false;
        return eval(child(n, t == Tri::True ? 1 : 2), row, out, error);
    }
    if (n.function == SqlFunction::Nz) {
        if (!eval(child(n, 0), row, out, error)) return false;
        if (!out.isNull()) return true;
        if (n.childCount > 1) return eval(child(n, 1), row, out, error);
        out = EvalValue::textView(std::u16string_view());
        return true;
    }
    if (n.function == SqlFunction::Now || n.function == SqlFunction::Date) {
        out = EvalValue::date(n.function == SqlFunction::Now ? now : std::trunc(now));
        return true;
    }

    EvalValue args[kMaxArgs];
    const int count = std::min(n.childCount, kMaxArgs);
    for (int k = 0; k < count; ++k)
        if (!eval(child(n, k), row, args[k], error)) return false;
    if (n.argText.size() < static_cast<size_t>(count)) n.argText.resize(static_cast<size_t>(count));
    const SqlFunctionInfo* info = nullptr;
    for (const SqlFunctionInfo& f : kFunctions)
        if (f.id == n.function) info = &f;
    const Call call{*this, n, args, count, info ? info->name : u"?", error};

    switch (n.function) {
    case SqlFunction::Len:
    case SqlFunction::Left:
    case SqlFunction::Right:
    case SqlFunction::Mid:
    case SqlFunction::UCase:
    case SqlFunction::LCase:
    case SqlFunction::Trim:
    case SqlFunction::LTrim:
    case SqlFunction::RTrim:
    case SqlFunction::InStr:
    case SqlFunction::Replace: return textFunction(call, out);
    case SqlFunction::Year:
    case SqlFunction::Month:
    case SqlFunction::Day:
    case SqlFunction::Hour:
    case SqlFunction::Minute:
    case SqlFunction::Second:
    case SqlFunction::DateSerial:
    case SqlFunction::DateValue:
    case SqlFunction::CDate: return dateFunction(call, out);
    case SqlFunction::Int:
    case SqlFunction::Fix:
    case SqlFunction::Abs:
    case SqlFunction::Round:
    case SqlFunction::Val: return numberFunction(call, out);
    case SqlFunction::CStr:
    case SqlFunction::CInt:
    case SqlFunction::CLng:
    case SqlFunction::CDbl:
    case SqlFunction::CCur: return conversionFunction(call, out);
    case SqlFunction::IsNull: out = EvalValue::boolean(args[0].isNull()); return true;
    default: return call.fail("unknown function");
    }
}

}  // namespace varnika
