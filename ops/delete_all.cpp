#include "ops/delete_all.h"

#include "ops/record_walk.h"

namespace varnika {

namespace {

Status deleteEach(RecordSet& records, WindowPort* window)
{
    for (;;) {
        VK_ASSIGN_OR_RETURN(bool eof, records.Eof());
        if (eof) return Status::ok();
        VK_RETURN_IF_ERROR(records.Delete());
        if (window) window->recordDeleted();
        VK_RETURN_IF_ERROR(records.MoveNext());
    }
}

}  // namespace

Status deleteRecords(RecordSet& records, WindowPort* window)
{
    VK_RETURN_IF_ERROR(positionForWalk(records));
    return endWalk(records, deleteEach(records, window));
}

Status Command3_Click(WindowPort& window, DataControl& data)
{
    RecordSet* records = data.Recordset();
    if (!records || !records->isOpen()) {
        if (data.DatabaseName().empty() && data.RecordSource().empty()) return Status::ok();
        VK_RETURN_IF_ERROR(data.Refresh());
        records = data.Recordset();
        if (!records) return Status(ErrorCode::Closed, "the data control holds no record set");
    }
    VK_RETURN_IF_ERROR(deleteRecords(*records, &window));
    // Nothing looks at the refreshed records until the next run, which may
    // well bind anew: they are selected when first used.
    return data.RefreshSelectingLater();
}

}  // namespace varnika
