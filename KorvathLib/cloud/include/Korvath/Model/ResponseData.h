#pragma once

#include <cstdint>
#include <string>

namespace Korvath {
namespace Model {

// The envelope of request and successful reply bodies: {"data":"<sealed text>"}.
class ResponseData {
 public:
  const std::string& getData() const { return data_; }
  void setData(const std::string& data) { data_ = data; }

  // 0 when `json` is a JSON object with a string "data"; otherwise
  // KV_ERROR_FILL_RESPONSE_DATA_FROM_JSON (not a JSON object) or
  // KV_ERROR_FILL_RESPONSE_DATA_DATA_FROM_JSON (no string "data"), and the record is unchanged.
  std::uint16_t fillFromJson(const std::string& json);
  // {"data":"..."} written compactly by the JSON writer (every character escaped as JSON needs).
  std::string toJson() const;

 private:
  std::string data_;
};

}  // namespace Model
}  // namespace Korvath
