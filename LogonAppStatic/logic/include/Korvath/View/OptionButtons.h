#pragma once

// The sign-in option buttons under the "Sign-in Options" label: one per enabled switch, in the
// order Push, QR Code, OTP, Forgot Token, side by side without gaps for absent ones.

#include <cstdint>
#include <vector>

namespace Korvath {
namespace View {

struct OptionButton {
  std::uint32_t method;        // DialogMethod of the option (1 push ... 4 forgot token)
  std::uint32_t id;            // control id = the WM_COMMAND it sends (210 ... 213)
  const char16_t* windowText;  // "Push", "QR Code", "OTP", "Forgot Token"
  int labelTextId;             // string-table id of the label under the image
  int imageId;                 // raw-data resource of the button's SVG
  int x;
  int y;
  int width;
  int height;
  int labelHeight;
  int labelFontSize;
  int labelWidth;  // centred under the button: the button and the gap to the next, less s·4
};

// The buttons for the given switches at scale factor `s` (every value truncated toward zero):
// y = s·400, size s·81 × s·58, label height 2·(s·16), label font s·16 − 1; the first at
// x = s·425, each next one at x + w + 0.12·w of the previous (w = the button width). Labels are
// wider than their button, so that longer words fit, and keep apart from their neighbours.
std::vector<OptionButton> optionButtons(double s, bool push, bool qrCode, bool otp, bool forgotToken);

}  // namespace View
}  // namespace Korvath
