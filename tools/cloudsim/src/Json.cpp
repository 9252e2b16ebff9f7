#include "Json.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace CloudSim {
namespace Json {

std::string quote(const std::string& text) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
  return std::string(buffer.GetString(), buffer.GetSize());
}

bool unwrapEnvelope(const std::string& body, std::string& sealed) {
  rapidjson::Document doc;
  doc.Parse(body.data(), body.size());
  if (doc.HasParseError() || !doc.IsObject()) return false;
  auto it = doc.FindMember("data");
  if (it == doc.MemberEnd() || !it->value.IsString()) return false;
  sealed.assign(it->value.GetString(), it->value.GetStringLength());
  return true;
}

std::string wrapEnvelope(const std::string& sealed) {
  return "{\"data\":" + quote(sealed) + "}";
}

std::string errorList(const std::string& code, const std::string& message) {
  return "{\"errors\":[{\"code\":" + quote(code) + ",\"message\":" + quote(message) + "}]}";
}

std::string controlError(const std::string& message) {
  return "{\"error\":" + quote(message) + "}";
}

}  // namespace Json
}  // namespace CloudSim
