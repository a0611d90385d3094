#pragma once
// Values as text for the command-line tool: C-locale numbers, dates as
// yyyy-mm-dd hh:mm:ss, binary as upper-case hex, GUIDs in braces.

#include "db/variant.h"

#include <string>

namespace varnika::tool {

std::string valueText(const Variant& v);
// A date serial through a strftime(3) format (C locale names of days and
// months); the plain form of valueText for an empty format.
std::string dateText(double serial, const std::string& format);
// A JSON string literal: quotes, backslashes and control characters escaped.
std::string jsonString(const std::string& utf8);
// One CSV field: quoted (with doubled quotes) only when it holds a comma, a
// quote or a line break.
std::string csvField(const std::string& text);

}  // namespace varnika::tool
