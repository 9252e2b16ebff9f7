#include "Korvath/Model/ResponseData.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "JsonReader.h"
#include "Korvath/ResultCodes.h"

namespace Korvath {
namespace Model {

std::uint16_t ResponseData::fillFromJson(const std::string& json) {
  rapidjson::Document document;
  if (!Cloud::Detail::parseJson(document, json) || !document.IsObject()) {
    return KV_ERROR_FILL_RESPONSE_DATA_FROM_JSON;
  }
  auto data = document.FindMember("data");
  if (data == document.MemberEnd() || !data->value.IsString()) {
    return KV_ERROR_FILL_RESPONSE_DATA_DATA_FROM_JSON;
  }
  data_.assign(data->value.GetString(), data->value.GetStringLength());
  return KV_SUCCESS;
}

std::string ResponseData::toJson() const {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("data");
  writer.String(data_.c_str(), static_cast<rapidjson::SizeType>(data_.size()));
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace Model
}  // namespace Korvath
