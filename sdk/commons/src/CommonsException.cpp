#include "Commons/CommonsException.h"

namespace Commons {
namespace Exception {

std::string getErrorMessage(std::uint16_t code) {
  switch (code) {
    case COMMONS_OK: return "The operation was performed successfully.";
    case COMMONS_ERROR_INVALID_BASE64: return "The text is not valid Base64.";
    case COMMONS_ERROR_INVALID_HEX: return "The text is not valid hexadecimal.";
    case COMMONS_ERROR_INVALID_JSON: return "The text is not a valid JSON object.";
    case COMMONS_ERROR_JSON_FIELD: return "A JSON field is missing or has the wrong type.";
    case COMMONS_ERROR_INVALID_ARGUMENT: return "An argument is out of its allowed range.";
    case COMMONS_ERROR_TEXT_TOO_LONG: return "A text is longer than allowed.";
    default: return "Unknown error.";
  }
}

}  // namespace Exception
}  // namespace Commons
