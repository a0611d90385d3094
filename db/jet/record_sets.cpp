#include "db/jet/record_sets.h"

#include "db/jet/page/text_codec.h"

#include "db/convert.h"
#include "db/jet/table/table_writer.h"

#include "db/text.h"

#include <algorithm>

namespace varnika::jet {

namespace {
Status closedError() { return Status(ErrorCode::Closed, "the record set is closed"); }
Status noCurrentRecord() { return Status(ErrorCode::Closed, "there is no current record"); }
Status writingNotSupported() { return notSupported("writing is not supported yet"); }
}  // namespace

Result<Variant> BasicField::Value() const { return m_owner->currentValue(m_index); }
Status BasicField::SetValue(const Variant& value) { return m_owner->setFieldValue(m_index, value); }

void BasicRecordSet::setFields(const std::vector<FieldInfo>& fields)
{
    m_fields.clear();
    for (size_t i = 0; i < fields.size(); ++i) m_fields.push_back(std::make_unique<BasicField>(this, int(i), fields[i]));
    m_lastFieldName.reset();
}

void BasicRecordSet::setRecordCount(int64_t count)
{
    m_count = count;
    m_position = 0;
    m_current.reset();
}

Status BasicRecordSet::openAndSelected() const
{
    if (!m_open) return closedError();
    return m_selectionPending ? selectPending() : Status::ok();
}

Status BasicRecordSet::checkCurrent() const
{
    VK_RETURN_IF_ERROR(checkOpen());
    return m_position < m_count ? Status::ok() : noCurrentRecord();
}

Result<bool> BasicRecordSet::BOF() const
{
    VK_RETURN_IF_ERROR(checkOpen());
    return m_count == 0;
}

Result<bool> BasicRecordSet::Eof() const
{
    VK_RETURN_IF_ERROR(checkOpen());
    return m_position >= m_count;
}

Status BasicRecordSet::MoveFirst()
{
    VK_RETURN_IF_ERROR(checkOpen());
    if (m_count == 0) return noCurrentRecord();
    if (m_position != 0) m_current.reset();
    m_position = 0;
    return Status::ok();
}

Status BasicRecordSet::MoveLast(int)
{
    VK_RETURN_IF_ERROR(checkOpen());
    if (m_count == 0) return noCurrentRecord();
    if (m_position != m_count - 1) m_current.reset();
    m_position = m_count - 1;
    return Status::ok();
}

Status BasicRecordSet::MoveNext()
{
    VK_RETURN_IF_ERROR(checkCurrent());
    ++m_position;
    m_current.reset();
    return Status::ok();
}

Result<int64_t> BasicRecordSet::AbsolutePosition() const
{
    VK_RETURN_IF_ERROR(checkCurrent());
    return m_position;
}

Result<int64_t> BasicRecordSet::RecordCount() const
{
    VK_RETURN_IF_ERROR(checkOpen());
    return m_count;
}

Result<Field*> BasicRecordSet::Fields(int index)
{
    VK_RETURN_IF_ERROR(checkOpen());
    if (index < 0 || size_t(index) >= m_fields.size())
        return notFound("there is no field number " + std::to_string(index));
    return static_cast<Field*>(m_fields[size_t(index)].get());
}

Result<Field*> BasicRecordSet::Fields(std::u16string_view name)
{
    VK_RETURN_IF_ERROR(checkOpen());
    // A run asks for the same field by the same name for every record.
    if (m_lastFieldName && *m_lastFieldName == name) return static_cast<Field*>(m_fields[m_lastField].get());
    for (size_t i = 0; i < m_fields.size(); ++i)
        if (equalsIgnoreCase(m_fields[i]->Name(), name)) {
            m_lastFieldName = std::u16string(name);
            m_lastField = i;
            return static_cast<Field*>(m_fields[i].get());
        }
    return notFound("there is no field \"" + toUtf8(name) + "\"");
}

Result<Variant> BasicRecordSet::currentValue(int index)
{
    VK_RETURN_IF_ERROR(checkCurrent());
    if (!m_current) {
        VK_ASSIGN_OR_RETURN(std::vector<Variant> values, loadRecord(m_position));
        m_current = std::move(values);
    }
    if (index < 0 || size_t(index) >= m_current->size()) return notFound("there is no field number " + std::to_string(index));
    return (*m_current)[size_t(index)];
}

Status BasicRecordSet::setFieldValue(int, const Variant&)
{
    VK_RETURN_IF_ERROR(checkCurrent());
    return writingNotSupported();
}

Status BasicRecordSet::Edit()
{
    VK_RETURN_IF_ERROR(checkCurrent());
    return writingNotSupported();
}

Status BasicRecordSet::Update()
{
    VK_RETURN_IF_ERROR(checkCurrent());
    return writingNotSupported();
}

Status BasicRecordSet::Delete()
{
    VK_RETURN_IF_ERROR(checkCurrent());
    return writingNotSupported();
}

Status BasicRecordSet::Close()
{
    // Closing a set whose records were never selected selects nothing.
    if (!m_open) return closedError();
    m_open = false;
    m_current.reset();
    return Status::ok();
}

Status TableRecordSet::Close()
{
    VK_RETURN_IF_ERROR(BasicRecordSet::Close());
    Status saved = endGroup();
    cancelEdit();
    m_shown.reset();
    m_change.reset();
    m_table.reset();
    m_database.reset();
    m_rows = {};
    m_pendingSelection = nullptr;
    m_deleted = {};
    return saved;
}

TableRecordSet::~TableRecordSet() { (void)endGroup(); }

Status TableRecordSet::endGroup()
{
    Status s;
    if (m_grouping) {
        m_grouping = false;
        s = m_database->pager().endGroup();
    } else if (m_holdingBack) {
        // A group of the caller's: its records are written now, with the
        // index changes this set held back.
        s = m_database->pager().saveHeldBack();
    }
    if (m_holdingBack && m_change) m_change->writer->holdBackIndexEntries(false);
    m_holdingBack = false;
    return s;
}

Status TableRecordSet::Flush()
{
    VK_RETURN_IF_ERROR(checkOpen());
    if (!m_grouping) return Status::ok();
    return m_database->pager().saveGroup();
}

Status TableRecordSet::checkNothingLost() const
{
    if (!m_change || m_database->pager().unitsLost() == m_unitsLostBefore) return Status::ok();
    return Status(ErrorCode::IOError, "records changed in this run could not be saved; open the table again to go on");
}

Status TableRecordSet::savedBefore(Status failure)
{
    if (failure.isOk() || !m_grouping) return failure;
    Status saved = m_database->pager().saveGroup();
    if (saved.isOk()) return failure;
    return Status(failure.code(), failure.message() + "; the records changed before it could not be saved either: " +
                                      saved.message());
}

TableRecordSet::TableRecordSet(std::shared_ptr<Database> database, std::shared_ptr<Table> table,
                               std::vector<RowPointer> rows, RegionalSettings settings)
    : TableRecordSet(std::move(database), std::move(table), RowSelector(), std::move(settings))
{
    takeRows(std::move(rows));
}

TableRecordSet::TableRecordSet(std::shared_ptr<Database> database, std::shared_ptr<Table> table, RowSelector select,
                               RegionalSettings settings)
    : m_database(std::move(database)), m_table(std::move(table)), m_pendingSelection(std::move(select)),
      m_settings(std::move(settings))
{
    markSelectionPending(bool(m_pendingSelection));
    const TableDef& def = m_table->def();
    std::vector<FieldInfo> fields;
    for (int i : def.columnsByNumber()) {
        const ColumnDef& c = def.columns()[size_t(i)];
        fields.push_back({c.name, c.type(), c.displaySize()});
        m_fieldColumns.push_back(i);
    }
    setFields(fields);
}

void TableRecordSet::takeRows(std::vector<RowPointer> rows)
{
    m_rows = std::move(rows);
    setRecordCount(int64_t(m_rows.size()));
    m_deleted.assign(m_rows.size(), false);
}

Status TableRecordSet::selectPending() const
{
    // Selecting is this set's own state filled in late: the set itself is
    // never a const object, only the calls that first look at it are.
    auto* self = const_cast<TableRecordSet*>(this);
    VK_ASSIGN_OR_RETURN(std::vector<RowPointer> rows, self->m_pendingSelection(*self->m_table));
    self->m_pendingSelection = nullptr;
    self->markSelectionPending(false);
    self->takeRows(std::move(rows));
    return Status::ok();
}

Result<std::unique_ptr<TableRecordSet>> TableRecordSet::openTable(std::shared_ptr<Database> database, std::u16string_view name)
{
    VK_ASSIGN_OR_RETURN(std::shared_ptr<Table> table, database->table(name));
    VK_ASSIGN_OR_RETURN(std::vector<RowPointer> rows, table->rowPointers());
    return std::make_unique<TableRecordSet>(std::move(database), std::move(table), std::move(rows));
}

Result<RowPointer> TableRecordSet::currentRow() const
{
    VK_RETURN_IF_ERROR(checkCurrent());
    return m_rows[size_t(position())];
}

Result<std::vector<Variant>> TableRecordSet::loadRecord(int64_t position)
{
    VK_ASSIGN_OR_RETURN(std::vector<Variant> stored, m_table->readRow(m_rows[size_t(position)]));
    std::vector<Variant> out;
    out.reserve(m_fieldColumns.size());
    for (int c : m_fieldColumns) out.push_back(std::move(stored[size_t(c)]));
    return out;
}

Status TableRecordSet::checkNotDeleted() const
{
    VK_RETURN_IF_ERROR(checkCurrent());
    if (m_deleted[size_t(position())]) return notFound("the record has been deleted");
    return Status::ok();
}

void TableRecordSet::cancelEdit()
{
    m_editWatch.reset();
    m_editLongValues = Status::ok();
    m_edit.reset();
    m_editChanged = false;
    m_editColumns.clear();
    m_editOriginals.clear();
    m_editGrowth = 0;
}

namespace {

// A rough size of a value as stored, for forecasting a run's growth.
size_t storedSizeOf(const Variant& v)
{
    constexpr size_t kFixedValue = 8;
    switch (v.type()) {
    case VariantType::Null: return 0;
    case VariantType::Text: return 2 * v.asText().size() + 2;
    case VariantType::Binary: return v.asBinary().size();
    default: return kFixedValue;
    }
}

}  // namespace

Result<TableChange> TableRecordSet::writer()
{
    if (!m_change) {
        VK_ASSIGN_OR_RETURN(TableChange change, m_database->changeTable(*m_table));
        m_change = std::move(change);
        m_unitsLostBefore = m_database->pager().unitsLost();
    }
    VK_RETURN_IF_ERROR(checkNothingLost());
    if (!m_holdingBack) {
        // The run's records are written in groups: its own, or one the
        // caller began (a list of statements). Its index changes wait for
        // the group to be written.
        if (!m_database->pager().inGroup()) {
            m_database->pager().beginGroup();
            m_grouping = true;
        }
        m_change->writer->holdBackIndexEntries(true);
        m_holdingBack = true;
    }
    return *m_change;
}

Status TableRecordSet::prepareUpdate()
{
    std::vector<int> fresh;
    for (int c : m_editColumns)
        if (std::find(m_preparedColumns.begin(), m_preparedColumns.end(), c) == m_preparedColumns.end()) fresh.push_back(c);
    if (fresh.empty()) return Status::ok();
    // An index over a changed column gains an entry's worth too.
    size_t indexesTouched = 0;
    const TableDef& def = m_table->def();
    for (const RealIndexDef& index : def.realIndexes())
        for (const RealIndexColumn& kc : index.columns)
            if (std::find(m_editColumns.begin(), m_editColumns.end(), def.findColumnByNumber(kc.columnNumber)) !=
                m_editColumns.end()) {
                ++indexesTouched;
                break;
            }
    RunPlan plan;
    plan.kind = RunPlan::Kind::Update;
    plan.records = size_t(recordCount() - position());
    plan.changedColumns = fresh;
    plan.growthPerRecord = m_editGrowth * (1 + indexesTouched);
    VK_RETURN_IF_ERROR(m_database->prepareRun(*m_table, plan));
    m_preparedColumns.insert(m_preparedColumns.end(), fresh.begin(), fresh.end());
    return Status::ok();
}

Result<Variant> TableRecordSet::currentValue(int index)
{
    VK_RETURN_IF_ERROR(checkNotDeleted());
    if (m_edit) {
        if (index < 0 || size_t(index) >= m_fieldColumns.size())
            return notFound("there is no field number " + std::to_string(index));
        const int col = m_fieldColumns[size_t(index)];
        if (Status s = readColumn(*m_edit, col); !s.isOk()) return savedBefore(s);
        return m_edit->values[size_t(col)];
    }
    if (index < 0 || size_t(index) >= m_fieldColumns.size()) return notFound("there is no field number " + std::to_string(index));
    const int col = m_fieldColumns[size_t(index)];
    Result<ShownRecord*> shown = shownRecord();
    if (!shown.isOk()) return savedBefore(shown.status());
    ShownRecord& r = **shown;
    if (Status s = showColumn(r, col); !s.isOk()) return savedBefore(s);
    return r.values[size_t(col)];
}

Status TableRecordSet::readColumn(ShownRecord& r, int col)
{
    if (r.read[size_t(col)]) return Status::ok();
    VK_RETURN_IF_ERROR(decodeColumnInto(m_table->def(), r.layout, r.row.bytes(), col, &m_table->longValues(), r.values[size_t(col)]));
    r.read[size_t(col)] = true;
    return Status::ok();
}

Status TableRecordSet::showColumn(ShownRecord& r, int col)
{
    Status s = readColumn(r, col);
    if (!s.isOk()) m_shown.reset();
    return s;
}

Result<TableRecordSet::ShownRecord*> TableRecordSet::shownRecord()
{
    const uint64_t now = m_database->pager().changeCount();
    if (m_shown && m_shown->position == position() && m_shown->changeCount == now) return &*m_shown;
    if (!m_shown) {
        // The buffers of the last record stored, when there is one.
        m_shown = std::move(m_spareShown).value_or(ShownRecord());
        m_spareShown.reset();
    }
    ShownRecord& r = *m_shown;
    r.position = -1;
    VK_ASSIGN_OR_RETURN(r.row, m_table->rowBytes(m_rows[size_t(position())]));
    VK_ASSIGN_OR_RETURN(r.layout, parseRowLayout(m_table->def(), r.row.bytes()));
    // A value is taken only once its column is read: those of the record
    // before stay in place until then, their text's storage reused.
    const size_t columns = m_table->def().columns().size();
    r.values.resize(columns);
    r.read.assign(columns, false);
    r.position = position();
    r.changeCount = now;
    return &r;
}

Status TableRecordSet::Edit()
{
    VK_RETURN_IF_ERROR(checkNotDeleted());
    m_editChanged = false;
    m_editOriginals.clear();
    m_editReadAt = m_database->pager().changeCount();
    m_editWatch.reset();
    m_editLongValues = Status::ok();
    // The fields shown of it are taken as they are; the rest are decoded
    // from the same bytes when asked for, or when the whole record is
    // written. Long values live in rows of their own, which a change may
    // give back or use again: they are read before the next change to the
    // database comes, if one comes before the edit is stored.
    Result<ShownRecord*> shown = shownRecord();
    if (!shown.isOk()) return savedBefore(shown.status());
    m_edit = std::move(**shown);
    m_shown.reset();
    const auto& columns = m_table->def().columns();
    if (std::any_of(columns.begin(), columns.end(), [](const ColumnDef& c) { return isLongValueType(c.type()); }))
        m_editWatch = m_database->pager().watchNextChange([this] { m_editLongValues = readEditLongValues(); });
    return Status::ok();
}

Status TableRecordSet::readEditLongValues()
{
    const auto& columns = m_table->def().columns();
    for (size_t c = 0; c < columns.size(); ++c)
        if (isLongValueType(columns[c].type())) VK_RETURN_IF_ERROR(readColumn(*m_edit, int(c)));
    return Status::ok();
}

Status TableRecordSet::setFieldValue(int index, const Variant& value) { return savedBefore(setEditValue(index, value)); }

Status TableRecordSet::setEditValue(int index, const Variant& value)
{
    VK_RETURN_IF_ERROR(checkNotDeleted());
    if (!m_edit) return invalidArgument("a field can be set only after Edit");
    if (index < 0 || size_t(index) >= m_fieldColumns.size()) return notFound("there is no field number " + std::to_string(index));
    const size_t col = size_t(m_fieldColumns[size_t(index)]);
    const ColumnDef& c = m_table->def().columns()[col];
    VK_RETURN_IF_ERROR(readColumn(*m_edit, int(col)));
    std::vector<Variant>& edited = m_edit->values;
    VK_ASSIGN_OR_RETURN(Variant converted, convertForColumn(value, c.type(), c.displaySize(), m_settings));
    // Access 97 text: a character the file's code page cannot hold is
    // refused here, before the record is written.
    if (c.singleByteText() && converted.type() == VariantType::Text && !fitsCodePage(converted.asText(), c.codePage))
        return encodeCodePageText(converted.asText(), c.codePage).status();
    if (converted.isNull() && !(c.flags & tdef::kColFlagNullable) && !c.isBoolean())
        return Status(ErrorCode::Constraint, "the field \"" + toUtf8(c.name) + "\" cannot be empty");
    if (c.isBoolean() && converted.isNull()) converted = Variant::boolean(false);
    if ((c.isAutoLong() || c.isAutoGuid()) && converted != edited[col])
        return invalidArgument("the field \"" + toUtf8(c.name) + "\" is numbered automatically and cannot be changed");
    if (converted != edited[col]) {
        const size_t was = storedSizeOf(edited[col]), is = storedSizeOf(converted);
        m_editGrowth += is > was ? is - was : 0;
        if (std::find(m_editColumns.begin(), m_editColumns.end(), int(col)) == m_editColumns.end()) {
            m_editColumns.push_back(int(col));
            m_editOriginals.emplace_back(int(col), edited[col]);
        }
        edited[col] = std::move(converted);
        m_editChanged = true;
    }
    return Status::ok();
}

Status TableRecordSet::Update() { return savedBefore(store()); }

Status TableRecordSet::store()
{
    VK_RETURN_IF_ERROR(checkNotDeleted());
    if (!m_edit) return invalidArgument("Update needs Edit first");
    if (!m_editChanged) {
        cancelEdit();
        return Status::ok();
    }
    Status prepared = prepareUpdate();
    const TableDef& def = m_table->def();
    const bool unchangedSince = m_database->pager().changeCount() == m_editReadAt;
    const bool changedFieldsOnly =
        unchangedSince && std::none_of(m_editColumns.begin(), m_editColumns.end(), [&](int c) {
            return isLongValueType(def.columns()[size_t(c)].type());
        });
    // The whole record is written unless only its changed fields are: its
    // long values as the edit found them, read now unless a change since
    // read them first.
    if (prepared.isOk() && !changedFieldsOnly) prepared = m_editLongValues.isOk() ? readEditLongValues() : m_editLongValues;
    ShownRecord edit = std::move(*m_edit);
    const std::vector<int> changedColumns = m_editColumns;
    std::vector<std::pair<int, Variant>> originals = std::move(m_editOriginals);
    cancelEdit();
    VK_RETURN_IF_ERROR(prepared);
    invalidateCurrent();
    m_shown.reset();
    // Nothing below changes the database before the record is written.
    VK_ASSIGN_OR_RETURN(TableChange change, writer());
    const RowPointer row = m_rows[size_t(position())];
    if (changedFieldsOnly) {
        // The record is as it was read: the changed fields are written, and
        // the others stay as they are stored, unread.
        std::vector<std::pair<int, Variant>> changes;
        changes.reserve(changedColumns.size());
        for (int c : changedColumns) changes.emplace_back(c, std::move(edit.values[size_t(c)]));
        Status stored = change.writer->updateColumns(row, changes);
        keepForNextRecord(std::move(edit));
        return stored;
    }
    // The whole record, its unread fields decoded from the bytes it was
    // read from.
    for (size_t c = 0; c < edit.read.size(); ++c) VK_RETURN_IF_ERROR(readColumn(edit, int(c)));
    // Unchanged since the record was read: the writer need not read it again.
    std::optional<std::vector<Variant>> stored;
    if (unchangedSince) {
        stored = edit.values;
        for (auto& [col, v] : originals) (*stored)[size_t(col)] = std::move(v);
    }
    Status written = change.writer->updateRow(row, edit.values, stored ? &*stored : nullptr);
    keepForNextRecord(std::move(edit));
    return written;
}

void TableRecordSet::keepForNextRecord(ShownRecord&& done)
{
    // Its page goes: a page held here would be copied, not changed in
    // place, by the next write of it.
    done.row = RowBytes();
    m_spareShown = std::move(done);
}

Status TableRecordSet::Delete() { return savedBefore(remove()); }

Status TableRecordSet::remove()
{
    VK_RETURN_IF_ERROR(checkNotDeleted());
    cancelEdit();
    if (!m_deletePrepared) {
        RunPlan plan;
        plan.kind = RunPlan::Kind::Delete;
        plan.records = size_t(recordCount() - position());
        VK_RETURN_IF_ERROR(m_database->prepareRun(*m_table, plan));
        m_deletePrepared = true;
    }
    VK_ASSIGN_OR_RETURN(TableChange change, writer());
    VK_RETURN_IF_ERROR(change.writer->deleteRow(m_rows[size_t(position())]));
    m_deleted[size_t(position())] = true;
    invalidateCurrent();
    m_shown.reset();
    return Status::ok();
}

// Moving ends an edit that was not stored, as Jet does.
Status TableRecordSet::MoveFirst()
{
    cancelEdit();
    return BasicRecordSet::MoveFirst();
}

Status TableRecordSet::MoveLast(int options)
{
    cancelEdit();
    return BasicRecordSet::MoveLast(options);
}

Status TableRecordSet::MoveNext()
{
    cancelEdit();
    VK_RETURN_IF_ERROR(BasicRecordSet::MoveNext());
    // Past the last record the walk is over: what it wrote is committed.
    if (position() >= recordCount()) return endGroup();
    return Status::ok();
}

ValueRecordSet::ValueRecordSet(const std::vector<FieldInfo>& fields, std::vector<std::vector<Variant>> rows)
    : m_rows(std::move(rows))
{
    setFields(fields);
    setRecordCount(int64_t(m_rows.size()));
}

Result<std::vector<Variant>> ValueRecordSet::loadRecord(int64_t position) { return m_rows[size_t(position)]; }

}  // namespace varnika::jet
