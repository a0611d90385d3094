#include "db/jet/page/text_codec.h"

namespace varnika::jet {

namespace {
constexpr uint8_t kCompressedMark0 = 0xFF;
constexpr uint8_t kCompressedMark1 = 0xFE;
constexpr uint8_t kModeToggle = 0x00;
constexpr size_t kMinCompressedChars = 3;
constexpr size_t kMaxCompressedChars = 1024;
}  // namespace

std::u16string decodeJetText(std::span<const uint8_t> b)
{
    std::u16string out;
    // Values of two bytes or fewer are always plain: FF FE alone is the
    // character U+FEFF, not an empty compressed value.
    if (b.size() > 2 && b[0] == kCompressedMark0 && b[1] == kCompressedMark1) {
        out.reserve(b.size() - 2);
        bool compressed = true;
        size_t i = 2;
        while (i < b.size()) {
            if (b[i] == kModeToggle) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                out.push_back(char16_t(b[i]));
                ++i;
            } else {
                if (i + 1 >= b.size()) break;
                out.push_back(char16_t(b[i] | (b[i + 1] << 8)));
                i += 2;
            }
        }
        return out;
    }
    out.reserve(b.size() / 2);
    for (size_t i = 0; i + 1 < b.size(); i += 2) out.push_back(char16_t(b[i] | (b[i + 1] << 8)));
    return out;
}

bool useCompressedText(std::u16string_view text, bool allowCompression)
{
    if (!allowCompression || text.size() < kMinCompressedChars || text.size() > kMaxCompressedChars) return false;
    for (char16_t c : text)
        if (c < 0x0001 || c > 0x00FF) return false;
    return true;
}

std::vector<uint8_t> encodeJetText(std::u16string_view text, bool allowCompression)
{
    std::vector<uint8_t> out;
    if (useCompressedText(text, allowCompression)) {
        out.reserve(text.size() + 2);
        out.push_back(kCompressedMark0);
        out.push_back(kCompressedMark1);
        for (char16_t c : text) out.push_back(uint8_t(c));
        return out;
    }
    out.reserve(text.size() * 2);
    for (char16_t c : text) {
        out.push_back(uint8_t(c));
        out.push_back(uint8_t(c >> 8));
    }
    return out;
}

}  // namespace varnika::jet
