#include "engine/file_system_error.h"

#include "base/text_encoding.h"

namespace pelno {

std::string FileSystemErrorText(std::string_view operation, std::string_view systemMessage,
                                std::wstring_view path) {
  std::string text = "filesystem error: ";
  text += operation;
  text += ": ";
  text += systemMessage;
  text += " [";
  text += WideToUtf8(path);
  text += "]";
  return text;
}

}  // namespace pelno
