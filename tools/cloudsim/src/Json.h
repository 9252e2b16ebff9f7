#pragma once

// JSON texts the simulator writes and reads: the {"data": sealed} envelope, the cloud's
// error lists and the control API's answers.

#include <string>

namespace CloudSim {
namespace Json {

// A JSON string literal (quotes included) for any text.
std::string quote(const std::string& text);

// True when body is an object whose "data" member is a string; that string goes to sealed.
bool unwrapEnvelope(const std::string& body, std::string& sealed);
std::string wrapEnvelope(const std::string& sealed);

// {"errors":[{"code":"<code>","message":"<message>"}]}: the cloud writes codes as text.
std::string errorList(const std::string& code, const std::string& message);

// {"error":"<message>"}: a refusal of the control API.
std::string controlError(const std::string& message);

}  // namespace Json
}  // namespace CloudSim
