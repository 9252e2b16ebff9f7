#include "TextFit.h"

#include <vector>

namespace Korvath {
namespace View {

int wrappedTextHeight(HWND window, HFONT font, const std::wstring& text, int width) {
  if (text.empty() || width <= 0) return 0;
  HDC dc = GetDC(window);
  if (dc == nullptr) return 0;
  HGDIOBJ old = font != nullptr ? SelectObject(dc, font) : nullptr;
  RECT r{0, 0, width, 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_CALCRECT | DT_WORDBREAK | DT_CENTER | DT_NOPREFIX);
  if (old != nullptr) SelectObject(dc, old);
  ReleaseDC(window, dc);
  return r.bottom - r.top;
}

void fitLabelToText(HWND label, bool keepBottom, bool exact) {
  if (label == nullptr) return;
  const int length = GetWindowTextLengthW(label);
  std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1, L'\0');
  GetWindowTextW(label, buffer.data(), length + 1);
  const std::wstring text(buffer.data(), static_cast<std::size_t>(length));
  RECT r{};
  GetWindowRect(label, &r);
  HWND parent = GetParent(label);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  const auto font = reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0));
  const int needed = wrappedTextHeight(label, font, text, r.right - r.left);
  const int height = r.bottom - r.top;
  if (needed == height || (!exact && needed < height)) return;
  const int top = keepBottom ? r.bottom - needed : r.top;
  SetWindowPos(label, nullptr, r.left, top, r.right - r.left, needed, SWP_NOZORDER | SWP_NOACTIVATE);
  // The parent's background shows again where the label was.
  if (parent != nullptr) InvalidateRect(parent, &r, TRUE);
}

}  // namespace View
}  // namespace Korvath
