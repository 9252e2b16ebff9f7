#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace Korvath {
namespace Model {

// Outcome of every service, business and cloud operation.
class KvResult {
 public:
  KvResult() = default;
  KvResult(std::uint16_t resultCode, std::int32_t cloudErrorCode = 0, std::string requestId = std::string())
      : resultCode_(resultCode), cloudErrorCode_(cloudErrorCode), requestId_(std::move(requestId)) {}

  std::uint16_t getResultCode() const { return resultCode_; }
  void setResultCode(std::uint16_t code) { resultCode_ = code; }
  std::int32_t getCloudErrorCode() const { return cloudErrorCode_; }
  void setCloudErrorCode(std::int32_t code) { cloudErrorCode_ = code; }
  const std::string& getRequestId() const { return requestId_; }
  void setRequestId(const std::string& id) { requestId_ = id; }

  bool isSuccess() const { return resultCode_ == 0; }

 private:
  std::uint16_t resultCode_ = 0;
  std::int32_t cloudErrorCode_ = 0;
  std::string requestId_;
};

}  // namespace Model
}  // namespace Korvath
