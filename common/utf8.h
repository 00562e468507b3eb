// CP1251 <-> UTF-8 for the simulator, the windows' text pair
// (base/cp1251text.h), the trace rows and the command-line programs. A leaf
// shared by the tool and the simulator, not part of the driver: these
// allocate. The code page itself is common/cp1251.h.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace km_text {
// A byte CP1251 leaves unassigned becomes '?'.
std::string Cp1251ToUtf8(std::string_view text);
// The UTF-8 form of one CP1251 byte.
std::string Cp1251CharToUtf8(uint8_t byte);
// Characters that CP1251 lacks become '?'; malformed UTF-8 bytes too.
std::string Utf8ToCp1251(std::string_view text);
}  // namespace km_text
