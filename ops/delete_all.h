#pragma once
// Delete all: the "Hepsini Sil" button deletes every record of the record set
// that the data control holds, one Delete per record, then refreshes it.

#include "db/data_control.h"
#include "db/record_set.h"
#include "db/status.h"
#include "ops/window_port.h"

namespace varnika {

// Works on the data control's record set as the last run left it. When that
// record set is closed (every run closes it at its normal end), the last
// record source is opened again first, as a second press would find it;
// when nothing has been bound since start-up, nothing happens. Changes
// neither the pointer, the buttons nor the counter. Records deleted before a
// failure stay deleted.
Status Command3_Click(WindowPort& window, DataControl& data);

// Positions the record set and deletes every record in it; `window`, when
// given, is told of each record removed.
Status deleteRecords(RecordSet& records, WindowPort* window = nullptr);

}  // namespace varnika
