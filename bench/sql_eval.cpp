// Evaluates record-source conditions over 1,000,000 in-memory rows and
// prints rows per second, with the heap allocations made while evaluating
// (expected 0 once the query is warm).

#include "db/date_time.h"
#include "db/sql/sql_parser.h"
#include "db/sql/sql_query.h"
#include "db/text.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

namespace {
std::atomic<long> g_allocations{0};
}

void* operator new(std::size_t n)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

using namespace varnika;

int main()
{
    constexpr int kRows = 1000000;
    const std::vector<SqlColumn> columns = {
        {u"Birim", ColumnType::Text, 20},    {u"Miktar", ColumnType::Long, 4},
        {u"Depo", ColumnType::Integer, 2},   {u"Tarih", ColumnType::DateTime, 8},
        {u"Aciklama", ColumnType::Memo, 0},
    };
    const size_t width = columns.size();
    std::vector<Variant> cells;
    cells.reserve(kRows * width);
    const double base = *dateSerial(DateParts{2010, 1, 1, 0, 0, 0});
    for (int i = 0; i < kRows; ++i) {
        // 100 different units, each on 1% of the rows; "Adet" is one of them.
        const int unit = i % 100;
        cells.push_back(Variant::text(unit == 0 ? std::u16string(u"Adet") : u"Birim" + toU16(std::to_string(unit))));
        cells.push_back(Variant::longValue(i % 50));
        cells.push_back(Variant::integer(static_cast<int16_t>(i % 7)));
        cells.push_back(Variant::date(base + i % 365));
        cells.push_back(Variant::text(u"satır açıklaması " + toU16(std::to_string(i % 1000))));
    }

    const char* conditions[] = {
        "Birim='Adet'",
        "Miktar=5 and Depo=2",
        "Tarih=#12/31/2010#",
        "Birim LIKE 'Ad*'",
        "UCase(Trim(Birim)) = 'ADET' OR Aciklama LIKE '*999'",
    };
    for (const char* condition : conditions) {
        auto parsed = parseRecordSource(u"Select * From Stok where " + fromUtf8(condition));
        if (!parsed.isOk()) {
            std::printf("%s: %s\n", condition, parsed.status().toString().c_str());
            return 1;
        }
        auto bound = bindQuery(*parsed, columns, RegionalSettings::turkish());
        if (!bound.isOk()) {
            std::printf("%s: %s\n", condition, bound.status().toString().c_str());
            return 1;
        }
        (void)bound->matches(RowValues(cells.data(), width));  // warm the scratch space
        const long allocationsBefore = g_allocations.load();
        const auto start = std::chrono::steady_clock::now();
        long selected = 0;
        for (int i = 0; i < kRows; ++i) {
            auto m = bound->matches(RowValues(cells.data() + static_cast<size_t>(i) * width, width));
            if (m.isOk() && *m == Tri::True) ++selected;
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const long allocations = g_allocations.load() - allocationsBefore;
        std::printf("%-55s %8ld selected  %6.1f M rows/s  %ld allocations\n", condition, selected,
                    kRows / seconds / 1e6, allocations);
    }
    return 0;
}
