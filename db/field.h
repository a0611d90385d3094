#pragma once
// One field of the current record of a record set.

#include "db/column_type.h"
#include "db/status.h"
#include "db/variant.h"

#include <string>

namespace varnika {

class Field {
public:
    virtual ~Field() = default;

    virtual const std::u16string& Name() const = 0;
    virtual ColumnType type() const = 0;
    // Text: maximum characters; Binary: maximum bytes; fixed types: their size.
    virtual int size() const = 0;

    // The value of the field in the current record; Null when the field is
    // empty. Fails when the record set is closed or has no current record.
    virtual Result<Variant> Value() const = 0;
    // Sets the value in the record being edited (after Edit, before Update).
    // The engine converts the value to the field's type; a value that does not
    // convert or does not fit fails and leaves the edit as it was.
    virtual Status SetValue(const Variant& value) = 0;
};

}  // namespace varnika
