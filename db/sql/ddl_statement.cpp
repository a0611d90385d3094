#include "db/sql/ddl_statement.h"

#include "db/sql/sql_lexer.h"
#include "db/text.h"

#include <algorithm>
#include <cstdlib>

namespace varnika::jet {
namespace {

bool isSymbol(const SqlToken& t, char16_t c)
{
    return t.kind == SqlTokenKind::Symbol && t.text.size() == 1 && t.text[0] == c;
}

class Parser {
public:
    explicit Parser(SqlTokens t) : m_tokens(std::move(t)) {}
    // The token list is viewed through a member: not to be copied.
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    Result<DdlStatement> statement()
    {
        if (word(u"ALTER")) {
            VK_RETURN_IF_ERROR(expectWord(u"TABLE"));
            AlterTableAddColumn a;
            VK_ASSIGN_OR_RETURN(a.table, name("a table name"));
            VK_RETURN_IF_ERROR(expectWord(u"ADD"));
            word(u"COLUMN");
            VK_ASSIGN_OR_RETURN(a.column, columnSpec(true));
            VK_RETURN_IF_ERROR(end());
            return DdlStatement(std::move(a));
        }
        if (word(u"CREATE")) {
            if (word(u"TABLE")) return createTable();
            bool unique = word(u"UNIQUE");
            if (word(u"INDEX")) return createIndex(unique);
            return fail("CREATE must be followed by TABLE or INDEX");
        }
        if (word(u"INSERT")) return insertInto();
        return fail("only ALTER TABLE, CREATE TABLE, CREATE INDEX and INSERT INTO can be run here");
    }

private:
    const SqlToken& peek() const { return m_t[m_p]; }
    bool isWord(std::u16string_view w) const { return peek().kind == SqlTokenKind::Word && equalsIgnoreCase(peek().text, w); }
    bool word(std::u16string_view w)
    {
        if (!isWord(w)) return false;
        ++m_p;
        return true;
    }
    bool punct(char16_t c)
    {
        if (!isSymbol(peek(), c)) return false;
        ++m_p;
        return true;
    }
    Status fail(const std::string& what) const
    {
        std::string near = peek().kind == SqlTokenKind::End ? "at the end of the statement" : "near \"" + toUtf8(peek().text) + "\"";
        return invalidArgument("syntax error in the statement " + near + ": " + what);
    }
    Status expectWord(std::u16string_view w)
    {
        if (word(w)) return Status::ok();
        return fail("expected " + toUtf8(std::u16string(w)));
    }
    Status expectPunct(char16_t c)
    {
        if (punct(c)) return Status::ok();
        return fail(std::string("expected '") + char(c) + "'");
    }
    Status end()
    {
        punct(u';');
        if (peek().kind != SqlTokenKind::End) return fail("unexpected text after the end of the statement");
        return Status::ok();
    }

    Result<std::u16string> name(const char* what)
    {
        const SqlToken& t = peek();
        if (t.kind != SqlTokenKind::Word && t.kind != SqlTokenKind::Bracketed) return fail(std::string("expected ") + what);
        if (t.kind == SqlTokenKind::Word && t.text[0] >= u'0' && t.text[0] <= u'9') return fail(std::string("expected ") + what);
        if (!isValidObjectName(t.text)) return fail(std::string("\"") + toUtf8(t.text) + "\" is not a valid name");
        ++m_p;
        return std::u16string(t.text);
    }

    Result<int> sizeClause()
    {
        if (!punct(u'(')) return 0;
        if (peek().kind != SqlTokenKind::Number) return fail("expected a size");
        int size = std::atoi(toUtf8(peek().text).c_str());
        ++m_p;
        if (punct(u',')) {  // DECIMAL(p, s): the scale is read and ignored here
            if (peek().kind != SqlTokenKind::Number) return fail("expected a scale");
            ++m_p;
        }
        VK_RETURN_IF_ERROR(expectPunct(u')'));
        return size;
    }

    Result<ColumnSpec> columnSpec(bool alter)
    {
        ColumnSpec c;
        VK_ASSIGN_OR_RETURN(c.name, name("a column name"));
        if (peek().kind != SqlTokenKind::Word) return fail("expected a column type");
        std::u16string typeWord(peek().text);
        ++m_p;
        if (equalsIgnoreCase(typeWord, u"Date") && punct(u'/')) {
            if (!word(u"Time")) return fail("expected Date/Time");
            typeWord = u"Date/Time";
        }
        if (equalsIgnoreCase(typeWord, u"Long") && isWord(u"Integer")) {  // "Long Integer", as Access shows it
            ++m_p;
        }
        auto tw = lookupTypeWord(typeWord);
        if (!tw) return invalidArgument("unknown column type \"" + toUtf8(typeWord) + "\"");
        c.type = tw->type;
        c.autoNumber = tw->autoNumber;
        VK_ASSIGN_OR_RETURN(int size, sizeClause());
        c.size = size ? size : tw->defaultSize;
        if (c.type == ColumnType::Text && (c.size < 1 || c.size > 255))
            return invalidArgument("a Text column holds 1 to 255 characters");
        if (c.type == ColumnType::Binary && (c.size < 1 || c.size > 510))
            return invalidArgument("a Binary column holds 1 to 510 bytes");
        while (true) {
            if (word(u"NOT")) {
                VK_RETURN_IF_ERROR(expectWord(u"NULL"));
                c.notNull = true;
            } else if (word(u"NULL")) {
            } else if (!alter && word(u"PRIMARY")) {
                VK_RETURN_IF_ERROR(expectWord(u"KEY"));
                c.primaryKey = true;
                c.notNull = true;
            } else if (!alter && word(u"UNIQUE")) {
                c.unique = true;
            } else if (word(u"DEFAULT")) {
                std::u16string text;
                if (punct(u'-')) text = u"-";
                const SqlToken& t = peek();
                if (t.kind == SqlTokenKind::Number) text += t.text;
                else if (t.kind == SqlTokenKind::Word && text.empty() && m_p + 2 < m_t.size() &&
                         isSymbol(m_t[m_p + 1], u'(') && isSymbol(m_t[m_p + 2], u')')) {
                    text = std::u16string(t.text) + u"()";  // a function without arguments: Date(), Now(), GenGUID()
                    m_p += 2;
                } else if (t.kind == SqlTokenKind::Word) text += t.text;
                else if (t.kind == SqlTokenKind::String) {
                    text = u"'";
                    for (char16_t ch : t.text) text += ch == u'\'' ? std::u16string(u"''") : std::u16string(1, ch);
                    text += u"'";
                }
                else if (t.kind == SqlTokenKind::Date) text = u"#" + std::u16string(t.text) + u"#";
                else return fail("expected a default value");
                ++m_p;
                c.defaultText = text;
            } else {
                break;
            }
        }
        return c;
    }

    Result<std::vector<IndexColumnSpec>> columnList(bool withOrder)
    {
        std::vector<IndexColumnSpec> cols;
        cols.reserve(8);
        VK_RETURN_IF_ERROR(expectPunct(u'('));
        do {
            IndexColumnSpec ic;
            VK_ASSIGN_OR_RETURN(ic.name, name("a column name"));
            if (withOrder) {
                if (word(u"DESC")) ic.ascending = false;
                else word(u"ASC");
            }
            cols.push_back(std::move(ic));
        } while (punct(u','));
        VK_RETURN_IF_ERROR(expectPunct(u')'));
        return cols;
    }

    Result<DdlStatement> createTable()
    {
        CreateTable ct;
        VK_ASSIGN_OR_RETURN(ct.table, name("a table name"));
        VK_RETURN_IF_ERROR(expectPunct(u'('));
        do {
            std::u16string constraintName;
            if (word(u"CONSTRAINT")) {
                VK_ASSIGN_OR_RETURN(constraintName, name("a constraint name"));
            }
            if (isWord(u"PRIMARY") || isWord(u"UNIQUE")) {
                IndexSpec ix;
                if (word(u"PRIMARY")) {
                    VK_RETURN_IF_ERROR(expectWord(u"KEY"));
                    ix.primaryKey = true;
                    ix.unique = true;
                    ix.name = constraintName.empty() ? u"PrimaryKey" : constraintName;
                } else {
                    ++m_p;
                    ix.unique = true;
                    ix.name = constraintName;
                }
                VK_ASSIGN_OR_RETURN(ix.columns, columnList(true));
                ct.indexes.push_back(std::move(ix));
                continue;
            }
            if (!constraintName.empty()) return fail("expected PRIMARY KEY or UNIQUE after CONSTRAINT");
            VK_ASSIGN_OR_RETURN(ColumnSpec c, columnSpec(false));
            ct.columns.push_back(std::move(c));
        } while (punct(u','));
        VK_RETURN_IF_ERROR(expectPunct(u')'));
        VK_RETURN_IF_ERROR(end());
        for (const ColumnSpec& c : ct.columns) {
            if (c.primaryKey) ct.indexes.push_back({u"PrimaryKey", {{c.name, true}}, true, true});
            else if (c.unique) ct.indexes.push_back({c.name, {{c.name, true}}, true, false});
        }
        int primaries = 0;
        for (IndexSpec& ix : ct.indexes) {
            if (ix.primaryKey) ++primaries;
            if (ix.name.empty()) ix.name = ix.columns.front().name;
        }
        if (primaries > 1) return invalidArgument("a table can have only one primary key");
        if (ct.columns.empty()) return invalidArgument("a table needs at least one column");
        return DdlStatement(std::move(ct));
    }

    Result<DdlStatement> createIndex(bool unique)
    {
        CreateIndex ci;
        ci.index.unique = unique;
        VK_ASSIGN_OR_RETURN(ci.index.name, name("an index name"));
        VK_RETURN_IF_ERROR(expectWord(u"ON"));
        VK_ASSIGN_OR_RETURN(ci.table, name("a table name"));
        VK_ASSIGN_OR_RETURN(ci.index.columns, columnList(true));
        if (word(u"WITH")) {
            if (word(u"PRIMARY")) {
                ci.index.primaryKey = true;
                ci.index.unique = true;
            } else {
                return fail("expected PRIMARY after WITH");
            }
        }
        VK_RETURN_IF_ERROR(end());
        return DdlStatement(std::move(ci));
    }

    Result<Variant> literal(bool& isDate)
    {
        isDate = false;
        bool negative = false;
        if (punct(u'-')) negative = true;
        else punct(u'+');
        const SqlToken& t = m_t[m_p];
        if (t.kind == SqlTokenKind::Number) {
            ++m_p;
            // A number token is ASCII digits, a point and an exponent.
            std::string s;
            s.reserve(t.text.size() + 1);
            if (negative) s.push_back('-');
            for (char16_t c : t.text) s.push_back(char(c));
            bool integral = s.find_first_of(".eE") == std::string::npos;
            if (integral) {
                char* endp = nullptr;
                long long v = std::strtoll(s.c_str(), &endp, 10);
                if (*endp == 0 && v >= INT32_MIN && v <= INT32_MAX) return Variant::longValue(int32_t(v));
            }
            return Variant::doubleValue(std::strtod(s.c_str(), nullptr));
        }
        if (negative) return fail("expected a number after '-'");
        if (t.kind == SqlTokenKind::String) {
            ++m_p;
            return Variant::text(std::u16string(t.text));
        }
        if (t.kind == SqlTokenKind::Date) {
            ++m_p;
            isDate = true;
            return Variant::text(std::u16string(t.text));
        }
        if (t.kind == SqlTokenKind::Word) {
            if (equalsIgnoreCase(t.text, u"NULL")) { ++m_p; return Variant(); }
            if (equalsIgnoreCase(t.text, u"TRUE")) { ++m_p; return Variant::boolean(true); }
            if (equalsIgnoreCase(t.text, u"FALSE")) { ++m_p; return Variant::boolean(false); }
        }
        return fail("expected a value");
    }

    Result<DdlStatement> insertInto()
    {
        InsertInto in;
        VK_RETURN_IF_ERROR(expectWord(u"INTO"));
        VK_ASSIGN_OR_RETURN(in.table, name("a table name"));
        if (isSymbol(peek(), u'(')) {
            VK_ASSIGN_OR_RETURN(auto cols, columnList(false));
            in.columns.reserve(cols.size());
            for (auto& c : cols) in.columns.push_back(std::move(c.name));
        }
        VK_RETURN_IF_ERROR(expectWord(u"VALUES"));
        m_valuesAt = size_t(peek().position);
        return values(std::move(in));
    }

public:
    // The values list of an INSERT whose table and fields `in` holds, and
    // the end of the statement.
    Result<DdlStatement> values(InsertInto in)
    {
        VK_RETURN_IF_ERROR(expectPunct(u'('));
        in.values.clear();
        in.dateLiteral.clear();
        in.values.reserve(std::max<size_t>(in.columns.size(), 8));
        in.dateLiteral.reserve(in.values.capacity());
        do {
            bool isDate = false;
            VK_ASSIGN_OR_RETURN(Variant v, literal(isDate));
            in.values.push_back(std::move(v));
            in.dateLiteral.push_back(isDate);
        } while (punct(u','));
        VK_RETURN_IF_ERROR(expectPunct(u')'));
        VK_RETURN_IF_ERROR(end());
        if (!in.columns.empty() && in.columns.size() != in.values.size())
            return invalidArgument("INSERT INTO names " + std::to_string(in.columns.size()) + " columns but gives " +
                                   std::to_string(in.values.size()) + " values");
        return DdlStatement(std::move(in));
    }
    // Where the values list of the INSERT just read starts; 0 for any other
    // statement.
    size_t valuesAt() const { return m_valuesAt; }

private:
    SqlTokens m_tokens;
    const std::vector<SqlToken>& m_t = m_tokens.list;
    size_t m_p = 0;
    size_t m_valuesAt = 0;
};

}  // namespace

std::optional<TypeWord> lookupTypeWord(std::u16string_view w)
{
    struct Entry {
        const char16_t* word;
        ColumnType type;
        int size;
        bool autoNumber;
    };
    // Jet SQL's INTEGER is the 32-bit Long; SHORT and SMALLINT are the 16-bit Integer.
    static const Entry kWords[] = {
        {u"BIT", ColumnType::Boolean, 0, false},       {u"YESNO", ColumnType::Boolean, 0, false},
        {u"LOGICAL", ColumnType::Boolean, 0, false},   {u"LOGICAL1", ColumnType::Boolean, 0, false},
        {u"BOOLEAN", ColumnType::Boolean, 0, false},   {u"BYTE", ColumnType::Byte, 0, false},
        {u"TINYINT", ColumnType::Byte, 0, false},      {u"INTEGER1", ColumnType::Byte, 0, false},
        {u"SHORT", ColumnType::Integer, 0, false},     {u"SMALLINT", ColumnType::Integer, 0, false},
        {u"INTEGER2", ColumnType::Integer, 0, false},  {u"LONG", ColumnType::Long, 0, false},
        {u"INTEGER", ColumnType::Long, 0, false},      {u"INT", ColumnType::Long, 0, false},
        {u"INTEGER4", ColumnType::Long, 0, false},     {u"COUNTER", ColumnType::Long, 0, true},
        {u"AUTOINCREMENT", ColumnType::Long, 0, true}, {u"CURRENCY", ColumnType::Currency, 0, false},
        {u"MONEY", ColumnType::Currency, 0, false},    {u"SINGLE", ColumnType::Single, 0, false},
        {u"REAL", ColumnType::Single, 0, false},       {u"FLOAT4", ColumnType::Single, 0, false},
        {u"IEEESINGLE", ColumnType::Single, 0, false}, {u"DOUBLE", ColumnType::Double, 0, false},
        {u"FLOAT", ColumnType::Double, 0, false},      {u"FLOAT8", ColumnType::Double, 0, false},
        {u"IEEEDOUBLE", ColumnType::Double, 0, false}, {u"NUMBER", ColumnType::Double, 0, false},
        {u"DATETIME", ColumnType::DateTime, 0, false}, {u"DATE", ColumnType::DateTime, 0, false},
        {u"TIME", ColumnType::DateTime, 0, false},     {u"TIMESTAMP", ColumnType::DateTime, 0, false},
        {u"Date/Time", ColumnType::DateTime, 0, false}, {u"BINARY", ColumnType::Binary, 510, false},
        {u"VARBINARY", ColumnType::Binary, 510, false}, {u"TEXT", ColumnType::Text, 255, false},
        {u"VARCHAR", ColumnType::Text, 255, false},    {u"CHAR", ColumnType::Text, 255, false},
        {u"CHARACTER", ColumnType::Text, 255, false},  {u"STRING", ColumnType::Text, 255, false},
        {u"NVARCHAR", ColumnType::Text, 255, false},   {u"ALPHANUMERIC", ColumnType::Text, 255, false},
        {u"LONGBINARY", ColumnType::OLE, 0, false},    {u"OLEOBJECT", ColumnType::OLE, 0, false},
        {u"GENERAL", ColumnType::OLE, 0, false},       {u"IMAGE", ColumnType::OLE, 0, false},
        {u"MEMO", ColumnType::Memo, 0, false},         {u"LONGTEXT", ColumnType::Memo, 0, false},
        {u"LONGCHAR", ColumnType::Memo, 0, false},     {u"NOTE", ColumnType::Memo, 0, false},
        {u"NTEXT", ColumnType::Memo, 0, false},        {u"GUID", ColumnType::Guid, 0, false},
        {u"UNIQUEIDENTIFIER", ColumnType::Guid, 0, false}, {u"DECIMAL", ColumnType::Numeric, 0, false},
        {u"NUMERIC", ColumnType::Numeric, 0, false},   {u"DEC", ColumnType::Numeric, 0, false},
    };
    for (const Entry& e : kWords)
        if (equalsIgnoreCase(w, e.word)) return TypeWord{e.type, e.size, e.autoNumber};
    return std::nullopt;
}

Result<DdlStatement> parseDdlStatement(std::u16string_view text)
{
    VK_ASSIGN_OR_RETURN(SqlTokens tokens, tokenizeSql(text, SqlText::DdlStatement));
    Parser p(std::move(tokens));
    return p.statement();
}

Result<DdlStatement> DdlStatementParser::parse(std::u16string_view text)
{
    // The text before the values list is the last INSERT's, and the list
    // starts where it started there: what comes before it splits into the
    // same tokens, so only the rest needs reading.
    const size_t head = m_insertHead.size();
    if (head > 0 && text.size() > head && text[head] == u'(' && text.substr(0, head) == m_insertHead) {
        VK_ASSIGN_OR_RETURN(SqlTokens tokens, tokenizeSql(text, SqlText::DdlStatement, head));
        Parser p(std::move(tokens));
        return p.values(m_insert);
    }
    VK_ASSIGN_OR_RETURN(SqlTokens tokens, tokenizeSql(text, SqlText::DdlStatement));
    Parser p(std::move(tokens));
    Result<DdlStatement> parsed = p.statement();
    if (parsed.isOk() && p.valuesAt() > 0) {
        const InsertInto& in = std::get<InsertInto>(*parsed);
        m_insertHead.assign(text.substr(0, p.valuesAt()));
        m_insert.table = in.table;
        m_insert.columns = in.columns;
    }
    return parsed;
}

}  // namespace varnika::jet
