#pragma once
// The main window's state as it starts and the small behaviours of its input
// boxes: written once, for the Qt window, the command-line tool's window and
// the tests' stand-in alike. Headers only, like the window port.

#include "ops/window_port.h"

#include <array>
#include <string>
#include <string_view>

namespace varnika {

// The record counter's design caption, and its own format: the prefix
// followed by the record's position counted from 1.
inline constexpr std::u16string_view kCounterDesignCaption = u"Kay\u0131t : ";
inline constexpr std::u16string_view kCounterPrefix = u" Kay\u0131t: ";
// The counter's format with the number 0, which typing into the file box sets.
inline constexpr std::u16string_view kCounterZero = u" Kay\u0131t: 0";

// The text each box holds when the window starts; every box not named here
// starts empty.
inline constexpr std::u16string_view initialText(TextBox box)
{
    switch (box) {
    case TextBox::Text3: return u"0";
    case TextBox::Text4: return u"1";
    case TextBox::Text9: return u"Yeni Fiield ismi girin";
    case TextBox::Text10: return u"50";
    default: return {};
    }
}

// What a box does when its text changes, when it takes the focus and when it
// loses it. A change behaviour sets the counter to a fixed text.
struct BoxBehaviour {
    std::u16string_view changeSetsCounterTo;  // empty: no change behaviour
    bool selectAllOnEntry = false;
    bool trimOnLeave = false;
};

inline constexpr BoxBehaviour boxBehaviour(TextBox box)
{
    switch (box) {
    case TextBox::Text1: return {kCounterZero, false, true};
    case TextBox::Text3:
    case TextBox::Text4:
    case TextBox::Text7:
    case TextBox::Text8: return {kCounterDesignCaption, true, true};
    case TextBox::Text2:
    case TextBox::Text5:
    case TextBox::Text6: return {{}, false, true};
    case TextBox::Text9:
    case TextBox::Text10: return {};
    }
    return {};
}

// The boxes that have any behaviour at all: the eight visible ones.
inline constexpr std::array<TextBox, 8> kBoxesWithBehaviour = {
    TextBox::Text1, TextBox::Text2, TextBox::Text3, TextBox::Text4,
    TextBox::Text5, TextBox::Text6, TextBox::Text7, TextBox::Text8,
};

// What leaving a box does to its text: spaces (U+0020) go from both ends;
// tabs and the spaces inside stay.
inline std::u16string trimSpaces(std::u16string_view text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && text[begin] == u' ') ++begin;
    while (end > begin && text[end - 1] == u' ') --end;
    return std::u16string(text.substr(begin, end - begin));
}

// The field-type list of the add-field group, in its order, each entry with
// its DAO type code (there is no code 9). The window selects the first entry
// at start-up.
struct FieldType {
    std::u16string_view name;
    int code;
};
inline constexpr std::array<FieldType, 11> kFieldTypes = {{
    {u"Boolean", 1},
    {u"Byte", 2},
    {u"Integer", 3},
    {u"Long", 4},
    {u"Currency", 5},
    {u"Single", 6},
    {u"Double", 7},
    {u"Date/Time", 8},
    {u"Text", 10},
    {u"Binary", 11},
    {u"Memo", 12},
}};

}  // namespace varnika
