// Binding a parsed record source to its table's columns, and the bound
// query's entry points.

#include "db/convert.h"
#include "db/date_time.h"
#include "db/sql/sql_like.h"
#include "db/sql/sql_plan.h"
#include "db/text.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace varnika {

using Kind = EvalValue::Kind;

namespace {

StaticKind staticKindOf(ColumnType type)
{
    switch (type) {
    case ColumnType::Boolean: return StaticKind::Boolean;
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Currency:
    case ColumnType::Single:
    case ColumnType::Double:
    case ColumnType::Numeric: return StaticKind::Number;
    case ColumnType::DateTime: return StaticKind::Date;
    case ColumnType::Text:
    case ColumnType::Memo: return StaticKind::Text;
    default: return StaticKind::Binary;
    }
}

StaticKind staticKindOf(const EvalValue& v)
{
    switch (v.kind) {
    case Kind::Null: return StaticKind::Null;
    case Kind::Boolean: return StaticKind::Boolean;
    case Kind::Integer:
    case Kind::Currency:
    case Kind::Double: return StaticKind::Number;
    case Kind::Date: return StaticKind::Date;
    case Kind::Text: return StaticKind::Text;
    case Kind::Other: break;
    }
    return StaticKind::Binary;
}

bool isComparison(SqlOp op)
{
    return op == SqlOp::Equal || op == SqlOp::NotEqual || op == SqlOp::Less || op == SqlOp::Greater
           || op == SqlOp::LessEqual || op == SqlOp::GreaterEqual || op == SqlOp::In || op == SqlOp::Between;
}

double localNow()
{
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    DateParts p{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                std::min(local.tm_sec, 59)};
    auto serial = dateSerial(p);
    return serial.isOk() ? *serial : 0;
}

class Binder {
public:
    Binder(const SqlExpression& expr, QueryPlan& plan) : m_expr(expr), m_plan(plan) {}

    Result<int> bind(int index);

private:
    Status positioned(Status s, int position) const
    {
        return Status(s.code(), s.message() + " (at position " + std::to_string(position + 1) + ")");
    }
    Status fold(int index);
    Status coerceLiteral(int literalIndex, StaticKind target);
    void setLiteral(BoundNode& n, const EvalValue& v);

    const SqlExpression& m_expr;
    QueryPlan& m_plan;
};

void Binder::setLiteral(BoundNode& n, const EvalValue& v)
{
    std::u16string text(v.kind == Kind::Text ? v.text : std::u16string_view());
    n.op = SqlOp::Literal;
    n.function = SqlFunction::None;
    n.literal = v;
    n.literal.text = {};
    n.literalText = std::move(text);
    n.kind = staticKindOf(v);
}

// A node whose children are all literals is computed once, here.
Status Binder::fold(int index)
{
    BoundNode& n = m_plan.nodes[static_cast<size_t>(index)];
    if (n.op == SqlOp::Literal || n.op == SqlOp::Column) return Status::ok();
    if (n.op == SqlOp::Call && (n.function == SqlFunction::Now || n.function == SqlFunction::Date)) return Status::ok();
    for (int k = 0; k < n.childCount; ++k)
        if (m_plan.nodes[static_cast<size_t>(m_plan.child(n, k))].op != SqlOp::Literal) return Status::ok();
    EvalValue v;
    Status error;
    if (!m_plan.eval(index, RowValues(), v, error)) return positioned(error, n.position);
    setLiteral(m_plan.nodes[static_cast<size_t>(index)], v);
    return Status::ok();
}

// A text literal compared with a date or number is read as one now, so a
// text that is neither fails before any row is read.
Status Binder::coerceLiteral(int literalIndex, StaticKind target)
{
    BoundNode& lit = m_plan.nodes[static_cast<size_t>(literalIndex)];
    if (lit.op != SqlOp::Literal || lit.literal.kind != Kind::Text) return Status::ok();
    const EvalValue text = EvalValue::textView(lit.literalText);
    Status error;
    EvalValue converted;
    if (target == StaticKind::Date) {
        double serial = 0;
        if (!m_plan.toDateSerial(text, serial, error)) return positioned(error, lit.position);
        converted = EvalValue::date(serial);
    } else if (target == StaticKind::Boolean) {
        Tri t;
        if (!m_plan.truth(text, t, error)) return positioned(error, lit.position);
        converted = EvalValue::boolean(t == Tri::True);
    } else if (target == StaticKind::Number) {
        if (!m_plan.toNumber(text, converted, error)) return positioned(error, lit.position);
    } else {
        return Status::ok();
    }
    setLiteral(lit, converted);
    return Status::ok();
}

Result<int> Binder::bind(int index)
{
    const SqlNode& src = m_expr.nodes[static_cast<size_t>(index)];
    std::vector<int> kids;
    kids.reserve(static_cast<size_t>(src.childCount));
    for (int k = 0; k < src.childCount; ++k) {
        VK_ASSIGN_OR_RETURN(int kid, bind(m_expr.child(src, k)));
        kids.push_back(kid);
    }
    BoundNode n;
    n.op = src.op;
    n.negated = src.negated;
    n.position = src.position;
    n.firstChild = static_cast<int>(m_plan.children.size());
    n.childCount = static_cast<int>(kids.size());
    m_plan.children.insert(m_plan.children.end(), kids.begin(), kids.end());
    auto kidKind = [&](int k) { return m_plan.nodes[static_cast<size_t>(kids[static_cast<size_t>(k)])].kind; };

    switch (src.op) {
    case SqlOp::Literal: {
        const EvalValue v = evalValueOf(src.literal);
        n.literal = v;
        n.literal.text = {};
        if (v.kind == Kind::Text) n.literalText = src.literal.asText();
        n.kind = staticKindOf(v);
        break;
    }
    case SqlOp::Column: {
        if (!src.qualifier.empty() && !equalsIgnoreCase(src.qualifier, m_plan.table))
            return positioned(invalidArgument(std::string("\"").append(toUtf8(src.qualifier)) + "\" is not the table selected from"),
                              src.position);
        for (size_t c = 0; c < m_plan.columns.size(); ++c) {
            if (equalsIgnoreCase(m_plan.columns[c].name, src.name)) {
                n.column = static_cast<int>(c);
                n.kind = staticKindOf(m_plan.columns[c].type);
                break;
            }
        }
        if (n.column < 0)
            return positioned(notFound(std::string("the table ").append(toUtf8(m_plan.table)) + " has no column named \""
                                       + toUtf8(src.name) + "\""),
                              src.position);
        break;
    }
    case SqlOp::Call: {
        const SqlFunctionInfo* f = findSqlFunction(src.name);
        if (!f) return positioned(notFound(std::string("undefined function \"").append(toUtf8(src.name)) + "\""), src.position);
        if (src.childCount < f->minArgs || src.childCount > f->maxArgs)
            return positioned(invalidArgument(std::string("wrong number of arguments for ").append(toUtf8(f->name))), src.position);
        n.function = f->id;
        n.kind = f->result;
        n.argText.resize(static_cast<size_t>(src.childCount));
        break;
    }
    case SqlOp::IsNull:
    case SqlOp::Not:
    case SqlOp::And:
    case SqlOp::Or:
    case SqlOp::Like: n.kind = StaticKind::Boolean; break;
    case SqlOp::Concat: n.kind = StaticKind::Text; break;
    default:
        if (isComparison(src.op)) {
            n.kind = StaticKind::Boolean;
        } else {
            // Arithmetic on numbers gives a number; + joins texts and dates
            // give dates, so anything else is known only per row.
            n.kind = StaticKind::Number;
            for (int k = 0; k < n.childCount; ++k) {
                const StaticKind kk = kidKind(k);
                if (kk != StaticKind::Number && kk != StaticKind::Boolean && kk != StaticKind::Null)
                    n.kind = StaticKind::Unknown;
            }
        }
        break;
    }

    // Binary values take part only in IS NULL, IsNull(), Nz() and IIf().
    const bool binaryAllowed = src.op == SqlOp::IsNull
                               || (src.op == SqlOp::Call
                                   && (n.function == SqlFunction::IsNull || n.function == SqlFunction::Nz
                                       || n.function == SqlFunction::IIf));
    if (!binaryAllowed) {
        for (int k = 0; k < n.childCount; ++k)
            if (kidKind(k) == StaticKind::Binary)
                return positioned(Status(ErrorCode::TypeMismatch, "data type mismatch: a binary column cannot be used here"),
                                  src.position);
    }
    if (src.op == SqlOp::Like) {
        n.argText.resize(2);
        const BoundNode& pat = m_plan.nodes[static_cast<size_t>(kids[1])];
        if (pat.op == SqlOp::Literal && pat.literal.kind == Kind::Text && !isValidLikePattern(pat.literalText))
            return positioned(invalidArgument("the LIKE pattern has a [ that is not closed"), pat.position);
    }

    m_plan.nodes.push_back(std::move(n));
    const int self = static_cast<int>(m_plan.nodes.size()) - 1;

    if (isComparison(src.op)) {
        // Every operand is compared with the first (IN, BETWEEN) or with the other.
        const StaticKind first = kidKind(0);
        for (int k = 1; k < static_cast<int>(kids.size()); ++k) {
            VK_RETURN_IF_ERROR(coerceLiteral(kids[static_cast<size_t>(k)], first));
            if (src.op != SqlOp::In && src.op != SqlOp::Between)
                VK_RETURN_IF_ERROR(coerceLiteral(kids[0], kidKind(k)));
        }
    }
    VK_RETURN_IF_ERROR(fold(self));
    return self;
}

}  // namespace

BoundQuery::BoundQuery() = default;
BoundQuery::~BoundQuery() = default;
BoundQuery::BoundQuery(BoundQuery&&) noexcept = default;
BoundQuery& BoundQuery::operator=(BoundQuery&&) noexcept = default;

const std::u16string& BoundQuery::tableName() const
{
    static const std::u16string kEmpty;
    return m_plan ? m_plan->table : kEmpty;
}

bool BoundQuery::hasCondition() const
{
    return m_plan && m_plan->root >= 0;
}

bool BoundQuery::hasOrder() const
{
    return m_plan && !m_plan->order.empty();
}

Result<Tri> BoundQuery::matches(RowValues row) const
{
    if (!hasCondition()) return Tri::True;
    EvalValue v;
    Status error;
    Tri t = Tri::Null;
    if (!m_plan->eval(m_plan->root, row, v, error) || !m_plan->truth(v, t, error)) return error;
    return t;
}

int BoundQuery::compareRows(RowValues a, RowValues b) const
{
    if (!m_plan) return 0;
    for (const auto& [column, descending] : m_plan->order) {
        const size_t c = static_cast<size_t>(column);
        if (c >= a.size() || c >= b.size()) return 0;
        const EvalValue x = evalValueOf(a[c]), y = evalValueOf(b[c]);
        int r = 0;
        if (x.isNull() || y.isNull()) {
            r = x.isNull() == y.isNull() ? 0 : x.isNull() ? -1 : 1;
        } else if (x.kind == Kind::Other || y.kind == Kind::Other) {
            r = 0;
        } else {
            Status ignored;
            if (!m_plan->compare(x, y, r, ignored)) r = 0;
        }
        if (r != 0) return descending ? -r : r;
    }
    return 0;
}

namespace {

std::optional<EqualityTerm> equalityOf(const QueryPlan& plan, int index)
{
    const BoundNode& n = plan.nodes[static_cast<size_t>(index)];
    if (n.op == SqlOp::And) {
        if (auto left = equalityOf(plan, plan.child(n, 0))) return left;
        return equalityOf(plan, plan.child(n, 1));
    }
    if (n.op != SqlOp::Equal) return std::nullopt;
    const BoundNode* col = &plan.nodes[static_cast<size_t>(plan.child(n, 0))];
    const BoundNode* lit = &plan.nodes[static_cast<size_t>(plan.child(n, 1))];
    if (col->op != SqlOp::Column) std::swap(col, lit);
    if (col->op != SqlOp::Column || lit->op != SqlOp::Literal || lit->literal.isNull()) return std::nullopt;
    const SqlColumn& column = plan.columns[static_cast<size_t>(col->column)];
    const EvalValue& v = lit->literal;
    EqualityTerm term;
    term.column = col->column;
    switch (staticKindOf(column.type)) {
    case StaticKind::Text:
        // A number compared with text is a numeric comparison: "05" = 5.
        if (v.kind != Kind::Text) return std::nullopt;
        term.value = Variant::text(lit->literalText);
        return term;
    case StaticKind::Date:
        if (v.kind != Kind::Date && v.kind != Kind::Double && v.kind != Kind::Integer) return std::nullopt;
        term.value = Variant::date(numericValue(v));
        return term;
    case StaticKind::Boolean:
    case StaticKind::Number: {
        if (!v.isNumeric()) return std::nullopt;
        const double wanted = numericValue(v);
        Variant source = v.kind == Kind::Currency ? Variant::currency(Currency{v.i}) : Variant::doubleValue(wanted);
        if (column.type == ColumnType::Boolean) {
            if (wanted != 0 && wanted != -1) return std::nullopt;  // no stored Boolean equals it
            term.value = Variant::boolean(wanted != 0);
            return term;
        }
        auto converted = convertForColumn(source, column.type, column.size, plan.settings);
        if (!converted.isOk()) return std::nullopt;
        auto back = variantToDouble(*converted, plan.settings);
        // A constant the column cannot hold exactly (Miktar = 5.5) matches no row.
        if (!back.isOk() || *back != wanted) return std::nullopt;
        term.value = std::move(*converted);
        return term;
    }
    default: return std::nullopt;
    }
}

}  // namespace

std::optional<EqualityTerm> BoundQuery::indexableEquality() const
{
    if (!hasCondition()) return std::nullopt;
    return equalityOf(*m_plan, m_plan->root);
}

std::vector<int> BoundQuery::referencedColumns() const
{
    std::vector<int> out;
    if (!m_plan) return out;
    for (const BoundNode& n : m_plan->nodes)
        if (n.op == SqlOp::Column) out.push_back(n.column);
    for (const auto& term : m_plan->order) out.push_back(term.first);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

Result<BoundQuery> bindQuery(const RecordSourceQuery& query, const std::vector<SqlColumn>& columns,
                             const RegionalSettings& settings, const QueryOptions& options)
{
    auto plan = std::make_unique<QueryPlan>();
    plan->table = query.tableName;
    plan->columns = columns;
    plan->settings = settings;
    plan->now = std::isnan(options.now) ? localNow() : options.now;
    if (query.where) {
        const SqlExpression& expr = *query.where;
        if (expr.root < 0 || static_cast<size_t>(expr.root) >= expr.nodes.size())
            return invalidArgument("the condition is empty");
        plan->nodes.reserve(expr.nodes.size());
        Binder binder(expr, *plan);
        VK_ASSIGN_OR_RETURN(plan->root, binder.bind(expr.root));
    }
    for (const SqlOrderTerm& term : query.orderBy) {
        int found = -1;
        for (size_t c = 0; c < columns.size(); ++c)
            if (equalsIgnoreCase(columns[c].name, term.column)) found = static_cast<int>(c);
        if (found < 0)
            return notFound(std::string("the table ").append(toUtf8(query.tableName)) + std::string(" has no column named \"").append(toUtf8(term.column))
                            + "\" to sort by");
        if (staticKindOf(columns[static_cast<size_t>(found)].type) == StaticKind::Binary)
            return Status(ErrorCode::TypeMismatch, "a binary column cannot be sorted on");
        plan->order.emplace_back(found, term.descending);
    }
    BoundQuery bound;
    bound.m_plan = std::move(plan);
    return bound;
}

Status checkRecordSourceForFuzz(std::u16string_view source)
{
    VK_ASSIGN_OR_RETURN(RecordSourceQuery q, parseRecordSource(source));
    const std::vector<SqlColumn> columns = {
        {u"Birim", ColumnType::Text, 20},      {u"Miktar", ColumnType::Long, 4},
        {u"Depo", ColumnType::Integer, 2},     {u"Tarih", ColumnType::DateTime, 8},
        {u"Alacak", ColumnType::Currency, 8},  {u"Aciklama", ColumnType::Memo, 0},
        {u"Aktif", ColumnType::Boolean, 1},    {u"Resim", ColumnType::OLE, 0},
    };
    VK_ASSIGN_OR_RETURN(BoundQuery bound, bindQuery(q, columns, RegionalSettings::turkish(), QueryOptions{40000.5}));
    const Variant rows[2][8] = {
        {Variant::text(u"Adet"), Variant::longValue(5), Variant::integer(2), Variant::date(40543.6),
         Variant::currency(Currency{1500000}), Variant::text(u"açıklama 12,5"), Variant::boolean(true),
         Variant::binary({1, 2})},
        {},
    };
    for (const auto& row : rows) {
        auto r = bound.matches(RowValues(row, 8));
        if (!r.isOk()) return r.status();
    }
    (void)bound.compareRows(RowValues(rows[0], 8), RowValues(rows[1], 8));
    (void)bound.indexableEquality();
    return Status::ok();
}

}  // namespace varnika
