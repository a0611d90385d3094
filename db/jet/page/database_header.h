#pragma once
// Page 0: which engine made the file, the masked settings region and the
// checks that let the engine refuse files it must not read.

#include "db/jet/file/jet_format.h"
#include "db/jet/file/page_file.h"
#include "db/status.h"

#include <array>
#include <cstdint>
#include <span>

namespace varnika::jet {

struct DatabaseHeader {
    uint8_t formatVersion = 0;
    JetVersion version = JetVersion::Jet4;
    uint16_t codePage = 0;
    uint16_t sortLcid = 0;
    uint8_t sortVersion = 0;  // Jet 3 keeps none: 0
    double creationDate = 0;  // Jet 3 keeps none: 0
    uint32_t encodingKey = 0;
    std::array<uint8_t, 128> unmasked{};  // the masked region after unmasking (file offsets 0x18..)

    // Reads and checks page 0 of `file`, a Jet 4 or a Jet 3 (Access 97)
    // database. Refusals: not a Jet database (empty, too short, unknown
    // header), ACE, MSISAM, an unknown version, a truncated file, an
    // encrypted or password-protected database.
    static Result<DatabaseHeader> read(PageFile& file);
    // The same checks on the first bytes of a file of `fileSize` bytes.
    static Result<DatabaseHeader> parse(std::span<const uint8_t> firstPage, uint64_t fileSize);

    const JetFormat& format() const { return JetFormat::of(version); }
};

// XORs `bytes` with the constant RC4 key stream of the header region
// (masking and unmasking are the same step).
void applyHeaderMask(std::span<uint8_t> bytes);

}  // namespace varnika::jet
