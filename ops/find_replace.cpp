#include "ops/find_replace.h"

#include "db/text.h"
#include "ops/case_conversion.h"
#include "ops/record_action.h"
#include "ops/record_source.h"
#include "ops/record_walk.h"
#include "ops/window_design.h"

namespace varnika {

namespace {

RecordActionInputs readActionInputs(const WindowPort& w)
{
    RecordActionInputs in;
    in.field = w.text(TextBox::Text2);
    in.oldValue = w.text(TextBox::Text3);
    in.newValue = w.text(TextBox::Text4);
    in.secondField = w.text(TextBox::Text7);
    in.secondValue = w.text(TextBox::Text8);
    in.dateTimeMode = w.isChecked(CheckBox::Check6);
    in.debitToCredit = w.isChecked(CheckBox::Check2);
    in.creditToDebit = w.isChecked(CheckBox::Check3);
    in.dateMode = w.isChecked(CheckBox::Check5);
    return in;
}

// Binds the data control to the window's file and record source, opens it,
// walks its records and closes it; the caller gives the buttons and the
// pointer back whatever this returns.
Status bindAndReplace(WindowPort& w, DataControl& data)
{
    const std::u16string extra = w.text(TextBox::Text6);
    if (!extra.empty()) w.setText(TextBox::Text6, prefixExtraCondition(extra));

    data.SetDatabaseName(w.text(TextBox::Text1));

    RecordSourceInputs source;
    source.table = w.text(TextBox::Text5);
    source.field = w.text(TextBox::Text2);
    source.oldValue = w.text(TextBox::Text3);
    source.extraCondition = w.text(TextBox::Text6);
    source.numeric = w.isChecked(CheckBox::Check1);
    source.dateMode = w.isChecked(CheckBox::Check5);
    source.dateTimeMode = w.isChecked(CheckBox::Check6);
    data.SetRecordSource(buildRecordSource(source));
    data.SetRecordSource(applyDateSeparatorRule(data.RecordSource()));

    VK_RETURN_IF_ERROR(data.Refresh());
    RecordSet* records = data.Recordset();
    if (!records) return Status(ErrorCode::Closed, "the data control holds no record set");
    VK_RETURN_IF_ERROR(positionForWalk(*records));
    VK_RETURN_IF_ERROR(walkReplace(w, *records, data.regionalSettings()));
    return records->Close();
}

}  // namespace

std::u16string counterText(int64_t absolutePosition)
{
    return std::u16string(kCounterPrefix) + toU16(std::to_string(absolutePosition + 1));
}

namespace {

Status replaceEach(WindowPort& w, RecordSet& records, const RegionalSettings& settings)
{
    for (;;) {
        VK_ASSIGN_OR_RETURN(bool eof, records.Eof());
        if (eof) return Status::ok();
        VK_ASSIGN_OR_RETURN(int64_t position, records.AbsolutePosition());
        w.setCounterText(counterText(position));
        VK_RETURN_IF_ERROR(applyRecordAction(records, readActionInputs(w), settings));
        VK_RETURN_IF_ERROR(records.MoveNext());
    }
}

}  // namespace

Status walkReplace(WindowPort& w, RecordSet& records, const RegionalSettings& settings)
{
    return endWalk(records, replaceEach(w, records, settings));
}

Status Command1_Click(WindowPort& w, DataControl& data)
{
    if (w.isChecked(CheckBox::Check4)) {
        Status status = ConvertFieldCase(w, data);
        if (!status.isOk()) {
            w.setBusy(BusyScope::Application, false);
            w.setBusy(BusyScope::Window, false);
            w.setButtonEnabled(Button::Command1, true);
            w.setButtonEnabled(Button::Command2, true);
        }
        return status;
    }

    w.setButtonEnabled(Button::Command1, false);
    w.setButtonEnabled(Button::Command2, false);
    w.setBusy(BusyScope::Window, true);

    Status status = bindAndReplace(w, data);

    w.setBusy(BusyScope::Window, false);
    w.setButtonEnabled(Button::Command1, true);
    w.setButtonEnabled(Button::Command2, true);
    return status;
}

void Check2_Click(WindowPort& w)
{
    w.setChecked(CheckBox::Check3, false);
}

void Check3_Click(WindowPort& w)
{
    w.setChecked(CheckBox::Check2, false);
}

}  // namespace varnika
