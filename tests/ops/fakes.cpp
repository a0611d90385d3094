#include "ops/fakes.h"

#include "db/text.h"
#include "ops/window_design.h"

namespace varnika::test {

namespace {
const char* buttonName(Button b)
{
    switch (b) {
    case Button::Command1: return "Command1";
    case Button::Command2: return "Command2";
    case Button::Command3: return "Command3";
    case Button::Command4: return "Command4";
    case Button::AddField: return "AddField";
    }
    return "?";
}
}  // namespace

FakeWindow::FakeWindow() : counter(kCounterDesignCaption), fieldType(kFieldTypes.front().name)
{
    for (int i = 0; i < 10; ++i) {
        const TextBox box = static_cast<TextBox>(i);
        if (!initialText(box).empty()) texts[box] = initialText(box);
    }
}

std::u16string FakeWindow::text(TextBox box) const
{
    auto it = texts.find(box);
    return it == texts.end() ? std::u16string() : it->second;
}

void FakeWindow::setText(TextBox box, const std::u16string& t)
{
    const bool changed = text(box) != t;
    texts[box] = t;
    log.push_back("text " + std::to_string(static_cast<int>(box) + 1) + " " + toUtf8(t));
    // The box's change behaviour, as the window runs it for a changed text.
    const std::u16string_view reset = boxBehaviour(box).changeSetsCounterTo;
    if (changed && !reset.empty()) counter = reset;
}

bool FakeWindow::isChecked(CheckBox box) const
{
    auto it = checks.find(box);
    return it != checks.end() && it->second;
}

void FakeWindow::setChecked(CheckBox box, bool on)
{
    checks[box] = on;
}

void FakeWindow::setCounterText(const std::u16string& t)
{
    counter = t;
    log.push_back("counter " + toUtf8(t));
}

void FakeWindow::clearList(ListBox l)
{
    lists[static_cast<int>(l)].clear();
    selected[static_cast<int>(l)] = -1;
}

void FakeWindow::addListItem(ListBox l, const std::u16string& item)
{
    lists[static_cast<int>(l)].push_back(item);
}

std::u16string FakeWindow::listItem(ListBox l, int index) const
{
    const auto& v = lists[static_cast<int>(l)];
    return index >= 0 && index < static_cast<int>(v.size()) ? v[index] : std::u16string();
}

void FakeWindow::setButtonEnabled(Button b, bool on)
{
    enabled[b] = on;
    log.push_back(std::string(on ? "enable " : "disable ") + buttonName(b));
}

bool FakeWindow::isButtonEnabled(Button b) const
{
    auto it = enabled.find(b);
    return it == enabled.end() || it->second;
}

void FakeWindow::setBusy(BusyScope scope, bool busy)
{
    (scope == BusyScope::Window ? windowBusy : applicationBusy) = busy;
    log.push_back(std::string(busy ? "busy " : "normal ") + (scope == BusyScope::Window ? "Window" : "Application"));
}

void FakeWindow::processEvents()
{
    ++processEventsCalls;
    if (onProcessEvents) onProcessEvents();
}

FileDialogResult FakeWindow::chooseFile(const FileDialogRequest& request)
{
    lastRequest = request;
    return dialogResult;
}

// ---- FakeRecordSet ----------------------------------------------------------

class FakeField : public Field {
public:
    FakeField(FakeRecordSet& rs, int column) : m_rs(rs), m_column(column) {}
    const std::u16string& Name() const override { return m_rs.columns[m_column]; }
    ColumnType type() const override { return ColumnType{}; }
    int size() const override { return 0; }
    Result<Variant> Value() const override
    {
        VK_RETURN_IF_ERROR(m_rs.current());
        if (static_cast<int>(m_rs.m_position) == m_rs.failValueAtRow)
            return Status(ErrorCode::IOError, "planted read failure");
        if (m_rs.m_editing) return m_rs.m_buffer[m_column];
        return m_rs.rows[m_rs.m_position][m_column];
    }
    Status SetValue(const Variant& value) override
    {
        VK_RETURN_IF_ERROR(m_rs.current());
        if (!m_rs.m_editing) return Status(ErrorCode::InvalidArgument, "no Edit before the write");
        m_rs.m_buffer[m_column] = value;
        return Status::ok();
    }

private:
    FakeRecordSet& m_rs;
    int m_column;
};

FakeRecordSet::FakeRecordSet(std::vector<std::u16string> cols, std::vector<std::vector<Variant>> r)
    : columns(std::move(cols)), rows(std::move(r)), deleted(rows.size(), false)
{
    for (size_t i = 0; i < columns.size(); ++i) m_fields.push_back(std::make_unique<FakeField>(*this, int(i)));
}

FakeRecordSet::~FakeRecordSet() = default;

const Variant& FakeRecordSet::at(size_t row, std::u16string_view name) const
{
    return rows[row][column(name)];
}

int FakeRecordSet::column(std::u16string_view name) const
{
    for (size_t i = 0; i < columns.size(); ++i)
        if (equalsIgnoreCase(columns[i], name)) return int(i);
    return -1;
}

Status FakeRecordSet::current() const
{
    if (!m_open) return Status(ErrorCode::Closed, "closed");
    if (m_position >= rows.size()) return Status(ErrorCode::Closed, "no current record");
    if (deleted[m_position]) return Status(ErrorCode::NotFound, "the record is deleted");
    return Status::ok();
}

Result<bool> FakeRecordSet::BOF() const
{
    if (!m_open) return Status(ErrorCode::Closed, "closed");
    return rows.empty();
}

Result<bool> FakeRecordSet::Eof() const
{
    if (!m_open) return Status(ErrorCode::Closed, "closed");
    return m_position >= rows.size();
}

Status FakeRecordSet::MoveFirst()
{
    if (!m_open) return Status(ErrorCode::Closed, "closed");
    ++moveFirstCalls;
    m_position = 0;
    m_editing = false;
    return Status::ok();
}

Status FakeRecordSet::MoveLast(int)
{
    if (!m_open) return Status(ErrorCode::Closed, "closed");
    ++moveLastCalls;
    m_position = rows.empty() ? 0 : rows.size() - 1;
    m_editing = false;
    return Status::ok();
}

Status FakeRecordSet::MoveNext()
{
    if (!m_open) return Status(ErrorCode::Closed, "closed");
    if (m_position >= rows.size()) return Status(ErrorCode::Closed, "already past the end");
    ++m_position;
    m_editing = false;
    return Status::ok();
}

Result<int64_t> FakeRecordSet::AbsolutePosition() const
{
    VK_RETURN_IF_ERROR(current());
    return static_cast<int64_t>(m_position);
}

Result<int64_t> FakeRecordSet::RecordCount() const
{
    if (!m_open) return Status(ErrorCode::Closed, "closed");
    return static_cast<int64_t>(rows.size());
}

Result<Field*> FakeRecordSet::Fields(int index)
{
    if (index < 0 || index >= fieldCount()) return notFound("no such field");
    return m_fields[index].get();
}

Result<Field*> FakeRecordSet::Fields(std::u16string_view name)
{
    const int c = column(name);
    if (c < 0) return notFound("no field named " + toUtf8(name));
    return m_fields[c].get();
}

Status FakeRecordSet::Edit()
{
    VK_RETURN_IF_ERROR(current());
    ++edits;
    m_editing = true;
    m_buffer = rows[m_position];
    return Status::ok();
}

Status FakeRecordSet::Update()
{
    VK_RETURN_IF_ERROR(current());
    if (!m_editing) return Status(ErrorCode::InvalidArgument, "Update without Edit");
    m_editing = false;
    if (static_cast<int>(m_position) == failUpdateAtRow) return Status(ErrorCode::Constraint, "planted failure");
    rows[m_position] = m_buffer;
    ++updates;
    return Status::ok();
}

Status FakeRecordSet::Delete()
{
    VK_RETURN_IF_ERROR(current());
    deleted[m_position] = true;
    m_editing = false;
    return Status::ok();
}

Status FakeRecordSet::Close()
{
    m_open = false;
    return Status::ok();
}

}  // namespace varnika::test
