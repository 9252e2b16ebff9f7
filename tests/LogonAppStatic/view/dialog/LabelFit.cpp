#include "LabelFit.h"

#include <algorithm>
#include <cstdint>

#include "Korvath/Utils.h"

namespace DialogUi {

namespace {

std::wstring textOf(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, &text[0], length + 1)));
  return text;
}

std::wstring classOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

bool isTopLevel(HWND window) { return (GetWindowLongW(window, GWL_STYLE) & WS_CHILD) == 0; }

// "<top-level class>/<id of each window down to the control>".
std::string pathOf(HWND control) {
  std::string path;
  HWND window = control;
  for (; !isTopLevel(window); window = GetAncestor(window, GA_PARENT)) {
    path = "/" + std::to_string(GetDlgCtrlID(window)) + path;
  }
  return Korvath::Utils::toUtf8(classOf(window)) + path;
}

std::string quoted(const std::wstring& text) {
  std::wstring shown;
  for (wchar_t c : text) shown += c == L'\n' ? std::wstring(L"\\n") : std::wstring(1, c);
  return "\"" + Korvath::Utils::toUtf8(shown) + "\"";
}

// How a control draws its text (as the system's static and push-button controls do), or 0.
enum class Kind { None, Label, Button };
struct Drawing {
  Kind kind = Kind::None;
  UINT format = 0;
};

Drawing drawingOf(HWND control) {
  const std::wstring name = classOf(control);
  const LONG style = GetWindowLongW(control, GWL_STYLE);
  if (lstrcmpiW(name.c_str(), L"Static") == 0) {
    UINT format = 0;
    switch (style & SS_TYPEMASK) {
      case SS_LEFT: format = DT_LEFT | DT_EXPANDTABS | DT_WORDBREAK; break;
      case SS_CENTER: format = DT_CENTER | DT_EXPANDTABS | DT_WORDBREAK; break;
      case SS_RIGHT: format = DT_RIGHT | DT_EXPANDTABS | DT_WORDBREAK; break;
      case SS_SIMPLE: format = DT_LEFT | DT_SINGLELINE; break;
      case SS_LEFTNOWORDWRAP: format = DT_LEFT | DT_EXPANDTABS; break;
      default: return {};
    }
    if (style & SS_NOPREFIX) format |= DT_NOPREFIX;
    return {Kind::Label, format};
  }
  const LONG type = style & BS_TYPEMASK;
  if (lstrcmpiW(name.c_str(), L"Button") == 0 && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) &&
      (style & (BS_BITMAP | BS_ICON)) == 0) {
    return {Kind::Button, DT_CENTER | DT_VCENTER | DT_SINGLELINE};
  }
  return {};
}

// A memory device context with a control's font, to measure and draw its text.
class Pen {
 public:
  explicit Pen(HFONT font) : dc_(CreateCompatibleDC(nullptr)) {
    old_ = SelectObject(dc_, font != nullptr ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
    GetTextMetricsW(dc_, &metrics_);
  }
  ~Pen() {
    SelectObject(dc_, old_);
    DeleteDC(dc_);
  }
  Pen(const Pen&) = delete;
  Pen& operator=(const Pen&) = delete;

  const TEXTMETRICW& metrics() const { return metrics_; }
  HDC dc() const { return dc_; }

  SIZE extent(const std::wstring& text, int width, UINT format) const {
    RECT r{0, 0, width, 0};
    DrawTextW(dc_, text.c_str(), static_cast<int>(text.size()), &r, format | DT_CALCRECT);
    return SIZE{r.right - r.left, r.bottom - r.top};
  }

  // The text drawn black on white into width x height pixels.
  std::vector<std::uint32_t> pixels(const std::wstring& text, int width, int height, UINT format) const {
    std::vector<std::uint32_t> out;
    if (width <= 0 || height <= 0) return out;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) return out;
    HGDIOBJ oldBitmap = SelectObject(dc_, bitmap);
    RECT r{0, 0, width, height};
    FillRect(dc_, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetTextColor(dc_, RGB(0, 0, 0));
    SetBkMode(dc_, TRANSPARENT);
    DrawTextW(dc_, text.c_str(), static_cast<int>(text.size()), &r, format);
    GdiFlush();
    const auto* first = static_cast<const std::uint32_t*>(bits);
    out.assign(first, first + static_cast<std::size_t>(width) * height);
    SelectObject(dc_, oldBitmap);
    DeleteObject(bitmap);
    return out;
  }

  // How far the glyphs of `text` reach above the baseline (`rise`) and below it (`drop`).
  void inkOf(const std::wstring& text, int& rise, int& drop) const {
    const MAT2 identity{{0, 1}, {0, 0}, {0, 0}, {0, 1}};
    rise = 0;
    drop = 0;
    for (wchar_t c : text) {
      if (c == L' ' || c == L'\n' || c == L'\r' || c == L'\t') continue;
      GLYPHMETRICS glyph{};
      if (GetGlyphOutlineW(dc_, c, GGO_METRICS, &glyph, 0, nullptr, &identity) == GDI_ERROR) continue;
      rise = std::max<int>(rise, glyph.gmptGlyphOrigin.y);
      drop = std::max<int>(drop, static_cast<int>(glyph.gmBlackBoxY) - glyph.gmptGlyphOrigin.y);
    }
  }

 private:
  HDC dc_;
  HGDIOBJ old_ = nullptr;
  TEXTMETRICW metrics_{};
};

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// A mark drawn over or under the character before it (a Thai vowel or tone mark).
bool isMark(wchar_t c) {
  WORD type = 0;
  return GetStringTypeW(CT_CTYPE3, &c, 1, &type) && (type & C3_NONSPACING) != 0;
}

// Punctuation that ends what comes before it ("。", "」", "."): with a single character before
// it, a line still reads as that character alone.
bool isClosingPunctuation(wchar_t c) {
  WORD type = 0;
  return GetStringTypeW(CT_CTYPE1, &c, 1, &type) && (type & C1_PUNCT) != 0 &&
         std::wstring(L"([{\u3008\u300A\u300C\u300E\u3010\uFF08\"'").find(c) == std::wstring::npos;
}

// The characters of `text` (with their marks and the punctuation after them) that stand alone on
// a line of their own where the text wraps: drawing the text with breaks of its own around one of
// them gives the same pixels.
std::vector<std::wstring> loneCharacters(const Pen& pen, const std::wstring& text, int width, UINT format, SIZE whole) {
  std::vector<std::wstring> found;
  std::vector<std::uint32_t> drawn;
  for (std::size_t i = 0, next = 0; i < text.size(); i = next) {
    next = i + 1;
    while (next < text.size() && isMark(text[next])) ++next;
    while (next < text.size() && isClosingPunctuation(text[next])) ++next;
    if (isBlank(text[i]) || text[i] == L'\n' || text[i] == L'\r') continue;
    std::wstring before = text.substr(0, i);
    while (!before.empty() && isBlank(before.back())) before.pop_back();
    std::wstring after = text.substr(next);
    while (!after.empty() && isBlank(after.front())) after.erase(after.begin());
    const bool breakBefore = !before.empty() && before.back() != L'\n';
    const bool breakAfter = !after.empty() && after.front() != L'\n';
    if (!breakBefore && !breakAfter) continue;  // a paragraph of its own, as written
    const std::wstring character = text.substr(i, next - i);
    const std::wstring alone =
        before + (breakBefore ? L"\n" : L"") + character + (breakAfter ? L"\n" : L"") + after;
    const SIZE size = pen.extent(alone, width, format);
    if (size.cx != whole.cx || size.cy != whole.cy) continue;
    if (drawn.empty()) drawn = pen.pixels(text, width, whole.cy, format);
    if (pen.pixels(alone, width, whole.cy, format) == drawn) found.push_back(character);
  }
  return found;
}

void measure(HWND control, std::vector<LabelFault>& faults) {
  const Drawing drawing = drawingOf(control);
  if (drawing.kind == Kind::None) return;
  const std::wstring text = textOf(control);
  if (text.empty()) return;
  RECT client{};
  GetClientRect(control, &client);
  const int width = client.right;
  const int height = client.bottom;
  const Pen pen(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  const TEXTMETRICW& metrics = pen.metrics();
  const std::string who = pathOf(control) + " " + quoted(text) + ": ";
  auto fault = [&](const std::string& what) { faults.push_back(who + what); };
  int rise = 0;
  int drop = 0;
  pen.inkOf(text, rise, drop);

  // Where the text's ink lies in the control: [left, right) x [inkTop, inkBottom).
  int left = 0;
  int textWidth = 0;
  int inkTop = 0;
  int inkBottom = 0;
  if (drawing.kind == Kind::Label) {
    const SIZE size = pen.extent(text, width, drawing.format);
    textWidth = size.cx;
    left = (drawing.format & DT_CENTER) ? (width - size.cx) / 2 : (drawing.format & DT_RIGHT) ? width - size.cx : 0;
    if (size.cx > width) fault("a line is " + std::to_string(size.cx - width) + " px wider than the label");
    if (size.cy > height) fault(std::to_string(size.cy - height) + " px of its lines below the label");
    const int lines = std::max<int>(1, size.cy / std::max<int>(1, metrics.tmHeight));
    inkTop = metrics.tmAscent - rise;
    inkBottom = (lines - 1) * metrics.tmHeight + metrics.tmAscent + drop;
    if (inkTop < 0) fault("marks " + std::to_string(-inkTop) + " px above the label");
    if (inkBottom > height && size.cy <= height) {
      fault("strokes " + std::to_string(inkBottom - height) + " px below the label");
    }
    if (drawing.format & DT_WORDBREAK) {
      for (const std::wstring& lone : loneCharacters(pen, text, width, drawing.format, size)) {
        fault("a line holds only " + quoted(lone));
      }
    }
  } else {
    // A push button draws its caption on one line, centred inside its two-pixel frame.
    const int frame = 2;
    const SIZE size = pen.extent(text, width, drawing.format);
    textWidth = size.cx;
    left = (width - size.cx) / 2;
    if (size.cx > width - 2 * frame) {
      fault("the caption is " + std::to_string(size.cx - (width - 2 * frame)) + " px wider than the button");
    }
    const int cellTop = frame + (height - 2 * frame - metrics.tmHeight) / 2;
    inkTop = cellTop + metrics.tmAscent - rise;
    inkBottom = cellTop + metrics.tmAscent + drop;
    if (inkTop < frame || inkBottom > height - frame) fault("the caption's ink leaves the button's frame");
  }
  if (!IsWindowVisible(control)) return;

  // What the user sees of that ink: inside every window it lies in, under no other window.
  RECT ink{std::max(left, 0), std::max(inkTop, 0), std::min(left + textWidth, width), std::min(inkBottom, height)};
  if (IsRectEmpty(&ink)) return;
  MapWindowPoints(control, nullptr, reinterpret_cast<POINT*>(&ink), 2);
  for (HWND child = control; !isTopLevel(child); child = GetAncestor(child, GA_PARENT)) {
    HWND parent = GetAncestor(child, GA_PARENT);
    RECT area{};
    GetClientRect(parent, &area);
    MapWindowPoints(parent, nullptr, reinterpret_cast<POINT*>(&area), 2);
    RECT inside{};
    IntersectRect(&inside, &ink, &area);
    if (!EqualRect(&inside, &ink)) fault("its text leaves " + pathOf(parent));
    for (HWND sibling = GetWindow(child, GW_HWNDFIRST); sibling != nullptr; sibling = GetWindow(sibling, GW_HWNDNEXT)) {
      if (sibling == child || !IsWindowVisible(sibling)) continue;
      RECT other{};
      GetWindowRect(sibling, &other);
      RECT overlap{};
      if (IntersectRect(&overlap, &ink, &other)) {
        fault("its text is under " + pathOf(sibling) + " (" + std::to_string(overlap.bottom - overlap.top) + " px)");
      }
    }
  }
}

void collect(HWND window, std::vector<LabelFault>& faults) {
  measure(window, faults);
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    collect(child, faults);
  }
}

}  // namespace

std::vector<LabelFault> labelFaults(HWND window) {
  std::vector<LabelFault> faults;
  if (window != nullptr) collect(window, faults);
  return faults;
}

}  // namespace DialogUi
