#pragma once

// Text helpers of the dialog's logic: the dialog's texts are UTF-16 (what the Windows controls
// show), what it reads from its boxes and sends to the services is UTF-8.

#include <cstddef>
#include <string>
#include <vector>

namespace Korvath {
namespace View {
namespace Text {

// UTF-8 to UTF-16; a malformed sequence becomes U+FFFD.
std::u16string toUtf16(const std::string& utf8);
// ASCII text (digits, fixed strings) to UTF-16.
std::u16string ascii(const std::string& text);
// The characters (code points) of UTF-8 text, each as its own UTF-8 text.
std::vector<std::string> characters(const std::string& utf8);
// Number of characters (code points) of UTF-8 text.
std::size_t length(const std::string& utf8);

}  // namespace Text
}  // namespace View
}  // namespace Korvath
