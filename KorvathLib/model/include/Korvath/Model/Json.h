#pragma once

// Small helpers shared by every JSON record: reading a key with its type and limits,
// and writing an object. Every reader returns false when the key is missing, has the
// wrong JSON type or holds a value outside the limits given; the caller turns that into
// the key's fill code. Nothing here asserts or throws on bad input.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace Korvath {
namespace Model {
namespace Json {

using Value = rapidjson::Value;

// Parses `text` without recursion (deeply nested input cannot exhaust the stack) and
// requires an object (or, for parseArray, an array) at the root.
bool parseObject(const std::string& text, rapidjson::Document& doc);
bool parseArray(const std::string& text, rapidjson::Document& doc);

// Readers. `obj` must be an object (checked).
const Value* member(const Value& obj, const char* key);
bool getString(const Value& obj, const char* key, std::string& out, std::size_t minLen = 0,
               std::size_t maxLen = SIZE_MAX);
bool getBool(const Value& obj, const char* key, bool& out);
bool getUint8(const Value& obj, const char* key, std::uint8_t& out);
bool getUint16(const Value& obj, const char* key, std::uint16_t& out);
bool getUint32(const Value& obj, const char* key, std::uint32_t& out);
bool getInt32(const Value& obj, const char* key, std::int32_t& out);
bool getUint64(const Value& obj, const char* key, std::uint64_t& out);
bool getInt64(const Value& obj, const char* key, std::int64_t& out);
bool getDouble(const Value& obj, const char* key, double& out);
// Array of strings, each within the length limits.
bool getStringArray(const Value& obj, const char* key, std::vector<std::string>& out,
                    std::size_t minLen = 0, std::size_t maxLen = SIZE_MAX);
// Object whose every value is a bool.
bool getBoolMap(const Value& obj, const char* key, std::map<std::string, bool>& out);
// A key that records written before it lack: absent, `out` keeps its default; present, it must
// read as `get` reads it.
template <typename T>
bool getOptional(const Value& obj, const char* key, T& out, bool (*get)(const Value&, const char*, T&)) {
  return member(obj, key) == nullptr || get(obj, key, out);
}

// Writer of one JSON text. Keys and values are written in call order.
class Writer {
 public:
  Writer();
  Writer& startObject();
  Writer& endObject();
  Writer& startArray();
  Writer& endArray();
  Writer& key(const char* k);
  Writer& value(const std::string& v);
  Writer& value(const char* v);
  Writer& value(bool v);
  Writer& value(std::uint64_t v);
  Writer& value(std::int64_t v);
  Writer& value(std::uint32_t v) { return value(static_cast<std::uint64_t>(v)); }
  Writer& value(std::uint16_t v) { return value(static_cast<std::uint64_t>(v)); }
  Writer& value(std::uint8_t v) { return value(static_cast<std::uint64_t>(v)); }
  Writer& value(std::int32_t v) { return value(static_cast<std::int64_t>(v)); }
  Writer& value(double v);
  // An already written JSON text, inserted as it is (nested records).
  Writer& raw(const std::string& json);
  Writer& stringArray(const std::vector<std::string>& v);
  Writer& boolMap(const std::map<std::string, bool>& m);
  template <typename T>
  Writer& field(const char* k, const T& v) { return key(k).value(v); }
  std::string str() const;

 private:
  rapidjson::StringBuffer buffer_;
  rapidjson::Writer<rapidjson::StringBuffer> writer_;
};

// Lower-case of ASCII letters (logins, factor names); other bytes unchanged.
std::string toLower(const std::string& s);
std::string toUpper(const std::string& s);
bool equalsIgnoreCase(const std::string& a, const std::string& b);

}  // namespace Json
}  // namespace Model
}  // namespace Korvath
