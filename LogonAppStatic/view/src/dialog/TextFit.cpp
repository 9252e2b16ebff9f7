#include "TextFit.h"

#include <algorithm>
#include <vector>

namespace Korvath {
namespace View {

namespace {

// The rectangle DrawText gives `text` wrapped at `width`.
SIZE wrapped(HWND window, HFONT font, const std::wstring& text, int width, UINT align) {
  SIZE size{0, 0};
  if (text.empty() || width <= 0) return size;
  HDC dc = GetDC(window);
  if (dc == nullptr) return size;
  HGDIOBJ old = font != nullptr ? SelectObject(dc, font) : nullptr;
  RECT r{0, 0, width, 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | align);
  if (old != nullptr) SelectObject(dc, old);
  ReleaseDC(window, dc);
  size.cx = r.right - r.left;
  size.cy = r.bottom - r.top;
  return size;
}

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r'; }

// A vowel or tone mark drawn over or under the character before it.
bool isMark(wchar_t c) {
  WORD type = 0;
  return GetStringTypeW(CT_CTYPE3, &c, 1, &type) && (type & C3_NONSPACING) != 0;
}

// Punctuation that ends what comes before it ("。", "」", "."): after a single character, a line
// still reads as that character alone.
bool isClosingPunctuation(wchar_t c) {
  WORD type = 0;
  return GetStringTypeW(CT_CTYPE1, &c, 1, &type) && (type & C1_PUNCT) != 0 &&
         std::wstring(L"([{\u3008\u300A\u300C\u300E\u3010\uFF08\"'").find(c) == std::wstring::npos;
}

std::wstring withoutTrailingBlanks(std::wstring text) {
  while (!text.empty() && isBlank(text.back())) text.pop_back();
  return text;
}

}  // namespace

int wrappedTextHeight(HWND window, HFONT font, const std::wstring& text, int width) {
  return wrapped(window, font, text, width, DT_CENTER).cy;
}

bool endsWithLoneCharacter(HWND window, HFONT font, const std::wstring& text, int width, UINT align) {
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring paragraph = withoutTrailingBlanks(text.substr(start, end - start));
    start = end + 1;
    std::size_t last = paragraph.size();
    while (last > 0 && isClosingPunctuation(paragraph[last - 1])) --last;
    while (last > 0 && isMark(paragraph[last - 1])) --last;
    if (last == 0) continue;
    const std::wstring rest = withoutTrailingBlanks(paragraph.substr(0, last - 1));
    // The paragraph takes a line more than it does without its last character: that line holds
    // the character alone.
    if (rest.empty()) continue;
    if (wrapped(window, font, paragraph, width, align).cy > wrapped(window, font, rest, width, align).cy) return true;
  }
  return false;
}

int balancedWidth(HWND window, HFONT font, const std::wstring& text, int width, UINT align) {
  const int height = wrapped(window, font, text, width, align).cy;
  int low = 1;
  int high = width;
  while (low < high) {
    const int middle = low + (high - low) / 2;
    const SIZE size = wrapped(window, font, text, middle, align);
    if (size.cy <= height && size.cx <= middle) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return high;
}

void inkExtent(HWND window, HFONT font, const std::wstring& text, int& rise, int& drop) {
  rise = 0;
  drop = 0;
  HDC dc = GetDC(window);
  if (dc == nullptr) return;
  HGDIOBJ old = font != nullptr ? SelectObject(dc, font) : nullptr;
  const MAT2 identity{{0, 1}, {0, 0}, {0, 0}, {0, 1}};
  for (wchar_t c : text) {
    if (isBlank(c) || c == L'\n') continue;
    GLYPHMETRICS glyph{};
    if (GetGlyphOutlineW(dc, c, GGO_METRICS, &glyph, 0, nullptr, &identity) == GDI_ERROR) continue;
    rise = std::max<int>(rise, glyph.gmptGlyphOrigin.y);
    drop = std::max<int>(drop, static_cast<int>(glyph.gmBlackBoxY) - glyph.gmptGlyphOrigin.y);
  }
  if (old != nullptr) SelectObject(dc, old);
  ReleaseDC(window, dc);
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
