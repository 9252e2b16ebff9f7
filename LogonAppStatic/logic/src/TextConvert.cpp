#include "TextConvert.h"

#include <cstdint>

#include "Korvath/Utils.h"

namespace Korvath {
namespace View {
namespace Text {

std::u16string toUtf16(const std::string& utf8) {
  // The foundations' converter yields wchar_t text: UTF-16 on Windows, UTF-32 natively.
  const std::wstring wide = Utils::toWide(utf8);
  std::u16string out;
  out.reserve(wide.size());
  for (wchar_t c : wide) {
    const std::uint32_t cp = static_cast<std::uint32_t>(c);
    if (sizeof(wchar_t) == 2 || cp < 0x10000) {
      out.push_back(static_cast<char16_t>(cp));
    } else {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    }
  }
  return out;
}

std::u16string ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::vector<std::string> characters(const std::string& utf8) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < utf8.size();) {
    std::size_t next = i + 1;
    // Continuation bytes (10xxxxxx) belong to the character before them.
    while (next < utf8.size() && (static_cast<unsigned char>(utf8[next]) & 0xC0) == 0x80) ++next;
    out.push_back(utf8.substr(i, next - i));
    i = next;
  }
  return out;
}

std::size_t length(const std::string& utf8) {
  std::size_t n = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

}  // namespace Text
}  // namespace View
}  // namespace Korvath
