#include "ops/record_source.h"

#include "db/text.h"

namespace varnika {

std::u16string buildRecordSource(const RecordSourceInputs& in)
{
    const std::u16string select = u"Select * From " + in.table + u" where " + in.field;
    if (in.numeric && in.oldValue.empty()) return in.table;
    if (in.numeric) return select + u"=" + in.oldValue + in.extraCondition;
    if (in.dateMode) return select + u"=#" + in.oldValue + u"#" + in.extraCondition;
    if (in.dateTimeMode) return in.table;
    if (in.oldValue.empty()) return in.table;
    return select + u"='" + in.oldValue + u"'" + in.extraCondition;
}

std::u16string applyDateSeparatorRule(std::u16string_view recordSource)
{
    std::u16string out(recordSource);
    // The general mapping: "TARIH", "Tarih" and "TARİH" all hold the word.
    if (toLower(out).find(u"tarih") == std::u16string::npos) return out;
    for (char16_t& c : out)
        if (c == u'.') c = u'/';
    return out;
}

std::u16string prefixExtraCondition(std::u16string_view extraCondition)
{
    if (extraCondition.empty()) return std::u16string();
    return u" " + std::u16string(extraCondition);
}

}  // namespace varnika
