#pragma once
// What a find-and-replace run does to each record it walks. The first option
// set decides, in this order: date-and-time, debit-to-credit,
// credit-to-debit, date, otherwise a plain write.

#include "db/record_set.h"
#include "db/regional_settings.h"
#include "db/status.h"
#include "db/variant.h"

#include <optional>
#include <string>

namespace varnika {

enum class RecordAction {
    KeepTimeOfDay,  // Check6: matching records get the new date with their own time
    DebitToCredit,  // Check2: Borc moves into Alacak when Alacak is 0
    CreditToDebit,  // Check3: Alacak moves into Borc when Borc is 0
    WriteDate,      // Check5: the new value read as a date
    WriteText,      // the new value as text, and the second field's
};

struct RecordActionInputs {
    std::u16string field;        // Text2
    std::u16string oldValue;     // Text3
    std::u16string newValue;     // Text4
    std::u16string secondField;  // Text7
    std::u16string secondValue;  // Text8
    bool dateTimeMode = false;   // Check6
    bool debitToCredit = false;  // Check2
    bool creditToDebit = false;  // Check3
    bool dateMode = false;       // Check5
};

inline constexpr char16_t kCreditField[] = u"Alacak";
inline constexpr char16_t kDebitField[] = u"Borc";

RecordAction chooseRecordAction(const RecordActionInputs& in);

// Whether a record's field value matches the old value in date-and-time mode:
// the old value is read month first (as the option's caption 12/31/2010
// shows, dots counting as slashes) and compared with the calendar date of the
// field. A value that is not a date, or an old value that does not read as
// one, matches nothing.
bool dateTimeMatches(const Variant& fieldValue, std::u16string_view oldValue, const RegionalSettings& settings);

// A ledger amount as a number; nothing for an empty (Null) or non-numeric value.
std::optional<double> ledgerAmount(const Variant& value);

// Applies the action to the current record of `records`, with Edit and Update
// around the writes (no Edit at all for a date-and-time record that does not
// match). A failure leaves the record unsaved.
Status applyRecordAction(RecordSet& records, const RecordActionInputs& in, const RegionalSettings& settings);

}  // namespace varnika
