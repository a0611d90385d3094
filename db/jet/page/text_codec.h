#pragma once
// Jet 4 text storage: UCS-2 little-endian, or the compressed form that starts
// with FF FE and stores characters U+0001..U+00FF as one byte each.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace varnika::jet {

// Decodes stored text in either form. A trailing odd byte is dropped.
std::u16string decodeJetText(std::span<const uint8_t> bytes);

// Encodes text for storage. The compressed form is used only when the column
// allows it and the value is safe for every reader: 3..1024 characters, each
// in U+0001..U+00FF.
std::vector<uint8_t> encodeJetText(std::u16string_view text, bool allowCompression);

// Whether encodeJetText would write the compressed form.
bool useCompressedText(std::u16string_view text, bool allowCompression);

}  // namespace varnika::jet
