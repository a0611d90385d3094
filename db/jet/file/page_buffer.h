#pragma once
// The unit the database file is read and written in: one page of bytes.
// Every layer above the page file speaks in these.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace varnika::jet {

constexpr size_t kPageSize = 4096;
using PageBuffer = std::array<uint8_t, kPageSize>;
// A page as read: shared and never changed in place.
using PageRef = std::shared_ptr<const PageBuffer>;

}  // namespace varnika::jet
