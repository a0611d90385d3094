#include "db/sql/sql_parser.h"

#include "db/convert.h"
#include "db/sql/sql_lexer.h"
#include "db/text.h"

#include <charconv>
#include <cmath>

namespace varnika {
namespace {

constexpr int kMaxTableNameLength = 64;

// Inside the parser: a failed Status is kept and the node builder gives -1.
#define VK_RETURN_IF_ERROR_INT(expr)              \
    do {                                          \
        ::varnika::Status vk_st_ = (expr);        \
        if (!vk_st_.isOk()) return fail(vk_st_);  \
    } while (0)

// Words that start a statement other than SELECT; a record source that
// starts with one is refused rather than taken for a table name.
constexpr std::u16string_view kOtherStatements[] = {
    u"DELETE", u"UPDATE", u"INSERT", u"DROP", u"ALTER", u"CREATE", u"TRANSFORM",
    u"PARAMETERS", u"EXEC", u"EXECUTE", u"GRANT", u"REVOKE", u"TRUNCATE", u"WITH",
};

// Words that are never a column name in a condition.
constexpr std::u16string_view kReserved[] = {
    u"AND", u"OR", u"NOT", u"LIKE", u"IS", u"IN", u"BETWEEN", u"MOD", u"SELECT", u"FROM",
    u"WHERE", u"ORDER", u"BY", u"ASC", u"DESC", u"NULL", u"TRUE", u"FALSE",
};

class Parser {
public:
    explicit Parser(SqlTokens tokens) : m_source(std::move(tokens)) {}
    // The token list is viewed through a member: not to be copied.
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    Result<RecordSourceQuery> statement();
    Result<SqlExpression> conditionOnly();

private:
    const SqlToken& peek(size_t ahead = 0) const
    {
        const size_t k = std::min(m_pos + ahead, m_tokens.size() - 1);
        return m_tokens[k];
    }
    bool atWord(std::u16string_view word, size_t ahead = 0) const
    {
        const SqlToken& t = peek(ahead);
        return t.kind == SqlTokenKind::Word && equalsIgnoreCase(t.text, word);
    }
    bool atSymbol(std::u16string_view sym) const
    {
        const SqlToken& t = peek();
        return t.kind == SqlTokenKind::Symbol && t.text == sym;
    }
    bool acceptWord(std::u16string_view word)
    {
        if (!atWord(word)) return false;
        ++m_pos;
        return true;
    }
    bool acceptSymbol(std::u16string_view sym)
    {
        if (!atSymbol(sym)) return false;
        ++m_pos;
        return true;
    }
    Status unexpected(const char* expected) const;
    Status expectWord(std::u16string_view word, const char* expected);
    Status expectSymbol(std::u16string_view sym, const char* expected);

    // Each returns the index of the node built, or -1 with m_error set.
    int orExpr();
    int andExpr();
    int notExpr();
    int comparison();
    int concat();
    int additive();
    int modulo();
    int intDivide();
    int multiplicative();
    int unary();
    int power();
    int primary();

    int makeNode(SqlOp op, int position, std::initializer_list<int> kids);
    int makeNode(SqlOp op, int position, const std::vector<int>& kids);
    int fail(Status s)
    {
        if (m_error.isOk()) m_error = std::move(s);
        return -1;
    }
    bool enter()
    {
        if (++m_nesting > kMaxSqlNesting) {
            fail(invalidArgument("the condition is nested too deeply"));
            return false;
        }
        return true;
    }
    void leave() { --m_nesting; }

    SqlTokens m_source;
    const std::vector<SqlToken>& m_tokens = m_source.list;
    size_t m_pos = 0;
    int m_nesting = 0;
    SqlExpression m_expr;
    std::vector<int> m_depth;  // tree depth per node
    Status m_error;
};

std::string describe(const SqlToken& t)
{
    switch (t.kind) {
    case SqlTokenKind::End: return "the end of the text";
    case SqlTokenKind::String: return std::string("the text '").append(toUtf8(t.text.substr(0, 40))) + "'";
    case SqlTokenKind::Date: return std::string("the date #").append(toUtf8(t.text.substr(0, 40))) + "#";
    case SqlTokenKind::Bracketed: return std::string("[").append(toUtf8(t.text.substr(0, 40))) + "]";
    default: return std::string("\"").append(toUtf8(t.text.substr(0, 40))) + "\"";
    }
}

Status Parser::unexpected(const char* expected) const
{
    const SqlToken& t = peek();
    return invalidArgument("syntax error in the record source: " + std::string(expected) + " expected, found "
                           + describe(t) + " at position " + std::to_string(t.position + 1));
}

Status Parser::expectWord(std::u16string_view word, const char* expected)
{
    if (acceptWord(word)) return Status::ok();
    return unexpected(expected);
}

Status Parser::expectSymbol(std::u16string_view sym, const char* expected)
{
    if (acceptSymbol(sym)) return Status::ok();
    return unexpected(expected);
}

int Parser::makeNode(SqlOp op, int position, std::initializer_list<int> kids)
{
    return makeNode(op, position, std::vector<int>(kids));
}

int Parser::makeNode(SqlOp op, int position, const std::vector<int>& kids)
{
    int depth = 1;
    for (int k : kids) depth = std::max(depth, m_depth[static_cast<size_t>(k)] + 1);
    if (depth > kMaxSqlExpressionDepth) return fail(invalidArgument("the condition is too complex"));
    SqlNode n;
    n.op = op;
    n.position = position;
    n.firstChild = static_cast<int>(m_expr.children.size());
    n.childCount = static_cast<int>(kids.size());
    m_expr.children.insert(m_expr.children.end(), kids.begin(), kids.end());
    m_expr.nodes.push_back(std::move(n));
    m_depth.push_back(depth);
    return static_cast<int>(m_expr.nodes.size()) - 1;
}

int Parser::orExpr()
{
    int left = andExpr();
    while (left >= 0 && atWord(u"OR")) {
        const int pos = peek().position;
        ++m_pos;
        const int right = andExpr();
        if (right < 0) return -1;
        left = makeNode(SqlOp::Or, pos, {left, right});
    }
    return left;
}

int Parser::andExpr()
{
    int left = notExpr();
    while (left >= 0 && atWord(u"AND")) {
        const int pos = peek().position;
        ++m_pos;
        const int right = notExpr();
        if (right < 0) return -1;
        left = makeNode(SqlOp::And, pos, {left, right});
    }
    return left;
}

int Parser::notExpr()
{
    if (atWord(u"NOT")) {
        const int pos = peek().position;
        ++m_pos;
        if (!enter()) return -1;
        const int operand = notExpr();
        leave();
        if (operand < 0) return -1;
        return makeNode(SqlOp::Not, pos, {operand});
    }
    return comparison();
}

int Parser::comparison()
{
    int left = concat();
    while (left >= 0) {
        const SqlToken& t = peek();
        const int pos = t.position;
        SqlOp op;
        if (t.kind == SqlTokenKind::Symbol && (t.text == u"=" || t.text == u"<>" || t.text == u"<" || t.text == u">"
                                               || t.text == u"<=" || t.text == u">=")) {
            op = t.text == u"=" ? SqlOp::Equal : t.text == u"<>" ? SqlOp::NotEqual : t.text == u"<" ? SqlOp::Less
                 : t.text == u">" ? SqlOp::Greater : t.text == u"<=" ? SqlOp::LessEqual : SqlOp::GreaterEqual;
            ++m_pos;
            const int right = concat();
            if (right < 0) return -1;
            left = makeNode(op, pos, {left, right});
            continue;
        }
        if (atWord(u"IS")) {
            ++m_pos;
            const bool negated = acceptWord(u"NOT");
            if (!acceptWord(u"NULL")) return fail(unexpected("NULL"));
            left = makeNode(SqlOp::IsNull, pos, {left});
            if (left >= 0) m_expr.nodes[static_cast<size_t>(left)].negated = negated;
            continue;
        }
        bool negated = false;
        if (atWord(u"NOT") && (atWord(u"LIKE", 1) || atWord(u"IN", 1) || atWord(u"BETWEEN", 1))) {
            negated = true;
            ++m_pos;
        }
        if (acceptWord(u"LIKE")) {
            const int right = concat();
            if (right < 0) return -1;
            left = makeNode(SqlOp::Like, pos, {left, right});
        } else if (acceptWord(u"IN")) {
            VK_RETURN_IF_ERROR_INT(expectSymbol(u"(", "\"(\" after IN"));
            std::vector<int> kids{left};
            do {
                if (!enter()) return -1;
                const int item = orExpr();
                leave();
                if (item < 0) return -1;
                kids.push_back(item);
            } while (acceptSymbol(u","));
            VK_RETURN_IF_ERROR_INT(expectSymbol(u")", "\",\" or \")\" in the IN list"));
            left = makeNode(SqlOp::In, pos, kids);
        } else if (acceptWord(u"BETWEEN")) {
            const int low = concat();
            if (low < 0) return -1;
            VK_RETURN_IF_ERROR_INT(expectWord(u"AND", "AND after BETWEEN"));
            const int high = concat();
            if (high < 0) return -1;
            left = makeNode(SqlOp::Between, pos, {left, low, high});
        } else {
            break;
        }
        if (left >= 0) m_expr.nodes[static_cast<size_t>(left)].negated = negated;
    }
    return left;
}

int Parser::concat()
{
    int left = additive();
    while (left >= 0 && atSymbol(u"&")) {
        const int pos = peek().position;
        ++m_pos;
        const int right = additive();
        if (right < 0) return -1;
        left = makeNode(SqlOp::Concat, pos, {left, right});
    }
    return left;
}

int Parser::additive()
{
    int left = modulo();
    while (left >= 0 && (atSymbol(u"+") || atSymbol(u"-"))) {
        const int pos = peek().position;
        const SqlOp op = atSymbol(u"+") ? SqlOp::Add : SqlOp::Subtract;
        ++m_pos;
        const int right = modulo();
        if (right < 0) return -1;
        left = makeNode(op, pos, {left, right});
    }
    return left;
}

int Parser::modulo()
{
    int left = intDivide();
    while (left >= 0 && atWord(u"MOD")) {
        const int pos = peek().position;
        ++m_pos;
        const int right = intDivide();
        if (right < 0) return -1;
        left = makeNode(SqlOp::Modulo, pos, {left, right});
    }
    return left;
}

int Parser::intDivide()
{
    int left = multiplicative();
    while (left >= 0 && atSymbol(u"\\")) {
        const int pos = peek().position;
        ++m_pos;
        const int right = multiplicative();
        if (right < 0) return -1;
        left = makeNode(SqlOp::IntDivide, pos, {left, right});
    }
    return left;
}

int Parser::multiplicative()
{
    int left = unary();
    while (left >= 0 && (atSymbol(u"*") || atSymbol(u"/"))) {
        const int pos = peek().position;
        const SqlOp op = atSymbol(u"*") ? SqlOp::Multiply : SqlOp::Divide;
        ++m_pos;
        const int right = unary();
        if (right < 0) return -1;
        left = makeNode(op, pos, {left, right});
    }
    return left;
}

// A sign binds more loosely than ^ (-2^2 is -4), as in Basic.
int Parser::unary()
{
    if (atSymbol(u"-") || atSymbol(u"+")) {
        const int pos = peek().position;
        const bool minus = atSymbol(u"-");
        ++m_pos;
        if (!enter()) return -1;
        const int operand = unary();
        leave();
        if (operand < 0) return -1;
        return minus ? makeNode(SqlOp::Negate, pos, {operand}) : operand;
    }
    return power();
}

int Parser::power()
{
    int left = primary();
    while (left >= 0 && atSymbol(u"^")) {
        const int pos = peek().position;
        ++m_pos;
        int right;
        if (atSymbol(u"-") || atSymbol(u"+")) {
            const bool minus = atSymbol(u"-");
            const int signPos = peek().position;
            ++m_pos;
            if (!enter()) return -1;
            right = power();
            leave();
            if (right >= 0 && minus) right = makeNode(SqlOp::Negate, signPos, {right});
        } else {
            right = primary();
        }
        if (right < 0) return -1;
        left = makeNode(SqlOp::Power, pos, {left, right});
    }
    return left;
}

int Parser::primary()
{
    const SqlToken t = peek();
    switch (t.kind) {
    case SqlTokenKind::String: {
        ++m_pos;
        const int n = makeNode(SqlOp::Literal, t.position, {});
        if (n >= 0) m_expr.nodes[static_cast<size_t>(n)].literal = Variant::text(std::u16string(t.text));
        return n;
    }
    case SqlTokenKind::Number: {
        ++m_pos;
        std::string ascii = toUtf8(t.text);
        Variant v;
        const bool whole = ascii.find_first_of(".eE") == std::string::npos;
        int64_t i = 0;
        auto ri = std::from_chars(ascii.data(), ascii.data() + ascii.size(), i);
        if (whole && ri.ec == std::errc() && i <= INT32_MAX) {
            v = Variant::longValue(static_cast<int32_t>(i));
        } else {
            double d = 0;
            auto rd = std::from_chars(ascii.data(), ascii.data() + ascii.size(), d);
            if (rd.ec != std::errc() || !std::isfinite(d))
                return fail(invalidArgument("the number " + ascii + " is out of range"));
            v = Variant::doubleValue(d);
        }
        const int n = makeNode(SqlOp::Literal, t.position, {});
        if (n >= 0) m_expr.nodes[static_cast<size_t>(n)].literal = std::move(v);
        return n;
    }
    case SqlTokenKind::Date: {
        ++m_pos;
        auto serial = parseDateLiteral(t.text);
        if (!serial.isOk()) return fail(serial.status());
        const int n = makeNode(SqlOp::Literal, t.position, {});
        if (n >= 0) m_expr.nodes[static_cast<size_t>(n)].literal = Variant::date(*serial);
        return n;
    }
    case SqlTokenKind::Symbol:
        if (t.text == u"(") {
            ++m_pos;
            if (!enter()) return -1;
            const int inner = orExpr();
            leave();
            if (inner < 0) return -1;
            VK_RETURN_IF_ERROR_INT(expectSymbol(u")", "\")\""));
            return inner;
        }
        return fail(unexpected("a value or a name"));
    case SqlTokenKind::Word:
    case SqlTokenKind::Bracketed: {
        if (t.kind == SqlTokenKind::Word) {
            if (equalsIgnoreCase(t.text, u"NULL") || equalsIgnoreCase(t.text, u"TRUE")
                || equalsIgnoreCase(t.text, u"FALSE")) {
                ++m_pos;
                const int n = makeNode(SqlOp::Literal, t.position, {});
                if (n < 0) return -1;
                Variant v = equalsIgnoreCase(t.text, u"NULL") ? Variant::null()
                                                              : Variant::boolean(equalsIgnoreCase(t.text, u"TRUE"));
                m_expr.nodes[static_cast<size_t>(n)].literal = std::move(v);
                return n;
            }
            for (auto w : kReserved)
                if (equalsIgnoreCase(t.text, w)) return fail(unexpected("a value or a name"));
        }
        ++m_pos;
        if (t.kind == SqlTokenKind::Word && atSymbol(u"(")) {
            ++m_pos;
            if (!enter()) return -1;
            std::vector<int> args;
            if (!atSymbol(u")")) {
                do {
                    const int a = orExpr();
                    if (a < 0) return -1;
                    args.push_back(a);
                } while (acceptSymbol(u","));
            }
            leave();
            VK_RETURN_IF_ERROR_INT(expectSymbol(u")", "\",\" or \")\" after the function's arguments"));
            const int n = makeNode(SqlOp::Call, t.position, args);
            if (n >= 0) m_expr.nodes[static_cast<size_t>(n)].name = t.text;
            return n;
        }
        std::u16string qualifier;
        std::u16string name(t.text);
        if (atSymbol(u".")) {
            ++m_pos;
            const SqlToken& col = peek();
            if (col.kind != SqlTokenKind::Word && col.kind != SqlTokenKind::Bracketed)
                return fail(unexpected("a column name after the dot"));
            qualifier = std::move(name);
            name = col.text;
            ++m_pos;
        }
        const int n = makeNode(SqlOp::Column, t.position, {});
        if (n >= 0) {
            m_expr.nodes[static_cast<size_t>(n)].name = std::move(name);
            m_expr.nodes[static_cast<size_t>(n)].qualifier = std::move(qualifier);
        }
        return n;
    }
    case SqlTokenKind::End: break;
    }
    return fail(unexpected("a value or a name"));
}

Result<SqlExpression> Parser::conditionOnly()
{
    const int root = orExpr();
    if (root < 0) return m_error;
    if (peek().kind != SqlTokenKind::End) return unexpected("the end of the condition");
    m_expr.root = root;
    return std::move(m_expr);
}

Result<RecordSourceQuery> Parser::statement()
{
    RecordSourceQuery q;
    q.isStatement = true;
    VK_RETURN_IF_ERROR(expectWord(u"SELECT", "SELECT"));
    VK_RETURN_IF_ERROR(expectSymbol(u"*", "\"*\" after SELECT"));
    VK_RETURN_IF_ERROR(expectWord(u"FROM", "FROM"));
    const SqlToken& table = peek();
    if (table.kind != SqlTokenKind::Word && table.kind != SqlTokenKind::Bracketed)
        return unexpected("a table name after FROM");
    if (table.kind == SqlTokenKind::Word) {
        for (auto w : kReserved)
            if (equalsIgnoreCase(table.text, w)) return unexpected("a table name after FROM");
    }
    q.tableName = table.text;
    ++m_pos;
    if (acceptWord(u"WHERE")) {
        const int root = orExpr();
        if (root < 0) return m_error;
        m_expr.root = root;
        q.where = std::move(m_expr);
    }
    if (acceptWord(u"ORDER")) {
        VK_RETURN_IF_ERROR(expectWord(u"BY", "BY after ORDER"));
        do {
            const SqlToken& col = peek();
            if (col.kind != SqlTokenKind::Word && col.kind != SqlTokenKind::Bracketed)
                return unexpected("a column name in ORDER BY");
            SqlOrderTerm term;
            term.column = col.text;
            ++m_pos;
            if (atSymbol(u".")) {  // table.column
                ++m_pos;
                const SqlToken& c2 = peek();
                if (c2.kind != SqlTokenKind::Word && c2.kind != SqlTokenKind::Bracketed)
                    return unexpected("a column name after the dot");
                if (!equalsIgnoreCase(term.column, q.tableName))
                    return invalidArgument("ORDER BY names a table that is not the one selected from");
                term.column = c2.text;
                ++m_pos;
            }
            if (acceptWord(u"DESC")) term.descending = true;
            else acceptWord(u"ASC");
            q.orderBy.push_back(std::move(term));
        } while (acceptSymbol(u","));
    }
    acceptSymbol(u";");
    if (peek().kind != SqlTokenKind::End)
        return unexpected(q.where || !q.orderBy.empty() ? "the end of the statement"
                                                        : "WHERE, ORDER BY or the end of the statement");
    return q;
}

bool isBlankChar(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

std::u16string_view trim(std::u16string_view s)
{
    while (!s.empty() && isBlankChar(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlankChar(s.back())) s.remove_suffix(1);
    return s;
}

Status checkTableName(std::u16string_view name)
{
    if (name.empty()) return invalidArgument("the record source is empty");
    if (name.size() > static_cast<size_t>(kMaxTableNameLength))
        return invalidArgument("the table name is longer than 64 characters");
    for (char16_t c : name) {
        if (c < 0x20 || c == u'.' || c == u'!' || c == u'`' || c == u'[' || c == u']' || c == u';')
            return invalidArgument("the record source is neither a table name nor a SELECT statement");
    }
    return Status::ok();
}

}  // namespace

Result<RecordSourceQuery> parseRecordSource(std::u16string_view source)
{
    if (source.size() > kMaxRecordSourceLength) return invalidArgument("the record source is too long");
    const std::u16string_view text = trim(source);
    if (text.empty()) return invalidArgument("the record source is empty");

    // The first word decides between a statement and a table name.
    size_t wordEnd = 0;
    while (wordEnd < text.size() && !isBlankChar(text[wordEnd]) && text[wordEnd] != u'*' && text[wordEnd] != u'(')
        ++wordEnd;
    const std::u16string_view first = text.substr(0, wordEnd);
    if (equalsIgnoreCase(first, u"SELECT")) {
        VK_ASSIGN_OR_RETURN(SqlTokens tokens, tokenizeSql(text));
        Parser parser(std::move(tokens));
        return parser.statement();
    }
    if (wordEnd < text.size()) {
        for (auto w : kOtherStatements)
            if (equalsIgnoreCase(first, w))
                return invalidArgument("only a table name or a SELECT statement can be a record source");
    }
    RecordSourceQuery q;
    if (text.size() >= 2 && text.front() == u'[' && text.back() == u']') {
        const std::u16string_view inner = text.substr(1, text.size() - 2);
        VK_RETURN_IF_ERROR(checkTableName(inner));
        q.tableName.assign(inner);
        return q;
    }
    VK_RETURN_IF_ERROR(checkTableName(text));
    q.tableName.assign(text);
    return q;
}

Result<SqlExpression> parseSqlCondition(std::u16string_view condition)
{
    if (condition.size() > kMaxRecordSourceLength) return invalidArgument("the condition is too long");
    VK_ASSIGN_OR_RETURN(SqlTokens tokens, tokenizeSql(condition));
    Parser parser(std::move(tokens));
    return parser.conditionOnly();
}

}  // namespace varnika
