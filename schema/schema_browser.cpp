#include "schema/schema_browser.h"

#include "db/connection.h"
#include "db/data_control.h"
#include "db/convert.h"

#include <memory>

namespace varnika {

namespace {

// Closes the connection when a listing ends early, so none outlives its handler.
class ConnectionCloser {
public:
    explicit ConnectionCloser(Connection& c) : m_connection(c) {}
    ~ConnectionCloser()
    {
        if (m_connection.isOpen()) (void)m_connection.Close();
    }

private:
    Connection& m_connection;
};

// The schema rows carry text; the listing converts each value to text the
// neutral way.
Result<std::u16string> columnText(RecordSet& rows, std::u16string_view column)
{
    VK_ASSIGN_OR_RETURN(Field * field, rows.Fields(column));
    VK_ASSIGN_OR_RETURN(Variant value, field->Value());
    return variantToText(value, RegionalSettings::turkish());
}

// Appends the column of every row to `list`, then closes the rows.
Status appendRows(WindowPort& w, ListBox list, RecordSet& rows, std::u16string_view column)
{
    for (;;) {
        VK_ASSIGN_OR_RETURN(bool eof, rows.Eof());
        if (eof) break;
        VK_ASSIGN_OR_RETURN(std::u16string name, columnText(rows, column));
        w.addListItem(list, name);
        VK_RETURN_IF_ERROR(rows.MoveNext());
    }
    return rows.Close();
}

bool onlyBlanks(const std::u16string& s)
{
    return s.find_first_not_of(u' ') == std::u16string::npos;
}

}  // namespace

std::u16string listingConnectionString(const std::u16string& path)
{
    return u"Provider=Microsoft.Jet.OLEDB.4.0;" + (u"Data Source=" + path) + u";" + u"Persist Security Info=False";
}

std::u16string addFieldConnectionString(const std::u16string& path)
{
    return u"Provider=Microsoft.Jet.OLEDB.4.0;" + std::u16string(u"Persist Security Info=False;") +
           u"Data Source=" + path;
}

std::u16string addFieldStatement(const std::u16string& table, const std::u16string& column,
                                 const std::u16string& typeText, const std::u16string& defaultValue)
{
    std::u16string s = u"ALTER TABLE " + table + u" ADD COLUMN " + column + u" " + typeText;
    if (!onlyBlanks(defaultValue)) s += u" DEFAULT " + defaultValue;
    return s;
}

FileDialogRequest mdbFileDialogRequest()
{
    FileDialogRequest r;
    r.title = u"Mdb Dosya Se\u00e7imi";
    r.filterName = u"Mdb Dosyalar\u0131";
    r.pattern = u"*.Mdb";
    r.multipleSelection = true;
    return r;
}

std::u16string dialogFileName(const std::vector<std::u16string>& paths)
{
    if (paths.empty()) return std::u16string();
    if (paths.size() == 1) return paths.front();
    const std::u16string& first = paths.front();
    const size_t slash = first.rfind(u'/');
    std::u16string name = slash == std::u16string::npos ? std::u16string() : first.substr(0, slash);
    for (const std::u16string& p : paths) {
        const size_t s = p.rfind(u'/');
        name += u'\0';
        name += s == std::u16string::npos ? p : p.substr(s + 1);
    }
    return name;
}

Status Command4_Click(WindowPort& w)
{
    const FileDialogResult chosen = w.chooseFile(mdbFileDialogRequest());
    if (chosen.cancelled) return Status(ErrorCode::InvalidArgument, "the file choice was cancelled");
    const std::u16string fileName = dialogFileName(chosen.paths);
    w.setText(TextBox::Text1, fileName);
    return LoadTableList(w, fileName);
}

Status LoadTableList(WindowPort& w, const std::u16string& path)
{
    Connection connection;
    ConnectionCloser closer(connection);
    connection.SetConnectionString(listingConnectionString(path));
    VK_RETURN_IF_ERROR(connection.Open({}, {}, {}, -1));
    w.clearList(ListBox::Tables);
    w.clearList(ListBox::Fields);
    VK_ASSIGN_OR_RETURN(std::unique_ptr<RecordSet> rows,
                        connection.OpenSchema(adSchemaTables, {Variant(), Variant(), Variant(), Variant::text(u"Table")}));
    VK_RETURN_IF_ERROR(appendRows(w, ListBox::Tables, *rows, u"TABLE_NAME"));
    return connection.Close();
}

Status lstTables_Click(WindowPort& w)
{
    const int index = w.listIndex(ListBox::Tables);
    if (index < 0) return Status::ok();
    const std::u16string table = w.listItem(ListBox::Tables, index);
    w.setText(TextBox::Text5, table);
    return LoadFieldList(w, w.text(TextBox::Text1), table);
}

Status LoadFieldList(WindowPort& w, const std::u16string& path, const std::u16string& table)
{
    Connection connection;
    ConnectionCloser closer(connection);
    connection.SetConnectionString(listingConnectionString(path));
    VK_RETURN_IF_ERROR(connection.Open({}, {}, {}, -1));
    w.clearList(ListBox::Fields);
    VK_ASSIGN_OR_RETURN(std::unique_ptr<RecordSet> rows,
                        connection.OpenSchema(adSchemaColumns, {Variant(), Variant(), Variant::text(table)}));
    VK_RETURN_IF_ERROR(appendRows(w, ListBox::Fields, *rows, u"COLUMN_NAME"));
    return connection.Close();
}

void lstFields_Click(WindowPort& w)
{
    const int index = w.listIndex(ListBox::Fields);
    w.setText(TextBox::Text2, index < 0 ? std::u16string() : w.listItem(ListBox::Fields, index));
    w.focusOldValue();
}

Status AddField_Click(WindowPort& w)
{
    Connection connection;
    ConnectionCloser closer(connection);
    connection.SetConnectionString(addFieldConnectionString(w.text(TextBox::Text1)));
    VK_RETURN_IF_ERROR(connection.Open({}, {}, {}, -1));
    // The window has no input for a default value, so the statement never
    // carries a DEFAULT clause from here.
    const std::u16string statement =
        addFieldStatement(w.text(TextBox::Text5), w.text(TextBox::Text9), w.fieldTypeText());
    VK_RETURN_IF_ERROR(connection.Execute(statement, -1));
    VK_RETURN_IF_ERROR(connection.Close());
    w.showMessage(statement + u"\r\n" + u"Ok");
    return Status::ok();
}

}  // namespace varnika
