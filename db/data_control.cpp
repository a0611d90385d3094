#include "db/data_control.h"

namespace varnika {

DataControl::DataControl() = default;
DataControl::~DataControl() = default;

Status DataControl::Refresh()
{
    if (m_recordSet) {
        (void)m_recordSet->Close();
        m_recordSet.reset();
    }
    return notSupported("the database engine is not built yet");
}

}  // namespace varnika
