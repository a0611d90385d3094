#pragma once
// Record sets of the engine: navigation over a selection fixed at open, or
// at the first use of a record set opened to select later.
// TableRecordSet walks rows of a table by RowPointer and decodes the current
// row on demand, so a large table costs one pointer per record.
// ValueRecordSet holds its rows in memory (schema rowsets).

#include "db/jet/database.h"
#include "db/record_set.h"
#include "db/regional_settings.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace varnika::jet {

struct FieldInfo {
    std::u16string name;
    ColumnType type = ColumnType::Text;
    int size = 0;
};

class BasicRecordSet;

class BasicField : public Field {
public:
    BasicField(BasicRecordSet* owner, int index, FieldInfo info) : m_owner(owner), m_index(index), m_info(std::move(info)) {}
    const std::u16string& Name() const override { return m_info.name; }
    ColumnType type() const override { return m_info.type; }
    int size() const override { return m_info.size; }
    Result<Variant> Value() const override;
    Status SetValue(const Variant& value) override;

private:
    BasicRecordSet* m_owner;
    int m_index;
    FieldInfo m_info;
};

// Navigation, fields and the open/closed state; subclasses supply the
// values of the record at a position.
class BasicRecordSet : public RecordSet {
public:
    Result<bool> BOF() const override;
    Result<bool> Eof() const override;
    Status MoveFirst() override;
    Status MoveLast(int options = 0) override;
    Status MoveNext() override;
    Result<int64_t> AbsolutePosition() const override;
    Result<int64_t> RecordCount() const override;
    int fieldCount() const override { return int(m_fields.size()); }
    Result<Field*> Fields(int index) override;
    Result<Field*> Fields(std::u16string_view name) override;
    Status Edit() override;
    Status Update() override;
    Status Delete() override;
    Status Close() override;
    bool isOpen() const override { return m_open; }

    // The value of field `index` of the current record.
    virtual Result<Variant> currentValue(int index);
    virtual Status setFieldValue(int index, const Variant& value);

protected:
    void setFields(const std::vector<FieldInfo>& fields);
    void setRecordCount(int64_t count);
    // Values of the record at `position`, in field order.
    virtual Result<std::vector<Variant>> loadRecord(int64_t position) = 0;
    // Forgets the decoded current record (after it was changed).
    void invalidateCurrent() { m_current.reset(); }
    // Open, and the records selected (see selectPending). Called on every
    // use of a field: the usual case costs a test.
    Status checkOpen() const
    {
        if (m_open && !m_selectionPending) return Status::ok();
        return openAndSelected();
    }
    Status checkCurrent() const;
    // Selects the records of a set that was opened to select them at its
    // first use (markSelectionPending); a failure is told by every use
    // until one succeeds.
    virtual Status selectPending() const { return Status::ok(); }
    void markSelectionPending(bool pending) { m_selectionPending = pending; }
    int64_t position() const { return m_position; }
    int64_t recordCount() const { return m_count; }

private:
    Status openAndSelected() const;

    bool m_open = true;
    bool m_selectionPending = false;
    int64_t m_count = 0;
    int64_t m_position = 0;  // == m_count: after the last record
    std::vector<std::unique_ptr<BasicField>> m_fields;
    // The name last asked for (as it was written) and its field.
    std::optional<std::u16string> m_lastFieldName;
    size_t m_lastField = 0;
    std::optional<std::vector<Variant>> m_current;
};

class TableRecordSet : public BasicRecordSet {
public:
    TableRecordSet(std::shared_ptr<Database> database, std::shared_ptr<Table> table, std::vector<RowPointer> rows,
                   RegionalSettings settings = RegionalSettings::turkish());
    // A record set whose rows `select` gives when it is first used (any
    // call but Close), not now.
    using RowSelector = std::function<Result<std::vector<RowPointer>>(Table&)>;
    TableRecordSet(std::shared_ptr<Database> database, std::shared_ptr<Table> table, RowSelector select,
                   RegionalSettings settings = RegionalSettings::turkish());
    // Saves the records written and not yet committed (see Update).
    ~TableRecordSet() override;
    static Result<std::unique_ptr<TableRecordSet>> openTable(std::shared_ptr<Database> database, std::u16string_view name);
    Database& database() { return *m_database; }
    Table& table() { return *m_table; }
    // The rows as selected (none while the selection waits for a first use).
    const std::vector<RowPointer>& rows() const { return m_rows; }
    Result<RowPointer> currentRow() const;
    const std::vector<int>& fieldColumns() const { return m_fieldColumns; }

    // Writing: Edit copies the current record, SetValue converts a value to
    // the field's type into that copy, Update stores it (nothing when no
    // field changed), Delete removes the current record, which stays
    // current (and reads as deleted) until MoveNext.
    //
    // The records a walk writes are grouped (Pager::beginGroup): each one is
    // a unit, all or nothing, and the group reaches the file every 500
    // records or 8 MB of changed pages (Pager::GroupLimits). Before any call returns a failure, the records written
    // before it are committed; so are they at Flush, when MoveNext passes
    // the last record, and at Close. Should they be lost all the same (the
    // disk fails twice over), every later change is refused.
    Status Flush() override;
    Result<Variant> currentValue(int index) override;
    Status setFieldValue(int index, const Variant& value) override;
    Status Edit() override;
    Status Update() override;
    Status Delete() override;
    Status MoveFirst() override;
    Status MoveLast(int options = 0) override;
    Status MoveNext() override;
    // Also lets go of the database, so its write lock goes with the last
    // record set (or connection) that holds it.
    Status Close() override;

protected:
    Result<std::vector<Variant>> loadRecord(int64_t position) override;
    Status selectPending() const override;

private:
    void takeRows(std::vector<RowPointer> rows);
    Status checkNotDeleted() const;
    void cancelEdit();
    // Commits the records written so far and returns `failure`, telling
    // also when they could not be committed.
    Status savedBefore(Status failure);
    Status setEditValue(int index, const Variant& value);
    Status store();
    Status remove();
    // Commits the group and ends it; in a group the caller began, commits
    // it when this set holds index changes back.
    Status endGroup();
    // Refuses changes once records this one wrote were lost.
    Status checkNothingLost() const;
    bool m_grouping = false;     // the group is this set's own
    bool m_holdingBack = false;  // its writer holds index changes back
    size_t m_unitsLostBefore = 0;

    std::shared_ptr<Database> m_database;
    std::shared_ptr<Table> m_table;
    std::vector<RowPointer> m_rows;
    RowSelector m_pendingSelection;  // set until the rows are selected
    std::vector<int> m_fieldColumns;
    RegionalSettings m_settings;
    std::vector<bool> m_deleted;                    // per position
    bool m_editChanged = false;
    // The current record as far as its fields were read: a column is
    // decoded from the row's bytes when a field first asks for it (a walk
    // that looks at one field of every record decodes that one), and an
    // Edit of the same record, the database unchanged since, takes these
    // and reads the rest from the same bytes as they are asked for.
    struct ShownRecord {
        int64_t position = -1;
        uint64_t changeCount = 0;
        RowBytes row;  // holds the page's buffer, whose bytes never change
        RowLayout layout;
        std::vector<Variant> values;  // column-list order
        std::vector<bool> read;       // per column
    };
    // The current record's shown state, read afresh when the record or the
    // database changed since.
    Result<ShownRecord*> shownRecord();
    // Decodes column `col` of `r` from its bytes unless it was.
    Status readColumn(ShownRecord& r, int col);
    // readColumn of the shown record; on an error it is dropped.
    Status showColumn(ShownRecord& r, int col);
    std::optional<ShownRecord> m_shown;
    // A stored record's buffers, for the next record shown.
    std::optional<ShownRecord> m_spareShown;
    void keepForNextRecord(ShownRecord&& done);
    // The record being edited: the shown record it was, its fields read
    // from the same bytes as they are asked for, and set by the edit.
    std::optional<ShownRecord> m_edit;
    // Reads the long values of the record being edited that are not read.
    Status readEditLongValues();
    // Until the edit ends: reads them before the database next changes,
    // keeping the outcome in m_editLongValues.
    Pager::ChangeWatch m_editWatch;
    Status m_editLongValues;
    // The run this record set is part of: what it was prepared for (see
    // Database::prepareRun), and what the record being edited changes.
    Status prepareUpdate();
    Result<TableChange> writer();
    std::optional<TableChange> m_change;
    std::vector<int> m_editColumns;       // columns the edit changed
    // The stored values of those columns, and the change count the record
    // was read at: while the database is unchanged since, the record as
    // stored is the edit with these put back.
    std::vector<std::pair<int, Variant>> m_editOriginals;
    uint64_t m_editReadAt = 0;
    size_t m_editGrowth = 0;              // bytes the edit may add
    std::vector<int> m_preparedColumns;   // changed columns already prepared for
    bool m_deletePrepared = false;
};

class ValueRecordSet : public BasicRecordSet {
public:
    ValueRecordSet(const std::vector<FieldInfo>& fields, std::vector<std::vector<Variant>> rows);

protected:
    Result<std::vector<Variant>> loadRecord(int64_t position) override;

private:
    std::vector<std::vector<Variant>> m_rows;
};

}  // namespace varnika::jet
