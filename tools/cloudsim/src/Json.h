#pragma once

// JSON the simulator reads and writes besides the cloud's own formats (the envelope and the
// error list come from the client's records, Korvath/Model/ResponseData.h and ErrorResponse.h):
// the control API's bodies and answers, and the fixture.

#include <rapidjson/document.h>

#include <cstdint>
#include <string>

namespace CloudSim {
namespace Json {

// Deeper nesting than any control body or fixture needs is refused, so that no recursive
// walk over a parsed value (the writer included) can exhaust a thread's stack.
constexpr int kMaxDepth = 64;

// Parses `text` as one JSON object, at most kMaxDepth levels deep.
bool parseObject(const std::string& text, rapidjson::Document& doc);

// A JSON string literal (quotes included) for any text.
std::string quote(const std::string& text);

// A cloud error list of one entry, as the client reads it.
std::string errorList(std::int32_t code, const std::string& message);

// {"error":"<message>"}: a refusal of the control API.
std::string controlError(const std::string& message);

}  // namespace Json
}  // namespace CloudSim
