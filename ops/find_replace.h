#pragma once
// Find and replace: the "Değiştir" button. Binds the data control to the
// database and to a selection of one table's records, writes the new value
// into each selected record and shows the position of the record in hand in
// the counter. With the case option set it runs the case conversion instead.

#include "db/data_control.h"
#include "db/record_set.h"
#include "db/status.h"
#include "ops/window_port.h"

#include <cstdint>
#include <string>

namespace varnika {

// One run. On every path, failed or not, the pointer is back to normal and
// "Değiştir" and "Kapat" are enabled when it returns. The window shows no
// message for the Status it returns; the command-line tool reports it.
Status Command1_Click(WindowPort& window, DataControl& data);

// The ledger options exclude each other: a click on one clears the other,
// whatever state the clicked box has just taken.
void Check2_Click(WindowPort& window);
void Check3_Click(WindowPort& window);

// " Kayıt: N", the counter text of the record at zero-based position.
std::u16string counterText(int64_t absolutePosition);

// The walk of a run over an open, positioned record set, to its end: for
// each record the counter shows its position, then the record action runs
// with the window's inputs read again.
Status walkReplace(WindowPort& window, RecordSet& records, const RegionalSettings& settings);

}  // namespace varnika
