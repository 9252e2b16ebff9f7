#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Korvath {
namespace Model {

// One entry of a cloud error body: {"code":"201015008","message":"..."}.
class Error {
 public:
  Error() = default;
  Error(std::int32_t code, std::string message) : code_(code), message_(std::move(message)) {}

  std::int32_t getCode() const { return code_; }
  void setCode(std::int32_t code) { code_ = code; }
  const std::string& getMessage() const { return message_; }
  void setMessage(const std::string& message) { message_ = message; }

 private:
  std::int32_t code_ = 0;
  std::string message_;
};

// A cloud error body: {"errors":[{"code":"...","message":"..."}, ...]}.
class ErrorResponse {
 public:
  ErrorResponse() = default;
  explicit ErrorResponse(std::vector<Error> errors) : errors_(std::move(errors)) {}

  const std::vector<Error>& getErrors() const { return errors_; }

  // 0 when `json` is an object holding a non-empty "errors" array whose every entry is an
  // object with a usable "code" (decimal text, or a JSON integer, in the signed 32-bit range)
  // and, when present, a string "message". Otherwise a fill code
  // (KV_ERROR_FILL_ERROR_RESPONSE_FROM_JSON, ..._ERRORS_FROM_JSON, KV_ERROR_FILL_ERROR_FROM_JSON,
  // ..._CODE_FROM_JSON, ..._MESSAGE_FROM_JSON) and the record is unchanged.
  std::uint16_t fillFromJson(const std::string& json);
  // The form the cloud sends: every code as decimal text, every entry with its message.
  std::string toJson() const;

 private:
  std::vector<Error> errors_;
};

}  // namespace Model
}  // namespace Korvath
