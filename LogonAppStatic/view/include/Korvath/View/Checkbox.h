#pragma once

#include <windows.h>

namespace Korvath {
namespace View {

// The auto-send check box: a box and its label, centred together in the parent's width.
struct Checkbox {
  static constexpr UINT kControlId = 225;

  HWND parent = nullptr;
  UINT controlId = kControlId;
  HMODULE module = nullptr;
  HRESULT error = S_OK;     // 0 = created
  HWND checkbox = nullptr;
  HWND label = nullptr;
  int fontSize = 0;         // height of the label's font after shrinking

  // Creates the box and the label at `y`. The label starts in createFont(s*16, 400) and is
  // made one pixel smaller until box, gap and text fit the parent's width, but never below
  // kMinFontSize; a text that cannot fit even then starts at x = 0 and is cut by the parent.
  HRESULT createCheckboxWindow(const wchar_t* text, int y, HWND parent, HMODULE module);
};

// Smallest label font the shrinking goes down to.
constexpr int kCheckboxMinFontSize = 6;

// Height of the box for scale factor s on a screen of `dpi` dots per inch: s*16 up to
// 96 DPI, s*16 + (dpi / 96 * 6 - 7) above (144 DPI: s*16 + 2).
int checkboxBoxHeight(double s, int dpi);

}  // namespace View
}  // namespace Korvath
