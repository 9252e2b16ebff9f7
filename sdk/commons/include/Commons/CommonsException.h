#pragma once

// Result codes of the Commons library (8000 up to, not including, 9000) and their
// fixed English texts. The texts are meant for log lines, never for the user.

#include <cstdint>
#include <string>

namespace Commons {
namespace Exception {

enum Code : std::uint16_t {
  COMMONS_OK = 0,
  COMMONS_ERROR_INVALID_JSON = 8001,
  COMMONS_ERROR_JSON_FIELD = 8002,
};

// The text of a Commons code; "Unknown error." for a code without a text.
std::string getErrorMessage(std::uint16_t code);

}  // namespace Exception
}  // namespace Commons
