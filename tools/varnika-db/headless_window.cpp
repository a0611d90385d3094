#include "tools/varnika-db/headless_window.h"

#include "ops/window_design.h"
#include "tools/varnika-db/progress_meter.h"

namespace varnika::tool {

namespace {

size_t slot(TextBox box) { return static_cast<size_t>(box); }

}  // namespace

HeadlessWindow::HeadlessWindow() : m_counter(kCounterDesignCaption)
{
    m_enabled.fill(true);
    for (size_t i = 0; i < m_texts.size(); ++i) m_texts[i] = initialText(static_cast<TextBox>(i));
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
    const std::u16string_view counter = boxBehaviour(box).changeSetsCounterTo;
    if (!counter.empty()) m_counter = counter;
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
