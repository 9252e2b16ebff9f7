#pragma once

// What the authentication panels share: their window class and geometry, the window-procedure
// boundary that lets no exception out, the Enter and digit-filter subclasses of their boxes and
// buttons, the colours of their static texts, and labels that grow to the height their text
// needs in the font they are given (the Noto fonts are taller than the design heights).

#include <windows.h>

#include <functional>
#include <string>

#include "Korvath/Timer.h"

namespace Korvath {
namespace View {
namespace Panels {

// UI scale factor (getScaleFactor).
double scale();
// trunc(s * v): design pixels to device pixels.
int px(double designPixels);

// Text `id` of the string tables in the system language.
std::wstring text(int id);

// The panels' background brush (0xF0F0F0), made once per process.
HBRUSH backgroundBrush();

// Registers a panel class (CS_HREDRAW | CS_VREDRAW, arrow cursor, the background brush).
// An existing class is not an error. On failure logs `failureFormat` ("%s ... [0x%08x]")
// with `where` and the HRESULT and returns false.
bool registerPanelClass(HMODULE module, const wchar_t* className, WNDPROC proc, const char* where,
                        const char* failureFormat);

// The panel window: child of the dialog at (440·s, 10·s), 380·s × 360·s, WS_EX_CONTROLPARENT |
// WS_EX_WINDOWEDGE, WS_CHILD | WS_VISIBLE, window id `id`, `state` kept in GWLP_USERDATA (see
// stateOf). On failure logs `failureFormat` and keeps the HRESULT in `error`.
HWND createPanelWindow(HWND dialog, HMODULE module, const wchar_t* className, UINT id, void* state,
                       const char* where, const char* failureFormat, HRESULT& error);

// The bottom of the room a panel's content may use, in its client coordinates: its height,
// less whatever of the dialog's "Sign-in Options" label (id 215) reaches into it (the label
// grows upwards to fit its text).
int usableBottom(HWND panel);

// The state pointer a panel window was created with (null once the panel forgot it).
template <typename State>
State* stateOf(HWND window) {
  return reinterpret_cast<State*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}
// Stores the state at WM_NCCREATE; call first in every panel procedure.
void keepStateOnCreate(HWND window, UINT message, LPARAM lParam);

// Runs `handler` and turns any exception into default processing, logged at error level:
// nothing is ever thrown out of a window procedure.
LRESULT guarded(const char* where, HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                const std::function<LRESULT()>& handler);

// WM_CTLCOLORSTATIC: the background colour and brush, and the text colour of control `id`:
// red for the error labels 200 and 201, the link colour for 263, grey for 273, 276 and 277.
LRESULT colourStatic(WPARAM hdc, LPARAM control);

// A "STATIC" label at (x, y), `width` wide and at least `height` high: as high as its text
// needs when wrapped at `width`, in the font of `fontHeight` and `fontWeight`, or a smaller one
// (a pixel at a time, down to 8) when a word of it is wider than the label (Wine breaks Thai
// lines only at spaces).
HWND createLabel(HWND parent, HMODULE module, const std::wstring& caption, DWORD exStyle, DWORD style, int x,
                 int y, int width, int height, UINT id, int fontHeight, int fontWeight);
// Height of `caption` wrapped at `width` in `font` (DrawText's own measure), 0 when unknown.
int textHeight(HWND window, HFONT font, const std::wstring& caption, int width);
// Width of `caption` wrapped at `width`: more than `width` when a word does not fit.
int wrappedWidth(HWND window, HFONT font, const std::wstring& caption, int width);
// Width of one line of `caption` in `font`.
int textWidth(HWND window, HFONT font, const std::wstring& caption);
// Height a single-line edit box needs to show its font whole: the font's cell and the border.
int editHeightFor(HWND window, HFONT font);

// A box for a code typed from a token or the authenticator (or a number of hours): digits
// typed only, Enter submits.
constexpr DWORD kCodeBoxStyle =
    WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_NUMBER | ES_WANTRETURN | ES_AUTOHSCROLL;
// Makes a single-line edit box at least as high as its font needs (editHeightFor), and as wide
// as its cue banner `cue` needs (growing about its centre, at most to the panel's width less
// 10·s on each side); the top stays. Returns the box's height.
int fitEditBox(HWND edit, const std::wstring& cue = std::wstring());

// Paints the authentication picture (raw-data resource 120) centred at the top of a panel.
void drawAuthenticationImage(HWND panel, HDC dc, HMODULE module);

// Appends the decimal digit to an edit box and gives the box the focus (a digit typed
// elsewhere in the dialog and forwarded to the panel). False for anything but 0-9.
bool appendDigit(HWND edit, WPARAM digit);

// The subclasses of the panels' controls. `onEnter` runs for WM_KEYDOWN VK_RETURN, which is
// not passed on. A digit box also swallows WM_CHAR of anything but 0-9 and backspace (a
// pasted or set text is not filtered: the panel's checks refuse it). The action is borrowed
// and must outlive the control; the subclass ends with the control.
struct ControlAction {
  std::function<void()> onEnter;
  bool digitsOnly = false;
};
bool subclassControl(HWND control, ControlAction* action);

// True when commands may run: the shared click timer has run out (or there is none).
bool clickTimerRunOut(Korvath::Utils::Timer* clickTimer);
// Starts the shared click timer: commands within 100 ms are dropped.
void startClickTimer(Korvath::Utils::Timer* clickTimer);

// Enables or disables a control and its label (a `Button` keeps both).
void enable(HWND control, HWND label, bool enabled);

}  // namespace Panels
}  // namespace View
}  // namespace Korvath
