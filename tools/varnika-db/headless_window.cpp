#include "tools/varnika-db/headless_window.h"

#include "tools/varnika-db/progress_meter.h"

namespace varnika::tool {

namespace {

// The counter's design caption, and what typing into the file box sets.
const std::u16string kCounterDesign = u"Kay\u0131t : ";
const std::u16string kCounterZero = u" Kay\u0131t: 0";

size_t slot(TextBox box) { return static_cast<size_t>(box); }

}  // namespace

HeadlessWindow::HeadlessWindow() : m_counter(kCounterDesign)
{
    m_enabled.fill(true);
    m_texts[slot(TextBox::Text3)] = u"0";
    m_texts[slot(TextBox::Text4)] = u"1";
    m_texts[slot(TextBox::Text9)] = u"Yeni Fiield ismi girin";
    m_texts[slot(TextBox::Text10)] = u"50";
}

void HeadlessWindow::fill(TextBox box, const std::u16string& text)
{
    m_texts[slot(box)] = text;
}

void HeadlessWindow::reportProgress(ProgressMeter* meter, DataControl* data)
{
    m_meter = meter;
    m_data = data;
}

std::u16string HeadlessWindow::text(TextBox box) const
{
    return m_texts[slot(box)];
}

void HeadlessWindow::setText(TextBox box, const std::u16string& text)
{
    if (m_texts[slot(box)] == text) return;  // no change, no change behaviour
    m_texts[slot(box)] = text;
    switch (box) {
    case TextBox::Text1: m_counter = kCounterZero; break;
    case TextBox::Text3:
    case TextBox::Text4:
    case TextBox::Text7:
    case TextBox::Text8: m_counter = kCounterDesign; break;
    default: break;
    }
}

bool HeadlessWindow::isChecked(CheckBox box) const
{
    return m_checks[static_cast<size_t>(box)];
}

void HeadlessWindow::setChecked(CheckBox box, bool checked)
{
    m_checks[static_cast<size_t>(box)] = checked;
}

void HeadlessWindow::setCounterText(const std::u16string& text)
{
    m_counter = text;
    recordReached();
}

void HeadlessWindow::clearList(ListBox list)
{
    m_lists[static_cast<size_t>(list)].clear();
}

void HeadlessWindow::addListItem(ListBox list, const std::u16string& item)
{
    m_lists[static_cast<size_t>(list)].push_back(item);
}

int HeadlessWindow::listCount(ListBox list) const
{
    return static_cast<int>(m_lists[static_cast<size_t>(list)].size());
}

std::u16string HeadlessWindow::listItem(ListBox list, int index) const
{
    const auto& items = m_lists[static_cast<size_t>(list)];
    return index >= 0 && size_t(index) < items.size() ? items[size_t(index)] : std::u16string();
}

void HeadlessWindow::setButtonEnabled(Button button, bool enabled)
{
    m_enabled[static_cast<size_t>(button)] = enabled;
}

bool HeadlessWindow::isButtonEnabled(Button button) const
{
    return m_enabled[static_cast<size_t>(button)];
}

void HeadlessWindow::processEvents()
{
    recordReached();
}

void HeadlessWindow::recordReached()
{
    ++m_done;
    if (!m_meter) return;
    if (m_total < 0 && m_data) {
        // The walk has begun, so the record set of this run is open.
        RecordSet* records = m_data->Recordset();
        if (records) {
            Result<int64_t> count = records->RecordCount();
            if (count.isOk()) m_total = *count;
        }
    }
    m_meter->update(m_done, m_total);
}

}  // namespace varnika::tool
