#include "db/jet/record_source.h"

#include "db/text.h"

namespace varnika::jet {

namespace {

std::u16string_view trim(std::u16string_view s)
{
    auto space = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
    while (!s.empty() && space(s.front())) s.remove_prefix(1);
    while (!s.empty() && space(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace

Result<RecordSourcePlan> planRecordSource(const Catalog& catalog, std::u16string_view source)
{
    std::u16string_view name = trim(source);
    if (name.size() >= 2 && name.front() == u'[' && name.back() == u']') name = name.substr(1, name.size() - 2);
    if (name.empty()) return invalidArgument("the record source is empty");
    if (const CatalogEntry* e = catalog.find(name)) return RecordSourcePlan{e->name};
    constexpr std::u16string_view kSelect = u"select";
    std::u16string_view t = trim(source);
    if (t.size() > kSelect.size() && equalsIgnoreCase(t.substr(0, kSelect.size()), kSelect) &&
        (t[kSelect.size()] == u' ' || t[kSelect.size()] == u'\t' || t[kSelect.size()] == u'\r' || t[kSelect.size()] == u'\n'))
        return notSupported("queries are not supported yet");
    return notFound("there is no table \"" + toUtf8(name) + "\" in the database");
}

}  // namespace varnika::jet
