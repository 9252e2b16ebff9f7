#pragma once

#include <string>

namespace Korvath {
namespace Utils {

// UTF-16 (Windows) or UTF-32 (elsewhere) wide text to UTF-8 and back. Empty input
// gives empty output; a malformed sequence becomes U+FFFD instead of being dropped.
std::string toUtf8(const std::wstring& text);
std::wstring toWide(const std::string& text);

// A new identifier in UUID text form (version 4, 8-4-4-4-12 lower-case hexadecimal)
// from the operating system's cryptographic random source.
std::string generateRandomId();

// Every double quote preceded by a backslash.
std::string escapeQuotes(const std::string& text);

}  // namespace Utils
}  // namespace Korvath
