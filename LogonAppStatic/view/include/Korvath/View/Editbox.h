#pragma once

#include <windows.h>

#include <string>

namespace Korvath {
namespace View {

// A Windows edit control, always reached as GetDlgItem(parent, controlId).
class Editbox {
 public:
  HWND parent = nullptr;
  UINT controlId = 0;
  HMODULE module = nullptr;
  HRESULT error = S_OK;  // 0 = created

  Editbox() = default;
  // Creates the "EDIT" window (WS_EX_WINDOWEDGE, common controls 6) with createFont(s*16, 400),
  // or s*16 - 2 when the system language is Thai; a non-empty cueText becomes its cue banner,
  // hidden while the box has the focus.
  Editbox(DWORD style, int x, int y, int width, int height, HWND parent, UINT controlId,
          HMODULE module, const std::wstring& cueText = std::wstring());

  HWND window() const;
  // The text (at most 510 UTF-16 characters) as UTF-8.
  std::string getText() const;
};

// Makes a display-only box blind to the mouse: every mouse message (WM_MOUSEMOVE to
// WM_MOUSEHWHEEL, hover and leave) is swallowed, everything else goes on as before.
// The subclass ends with the window. False when `edit` is not a window.
bool makeMouseBlind(HWND edit);

}  // namespace View
}  // namespace Korvath
