// Any bytes, read as UTF-16, through the statement parser.
#include "db/jet/ddl_statement.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::u16string text;
    for (size_t i = 0; i + 1 < size; i += 2) text.push_back(char16_t(data[i] | (data[i + 1] << 8)));
    auto r = varnika::jet::parseDdlStatement(text);
    (void)r;
    return 0;
}
