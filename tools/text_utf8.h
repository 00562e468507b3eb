// CP1251 <-> UTF-8 for the command-line programs (the windows use Qt's codecs).
#pragma once
#include <string>

namespace km_text {
std::string Cp1251ToUtf8(const std::string& text);
// Characters that CP1251 lacks become '?'; malformed UTF-8 bytes too.
std::string Utf8ToCp1251(const std::string& text);
}  // namespace km_text
