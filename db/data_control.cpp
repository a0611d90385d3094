#include "db/data_control.h"

#include "db/jet/database.h"
#include "db/jet/record_source.h"
#include "db/jet/record_sets.h"
#include "db/text.h"

namespace varnika {

DataControl::DataControl() = default;
DataControl::~DataControl() = default;

Status DataControl::Refresh()
{
    if (m_recordSet) {
        if (m_recordSet->isOpen()) (void)m_recordSet->Close();
        m_recordSet.reset();
    }
    if (m_databaseName.empty()) return invalidArgument("no database file is set");
    VK_ASSIGN_OR_RETURN(std::shared_ptr<jet::Database> db, jet::Database::open(toUtf8(m_databaseName), jet::OpenMode::ReadOnly));
    VK_ASSIGN_OR_RETURN(jet::RecordSourcePlan plan, jet::planRecordSource(db->catalog(), m_recordSource));
    VK_ASSIGN_OR_RETURN(std::unique_ptr<jet::TableRecordSet> rs, jet::TableRecordSet::openTable(db, plan.table));
    m_recordSet = std::move(rs);
    return Status::ok();
}

}  // namespace varnika
