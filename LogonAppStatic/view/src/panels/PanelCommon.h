#pragma once

// What the authentication panels share: their window class and geometry, the window-procedure
// boundary that lets no exception out, the Enter and digit-filter subclasses of their boxes and
// buttons, their code boxes, buttons and error labels, the colours of their static texts, and
// labels that grow to the height their text needs in the font they are given (the Noto fonts
// are taller than the design heights). The dialog's other windows (the dialog itself, its error
// panel, About and the help window) take the scale, the texts, the background brush and the
// class registration from here too.

#include <windows.h>

#include <functional>
#include <string>

#include "Korvath/Timer.h"
#include "Korvath/View/Button.h"
#include "Korvath/View/Editbox.h"
#include "Korvath/View/ErrorMessage.h"

namespace Korvath {
namespace View {
namespace Panels {

// UI scale factor (getScaleFactor).
double scale();
// trunc(s * v): design pixels to device pixels.
int px(double designPixels);

// Text `id` of the string tables in the system language.
std::wstring text(int id);

// The background brush of the dialog's windows and of their static texts (0xF0F0F0): one brush,
// made once per process and never deleted.
HBRUSH backgroundBrush();

// Registers a window class of the dialog's windows, panels and top-level windows alike
// (CS_HREDRAW | CS_VREDRAW, arrow cursor, the background brush). An existing class is not an
// error. On failure logs `failureFormat` ("%s ... [0x%08x]", when there is one) with `where`
// and the HRESULT and returns false.
bool registerWindowClass(HMODULE module, const wchar_t* className, WNDPROC proc, const char* where,
                         const char* failureFormat);

// The panel window: child of the dialog at (440·s, 10·s), 380·s × 360·s, WS_EX_CONTROLPARENT |
// WS_EX_WINDOWEDGE, WS_CHILD | WS_VISIBLE, window id `id`, `state` kept in GWLP_USERDATA (see
// stateOf). On failure logs `failureFormat` and keeps the HRESULT in `error`.
HWND createPanelWindow(HWND dialog, HMODULE module, const wchar_t* className, UINT id, void* state,
                       const char* where, const char* failureFormat, HRESULT& error);

// Where `window` is in its parent's client coordinates (empty for no window).
RECT rectInParent(HWND window);

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

// What every panel's state begins with: the dialog, the module of its classes and controls, the
// dialog's click timer and the panel's own window.
struct PanelState {
  HWND dialog = nullptr;
  HMODULE module = nullptr;
  Korvath::Utils::Timer* clickTimer = nullptr;
  HWND panel = nullptr;
};

// A panel's window class and window id, and the lines logged when the class cannot be
// registered or the window cannot be made ("%s ... [0x%08x]": the panel's name, the HRESULT).
struct PanelClass {
  const wchar_t* name;
  UINT id;
  const char* registerFailure;
  const char* createFailure;
};

// The window procedure of a panel whose state is a `State`: a PanelState with `kWhere` (the
// panel's name in the log) and `LRESULT handle(UINT, WPARAM, LPARAM)`. The state answers once
// the window is its panel; the static texts take the panels' colours (colourStatic).
template <typename State>
LRESULT CALLBACK panelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  keepStateOnCreate(window, message, lParam);
  return guarded(State::kWhere, window, message, wParam, lParam, [&]() -> LRESULT {
    State* state = stateOf<State>(window);
    if (state == nullptr || state->panel != window) return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_CTLCOLORSTATIC) return colourStatic(wParam, lParam);
    return state->handle(message, wParam, lParam);
  });
}

// Fills in the state's PanelState, registers the panel's class with panelProc<State> and makes
// its window (null in `state.panel` when it cannot be made). Returns S_OK or the window's HRESULT.
template <typename State>
HRESULT openPanel(State& state, HWND dialog, HMODULE module, Korvath::Utils::Timer* clickTimer,
                  const PanelClass& panelClass) {
  state.dialog = dialog;
  state.module = module;
  state.clickTimer = clickTimer;
  registerWindowClass(module, panelClass.name, &panelProc<State>, State::kWhere, panelClass.registerFailure);
  HRESULT error = S_OK;
  // The state goes with the window's creation, so messages sent while it is created find it.
  state.panel = createPanelWindow(dialog, module, panelClass.name, panelClass.id, &state, State::kWhere,
                                  panelClass.createFailure, error);
  return error;
}

// Destroys a panel's window as its object goes. A window that outlives the call (one of another
// thread) forgets the state, which goes with the object.
void closePanel(HWND panel);

// A "STATIC" label at (x, y), `width` wide and at least `height` high: as high as its text
// needs when wrapped at `width`, in the font of `fontHeight` and `fontWeight`, or a smaller one
// (a pixel at a time, down to 8) when a word of it is wider than the label (Wine breaks Thai
// lines only at spaces). Where a paragraph would end in a line of one character, the label is
// narrower (the lines balanced) about the same place, as its alignment keeps it.
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
// A code box (kCodeBoxStyle) at (x, top), 196·s wide, with the cue banner of text `cueTextId`,
// fitted to its font and cue (fitEditBox). Returns its height; a failure is in `box.error`.
int createCodeBox(Editbox& box, HWND panel, HMODULE module, int x, int top, UINT id, int cueTextId);
// Empties an edit box.
void clearText(const Editbox& box);

// A push button of text `textId`, `width` wide and 22·s high, centred across the panel at `top`;
// wider and higher where its caption needs it (inside the button's frame).
HRESULT createCentredButton(Button& button, HWND panel, HMODULE module, int textId, int top, int width, UINT id);
// The panels' Enter button (text 443, 100·s wide), centred at `top`.
HRESULT createEnterButton(Button& enter, HWND panel, HMODULE module, int top, UINT id);

// A panel's error labels across its width: the message at `top`, four lines of 16·s high (less
// 2), the request-ID line at `requestIdTop`.
HRESULT createErrorLabels(ErrorMessage& labels, HWND panel, HMODULE module, ErrorKind kind, int top,
                          int requestIdTop = px(360) - px(16));
// Shows `error` in the labels; nothing when there is nothing to say.
void showError(ErrorMessage& labels, const ErrorText& error);

// WM_PAINT of a panel: the authentication picture (raw-data resource 120) centred at its top.
void paintAuthenticationImage(HWND panel, HMODULE module);

// Appends the decimal digit to an edit box and gives the box the focus (a digit typed
// elsewhere in the dialog and forwarded to the panel). False for anything but 0-9, and when
// the box has the focus already (the digit reached it itself).
bool appendDigit(HWND edit, WPARAM digit);

// The subclasses of the panels' controls. `onEnter` runs for WM_KEYDOWN VK_RETURN, which is
// not passed on; with `keepsFocus` the control takes the focus again afterwards. A digit box
// also swallows WM_CHAR of anything but 0-9 and backspace (a pasted or set text is not
// filtered: the panel's checks refuse it). The action is borrowed and must outlive the
// control; the subclass ends with the control.
struct ControlAction {
  std::function<void()> onEnter;
  bool digitsOnly = false;
  bool keepsFocus = false;
};
bool subclassControl(HWND control, ControlAction* action);
// What Enter on `control` does, and a click on a panel's Enter button (WM_COMMAND) too.
void runAction(HWND control, const ControlAction& action);

// The code box, its Enter button and the error labels below them, as the OTP and QR-code panels
// have them: box (cue text 400) and button centred across the panel. Enter in the box or on the
// button, and a click on the button (press), run `submit`; the control keeps the focus, and the
// box takes digits only.
struct CodeEntry {
  Editbox box;
  Button enter;
  ErrorMessage errorMessage;
  ControlAction boxAction;
  ControlAction enterAction;

  // The controls at their tops; a message that needs the room rises up to just below Enter.
  // The box and the button are subclassed only when every control was made. Returns S_OK or
  // the failures, ORed.
  HRESULT create(HWND panel, HMODULE module, int boxTop, UINT boxId, int enterTop, UINT enterId, ErrorKind kind,
                 int errorTop, const std::function<void()>& submit);
  void press() { runAction(enter.button, enterAction); }
  // A digit typed elsewhere in the dialog (kMsgDigitToPanel).
  void takeDigit(WPARAM digit) { appendDigit(box.window(), digit); }
};

// True when commands may run: the shared click timer has run out (or there is none).
bool clickTimerRunOut(Korvath::Utils::Timer* clickTimer);
// Starts the shared click timer: commands within 100 ms are dropped.
void startClickTimer(Korvath::Utils::Timer* clickTimer);

// Enables or disables a control and its label (a `Button` keeps both).
void enable(HWND control, HWND label, bool enabled);

}  // namespace Panels
}  // namespace View
}  // namespace Korvath
