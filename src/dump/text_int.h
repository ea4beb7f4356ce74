// The integer conversion the program applies to typed numbers, header counts and settings
// values: optional leading spaces, an optional sign, decimal digits or a hexadecimal number
// written "$FF" or "0xFF", and nothing after; the result must fit 32 bits.
#pragma once

#include <optional>
#include <string>

namespace veldar {

std::optional<int> TextToInt(const std::string& text);

} // namespace veldar
