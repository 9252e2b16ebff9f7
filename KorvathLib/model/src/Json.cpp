#include "Korvath/Model/Json.h"

#include <cmath>
#include <cstring>
#include <limits>


namespace Korvath {
namespace Model {
namespace Json {

namespace {
constexpr unsigned kParseFlags = rapidjson::kParseIterativeFlag;

bool parse(const std::string& text, rapidjson::Document& doc) {
  doc.Parse<kParseFlags>(text.data(), text.size());
  return !doc.HasParseError();
}
}  // namespace

bool parseObject(const std::string& text, rapidjson::Document& doc) {
  return parse(text, doc) && doc.IsObject();
}

bool parseArray(const std::string& text, rapidjson::Document& doc) {
  return parse(text, doc) && doc.IsArray();
}

const Value* member(const Value& obj, const char* key) {
  if (!obj.IsObject()) return nullptr;
  auto it = obj.FindMember(key);
  if (it == obj.MemberEnd()) return nullptr;
  return &it->value;
}

bool getString(const Value& obj, const char* key, std::string& out, std::size_t minLen, std::size_t maxLen) {
  const Value* v = member(obj, key);
  if (v == nullptr || !v->IsString()) return false;
  std::size_t len = v->GetStringLength();
  if (len < minLen || len > maxLen) return false;
  out.assign(v->GetString(), len);
  return true;
}

bool getBool(const Value& obj, const char* key, bool& out) {
  const Value* v = member(obj, key);
  if (v == nullptr || !v->IsBool()) return false;
  out = v->GetBool();
  return true;
}

bool getUint64(const Value& obj, const char* key, std::uint64_t& out) {
  const Value* v = member(obj, key);
  if (v == nullptr || !v->IsUint64()) return false;
  out = v->GetUint64();
  return true;
}

bool getInt64(const Value& obj, const char* key, std::int64_t& out) {
  const Value* v = member(obj, key);
  if (v == nullptr || !v->IsInt64()) return false;
  out = v->GetInt64();
  return true;
}

bool getUint8(const Value& obj, const char* key, std::uint8_t& out) {
  std::uint64_t v = 0;
  if (!getUint64(obj, key, v) || v > 0xFF) return false;
  out = static_cast<std::uint8_t>(v);
  return true;
}

bool getUint16(const Value& obj, const char* key, std::uint16_t& out) {
  std::uint64_t v = 0;
  if (!getUint64(obj, key, v) || v > 0xFFFF) return false;
  out = static_cast<std::uint16_t>(v);
  return true;
}

bool getUint32(const Value& obj, const char* key, std::uint32_t& out) {
  std::uint64_t v = 0;
  if (!getUint64(obj, key, v) || v > 0xFFFFFFFFull) return false;
  out = static_cast<std::uint32_t>(v);
  return true;
}

bool getInt32(const Value& obj, const char* key, std::int32_t& out) {
  std::int64_t v = 0;
  if (!getInt64(obj, key, v) || v < std::numeric_limits<std::int32_t>::min() ||
      v > std::numeric_limits<std::int32_t>::max())
    return false;
  out = static_cast<std::int32_t>(v);
  return true;
}

bool getDouble(const Value& obj, const char* key, double& out) {
  const Value* v = member(obj, key);
  if (v == nullptr || !v->IsNumber()) return false;
  double d = v->GetDouble();
  if (!std::isfinite(d)) return false;
  out = d;
  return true;
}

bool getStringArray(const Value& obj, const char* key, std::vector<std::string>& out, std::size_t minLen,
                    std::size_t maxLen) {
  const Value* v = member(obj, key);
  if (v == nullptr || !v->IsArray()) return false;
  std::vector<std::string> list;
  for (const auto& e : v->GetArray()) {
    if (!e.IsString()) return false;
    std::size_t len = e.GetStringLength();
    if (len < minLen || len > maxLen) return false;
    list.emplace_back(e.GetString(), len);
  }
  out.swap(list);
  return true;
}

bool getBoolMap(const Value& obj, const char* key, std::map<std::string, bool>& out) {
  const Value* v = member(obj, key);
  if (v == nullptr || !v->IsObject()) return false;
  std::map<std::string, bool> m;
  for (const auto& e : v->GetObject()) {
    if (!e.value.IsBool()) return false;
    m[std::string(e.name.GetString(), e.name.GetStringLength())] = e.value.GetBool();
  }
  out.swap(m);
  return true;
}

Writer::Writer() : writer_(buffer_) {}
Writer& Writer::startObject() { writer_.StartObject(); return *this; }
Writer& Writer::endObject() { writer_.EndObject(); return *this; }
Writer& Writer::startArray() { writer_.StartArray(); return *this; }
Writer& Writer::endArray() { writer_.EndArray(); return *this; }
Writer& Writer::key(const char* k) { writer_.Key(k); return *this; }
Writer& Writer::value(const std::string& v) {
  writer_.String(v.data(), static_cast<rapidjson::SizeType>(v.size()));
  return *this;
}
Writer& Writer::value(const char* v) { return value(std::string(v)); }
Writer& Writer::value(bool v) { writer_.Bool(v); return *this; }
Writer& Writer::value(std::uint64_t v) { writer_.Uint64(v); return *this; }
Writer& Writer::value(std::int64_t v) { writer_.Int64(v); return *this; }
Writer& Writer::value(double v) {
  // JSON has no NaN or infinity; such a value is written as 0.
  writer_.Double(std::isfinite(v) ? v : 0.0);
  return *this;
}
Writer& Writer::raw(const std::string& json) {
  // The separator is the writer's; the text itself goes in as one block (a user record of the
  // configuration is a kilobyte, copied once for each save).
  writer_.RawValue("", 0, rapidjson::kObjectType);
  if (!json.empty()) std::memcpy(buffer_.Push(json.size()), json.data(), json.size());
  return *this;
}
Writer& Writer::stringArray(const std::vector<std::string>& v) {
  startArray();
  for (const auto& s : v) value(s);
  return endArray();
}
Writer& Writer::boolMap(const std::map<std::string, bool>& m) {
  startObject();
  for (const auto& e : m) {
    writer_.Key(e.first.data(), static_cast<rapidjson::SizeType>(e.first.size()));
    value(e.second);
  }
  return endObject();
}
std::string Writer::str() const { return std::string(buffer_.GetString(), buffer_.GetSize()); }

std::string toLower(const std::string& s) {
  std::string r(s);
  for (auto& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

std::string toUpper(const std::string& s) {
  std::string r(s);
  for (auto& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && toLower(a) == toLower(b);
}

}  // namespace Json
}  // namespace Model
}  // namespace Korvath
