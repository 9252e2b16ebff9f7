// Cloud error bodies: the error list, the cloud-code table and the result of an error list.

#include <algorithm>
#include <unordered_map>

#include "Korvath/KvException.h"
#include "Korvath/Logger.h"
#include "Korvath/RESTClient.h"
#include "Korvath/ResultCodes.h"

namespace Korvath {

std::vector<Model::Error> RESTClient::readErrorList(std::string body) {
  if (body.empty()) {
    throw Exception::KvException(KV_ERROR_UNKNOWN_CLOUD_CODE);
  }
  Model::ErrorResponse response;
  const std::uint16_t code = response.fillFromJson(body);
  if (code != KV_SUCCESS) {
    KV_LOG_ERROR("%s - the error body is not an error list: %d", "Korvath::RESTClient::readErrorList", code);
    return {};
  }
  std::vector<Model::Error> errors = response.getErrors();
  std::stable_sort(errors.begin(), errors.end(),
                   [](const Model::Error& a, const Model::Error& b) { return a.getCode() > b.getCode(); });
  return errors;
}

std::uint16_t RESTClient::mapCloudErrorCode(std::int32_t cloudErrorCode) {
  static const std::unordered_map<std::int32_t, std::uint16_t> table = {
      {201005001, KV_ERROR_FAIL_AUTHENTICATION},
      {201005002, KV_ERROR_COMMUNICATION_FAIL},
      {201005003, KV_ERROR_SERVER_IS_UNREACHABLE},
      {201005004, KV_ERROR_UNAUTHORIZED_AUTHENTICATION_TYPE},
      {201005012, KV_ERROR_KV_RESOURCE_NOT_FOUND},
      {201015001, KV_ERROR_COMMUNICATION_FAIL},
      {201015002, KV_ERROR_COMMUNICATION_FAIL},
      {201015003, KV_ERROR_COMMUNICATION_FAIL},
      {201015004, KV_ERROR_KV_RESOURCE_NOT_FOUND},
      {201015007, KV_ERROR_INVALID_CONFIG},
      {201015008, KV_ERROR_USER_NOT_FOUND},
      {201015009, KV_ERROR_USER_LOCKED},
      {201015010, KV_ERROR_USER_HAS_NO_POLICY},
      {201015011, KV_ERROR_USER_IS_OVER_ALLOCATED},
      {201045000, KV_ERROR_COMMUNICATION_FAIL},
      {201045001, KV_ERROR_FAIL_AUTHENTICATION},
      {201045002, KV_ERROR_FAIL_AUTHENTICATION},
      {201045003, KV_ERROR_FAIL_AUTHENTICATION},
      {201045004, KV_ERROR_WAITING_PUSH_RESULT},
      {201045005, KV_ERROR_FAIL_AUTHENTICATION},
      {201045006, KV_ERROR_FAIL_AUTHENTICATION},
      {201045007, KV_ERROR_COMMUNICATION_FAIL},
      {201045008, KV_ERROR_SERVER_IS_UNREACHABLE},
      {201045009, KV_ERROR_FAIL_AUTHENTICATION},
      {201045010, KV_ERROR_FAIL_AUTHENTICATION},
      {201055001, KV_ERROR_COMMUNICATION_FAIL},
      {201055002, KV_ERROR_COMMUNICATION_FAIL},
      {201055003, KV_ERROR_COMMUNICATION_FAIL},
      {201055006, KV_ERROR_USER_LOCKED},
      {201055007, KV_ERROR_USER_NOT_FOUND},
      {201055008, KV_ERROR_DENIED_BY_USER},
      {201055009, KV_ERROR_USER_IS_OVER_ALLOCATED},
      {201105001, KV_ERROR_GET_POLICY_RETURNS_UNAUTHORIZED_REQUEST},
      {201105002, KV_ERROR_GET_POLICY_RETURNS_INVALID_REQUEST},
      {201105003, KV_ERROR_KV_RESOURCE_NOT_FOUND},
      {201105007, KV_ERROR_GET_POLICY_RETURNS_FAILURE_TO_GENARATE_THE_RESPONSE},
      {201105008, KV_ERROR_POLICY_DOES_NOT_ALLOW_AUTHENTICATIONS},
      {202001001, KV_ERROR_AUTHENTICATOR_NOT_FOUND},
      {202001002, KV_ERROR_INVALID_CONFIG},
      {202001003, KV_ERROR_FAIL_AUTHENTICATION},
      {202001010, KV_ERROR_COMMUNICATION_FAIL},
      {202001020, KV_ERROR_DENIED_BY_USER},
      {202001030, KV_ERROR_COMMUNICATION_FAIL},
      {202001031, KV_ERROR_COMMUNICATION_FAIL},
      {202001032, KV_ERROR_COMMUNICATION_FAIL},
      {202001033, KV_ERROR_COMMUNICATION_FAIL},
      {202002001, KV_ERROR_AUTHENTICATOR_NOT_FOUND},
      {202002002, KV_ERROR_INVALID_CONFIG},
      {202002010, KV_ERROR_AUTHENTICATOR_NOT_FOUND},
      {202002011, KV_ERROR_FAILED_TO_PUSH},
      {202002012, KV_ERROR_FAIL_AUTHENTICATION},
      {202002013, KV_ERROR_COMMUNICATION_FAIL},
      {202002020, KV_ERROR_AUTHENTICATOR_NOT_FOUND},
      {202002021, KV_ERROR_FAIL_AUTHENTICATION},
      {202002030, KV_ERROR_COMMUNICATION_FAIL},
      {202002031, KV_ERROR_COMMUNICATION_FAIL},
      {202002032, KV_ERROR_COMMUNICATION_FAIL},
      {202002040, KV_ERROR_FAIL_AUTHENTICATION},
      {202006001, KV_ERROR_FAIL_AUTHENTICATION},
      {202006002, KV_ERROR_USER_LOCKED},
      {202006003, KV_ERROR_USER_LOCKED},
      {202006004, KV_ERROR_USER_NOT_FOUND},
      {202006005, KV_ERROR_AUTHENTICATOR_NOT_FOUND},
  };
  const auto found = table.find(cloudErrorCode);
  return found == table.end() ? static_cast<std::uint16_t>(KV_ERROR_UNKNOWN_CLOUD_CODE) : found->second;
}

std::uint16_t RESTClient::getErrorResponse(std::vector<Model::Error> errors, std::uint16_t defaultCode) {
  std::uint16_t result = KV_ERROR_COMMUNICATION_FAIL;
  if (!errors.empty()) {
    result = KV_ERROR_UNKNOWN_CLOUD_CODE;
    for (const auto& error : errors) {
      KV_LOG_INFO("%s - cloud error code: %d", "Korvath::RESTClient::getErrorResponse", error.getCode());
      result = mapCloudErrorCode(error.getCode());
      if (result != KV_ERROR_UNKNOWN_CLOUD_CODE) break;
    }
    if (result == KV_ERROR_UNKNOWN_CLOUD_CODE) {
      KV_LOG_INFO("Using the default error");
      result = defaultCode;
    }
  }
  KV_LOG_INFO("result: %d", result);
  return result;
}

}  // namespace Korvath
