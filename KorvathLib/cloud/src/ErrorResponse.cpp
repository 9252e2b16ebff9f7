#include "Korvath/Model/ErrorResponse.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <limits>

#include "JsonReader.h"
#include "Korvath/ResultCodes.h"

namespace Korvath {
namespace Model {

namespace {

// Decimal text with an optional minus sign, nothing else, within the signed 32-bit range.
bool parseCodeText(const char* text, std::size_t length, std::int32_t& code) {
  std::size_t pos = (length > 0 && text[0] == '-') ? 1 : 0;
  if (length == pos || length - pos > 10) {
    return false;
  }
  std::int64_t value = 0;
  for (std::size_t i = pos; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') {
      return false;
    }
    value = value * 10 + (text[i] - '0');
  }
  if (pos == 1) {
    value = -value;
  }
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
    return false;
  }
  code = static_cast<std::int32_t>(value);
  return true;
}

}  // namespace

std::uint16_t ErrorResponse::fillFromJson(const std::string& json) {
  rapidjson::Document document;
  if (!Cloud::Detail::parseJson(document, json) || !document.IsObject()) {
    return KV_ERROR_FILL_ERROR_RESPONSE_FROM_JSON;
  }
  auto errors = document.FindMember("errors");
  if (errors == document.MemberEnd() || !errors->value.IsArray() || errors->value.Empty()) {
    return KV_ERROR_FILL_ERROR_RESPONSE_ERRORS_FROM_JSON;
  }
  std::vector<Error> entries;
  entries.reserve(errors->value.Size());
  for (const auto& item : errors->value.GetArray()) {
    if (!item.IsObject()) {
      return KV_ERROR_FILL_ERROR_FROM_JSON;
    }
    Error entry;
    auto code = item.FindMember("code");
    if (code == item.MemberEnd()) {
      return KV_ERROR_FILL_ERROR_CODE_FROM_JSON;
    }
    std::int32_t value = 0;
    if (code->value.IsString()) {
      if (!parseCodeText(code->value.GetString(), code->value.GetStringLength(), value)) {
        return KV_ERROR_FILL_ERROR_CODE_FROM_JSON;
      }
    } else if (code->value.IsInt()) {
      value = code->value.GetInt();
    } else {
      return KV_ERROR_FILL_ERROR_CODE_FROM_JSON;
    }
    entry.setCode(value);
    auto message = item.FindMember("message");
    if (message != item.MemberEnd()) {
      if (!message->value.IsString()) {
        return KV_ERROR_FILL_ERROR_MESSAGE_FROM_JSON;
      }
      entry.setMessage(std::string(message->value.GetString(), message->value.GetStringLength()));
    }
    entries.push_back(std::move(entry));
  }
  errors_ = std::move(entries);
  return KV_SUCCESS;
}

std::string ErrorResponse::toJson() const {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("errors");
  writer.StartArray();
  for (const Error& error : errors_) {
    const std::string code = std::to_string(error.getCode());
    writer.StartObject();
    writer.Key("code");
    writer.String(code.c_str(), static_cast<rapidjson::SizeType>(code.size()));
    writer.Key("message");
    writer.String(error.getMessage().c_str(), static_cast<rapidjson::SizeType>(error.getMessage().size()));
    writer.EndObject();
  }
  writer.EndArray();
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace Model
}  // namespace Korvath
