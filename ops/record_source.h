#pragma once
// The record source of one find-and-replace run: the whole table or a
// "Select * From" statement built from the window's texts. Names and values go
// in exactly as typed; nothing is quoted or escaped.

#include <string>
#include <string_view>

namespace varnika {

struct RecordSourceInputs {
    std::u16string table;           // T, Text5
    std::u16string field;           // F, Text2
    std::u16string oldValue;        // O, Text3
    std::u16string extraCondition;  // X, Text6 (already with its leading blank)
    bool numeric = false;           // Check1
    bool dateMode = false;          // Check5
    bool dateTimeMode = false;      // Check6
};

// The first rule that holds:
//   1 numeric and O empty        T
//   2 numeric                    Select * From T where F=O X
//   3 date mode                  Select * From T where F=#O# X
//   4 date-and-time mode         T
//   5 O empty                    T
//   6 text mode                  Select * From T where F='O' X
std::u16string buildRecordSource(const RecordSourceInputs& in);

// When the text holds "tarih" in any mix of case, every "." becomes "/" (dates
// typed the Turkish way become the statement's slashed form); otherwise the
// text is returned unchanged.
std::u16string applyDateSeparatorRule(std::u16string_view recordSource);

// The extra condition as a run writes it back into its box before the record
// source is built: a non-empty text gets one blank in front of it (so each
// run adds one more).
std::u16string prefixExtraCondition(std::u16string_view extraCondition);

}  // namespace varnika
