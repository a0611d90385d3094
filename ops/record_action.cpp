#include "ops/record_action.h"

#include "db/convert.h"
#include "db/date_time.h"

#include <cmath>

namespace varnika {

namespace {

Result<Variant> fieldValue(RecordSet& records, std::u16string_view name)
{
    VK_ASSIGN_OR_RETURN(Field * field, records.Fields(name));
    return field->Value();
}

Status setField(RecordSet& records, std::u16string_view name, const Variant& value)
{
    VK_ASSIGN_OR_RETURN(Field * field, records.Fields(name));
    return field->SetValue(value);
}

// Moves `from` into `to` when `to` holds 0 and `from` more than 0.
Status moveAmount(RecordSet& records, std::u16string_view to, std::u16string_view from)
{
    VK_RETURN_IF_ERROR(records.Edit());
    VK_ASSIGN_OR_RETURN(Variant target, fieldValue(records, to));
    VK_ASSIGN_OR_RETURN(Variant source, fieldValue(records, from));
    const std::optional<double> t = ledgerAmount(target);
    const std::optional<double> s = ledgerAmount(source);
    if (t && s && *t == 0 && *s > 0) {
        VK_RETURN_IF_ERROR(setField(records, to, source));
        VK_RETURN_IF_ERROR(setField(records, from, Variant::integer(0)));
    }
    return records.Update();
}

}  // namespace

RecordAction chooseRecordAction(const RecordActionInputs& in)
{
    if (in.dateTimeMode) return RecordAction::KeepTimeOfDay;
    if (in.debitToCredit) return RecordAction::DebitToCredit;
    if (in.creditToDebit) return RecordAction::CreditToDebit;
    if (in.dateMode) return RecordAction::WriteDate;
    return RecordAction::WriteText;
}

bool dateTimeMatches(const Variant& value, std::u16string_view oldValue, const RegionalSettings& settings)
{
    if (value.type() != VariantType::Date) return false;
    RegionalSettings monthFirst = settings;
    monthFirst.dateOrder = RegionalSettings::DateOrder::MonthDayYear;
    Result<double> old = textToDate(oldValue, monthFirst);
    if (!old.isOk()) return false;
    Result<DateParts> field = dateParts(value.asDate().serial);
    Result<DateParts> wanted = dateParts(*old);
    if (!field.isOk() || !wanted.isOk()) return false;
    return field->year == wanted->year && field->month == wanted->month && field->day == wanted->day;
}

std::optional<double> ledgerAmount(const Variant& value)
{
    switch (value.type()) {
    case VariantType::Boolean: return value.asBoolean() ? -1.0 : 0.0;
    case VariantType::Byte: return value.asByte();
    case VariantType::Integer: return value.asInteger();
    case VariantType::Long: return value.asLong();
    case VariantType::Currency: return static_cast<double>(value.asCurrency().ticks) / 10000.0;
    case VariantType::Single: return value.asSingle();
    case VariantType::Double: return value.asDouble();
    case VariantType::Decimal: {
        const Decimal& d = value.asDecimal();
        double v = static_cast<double>(d.magnitude) / std::pow(10.0, d.scale);
        return d.negative ? -v : v;
    }
    default: return std::nullopt;
    }
}

Status applyRecordAction(RecordSet& records, const RecordActionInputs& in, const RegionalSettings& settings)
{
    switch (chooseRecordAction(in)) {
    case RecordAction::KeepTimeOfDay: {
        VK_ASSIGN_OR_RETURN(Variant value, fieldValue(records, in.field));
        if (!dateTimeMatches(value, in.oldValue, settings)) return Status::ok();
        // The time kept is the field's own, taken before the write.
        const std::u16string written = in.newValue + formatDate(value.asDate().serial, u" hh:mm:ss", settings);
        VK_RETURN_IF_ERROR(records.Edit());
        VK_RETURN_IF_ERROR(setField(records, in.field, Variant::text(written)));
        return records.Update();
    }
    case RecordAction::DebitToCredit:
        return moveAmount(records, kCreditField, kDebitField);
    case RecordAction::CreditToDebit:
        return moveAmount(records, kDebitField, kCreditField);
    case RecordAction::WriteDate: {
        VK_RETURN_IF_ERROR(records.Edit());
        VK_ASSIGN_OR_RETURN(double date, textToDate(in.newValue, settings));
        VK_RETURN_IF_ERROR(setField(records, in.field, Variant::date(date)));
        return records.Update();
    }
    case RecordAction::WriteText:
        VK_RETURN_IF_ERROR(records.Edit());
        VK_RETURN_IF_ERROR(setField(records, in.field, Variant::text(in.newValue)));
        if (!in.secondField.empty())
            VK_RETURN_IF_ERROR(setField(records, in.secondField, Variant::text(in.secondValue)));
        return records.Update();
    }
    return Status::ok();
}

}  // namespace varnika
