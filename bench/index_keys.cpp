// Index key and tree throughput: Turkish text keys per second, and inserts
// per second into a tree that grows to 1,000,000 entries.
#include "db/jet/index/key_codec.h"
#include "db/jet/check/index_check.h"
#include "db/jet/index/index_tree.h"
#include "db/jet/file/page_file.h"
#include "db/text.h"
#include "tests/support/appending_page_allocator.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <random>

using namespace varnika;
using namespace varnika::jet;

namespace {

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main()
{
    const std::u16string first[] = {u"Ayşe", u"Çağrı", u"Işıl", u"İsmail", u"Gülşen", u"Ömer", u"Ümit", u"Şükrü"};
    const std::u16string last[] = {u"Yılmaz", u"Öztürk", u"Çelik", u"Doğan", u"Şahin", u"Aydın", u"Kılıç", u"Güneş"};
    std::vector<Variant> names;
    for (int i = 0; i < 64; ++i)
        names.push_back(Variant::text(first[i % 8] + u" " + last[(i / 8) % 8] + u" " + toU16(std::to_string(i))));
    {
        std::vector<uint8_t> warm;
        if (!appendColumnKey(warm, names[0], ColumnType::Text, true, TextCollation::Turkish).isOk()) return 1;
    }
    const int keyCount = 2'000'000;
    size_t bytes = 0;
    auto t0 = std::chrono::steady_clock::now();
    std::vector<uint8_t> key;
    for (int i = 0; i < keyCount; ++i) {
        key.clear();
        if (!appendColumnKey(key, names[size_t(i) % names.size()], ColumnType::Text, true, TextCollation::Turkish).isOk()) return 1;
        bytes += key.size();
    }
    const double keySeconds = seconds(t0);
    std::printf("turkish text keys: %.0f keys/s (%d keys, %.1f bytes each)\n", keyCount / keySeconds, keyCount,
                double(bytes) / keyCount);

    // A tree of Long keys in random order, as a primary key filled out of order.
    std::vector<uint8_t> file(3 * kPageSize, 0);
    IndexPage root;
    root.tdefPage = 1;
    const PageBuffer rootBytes = *encodeIndexPage(root);
    std::copy(rootBytes.begin(), rootBytes.end(), file.begin() + 2 * kPageSize);
    Pager pager(std::make_unique<MemoryPageFile>(std::move(file)), 1 << 16);
    AppendingPageAllocator alloc(pager);
    IndexTree tree(pager, 1, 2);
    const int entries = 1'000'000;
    std::vector<int32_t> order(entries);
    for (int i = 0; i < entries; ++i) order[size_t(i)] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(42));
    t0 = std::chrono::steady_clock::now();
    auto lap = t0;
    for (int i = 0; i < entries; ++i) {
        key.clear();
        if (!appendColumnKey(key, Variant::longValue(order[size_t(i)]), ColumnType::Long, true, TextCollation::GeneralLegacy).isOk()) return 1;
        const RowId row{uint32_t(10 + order[size_t(i)] / 100), uint8_t(order[size_t(i)] % 100)};
        const Status s = tree.insert(key, row, true, alloc);
        if (!s.isOk()) {
            std::printf("insert failed: %s\n", s.toString().c_str());
            return 1;
        }
        if ((i + 1) % 10000 == 0 && !pager.commit().isOk()) return 1;
        if ((i + 1) % 250000 == 0) {
            std::printf("  %7d entries: %.0f inserts/s over the last 250000\n", i + 1, 250000 / seconds(lap));
            lap = std::chrono::steady_clock::now();
        }
    }
    const double insertSeconds = seconds(t0);
    IndexTreeStats stats;
    const Status check = checkIndexTree(pager, 1, 2, &stats);
    std::printf("tree inserts: %.0f inserts/s (%d random Long keys; %zu leaves, %zu nodes, depth %zu; check %s)\n",
                entries / insertSeconds, entries, stats.leafPages, stats.nodePages, stats.depth,
                check.isOk() ? "ok" : check.toString().c_str());
    return check.isOk() ? 0 : 1;
}
