#include "db/data_control.h"

#include "db/jet/database.h"
#include "db/jet/query_executor.h"
#include "db/jet/record_sets.h"
#include "db/sql/sql_parser.h"
#include "db/text.h"

namespace varnika {

DataControl::DataControl() = default;
DataControl::~DataControl() = default;

Status DataControl::Refresh() { return refresh(false); }

Status DataControl::RefreshSelectingLater() { return refresh(true); }

Status DataControl::refresh(bool selectLater)
{
    if (m_recordSet) {
        if (m_recordSet->isOpen()) (void)m_recordSet->Close();
        m_recordSet.reset();
    }
    if (m_databaseName.empty()) return invalidArgument("no database file is set");
    VK_ASSIGN_OR_RETURN(RecordSourceQuery query, parseRecordSource(m_recordSource));
    const std::string path = toUtf8(m_databaseName);
    VK_ASSIGN_OR_RETURN(std::shared_ptr<jet::Database> db,
                        m_opener ? m_opener(path) : jet::Database::open(path, jet::OpenMode::ReadWrite, m_fileLayer));
    VK_ASSIGN_OR_RETURN(m_recordSet, jet::openRecordSource(std::move(db), query, m_settings,
                                                           selectLater ? jet::Selection::AtFirstUse : jet::Selection::AtOpen));
    return Status::ok();
}

}  // namespace varnika
