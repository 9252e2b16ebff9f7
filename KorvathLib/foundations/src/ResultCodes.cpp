#include "Korvath/ResultCodes.h"

#include <algorithm>
#include <iterator>

namespace Korvath {

namespace {

struct NamedCode {
  std::uint16_t code;
  const char* name;
};

// Sorted by code (both tables are kept ascending), so a lookup is a binary search.
const NamedCode kOwnCodes[] = {
#define KV_RESULT_CODE(value, name) {value, #name},
#include "Korvath/ResultCodes.def"
#undef KV_RESULT_CODE
};

const NamedCode kFillCodes[] = {
    {0, nullptr},  // keeps the array non-empty while the fill table has no entry
#define KV_RESULT_CODE(value, name) {value, #name},
#include "Korvath/FillCodes.def"
#undef KV_RESULT_CODE
};

const char* findName(const NamedCode* begin, const NamedCode* end, std::uint16_t code) {
  const NamedCode* it = std::lower_bound(
      begin, end, code, [](const NamedCode& entry, std::uint16_t value) { return entry.code < value; });
  if (it != end && it->code == code) {
    return it->name;
  }
  // The fill table may be written in any order: fall back to a linear search.
  for (const NamedCode* p = begin; p != end; ++p) {
    if (p->code == code && p->name != nullptr) {
      return p->name;
    }
  }
  return nullptr;
}

}  // namespace

std::string getResultName(std::uint16_t code) {
  if (code == KV_SUCCESS) {
    return "The operation was performed successfully.";
  }
  if (code >= 5000 && code < 8000) {
    const char* name = findName(std::begin(kOwnCodes), std::end(kOwnCodes), code);
    if (name == nullptr) {
      name = findName(std::begin(kFillCodes) + 1, std::end(kFillCodes), code);
    }
    if (name != nullptr) {
      return name;
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
