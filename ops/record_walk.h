#pragma once
// The positioning that every walk over a record set starts with.

#include "db/record_set.h"
#include "db/status.h"

namespace varnika {

// If not at BOF, MoveLast; then, if not at EOF, MoveFirst. Running to the
// last record first makes the engine read the whole selection before the walk.
Status positionForWalk(RecordSet& records);

// What a walk that stopped returns: `result`; when that is a failure, the
// records changed before it are saved first (RecordSet::Flush), and the
// message tells if they could not be.
Status endWalk(RecordSet& records, Status result);

}  // namespace varnika
