#include "plugin/service_image_path.h"

namespace pelno {

std::wstring ServiceBinaryFromImagePath(std::wstring_view imagePath) {
  const std::size_t first = imagePath.find_first_not_of(L' ');
  std::wstring_view text = first == std::wstring_view::npos ? std::wstring_view{} : imagePath.substr(first);
  if (text.size() >= 2 && text[0] == L'"') {
    const std::size_t close = text.find(L'"', 1);
    if (close != std::wstring_view::npos) return std::wstring(text.substr(1, close - 1));
  }
  if (text.size() >= 3) {
    const std::size_t switches = text.find(L" --");
    if (switches != std::wstring_view::npos) return std::wstring(text.substr(0, switches));
  }
  return std::wstring(text);
}

std::string FormatErrorCode(std::uint32_t code) { return "error " + std::to_string(code); }

}  // namespace pelno
