#pragma once
// RC4 stream, as Jet uses it to mask part of the database header.

#include <cstddef>
#include <cstdint>

namespace varnika::jet {

// XORs `length` bytes at `data` with the RC4 stream of the 4-byte key.
// Applying it twice gives back the original bytes.
void rc4Apply(uint32_t key, uint8_t* data, size_t length);

}  // namespace varnika::jet
