#include "db/jet/page/text_codec.h"

#include "db/text.h"

#include <cstdio>

namespace varnika::jet {

namespace {
#include "db/jet/page/code_pages.inc"

constexpr uint8_t kFirstUpperByte = 0x80;

const CodePageTable* codePageTable(uint16_t codePage)
{
    for (const CodePageTable& t : kCodePages)
        if (t.codePage == codePage) return &t;
    return nullptr;
}

// The byte of `c` in the table, or -1.
int byteOf(const CodePageTable& t, char16_t c)
{
    if (c < kFirstUpperByte) return int(c);
    for (int i = 0; i < 128; ++i)
        if (t.upper[i] == c) return kFirstUpperByte + i;
    // An undefined byte stands for the code point of its number.
    if (c <= 0xFF && t.upper[c - kFirstUpperByte] == 0) return int(c);
    return -1;
}

constexpr uint8_t kCompressedMark0 = 0xFF;
constexpr uint8_t kCompressedMark1 = 0xFE;
constexpr uint8_t kModeToggle = 0x00;
constexpr size_t kMinCompressedChars = 3;
constexpr size_t kMaxCompressedChars = 1024;
}  // namespace

std::u16string decodeJetText(std::span<const uint8_t> b)
{
    std::u16string out;
    decodeJetTextInto(b, out);
    return out;
}

void decodeJetTextInto(std::span<const uint8_t> b, std::u16string& out)
{
    // Values of two bytes or fewer are always plain: FF FE alone is the
    // character U+FEFF, not an empty compressed value.
    if (b.size() > 2 && b[0] == kCompressedMark0 && b[1] == kCompressedMark1) {
        out.resize(b.size() - 2);
        char16_t* p = out.data();
        bool compressed = true;
        size_t i = 2;
        while (i < b.size()) {
            if (b[i] == kModeToggle) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                *p++ = char16_t(b[i]);
                ++i;
            } else {
                if (i + 1 >= b.size()) break;
                *p++ = char16_t(b[i] | (b[i + 1] << 8));
                i += 2;
            }
        }
        out.resize(size_t(p - out.data()));
        return;
    }
    out.resize(b.size() / 2);
    for (size_t k = 0; k < out.size(); ++k) out[k] = char16_t(b[2 * k] | (b[2 * k + 1] << 8));
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
    appendJetText(text, allowCompression, out);
    return out;
}

void appendJetText(std::u16string_view text, bool allowCompression, std::vector<uint8_t>& out)
{
    const size_t at = out.size();
    if (useCompressedText(text, allowCompression)) {
        out.resize(at + 2 + text.size());
        uint8_t* p = out.data() + at;
        *p++ = kCompressedMark0;
        *p++ = kCompressedMark1;
        for (char16_t c : text) *p++ = uint8_t(c);
        return;
    }
    out.resize(at + 2 * text.size());
    uint8_t* p = out.data() + at;
    for (char16_t c : text) {
        *p++ = uint8_t(c);
        *p++ = uint8_t(c >> 8);
    }
}

bool isSupportedCodePage(uint16_t codePage) { return codePageTable(codePage) != nullptr; }

std::u16string decodeCodePageText(std::span<const uint8_t> bytes, uint16_t codePage)
{
    const CodePageTable* t = codePageTable(codePage);
    std::u16string out;
    out.reserve(bytes.size());
    for (uint8_t b : bytes) {
        char16_t c = b < kFirstUpperByte || !t ? char16_t(b) : t->upper[b - kFirstUpperByte];
        out.push_back(c ? c : char16_t(b));
    }
    return out;
}

Result<std::vector<uint8_t>> encodeCodePageText(std::u16string_view text, uint16_t codePage)
{
    const CodePageTable* t = codePageTable(codePage);
    if (!t) return notSupported("text in code page " + std::to_string(codePage) + " cannot be written");
    std::vector<uint8_t> out;
    out.reserve(text.size());
    for (char16_t c : text) {
        int b = byteOf(*t, c);
        if (b < 0) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "U+%04X", unsigned(c));
            return invalidArgument("the character \"" + toUtf8(std::u16string_view(&c, 1)) + "\" (" + hex +
                                   ") cannot be stored: this Access 97 database keeps its text in code page " +
                                   std::to_string(codePage) + ", which has no such character");
        }
        out.push_back(uint8_t(b));
    }
    return out;
}

bool fitsCodePage(std::u16string_view text, uint16_t codePage)
{
    const CodePageTable* t = codePageTable(codePage);
    if (!t) return false;
    for (char16_t c : text)
        if (byteOf(*t, c) < 0) return false;
    return true;
}

std::u16string decodeStoredText(std::span<const uint8_t> bytes, const JetFormat& format)
{
    return format.unicodeText() ? decodeJetText(bytes) : decodeCodePageText(bytes, format.codePage);
}

Result<std::vector<uint8_t>> encodeStoredText(std::u16string_view text, bool allowCompression, const JetFormat& format)
{
    if (format.unicodeText()) return encodeJetText(text, allowCompression);
    return encodeCodePageText(text, format.codePage);
}

}  // namespace varnika::jet
