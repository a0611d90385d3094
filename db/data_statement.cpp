#include "db/data_statement.h"

#include "db/convert.h"
#include "db/jet/database.h"
#include "db/jet/query_executor.h"
#include "db/jet/record_sets.h"
#include "db/sql/sql_lexer.h"
#include "db/text.h"

#include <charconv>

namespace varnika {
namespace {

std::string quoted(std::u16string_view name) { return "\"" + toUtf8(name) + "\""; }

bool isBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::u16string_view firstWord(std::u16string_view text)
{
    size_t start = 0;
    while (start < text.size() && isBlank(text[start])) ++start;
    size_t end = start;
    while (end < text.size() && !isBlank(text[end]) && text[end] != u'*' && text[end] != u'[' && text[end] != u'(')
        ++end;
    return text.substr(start, end - start);
}

class StatementParser {
public:
    StatementParser(std::u16string_view text, SqlTokens tokens) : m_text(text), m_source(std::move(tokens)) {}
    // The token list is viewed through a member: not to be copied.
    StatementParser(const StatementParser&) = delete;
    StatementParser& operator=(const StatementParser&) = delete;

    Result<DataStatement> statement()
    {
        if (acceptWord(u"UPDATE")) return update();
        if (acceptWord(u"DELETE")) return remove();
        return fail("UPDATE or DELETE expected");
    }

private:
    const SqlToken& peek() const { return m_tokens[std::min(m_pos, m_tokens.size() - 1)]; }
    bool atWord(std::u16string_view w) const
    {
        return peek().kind == SqlTokenKind::Word && equalsIgnoreCase(peek().text, w);
    }
    bool acceptWord(std::u16string_view w)
    {
        if (!atWord(w)) return false;
        ++m_pos;
        return true;
    }
    bool acceptSymbol(std::u16string_view s)
    {
        if (peek().kind != SqlTokenKind::Symbol || peek().text != s) return false;
        ++m_pos;
        return true;
    }
    Status fail(const std::string& expected) const
    {
        const SqlToken& t = peek();
        std::string found = t.kind == SqlTokenKind::End ? "the end of the statement"
                                                         : "\"" + toUtf8(std::u16string_view(t.text).substr(0, 40)) + "\"";
        return invalidArgument("syntax error in the statement: " + expected + ", found " + found + " at position " +
                               std::to_string(t.position + 1));
    }

    Result<std::u16string> name(const char* what)
    {
        const SqlToken& t = peek();
        if (t.kind != SqlTokenKind::Word && t.kind != SqlTokenKind::Bracketed) return fail(std::string(what) + " expected");
        ++m_pos;
        return std::u16string(t.text);
    }

    // A constant, with its sign.
    Result<FieldAssignment> value(FieldAssignment a)
    {
        bool negative = false;
        if (acceptSymbol(u"-")) negative = true;
        else acceptSymbol(u"+");
        const SqlToken& t = peek();
        if (t.kind == SqlTokenKind::Number) {
            ++m_pos;
            const std::string digits = (negative ? "-" : "") + toUtf8(t.text);
            int32_t whole = 0;
            auto r = std::from_chars(digits.data(), digits.data() + digits.size(), whole);
            if (r.ec == std::errc() && r.ptr == digits.data() + digits.size()) a.value = Variant::longValue(whole);
            else {
                double d = 0;
                auto rd = std::from_chars(digits.data(), digits.data() + digits.size(), d);
                if (rd.ec != std::errc() || rd.ptr != digits.data() + digits.size())
                    return invalidArgument("the number " + digits + " cannot be read");
                a.value = Variant::doubleValue(d);
            }
            return a;
        }
        if (negative) return fail("a number after the sign");
        if (t.kind == SqlTokenKind::String) {
            a.value = Variant::text(std::u16string(t.text));
        } else if (t.kind == SqlTokenKind::Date) {
            a.value = Variant::text(std::u16string(t.text));
            a.dateLiteral = true;
        } else if (atWord(u"NULL")) {
            a.value = Variant();
        } else if (atWord(u"TRUE") || atWord(u"YES")) {
            a.value = Variant::boolean(true);
        } else if (atWord(u"FALSE") || atWord(u"NO")) {
            a.value = Variant::boolean(false);
        } else {
            return fail("a constant value ('text', a number, #date#, True, False or Null)");
        }
        ++m_pos;
        return a;
    }

    // WHERE and the rest, read by the record sources' own condition parser.
    Result<RecordSourceQuery> selection(std::u16string table)
    {
        RecordSourceQuery q;
        q.tableName = std::move(table);
        q.isStatement = true;
        size_t end = m_tokens.size() - 1;  // the End token
        if (end > m_pos && m_tokens[end - 1].kind == SqlTokenKind::Symbol && m_tokens[end - 1].text == u";") --end;
        if (m_pos == end) return q;
        if (!acceptWord(u"WHERE")) return fail("WHERE or the end of the statement");
        if (m_pos == end) return fail("a condition after WHERE");
        const size_t from = size_t(m_tokens[m_pos].position);
        const size_t to = size_t(m_tokens[end].position);
        // Blanks in place of the text before the condition keep the
        // positions in its messages those of the statement.
        std::u16string condition(from, u' ');
        condition.append(m_text.substr(from, to - from));
        Result<SqlExpression> where = parseSqlCondition(condition);
        if (!where.isOk()) {
            std::string message = where.status().message();
            const std::string inSource = "in the record source";
            if (size_t at = message.find(inSource); at != std::string::npos)
                message.replace(at, inSource.size(), "in the condition");
            return Status(where.status().code(), message);
        }
        q.where = std::move(*where);
        return q;
    }

    Result<DataStatement> update()
    {
        UpdateStatement u;
        VK_ASSIGN_OR_RETURN(std::u16string table, name("a table name after UPDATE"));
        if (!acceptWord(u"SET")) return fail("SET");
        do {
            FieldAssignment a;
            VK_ASSIGN_OR_RETURN(a.column, name("a field name"));
            if (acceptSymbol(u".")) {  // table.field
                if (!equalsIgnoreCase(a.column, table)) return invalidArgument("SET names a table that is not the one updated");
                VK_ASSIGN_OR_RETURN(a.column, name("a field name after the dot"));
            }
            if (!acceptSymbol(u"=")) return fail("\"=\" after the field name");
            VK_ASSIGN_OR_RETURN(a, value(std::move(a)));
            for (const FieldAssignment& other : u.assignments)
                if (equalsIgnoreCase(other.column, a.column)) return invalidArgument("the field " + quoted(a.column) + " is set twice");
            u.assignments.push_back(std::move(a));
        } while (acceptSymbol(u","));
        VK_ASSIGN_OR_RETURN(u.selection, selection(std::move(table)));
        return DataStatement(std::move(u));
    }

    Result<DataStatement> remove()
    {
        DeleteStatement d;
        acceptSymbol(u"*");
        if (!acceptWord(u"FROM")) return fail("FROM after DELETE");
        VK_ASSIGN_OR_RETURN(std::u16string table, name("a table name after FROM"));
        VK_ASSIGN_OR_RETURN(d.selection, selection(std::move(table)));
        return DataStatement(std::move(d));
    }

    std::u16string_view m_text;
    SqlTokens m_source;
    const std::vector<SqlToken>& m_tokens = m_source.list;
    size_t m_pos = 0;
};

// What the statement writes into each field, converted to its type.
struct Prepared {
    std::vector<std::pair<std::u16string, Variant>> values;
};

Result<Prepared> prepareValues(const jet::TableDef& def, const UpdateStatement& u, const RegionalSettings& settings)
{
    Prepared p;
    for (const FieldAssignment& a : u.assignments) {
        const int c = def.findColumn(a.column);
        if (c < 0) return notFound("the table " + quoted(u.selection.tableName) + " has no field " + quoted(a.column));
        const jet::ColumnDef& col = def.columns()[size_t(c)];
        if (col.isAutoLong() || col.isAutoGuid())
            return invalidArgument("the field " + quoted(col.name) + " is numbered automatically and cannot be set");
        Result<Variant> converted = Variant();
        if (a.dateLiteral) {
            Result<double> date = parseDateLiteral(a.value.asText());
            converted = date.isOk() ? convertForColumn(Variant::date(*date), col.type(), col.displaySize(), settings)
                                    : Result<Variant>(date.status());
        } else {
            converted = convertForColumn(a.value, col.type(), col.displaySize(), settings);
        }
        if (!converted.isOk())
            return Status(converted.status().code(), "field " + quoted(col.name) + ": " + converted.status().message());
        if (converted->isNull() && !(col.flags & jet::tdef::kColFlagNullable) && !col.isBoolean())
            return Status(ErrorCode::Constraint, "the field " + quoted(col.name) + " cannot be empty");
        p.values.emplace_back(col.name, std::move(*converted));
    }
    return p;
}

Status stoppedAt(const Status& s, int64_t done, const char* verb)
{
    if (done == 0) return s;
    return Status(s.code(), s.message() + " (the " + std::to_string(done) + " record" + (done == 1 ? "" : "s") +
                                " " + verb + " before it stay " + verb + ")");
}

}  // namespace

bool isDataStatement(std::u16string_view text)
{
    const std::u16string_view w = firstWord(text);
    return equalsIgnoreCase(w, u"UPDATE") || equalsIgnoreCase(w, u"DELETE");
}

Result<DataStatement> parseDataStatement(std::u16string_view text)
{
    if (text.size() > kMaxRecordSourceLength) return invalidArgument("the statement is too long");
    VK_ASSIGN_OR_RETURN(SqlTokens tokens, tokenizeSql(text));
    StatementParser parser(text, std::move(tokens));
    return parser.statement();
}

Result<int64_t> executeDataStatement(const std::shared_ptr<jet::Database>& db, const DataStatement& statement,
                                     const RegionalSettings& settings)
{
    const bool isUpdate = std::holds_alternative<UpdateStatement>(statement);
    const RecordSourceQuery& selection = isUpdate ? std::get<UpdateStatement>(statement).selection
                                                  : std::get<DeleteStatement>(statement).selection;
    VK_RETURN_IF_ERROR(db->checkWritable());
    VK_ASSIGN_OR_RETURN(std::shared_ptr<jet::Table> table, db->table(selection.tableName));
    // Rows inserted since the definition was read changed its counters.
    VK_RETURN_IF_ERROR(table->reload());
    Prepared prepared;
    if (isUpdate) {
        VK_ASSIGN_OR_RETURN(prepared, prepareValues(table->def(), std::get<UpdateStatement>(statement), settings));
    }
    VK_ASSIGN_OR_RETURN(std::vector<jet::RowPointer> rows, jet::selectRows(*table, selection, settings));
    const int64_t count = int64_t(rows.size());

    const size_t lostBefore = db->pager().unitsLost();
    jet::TableRecordSet records(db, table, std::move(rows), settings);
    int64_t done = 0;
    Status s;
    if (count > 0) s = records.MoveFirst();
    while (s.isOk() && done < count) {
        if (isUpdate) {
            s = records.Edit();
            for (size_t i = 0; s.isOk() && i < prepared.values.size(); ++i) {
                Result<Field*> field = records.Fields(prepared.values[i].first);
                s = field.isOk() ? (*field)->SetValue(prepared.values[i].second) : field.status();
            }
            if (s.isOk()) s = records.Update();
        } else {
            s = records.Delete();
        }
        if (!s.isOk()) break;
        ++done;
        s = records.MoveNext();
    }
    // Closing writes what the set still holds (its group, or the index
    // changes it held back in the caller's): a failure there is the
    // statement's own.
    Status closed = records.Close();
    if (!s.isOk()) {
        const char* verb = isUpdate ? "changed" : "deleted";
        if (!closed.isOk())
            return Status(s.code(), s.message() + "; the records " + verb + " before it could not be saved either: " +
                                        closed.message());
        // The records before the failure stay, unless their save failed
        // too (the message then says how many were lost).
        if (db->pager().unitsLost() != lostBefore) return s;
        return stoppedAt(s, done, verb);
    }
    VK_RETURN_IF_ERROR(closed);
    return count;
}

}  // namespace varnika
