#pragma once

// What the records of this library share in their setters and readers (not a contract).

#include <cstdint>
#include <string>
#include <vector>

#include "Korvath/ResultCodes.h"
#include "Korvath/Model/Json.h"

namespace Korvath {
namespace Detail {

// A setter's whole work: `code` when the value is refused, else the value is kept and 0.
template <typename Field, typename Value>
std::uint16_t setUnlessRefused(bool refused, std::uint16_t code, Field& field, const Value& v) {
  if (refused) return code;
  field = v;
  return KV_SUCCESS;
}

// Reads a record from JSON text: `parseFailure` for text that is not an object, else what
// the record's own reading of the object answers.
template <typename Record>
std::uint16_t fillFromText(Record& record, const std::string& json, std::uint16_t parseFailure) {
  rapidjson::Document doc;
  if (!Model::Json::parseObject(json, doc)) return parseFailure;
  return record.fillFromValue(doc);
}

// The JSON text of a record that writes itself as one value.
template <typename Record>
std::string writtenJson(const Record& record) {
  Model::Json::Writer w;
  record.write(w);
  return w.str();
}

// A list of records as a JSON array.
template <typename Record>
std::string arrayJson(const std::vector<Record>& records) {
  Model::Json::Writer w;
  w.startArray();
  for (const auto& r : records) r.write(w);
  w.endArray();
  return w.str();
}

// Reads a JSON array of records into `records`: `parseFailure` for text that is not an
// array, the first element's refusal, else 0. `records` is left as it was on a failure.
template <typename Record>
std::uint16_t fillArrayFromText(std::vector<Record>& records, const std::string& json, std::uint16_t parseFailure) {
  rapidjson::Document doc;
  if (!Model::Json::parseArray(json, doc)) return parseFailure;
  std::vector<Record> list;
  for (const auto& e : doc.GetArray()) {
    list.emplace_back();
    std::uint16_t code = list.back().fillFromValue(e);
    if (code != 0) return code;
  }
  records.swap(list);
  return KV_SUCCESS;
}

// A region is empty or 3 to 25 characters.
inline bool validRegion(const std::string& v) { return v.empty() || (v.size() >= 3 && v.size() <= 25); }

// The environments the service knows, and empty for the default one.
inline bool validEnvironment(const std::string& v) {
  return v == "" || v == "dev" || v == "qa" || v == "staging" || v == "prod";
}

}  // namespace Detail
}  // namespace Korvath
