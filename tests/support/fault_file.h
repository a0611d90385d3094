#pragma once
// A page file over shared in-memory bytes that can be told to fail: the N-th
// write (counted across every file sharing one FaultPlan) fails, and with
// `crash` set every later write is dropped too, as if the process had died
// at that instant (a write longer than a page is then cut in half; a kill
// never tears the copy of a single page).

#include "db/jet/file/page_file.h"

#include <memory>
#include <vector>

namespace varnika::test {

struct FaultPlan {
    long failWriteAt = -1;  // 1-based write number to fail; -1 never
    long failWrites = 1;    // without `crash`: that many writes fail from there on
    long failReadAt = -1;
    bool crash = false;     // after the failing write nothing more reaches the "disk"
    long writes = 0;
    long reads = 0;
    long syncs = 0;
    bool dead = false;
};

class FaultFile : public jet::PageFile {
public:
    FaultFile(std::shared_ptr<std::vector<uint8_t>> bytes, std::shared_ptr<FaultPlan> plan)
        : m_bytes(std::move(bytes)), m_plan(std::move(plan)) {}

    Status read(uint64_t offset, size_t length, uint8_t* out) override;
    Status write(uint64_t offset, const uint8_t* data, size_t length) override;
    Status sync() override;
    Status truncate(uint64_t size) override;
    uint64_t size() const override { return m_bytes->size(); }
    bool isWritable() const override { return true; }
    const std::string& path() const override { return m_path; }

private:
    std::shared_ptr<std::vector<uint8_t>> m_bytes;
    std::shared_ptr<FaultPlan> m_plan;
    std::string m_path = "fault-file";
};

}  // namespace varnika::test
