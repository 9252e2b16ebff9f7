#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace Korvath {
namespace Exception {

// Thrown by the validating setters of the data model; callers catch it and return code().
class KvException : public std::exception {
 public:
  explicit KvException(std::uint16_t code);
  std::uint16_t code() const noexcept { return code_; }
  // The code's name (or SDK message) followed by its number.
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::uint16_t code_;
  std::string text_;
};

}  // namespace Exception
}  // namespace Korvath
