#include "com_types.h"

#include <array>

namespace veldar {

std::uint32_t BaudRateValue(TBaudRate rate) {
    static constexpr std::array<std::uint32_t, 16> Values = {
        0,     110,   300,   600,   1200,  2400,   4800,   9600,
        14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return Values[static_cast<std::size_t>(rate)];
}

} // namespace veldar
