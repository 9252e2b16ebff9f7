#pragma once

#include <cstdint>
#include <string>

namespace Korvath {

// Result codes: 0 success; 1-999 AuthenticationSdk; 5000-7999 the system's own;
// 8000-8999 Commons; 9000 and up CryptoSdk. 9999 is also used for "unknown cloud
// error code", which is why a code is always interpreted by the range it came from.
enum KvResultCode : std::uint16_t {
  KV_SUCCESS = 0,
#define KV_RESULT_CODE(value, name) name = value,
#include "Korvath/ResultCodes.def"
#include "Korvath/FillCodes.def"
#undef KV_RESULT_CODE
  KV_ERROR_UNKNOWN_CLOUD_CODE = 9999,
};

// Symbolic name of a code of the system's own range (5000-7999);
// "The operation was performed successfully." for 0, "Unexpected error." otherwise.
std::string getResultName(std::uint16_t code);

// A code's text chosen by range: getResultName for 0 and 5000-7999, the SDK
// message tables for 1-999, 8000-8999 and 9000 up, empty for 1000-4999.
std::string getResultText(std::uint16_t code);

// False for the connectivity results (5116, 5124, 5137, 5151, 5156, 5214).
bool isServerReachable(std::uint16_t code);

}  // namespace Korvath
