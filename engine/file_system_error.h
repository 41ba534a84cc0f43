// The text of a file-system error, in the standard library's format:
// "filesystem error: <operation>: <system message> [<path>]".
#pragma once

#include <string>
#include <string_view>

namespace pelno {

std::string FileSystemErrorText(std::string_view operation, std::string_view systemMessage,
                                std::wstring_view path);

}  // namespace pelno
