#pragma once

#include <string>

namespace QrTest {

// `unit` repeated and cut to exactly `length` bytes.
inline std::string repeat(const std::string& unit, std::size_t length) {
  std::string text;
  text.reserve(length + unit.size());
  while (text.size() < length) text += unit;
  text.resize(length);
  return text;
}

}  // namespace QrTest
