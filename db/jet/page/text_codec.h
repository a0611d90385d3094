#pragma once
// Text storage. Jet 4: UCS-2 little-endian, or the compressed form that
// starts with FF FE and stores characters U+0001..U+00FF as one byte each.
// Jet 3: one byte a character in the Windows code page the file names.

#include "db/jet/file/jet_format.h"
#include "db/status.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace varnika::jet {

// Decodes stored text in either form. A trailing odd byte is dropped.
std::u16string decodeJetText(std::span<const uint8_t> bytes);
// The same into `out`, whose storage is reused (a scan decodes a column
// of row after row into one string).
void decodeJetTextInto(std::span<const uint8_t> bytes, std::u16string& out);

// Encodes text for storage. The compressed form is used only when the column
// allows it and the value is safe for every reader: 3..1024 characters, each
// in U+0001..U+00FF.
std::vector<uint8_t> encodeJetText(std::u16string_view text, bool allowCompression);
// The same appended to `out` (a row's variable data is built in one buffer).
void appendJetText(std::u16string_view text, bool allowCompression, std::vector<uint8_t>& out);

// Whether encodeJetText would write the compressed form.
bool useCompressedText(std::u16string_view text, bool allowCompression);

// The single-byte Windows code pages Jet 3 text can be in (874, 1250-1258).
bool isSupportedCodePage(uint16_t codePage);
// Decodes text of a supported code page; a byte the code page leaves
// undefined reads as the code point of its number (U+0081 for 0x81).
std::u16string decodeCodePageText(std::span<const uint8_t> bytes, uint16_t codePage);
// Encodes text into a supported code page. A character the code page
// cannot hold is InvalidArgument, naming it.
Result<std::vector<uint8_t>> encodeCodePageText(std::u16string_view text, uint16_t codePage);
// Whether every character of `text` has a byte in the code page.
bool fitsCodePage(std::u16string_view text, uint16_t codePage);

// Text as the file's format stores it: Jet 4 through decodeJetText and
// encodeJetText, Jet 3 through the file's code page.
std::u16string decodeStoredText(std::span<const uint8_t> bytes, const JetFormat& format);
Result<std::vector<uint8_t>> encodeStoredText(std::u16string_view text, bool allowCompression, const JetFormat& format);

}  // namespace varnika::jet
