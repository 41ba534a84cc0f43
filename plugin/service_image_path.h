// Texts of the helper service's provisioning that need no system call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelno {

// The program path inside a service's binary path: the quoted part when it starts
// with a quote (leading blanks ignored), else the part before the first " --", else
// the text without its leading blanks.
std::wstring ServiceBinaryFromImagePath(std::wstring_view imagePath);

// "error " and the code in decimal.
std::string FormatErrorCode(std::uint32_t code);

}  // namespace pelno
