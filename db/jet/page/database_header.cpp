#include "db/jet/page/database_header.h"

#include "db/jet/file/bytes.h"
#include "db/jet/page/page_layout.h"
#include "db/jet/page/rc4.h"

#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

namespace varnika::jet {

namespace {

constexpr std::string_view kJetEngine = "Standard Jet DB";
constexpr std::string_view kAceEngine = "Standard ACE DB";
constexpr std::string_view kMsisamEngine = "MSISAM Database";
constexpr uint8_t kMagic[] = {0x00, 0x01, 0x00, 0x00};
constexpr uint8_t kFirstAceVersion = 0x02;
constexpr size_t kPasswordMaskWord = 4;

std::string_view engineName(std::span<const uint8_t> page)
{
    return {reinterpret_cast<const char*>(page.data()) + header::kEngineName, header::kEngineNameLength};
}

}  // namespace

void applyHeaderMask(std::span<uint8_t> bytes) { rc4Apply(header::kRc4Key, bytes.data(), bytes.size()); }

Result<DatabaseHeader> DatabaseHeader::parse(std::span<const uint8_t> page, uint64_t fileSize)
{
    if (fileSize == 0) return notSupported("not a Jet database: the file is empty");
    if (page.size() < header::kFormatVersion + 1 || std::memcmp(page.data(), kMagic, sizeof kMagic) != 0)
        return notSupported("not a Jet database: the file does not start with a database header");
    std::string_view name = engineName(page);
    uint8_t version = page[header::kFormatVersion];
    if (name == kMsisamEngine) return notSupported("an MSISAM (Microsoft Money) file is not supported");
    if (name == kAceEngine || (name == kJetEngine && version >= kFirstAceVersion))
        return notSupported("an Access 2007 or later (ACE, .accdb) file is not supported; only Access 97 and Access 2000-2003 .mdb files are");
    if (name != kJetEngine) return notSupported("not a Jet database: unknown engine name in the header");
    if (version != header::kVersionJet3 && version != header::kVersionJet4)
        return notSupported("unknown Jet format version " + std::to_string(version));
    const JetFormat& format = JetFormat::of(version == header::kVersionJet3 ? JetVersion::Jet3 : JetVersion::Jet4);
    const size_t headerEnd = header::kMaskedRegion + format.header.maskedLength;
    if (fileSize < format.pageSize || page.size() < headerEnd)
        return corruption("the database file is truncated: it is shorter than one page");
    if (fileSize % format.pageSize != 0)
        return corruption("the database file is truncated: its size is not a whole number of pages");

    DatabaseHeader h;
    h.formatVersion = version;
    h.version = format.version;
    std::memcpy(h.unmasked.data(), page.data() + header::kMaskedRegion, format.header.maskedLength);
    applyHeaderMask(std::span(h.unmasked).first(format.header.maskedLength));
    ByteReader r(h.unmasked.data(), format.header.maskedLength);
    auto at = [](size_t fileOffset) { return fileOffset - header::kMaskedRegion; };
    h.codePage = r.u16(at(header::kCodePage));
    h.encodingKey = r.u32(at(header::kEncodingKey));
    h.sortLcid = r.u16(at(format.header.sortOrder));
    if (format.header.sortVersion != kAbsent) h.sortVersion = r.u8(at(format.header.sortVersion));
    if (format.header.datedPassword) h.creationDate = r.f64(at(header::kCreationDate));
    if (h.encodingKey != 0) return notSupported("encrypted database: the file is encoded and cannot be read");

    // With no password the stored bytes equal a mask derived from the
    // creation date (Jet 4) or are zero (Jet 3); anything else is a password.
    uint8_t mask[kPasswordMaskWord] = {};
    if (format.header.datedPassword) {
        double day = std::isfinite(h.creationDate) ? std::floor(h.creationDate) : 0;
        int32_t dayWord = day >= INT32_MIN && day <= INT32_MAX ? int32_t(day) : 0;
        putU32(mask, 0, uint32_t(dayWord));
    }
    for (size_t i = 0; i < format.header.passwordLength; ++i)
        if ((r.u8(at(header::kPassword) + i) ^ mask[i % kPasswordMaskWord]) != 0)
            return notSupported("password-protected database: remove the password in Access first");
    return h;
}

Result<DatabaseHeader> DatabaseHeader::read(PageFile& file)
{
    uint64_t size = file.size();
    std::vector<uint8_t> first(size_t(std::min<uint64_t>(size, kPageSize)));
    if (!first.empty()) VK_RETURN_IF_ERROR(file.read(0, first.size(), first.data()));
    return parse(first, size);
}

}  // namespace varnika::jet
