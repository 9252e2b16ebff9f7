#include "Commons/CommonsException.h"

namespace Commons {
namespace Exception {

std::string getErrorMessage(std::uint16_t code) {
  switch (code) {
    case COMMONS_OK: return "The operation was performed successfully.";
    case COMMONS_ERROR_INVALID_JSON: return "The text is not a valid JSON object.";
    case COMMONS_ERROR_JSON_FIELD: return "A JSON field is missing or has the wrong type.";
    default: return "Unknown error.";
  }
}

}  // namespace Exception
}  // namespace Commons
