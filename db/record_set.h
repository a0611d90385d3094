#pragma once
// A record set: the records of a table or of a query over one table, walked
// one at a time. The selection is fixed when the record set is opened (a
// dynaset): a record changed so that it no longer matches stays in the walk,
// and a deleted record stays current until MoveNext.
//
// Every member fails with ErrorCode::Closed once Close() has run.

#include "db/field.h"
#include "db/status.h"

#include <cstdint>
#include <string_view>

namespace varnika {

class RecordSet {
public:
    virtual ~RecordSet() = default;

    // Before the first record (true for an empty record set).
    virtual Result<bool> BOF() const = 0;
    // After the last record (true for an empty record set, and after MoveNext
    // past the last one). Named Eof because EOF is a C macro.
    virtual Result<bool> Eof() const = 0;

    virtual Status MoveFirst() = 0;
    virtual Status MoveLast(int options = 0) = 0;
    virtual Status MoveNext() = 0;
    // Zero-based position of the current record in the selection.
    virtual Result<int64_t> AbsolutePosition() const = 0;
    // Number of records selected, deleted ones included.
    virtual Result<int64_t> RecordCount() const = 0;

    virtual int fieldCount() const = 0;
    // By position, in the table's column order.
    virtual Result<Field*> Fields(int index) = 0;
    // By name, without regard to case. An unknown name is NotFound.
    virtual Result<Field*> Fields(std::u16string_view name) = 0;

    // Starts editing the current record.
    virtual Status Edit() = 0;
    // Stores the record being edited. With no field changed nothing is written.
    virtual Status Update() = 0;
    // Removes the current record; it stays current until MoveNext.
    virtual Status Delete() = 0;
    virtual Status Close() = 0;
    virtual bool isOpen() const = 0;
    // Saves the records changed so far, where a record set holds them back
    // to write several together (a run stopped by its caller calls this
    // before it reports why).
    virtual Status Flush() { return Status::ok(); }
};

}  // namespace varnika
