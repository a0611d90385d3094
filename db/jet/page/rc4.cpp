#include "db/jet/page/rc4.h"

#include <utility>

namespace varnika::jet {

void rc4Apply(uint32_t key, uint8_t* data, size_t length)
{
    uint8_t k[4] = {uint8_t(key), uint8_t(key >> 8), uint8_t(key >> 16), uint8_t(key >> 24)};
    uint8_t s[256];
    for (int i = 0; i < 256; ++i) s[i] = uint8_t(i);
    uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
        j = uint8_t(j + s[i] + k[i % 4]);
        std::swap(s[i], s[j]);
    }
    uint8_t a = 0;
    j = 0;
    for (size_t n = 0; n < length; ++n) {
        a = uint8_t(a + 1);
        j = uint8_t(j + s[a]);
        std::swap(s[a], s[j]);
        data[n] ^= s[uint8_t(s[a] + s[j])];
    }
}

}  // namespace varnika::jet
