#include "support/fault_file.h"

#include "db/jet/file/pager.h"

#include <cstring>

namespace varnika::test {
namespace {

bool failsNow(const FaultPlan& plan)
{
    return plan.failWriteAt > 0 && plan.writes >= plan.failWriteAt && plan.writes < plan.failWriteAt + plan.failWrites;
}

}  // namespace


Status FaultFile::read(uint64_t offset, size_t length, uint8_t* out)
{
    ++m_plan->reads;
    if (m_plan->reads == m_plan->failReadAt) return ioError("injected read failure");
    if (offset > m_bytes->size() || length > m_bytes->size() - offset) return corruption("read past the end");
    if (length) std::memcpy(out, m_bytes->data() + offset, length);
    return Status::ok();
}

Status FaultFile::write(uint64_t offset, const uint8_t* data, size_t length)
{
    if (m_plan->dead) return ioError("the process has died");
    ++m_plan->writes;
    if (failsNow(*m_plan)) {
        if (m_plan->crash) {
            m_plan->dead = true;
            // A torn write: only the first half reaches the file. A write of
            // one page or less is copied whole or not at all, as the system
            // does for a killed process.
            size_t half = length > jet::kPageSize ? length / 2 : 0;
            if (half) {
                if (offset + half > m_bytes->size()) m_bytes->resize(offset + half);
                std::memcpy(m_bytes->data() + offset, data, half);
            }
        }
        return ioError("injected write failure");
    }
    if (offset + length > m_bytes->size()) m_bytes->resize(offset + length);
    if (length) std::memcpy(m_bytes->data() + offset, data, length);
    return Status::ok();
}

Status FaultFile::sync()
{
    if (m_plan->dead) return ioError("the process has died");
    ++m_plan->syncs;
    return Status::ok();
}

Status FaultFile::truncate(uint64_t size)
{
    if (m_plan->dead) return ioError("the process has died");
    ++m_plan->writes;
    if (failsNow(*m_plan)) {
        if (m_plan->crash) m_plan->dead = true;
        return ioError("injected write failure");
    }
    m_bytes->resize(size);
    return Status::ok();
}

}  // namespace varnika::test
