// The push panel: Send Push, the auto-send check box, the waiting text and the error labels.
// The push and its result waiter run in PushPanelLogic; the waiter's callback only posts
// command 226 to the panel, which takes the outcome on the dialog thread.

#include <atomic>
#include <memory>

#include "Korvath/Logger.h"
#include "Korvath/View/Button.h"
#include "Korvath/View/Checkbox.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/ErrorMessage.h"
#include "Korvath/View/Panels.h"
#include "Korvath/View/PushPanelLogic.h"
#include "PanelCommon.h"
#include "Korvath/View/ViewUtils.h"
#include "Win32Helpers.h"

namespace Korvath {
namespace View {

namespace {
constexpr const char* kClass = "Korvath::View::PushPanel";
}  // namespace

struct PushPanel::State : Panels::PanelState {
  static constexpr const char* kWhere = kClass;
  Button sendPush;
  Checkbox checkbox;
  ErrorMessage errorMessage;
  HWND waiting = nullptr;
  std::unique_ptr<PushPanelLogic> logic;
  Panels::ControlAction enterAction;
  // Set by the waiter right before it posts 226: only a result really handed over is taken,
  // so a stray command 226 from elsewhere lets nobody in.
  std::atomic<bool> resultHandedOver{false};
  // The error labels say that the auto-send option could not be stored.
  bool showingSaveFailure = false;

  HRESULT addInternalComponents(bool isInitialPanel);
  void sendPushButtonOnClick();
  void pressSendPush();
  void handleAuthenticationResult();
  void onCheckbox(HWND from);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
};

HRESULT PushPanel::State::addInternalComponents(bool isInitialPanel) {
  KV_LOG_DEBUG("%s - Adding internal components.", kClass);
  HRESULT result = S_OK;
  result |= Panels::createCentredButton(sendPush, panel, module, 421, Panels::px(200), Panels::px(14) + Panels::px(100),
                                        kSendPushButtonId);
  if (sendPush.button != nullptr && logic->sendPushStartsDisabled(isInitialPanel)) {
    // The dialog sends the push itself right after showing the panel.
    Panels::enable(sendPush.button, sendPush.label, false);
  }
  const std::wstring autoText = Panels::text(461);
  result |= checkbox.createCheckboxWindow(autoText.c_str(), Panels::px(200) + Panels::px(22) + Panels::px(18), panel,
                                          module);
  if (checkbox.checkbox != nullptr) {
    SendMessageW(checkbox.checkbox, BM_SETCHECK, logic->autoSendPush() ? BST_CHECKED : BST_UNCHECKED, 0);
    InvalidateRect(checkbox.checkbox, nullptr, TRUE);
  }
  result |= Panels::createErrorLabels(errorMessage, panel, module, ErrorKind::Push, Panels::px(267));
  KV_LOG_DEBUG("%s - Creating Waiting Response message box.", kClass);
  waiting = Panels::createLabel(panel, module, Panels::text(404), 0, WS_CHILD | SS_CENTER | SS_NOPREFIX, 0,
                                Panels::px(165), Panels::px(380), Panels::px(16), kWaitingTextId,
                                Panels::px(16), FW_NORMAL);
  if (waiting == nullptr) {
    result |= KV_LOG_LAST_ERROR("%s: Failed to create waiting response message box [0x%08x]", kClass);
  }
  return result;
}

void PushPanel::State::sendPushButtonOnClick() {
  HWND window = panel;
  std::atomic<bool>* handedOver = &resultHandedOver;
  const bool started = logic->sendPushButtonOnClick(
      checkbox.checkbox != nullptr && SendMessageW(checkbox.checkbox, BM_GETCHECK, 0, 0) == BST_CHECKED,
      [window, handedOver]() {
        handedOver->store(true);
        PostMessageW(window, WM_COMMAND, kPushResultCommand, 0);
      });
  if (!started) return;  // the previous push's waiter still runs
  Panels::enable(sendPush.button, sendPush.label, false);
  errorMessage.hide();
  showingSaveFailure = false;
  Panels::startClickTimer(clickTimer);
  if (waiting != nullptr) ShowWindow(waiting, SW_SHOW);
  UpdateWindow(panel);
}

// Send Push clicked, or Enter on it or on the panel.
void PushPanel::State::pressSendPush() {
  if (sendPush.button != nullptr) SetFocus(sendPush.button);
  sendPushButtonOnClick();
  SetFocus(panel);
}

void PushPanel::State::handleAuthenticationResult() {
  if (!resultHandedOver.exchange(false)) return;
  if (waiting != nullptr) ShowWindow(waiting, SW_HIDE);
  UpdateWindow(panel);
  const PanelOutcome outcome = logic->handleAuthenticationResult();
  if (outcome.signedIn) {
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    return;
  }
  errorMessage.text() = outcome.error;
  errorMessage.show();
  showingSaveFailure = false;
  Panels::enable(sendPush.button, sendPush.label, true);
  Panels::enable(checkbox.checkbox, nullptr, true);
}

void PushPanel::State::onCheckbox(HWND from) {
  if (checkbox.checkbox == nullptr) return;
  // The label is part of the check box for the user: clicking it ticks or unticks the box.
  if (from != nullptr && from == checkbox.label) {
    const bool checked = SendMessageW(checkbox.checkbox, BM_GETCHECK, 0, 0) == BST_CHECKED;
    SendMessageW(checkbox.checkbox, BM_SETCHECK, checked ? BST_UNCHECKED : BST_CHECKED, 0);
  }
  const PanelOutcome saved =
      logic->updateAutoSendPushOptionByUserName(SendMessageW(checkbox.checkbox, BM_GETCHECK, 0, 0) == BST_CHECKED);
  if (saved.error.empty()) {
    // Stored now: an earlier failure to store it is no longer true (a push's error stays).
    if (showingSaveFailure) errorMessage.hide();
    showingSaveFailure = false;
    return;
  }
  // Not stored: the box shows again what is stored, and the panel says why.
  SendMessageW(checkbox.checkbox, BM_SETCHECK, logic->autoSendPush() ? BST_CHECKED : BST_UNCHECKED, 0);
  Panels::showError(errorMessage, saved.error);
  showingSaveFailure = true;
}

LRESULT PushPanel::State::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_KEYDOWN:
      if (wParam != VK_RETURN) break;
      [[fallthrough]];
    case WM_COMMAND:
      if (message == WM_COMMAND && wParam == kAutoSendCheckboxId) {
        onCheckbox(reinterpret_cast<HWND>(lParam));
        return 0;
      }
      if (message == WM_COMMAND && wParam == kPushResultCommand) {
        handleAuthenticationResult();
        return 0;
      }
      if (message == WM_KEYDOWN || wParam == kSendPushButtonId) {
        pressSendPush();
        return 0;
      }
      break;
    case WM_SETFOCUS:
      if (sendPush.button != nullptr && IsWindowEnabled(sendPush.button)) SetFocus(sendPush.button);
      return 0;
    case WM_PAINT:
      Panels::paintAuthenticationImage(panel, module);
      return 0;
    case WM_DESTROY:
      logic->safeCleanupAsyncTask();
      break;
    default:
      break;
  }
  return DefWindowProcW(panel, message, wParam, lParam);
}

PushPanel::PushPanel() : state_(new State) {}

PushPanel::~PushPanel() {
  KV_LOG_DEBUG("%s - Destroying push panel.", kClass);
  if (state_->panel != nullptr && IsWindow(state_->panel)) DestroyWindow(state_->panel);
  // Also when the window went with its thread and never saw WM_DESTROY.
  if (state_->logic) state_->logic->safeCleanupAsyncTask();
  if (state_->panel != nullptr && IsWindow(state_->panel)) SetWindowLongPtrW(state_->panel, GWLP_USERDATA, 0);
}

HRESULT PushPanel::create(HWND dialog, HMODULE module, Service::KvService* service, Korvath::Utils::Timer* clickTimer,
                          std::atomic<bool>* internetStatus, const std::string& userName, bool isInitialPanel) {
  State& s = *state_;
  s.logic.reset(new PushPanelLogic(service, internetStatus, userName));
  const HRESULT opened =
      Panels::openPanel(s, dialog, module, clickTimer,
                        {kPushPanelClass, kPushPanelId, "%s: Failed to register push panel class [0x%08x]",
                         "%s: Failed to create push panel [0x%08x]"});
  if (s.panel == nullptr) return opened;
  const HRESULT components = s.addInternalComponents(isInitialPanel);
  if (components == S_OK) {
    s.enterAction.onEnter = [&s]() { s.pressSendPush(); };
    Panels::subclassControl(s.sendPush.button, &s.enterAction);
  }
  return components;
}

HWND PushPanel::window() const { return state_->panel; }

void PushPanel::hideErrorLabels() { state_->errorMessage.hide(); }

void PushPanel::focusSendPush() {
  if (state_->sendPush.button != nullptr) SetFocus(state_->sendPush.button);
}

}  // namespace View
}  // namespace Korvath
