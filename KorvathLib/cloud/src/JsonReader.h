#pragma once

#include <rapidjson/document.h>

#include <string>

namespace Korvath {
namespace Cloud {
namespace Detail {

// Parses text from outside without recursion (so deep nesting cannot exhaust the stack)
// and refuses anything after the root value. False when the text is not one JSON value.
inline bool parseJson(rapidjson::Document& document, const std::string& text) {
  document.Parse<rapidjson::kParseIterativeFlag>(text.c_str(), text.size());
  return !document.HasParseError();
}

}  // namespace Detail
}  // namespace Cloud
}  // namespace Korvath
