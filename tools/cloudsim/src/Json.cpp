#include "Json.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "Korvath/Model/ErrorResponse.h"

namespace CloudSim {
namespace Json {
namespace {

bool withinDepth(const std::string& text) {
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      if (++depth > kMaxDepth) return false;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return true;
}

}  // namespace

bool parseObject(const std::string& text, rapidjson::Document& doc) {
  if (!withinDepth(text)) return false;
  doc.Parse<rapidjson::kParseIterativeFlag>(text.data(), text.size());
  return !doc.HasParseError() && doc.IsObject();
}

std::string quote(const std::string& text) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string errorList(std::int32_t code, const std::string& message) {
  return Korvath::Model::ErrorResponse({Korvath::Model::Error(code, message)}).toJson();
}

std::string controlError(const std::string& message) {
  return "{\"error\":" + quote(message) + "}";
}

}  // namespace Json
}  // namespace CloudSim
