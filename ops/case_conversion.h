#pragma once
// Case conversion: with "Büyü Harf Küçük harf" set, "Değiştir" rewrites one
// field of every record of the table in Turkish title case, letting the window
// process its events once per record.

#include "db/data_control.h"
#include "db/record_set.h"
#include "db/status.h"
#include "ops/window_port.h"

namespace varnika {

// Binds the data control to the table in Text5, converts the field named in
// Text2 of every record and closes the record set. On success Command1 is
// enabled and the pointer normal again; on failure the caller restores them
// (the record set then stays open at the record where the run stopped).
Status ConvertFieldCase(WindowPort& window, DataControl& data);

// The walk over an open, positioned record set. Text3 is the working buffer
// and ends holding the last converted value. Empty (Null) values are left as
// they are. A close request seen after a record stops the walk there.
Status convertRecords(WindowPort& window, RecordSet& records, const RegionalSettings& settings);

}  // namespace varnika
