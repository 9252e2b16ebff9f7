// The panel the dialog shows instead of the sign-in options after an error of the system's own:
// the result's message in the red error labels and an OK button that closes the dialog. Whether
// closing lets the user in was decided before (the fail-open codes set the validated flag).

#include <windows.h>
#include <commctrl.h>

#include <exception>

#include "Korvath/Logger.h"
#include "Korvath/View/Button.h"
#include "Korvath/View/CommonControls.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/ErrorMessage.h"
#include "Korvath/View/Panels.h"
#include "Korvath/View/ViewUtils.h"
#include "panels/PanelCommon.h"

namespace Korvath {
namespace View {

namespace {

const char* const kPanel = "Korvath::View::ErrorMessagePanel";
constexpr UINT_PTR kOkSubclassId = 0x4B564550;

using Panels::px;

}  // namespace

struct ErrorMessagePanel::State {
  HWND dialog = nullptr;
  HWND panel = nullptr;
  HMODULE module = nullptr;
  const Model::KvResult* result = nullptr;
  Button ok;
  ErrorMessage error;

  void okButtonOnClick() {
    KV_LOG_DEBUG("%s::okButtonOnClick - Button ok was clicked.", kPanel);
    EnableWindow(ok.button, FALSE);
    error.hide();
    UpdateWindow(panel);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  }

  static LRESULT CALLBACK panelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK okProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR data);
};

LRESULT CALLBACK ErrorMessagePanel::State::panelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* state = reinterpret_cast<State*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (state != nullptr) {
      switch (message) {
        case WM_SETFOCUS:
          if (state->ok.button != nullptr) SetFocus(state->ok.button);
          return 0;
        case WM_COMMAND:
          if (LOWORD(wParam) == kErrorPanelOkButtonId) {
            state->okButtonOnClick();
            SetFocus(state->ok.button);
            return 0;
          }
          break;
        case WM_CTLCOLORSTATIC:
          return Panels::colourStatic(wParam, lParam);
        case WM_NCDESTROY:
          SetWindowLongPtrW(window, GWLP_USERDATA, 0);
          state->panel = nullptr;
          break;
        default:
          break;
      }
    }
  } catch (const std::exception& e) {
    KV_LOG_ERROR("%s::panelProc - exception - e.what(): %s", kPanel, e.what());
  } catch (...) {
    KV_LOG_ERROR("%s::panelProc - unknown exception", kPanel);
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK ErrorMessagePanel::State::okProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                  DWORD_PTR data) {
  try {
    if (message == WM_KEYDOWN && wParam == VK_RETURN) {
      auto* state = reinterpret_cast<State*>(data);
      state->okButtonOnClick();
      SetFocus(button);
      return 0;
    }
    if (message == WM_NCDESTROY) RemoveWindowSubclass(button, okProc, kOkSubclassId);
  } catch (...) {
    KV_LOG_ERROR("%s::okProc - exception", kPanel);
    return 0;
  }
  return DefSubclassProc(button, message, wParam, lParam);
}

ErrorMessagePanel::ErrorMessagePanel() : state_(new State()) {}

ErrorMessagePanel::~ErrorMessagePanel() {
  KV_LOG_DEBUG("%s::~ErrorMessagePanel - Destroying error message panel.", kPanel);
  if (state_->panel != nullptr && IsWindow(state_->panel)) DestroyWindow(state_->panel);
}

HRESULT ErrorMessagePanel::create(HWND dialog, HMODULE module, const Model::KvResult* result) {
  State& state = *state_;
  state.dialog = dialog;
  state.module = module;
  state.result = result;
  CommonControlsScope controls(module);
  Panels::registerWindowClass(module, kErrorMessagePanelClass, State::panelProc, kPanel,
                              "%s: Failed to register error message panel class [0x%08x]");
  HRESULT error = S_OK;
  state.panel = Panels::createPanelWindow(dialog, module, kErrorMessagePanelClass, kErrorMessagePanelId, &state, kPanel,
                                          "%s: Failed to create error message panel [0x%08x]", error);
  if (state.panel == nullptr) return error;

  const int s16 = px(16);
  // Centred under the message, as the other panels' Enter buttons.
  Panels::createCentredButton(state.ok, state.panel, module, 445, px(200), px(100), kErrorPanelOkButtonId);
  const HRESULT labels =
      Panels::createErrorLabels(state.error, state.panel, module, ErrorKind::ErrorPanel, px(200) - (s16 + 4 * s16 - 3));
  // The message ends just above OK however many lines it takes: grown downwards from its design
  // top it would cover the button where it takes more than four lines.
  const int okTop = state.ok.button != nullptr ? static_cast<int>(Panels::rectInParent(state.ok.button).top) : px(200);
  state.error.endMessageAt(okTop - s16 + 1);
  if (state.ok.button != nullptr) SetWindowSubclass(state.ok.button, State::okProc, kOkSubclassId, reinterpret_cast<DWORD_PTR>(&state));
  return FAILED(state.ok.error) ? state.ok.error : labels;
}

HWND ErrorMessagePanel::window() const { return state_->panel; }

void ErrorMessagePanel::show() {
  State& state = *state_;
  if (state.panel == nullptr) return;
  ShowWindow(state.panel, SW_SHOW);
  UpdateWindow(state.panel);
  SendMessageW(state.panel, WM_CHANGEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS), 0);
  if (state.ok.button != nullptr) SetFocus(state.ok.button);
  KV_LOG_DEBUG("%s::show - There was a fail that will bypass the MFA!", kPanel);
  if (state.result != nullptr) state.error.showResult(*state.result);
  if (state.ok.button != nullptr) EnableWindow(state.ok.button, TRUE);
}

}  // namespace View
}  // namespace Korvath
