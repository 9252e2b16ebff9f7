#pragma once

// QR-code symbols (model 2) for the dialog's QR-code panel. The command text goes into one
// segment whose mode is the densest that holds every byte of it: numeric when the text is
// all digits, else alphanumeric when it is all of "0-9A-Z $%*+-./:", else bytes (the text's
// UTF-8 bytes as they are); an empty text has no segment. The symbol is the smallest version
// (1 to 40) that holds the segment at error-correction level L; the level is then raised as far
// as the data still fits that version, and the mask is the one of least penalty.

#include <cstdint>
#include <string_view>
#include <vector>

namespace Korvath {
namespace View {
namespace Qr {

enum class Ecc : std::uint8_t { Low, Medium, Quartile, High };

class QrCode {
 public:
  QrCode() = default;

  // True when no symbol is held (a default value, or what a failed encoding leaves).
  bool empty() const noexcept { return size_ == 0; }
  int version() const noexcept { return version_; }  // 1 to 40, 0 when empty
  int size() const noexcept { return size_; }        // modules per side, 4 * version + 17
  Ecc ecc() const noexcept { return ecc_; }
  int mask() const noexcept { return mask_; }  // 0 to 7
  // Column x, row y, (0, 0) top left; false (light) outside the symbol.
  bool isDark(int x, int y) const noexcept {
    return x >= 0 && y >= 0 && x < size_ && y < size_ && modules_[static_cast<std::size_t>(y) * size_ + x] != 0;
  }

 private:
  friend bool encodeText(std::string_view text, QrCode& out) noexcept;

  int version_ = 0;
  int size_ = 0;
  Ecc ecc_ = Ecc::Low;
  int mask_ = 0;
  std::vector<std::uint8_t> modules_;  // row-major, 1 = dark
};

// Encodes the text as described above into `out`. False, with `out` left empty, when the text
// does not fit a version-40 symbol at level L or memory runs out; nothing is thrown.
bool encodeText(std::string_view text, QrCode& out) noexcept;

}  // namespace Qr
}  // namespace View
}  // namespace Korvath
