#pragma once
// Values as text for the command-line tool: C-locale numbers, dates as
// yyyy-mm-dd hh:mm:ss, binary as upper-case hex, GUIDs in braces.

#include "db/variant.h"

#include <string>

namespace varnika::tool {

std::string valueText(const Variant& v);
// One CSV field: quoted (with doubled quotes) only when it holds a comma, a
// quote or a line break.
std::string csvField(const std::string& text);

}  // namespace varnika::tool
