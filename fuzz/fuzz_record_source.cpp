// Any text as a record source: parsed, bound against a small table and
// evaluated over a few rows.
#include "db/sql/sql_query.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::u16string text;
    for (size_t i = 0; i + 1 < size; i += 2) text.push_back(char16_t(data[i] | (data[i + 1] << 8)));
    (void)varnika::checkRecordSourceForFuzz(text);
    return 0;
}
