#include "Korvath/KvException.h"

#include "Korvath/ResultCodes.h"

namespace Korvath {
namespace Exception {

KvException::KvException(std::uint16_t code) : code_(code) {
  std::string text = getResultText(code);
  if (text.empty()) {
    text = "Unexpected error.";
  }
  text_ = text + " (" + std::to_string(code) + ")";
}

}  // namespace Exception
}  // namespace Korvath
