#include "Korvath/View/OptionButtons.h"

#include <algorithm>

#include "Korvath/View/DialogState.h"

namespace Korvath {
namespace View {

namespace {

struct OptionKind {
  std::uint32_t method;
  std::uint32_t id;
  const char16_t* windowText;
  int labelTextId;
  int imageId;
};

constexpr OptionKind kOptions[] = {
    {kMethodPush, 210, u"Push", 455, 110},
    {kMethodQrCode, 211, u"QR Code", 456, 111},
    {kMethodOtp, 212, u"OTP", 457, 112},
    {kMethodForgotToken, 213, u"Forgot Token", 458, 113},
};

// Design pixels times the scale factor, truncated as the window calls take them.
int scaled(double s, double designPixels) { return static_cast<int>(s * designPixels); }

}  // namespace

std::vector<OptionButton> optionButtons(double s, bool push, bool qrCode, bool otp, bool forgotToken) {
  const bool enabled[] = {push, qrCode, otp, forgotToken};
  const int width = scaled(s, 81);
  const int height = scaled(s, 58);
  const int y = scaled(s, 400);
  const int labelHeight = scaled(s, 16) * 2;
  const int labelFontSize = scaled(s, 16) - 1;
  const int firstX = scaled(s, 425);
  const int gap = static_cast<int>(firstX + width + 0.12 * width) - (firstX + width);
  const int labelWidth = width + std::max(0, gap - scaled(s, 4));
  std::vector<OptionButton> buttons;
  int x = firstX;
  for (std::size_t i = 0; i < 4; ++i) {
    if (!enabled[i]) continue;
    const OptionKind& kind = kOptions[i];
    buttons.push_back({kind.method, kind.id, kind.windowText, kind.labelTextId, kind.imageId, x, y, width, height,
                       labelHeight, labelFontSize, labelWidth});
    x = static_cast<int>(x + width + 0.12 * width);
  }
  return buttons;
}

}  // namespace View
}  // namespace Korvath
