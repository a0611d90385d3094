#include "ops/record_walk.h"

namespace varnika {

Status positionForWalk(RecordSet& records)
{
    VK_ASSIGN_OR_RETURN(bool bof, records.BOF());
    if (!bof) VK_RETURN_IF_ERROR(records.MoveLast(0));
    VK_ASSIGN_OR_RETURN(bool eof, records.Eof());
    if (!eof) VK_RETURN_IF_ERROR(records.MoveFirst());
    return Status::ok();
}

Status endWalk(RecordSet& records, Status result)
{
    if (result.isOk() || !records.isOpen()) return result;
    Status saved = records.Flush();
    if (saved.isOk()) return result;
    return Status(result.code(), result.message() + "; the records changed before it could not be saved either: " +
                                     saved.message());
}

}  // namespace varnika
