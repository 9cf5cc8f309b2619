// ASCII helpers for the machine's own text files (machine.ini, the registry
// files, tool output): no locale, no code page.
#pragma once

#include <string>
#include <string_view>

namespace host {

std::string AsciiLower(std::string_view s);
// Without the blanks, tabs and carriage returns around it.
std::string Trim(std::string_view s);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace host
