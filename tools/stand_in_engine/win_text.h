// UTF-8 <-> UTF-16 conversion for the stand-in engine (Windows only).
#pragma once

#include <string>
#include <string_view>

namespace pelno {

std::string NarrowFromWide(std::wstring_view text);
std::wstring WideFromNarrow(std::string_view text);

}  // namespace pelno
