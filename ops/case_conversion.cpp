#include "ops/case_conversion.h"

#include "ops/record_walk.h"
#include "ops/title_case.h"
#include "db/convert.h"

namespace varnika {

namespace {

Status convertEach(WindowPort& w, RecordSet& records, const RegionalSettings& settings)
{
    for (;;) {
        VK_ASSIGN_OR_RETURN(bool eof, records.Eof());
        if (eof) return Status::ok();

        // One field name for the read and the write of a record, so that an
        // edit of the box while events are processed cannot send one field's
        // value into another.
        const std::u16string fieldName = w.text(TextBox::Text2);
        VK_ASSIGN_OR_RETURN(Field * field, records.Fields(fieldName));
        VK_ASSIGN_OR_RETURN(Variant value, field->Value());
        if (value.isNull()) {
            // An empty field has nothing to convert; the rest of the table still is.
            w.processEvents();
        } else {
            VK_ASSIGN_OR_RETURN(std::u16string text, variantToText(value, settings));
            w.setText(TextBox::Text3, text);
            w.processEvents();
            // The value in hand is converted, not whatever the box may have
            // been edited to meanwhile.
            std::u16string converted = titleCase(text);
            w.setText(TextBox::Text3, converted);
            VK_RETURN_IF_ERROR(records.Edit());
            VK_ASSIGN_OR_RETURN(Field * target, records.Fields(fieldName));
            VK_RETURN_IF_ERROR(target->SetValue(Variant::text(std::move(converted))));
            VK_RETURN_IF_ERROR(records.Update());
        }
        if (w.closeRequested()) return Status::ok();
        VK_RETURN_IF_ERROR(records.MoveNext());
    }
}

}  // namespace

Status convertRecords(WindowPort& w, RecordSet& records, const RegionalSettings& settings)
{
    return endWalk(records, convertEach(w, records, settings));
}

Status ConvertFieldCase(WindowPort& w, DataControl& data)
{
    w.setBusy(BusyScope::Application, true);
    w.setButtonEnabled(Button::Command1, false);

    data.SetDatabaseName(w.text(TextBox::Text1));
    data.SetRecordSource(w.text(TextBox::Text5));
    VK_RETURN_IF_ERROR(data.Refresh());
    RecordSet* records = data.Recordset();
    if (!records) return Status(ErrorCode::Closed, "the data control holds no record set");
    VK_RETURN_IF_ERROR(positionForWalk(*records));
    VK_RETURN_IF_ERROR(convertRecords(w, *records, data.regionalSettings()));
    VK_RETURN_IF_ERROR(records->Close());

    w.setButtonEnabled(Button::Command1, true);
    w.setBusy(BusyScope::Application, false);
    return Status::ok();
}

}  // namespace varnika
