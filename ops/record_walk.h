#pragma once
// The positioning that every walk over a record set starts with.

#include "db/record_set.h"
#include "db/status.h"

namespace varnika {

// If not at BOF, MoveLast; then, if not at EOF, MoveFirst. Running to the
// last record first makes the engine read the whole selection before the walk.
Status positionForWalk(RecordSet& records);

}  // namespace varnika
