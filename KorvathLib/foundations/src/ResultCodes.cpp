#include "Korvath/ResultCodes.h"

namespace Korvath {

namespace {

struct NamedCode {
  std::uint16_t code;
  const char* name;
};

// Both tables in one; names are looked up only for log lines, so a plain search will do
// and neither file has to keep any order.
const NamedCode kNamedCodes[] = {
#define KV_RESULT_CODE(value, name) {value, #name},
#include "Korvath/ResultCodes.def"
#include "Korvath/FillCodes.def"
#undef KV_RESULT_CODE
};

}  // namespace

std::string getResultName(std::uint16_t code) {
  if (code == KV_SUCCESS) {
    return "The operation was performed successfully.";
  }
  if (code >= 5000 && code < 8000) {
    for (const NamedCode& entry : kNamedCodes) {
      if (entry.code == code) return entry.name;
    }
  }
  return "Unexpected error.";
}

bool isServerReachable(std::uint16_t code) {
  switch (code) {
    case KV_ERROR_SERVER_IS_UNREACHABLE:
    case KV_ERROR_NO_INTERNET_ACCESS:
    case KV_ERROR_INTERNET_NAME_NOT_RESOLVED:
    case KV_ERROR_REST_CLIENT_POST_CONFIG:
    case KV_ERROR_REST_CLIENT_POST_GET_USER_POLICY:
    case KV_ERROR_FAIL_REQUEST_CONFIG:
      return false;
    default:
      return true;
  }
}

}  // namespace Korvath
