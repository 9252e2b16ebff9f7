#include "Korvath/View/MfaDialog.h"

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "DialogWindowState.h"
#include "Korvath/Logger.h"
#include "Korvath/Service/ServiceMessages.h"
#include "Korvath/Utils/LanguageUtil.h"
#include "Korvath/View/AboutDialog.h"
#include "Korvath/View/AboutLogic.h"
#include "Korvath/View/CommonControls.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/DialogState.h"
#include "Korvath/View/Images.h"
#include "Korvath/View/MfaDialogLogic.h"
#include "Korvath/View/OptionButtons.h"
#include "Korvath/View/ViewUtils.h"
#include "ResourceIds.h"
#include "TextFit.h"
#include "TopLevelWindow.h"
#include "Win32Helpers.h"
#include "panels/PanelCommon.h"

namespace Korvath {
namespace View {

namespace {

using Korvath::Utils::LanguageUtil::GetWText;

const char* const kCreate = "Korvath::View::MfaDialog::createMfaDialog";
const char* const kThread = "Korvath::View::MfaDialog::threadProc";
const char* const kProc = "Korvath::View::MfaDialog::windowProc";

constexpr COLORREF kLineColour = 0xDDDDDD;

// The module the dialog was made with (the recorded one may be forgotten by closeWindow first).
HMODULE moduleOf(HWND window) { return reinterpret_cast<HMODULE>(GetWindowLongPtrW(window, GWLP_HINSTANCE)); }

using Panels::px;

// Marks the option of `method` as the selected one (bold label) and records it as current.
void selectMethodButton(std::uint32_t method) {
  DialogWindowState& window = dialogWindowState();
  DialogState& state = dialogState();
  auto relabel = [&](std::uint32_t m, bool bold) {
    if (m < kMethodPush || m > kMethodForgotToken) return;
    const Button& record = window.options[m - 1];
    if (record.label == nullptr) return;
    SendMessageW(record.label, WM_SETFONT, reinterpret_cast<WPARAM>(bold ? record.labelBoldFont : record.labelFont), FALSE);
    InvalidateRect(record.label, nullptr, TRUE);
    UpdateWindow(record.label);
  };
  relabel(state.currentMethod, false);
  relabel(method, true);
  state.currentMethod = method;
}

void showPanelOfMethod(std::uint32_t method, bool initial) {
  PanelsManager* manager = dialogWindowState().panelsManager.get();
  if (manager == nullptr) return;
  const std::string& user = dialogState().currentUserName;
  switch (method) {
    case kMethodPush:
      manager->showPushPanel(user, initial);
      break;
    case kMethodQrCode:
      manager->showQrCodePanel(user);
      break;
    case kMethodOtp:
      manager->showOtpPanel(user);
      break;
    case kMethodForgotToken:
      manager->showForgotTokenActivationPanel();
      break;
    default:
      manager->showErrorMessagePanel(&dialogState().result);
      break;
  }
}

void showInitialPanel() {
  const InitialPanel panel = chooseInitialPanel();
  if (panel == InitialPanel::ErrorPanel) {
    if (PanelsManager* manager = dialogWindowState().panelsManager.get()) {
      manager->showErrorMessagePanel(&dialogState().result);
    }
  } else {
    showPanelOfMethod(dialogState().currentMethod, true);
  }
  // The label of the method shown first in bold (the previous mark, if any, is the same one).
  const std::uint32_t method = dialogState().currentMethod;
  dialogState().currentMethod = kMethodNone;
  selectMethodButton(method);
}

void showAbout(HMODULE module) {
  Service::ServiceResponseAbout about;
  fillAbout(dialogState().service.get(), about);
  // Runs on this thread and returns when the About window has closed.
  AboutDialog::start(about, module);
}

void onCommand(HWND dialog, UINT command, LPARAM lParam) {
  DialogWindowState& window = dialogWindowState();
  switch (command) {
    case kCmdDigitTyped:
      if (window.panelsManager && window.panelsManager->currentPanel() != nullptr) {
        SendMessageW(window.panelsManager->currentPanel(), kMsgDigitToPanel, static_cast<WPARAM>(lParam), 0);
      }
      break;
    case kCmdPush:
    case kCmdQrCode:
    case kCmdOtp:
    case kCmdForgotToken:
      if (const std::uint32_t method = optionForCommand(command)) {
        selectMethodButton(method);
        showPanelOfMethod(method, false);
      }
      break;
    case kCmdAbout:
      showAbout(moduleOf(dialog));
      break;
    case kCmdBack:
      dialogState().validated = false;
      PostMessageW(dialog, WM_CLOSE, 0, 0);
      break;
    default:
      break;
  }
}

// The left-hand artwork and the line over the option buttons. Also drawn into another device
// context on WM_PRINTCLIENT, which is how an image button over the artwork gets it behind its
// translucent image.
void drawDialog(HWND dialog, HDC dc) {
  const HMODULE module = moduleOf(dialog);
  DrawRect artwork;
  artwork.width = static_cast<std::uint16_t>(px(420));
  artwork.height = static_cast<std::uint16_t>(px(500));
  drawSvgImage(dc, loadSvgResource(module, KV_IDR_SVG_DIALOG_ARTWORK), artwork);
  HPEN pen = CreatePen(PS_SOLID, 2, kLineColour);
  HGDIOBJ old = SelectObject(dc, pen);
  MoveToEx(dc, px(435), px(390), nullptr);
  LineTo(dc, px(435) + px(380), px(390));
  SelectObject(dc, old);
  DeleteObject(pen);
}

LRESULT handleMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      paintWindow(dialog, [dialog](HDC dc) { drawDialog(dialog, dc); });
      return 0;
    case WM_PRINTCLIENT:
      drawDialog(dialog, reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_CTLCOLORSTATIC:
      return Panels::colourStatic(wParam, lParam);
    case WM_CHANGEUISTATE:
      return DefWindowProcW(dialog, message, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS), lParam);
    case WM_CLOSE:
      ShowWindow(dialog, SW_HIDE);
      DestroyWindow(dialog);
      PostQuitMessage(0);
      return 0;
    case WM_DESTROY:
      forgetDialogWindow(dialog);
      return 0;
    case WM_COMMAND: {
      Korvath::Utils::Timer* clickTimer = dialogState().clickTimer.get();
      const bool ready = clickTimer == nullptr || clickTimer->isTimeOut();
      if (ready && wParam >= kFirstDialogCommand && wParam <= kLastDialogCommand) {
        onCommand(dialog, static_cast<UINT>(wParam), lParam);
        return 0;
      }
      break;
    }
    default:
      if (message == kMsgBypass) {
        // The bypass is decided before any window exists, so this message only ever comes
        // from outside: it may end the dialog, but as a refusal, never as a way in.
        dialogState().validated = false;
        PostMessageW(dialog, WM_CLOSE, 0, 0);
        return 0;
      }
      break;
  }
  return DefWindowProcW(dialog, message, wParam, lParam);
}

LRESULT CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  // Nothing may unwind into the system's dispatcher: a failure is logged and the message
  // gets its default answer, the dialog stays usable (Back still refuses).
  try {
    return handleMessage(dialog, message, wParam, lParam);
  } catch (const std::exception& e) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", kProc, e.what());
  } catch (...) {
    KV_LOG_ERROR("%s - unknown exception", kProc);
  }
  return message == WM_CLOSE ? 0 : DefWindowProcW(dialog, message, wParam, lParam);
}

void addApplicationIcon(HWND dialog, HMODULE module) {
  // Shared icons belong to the system's cache: loading them again costs no handle.
  auto icon = [&](int size) {
    return reinterpret_cast<LPARAM>(LoadImageW(module, MAKEINTRESOURCEW(KV_IDI_APP), IMAGE_ICON, size, size, LR_SHARED));
  };
  SendMessageW(dialog, WM_SETICON, ICON_BIG, icon(GetSystemMetrics(SM_CXICON)));
  SendMessageW(dialog, WM_SETICON, ICON_SMALL, icon(GetSystemMetrics(SM_CXSMICON)));
}

void addSignInOptionsLabel(HWND dialog, HMODULE module) {
  const int height = px(16) + 1;
  const std::wstring text = GetWText(442);
  HFONT font = Utils::Font::createFont(height, 400);
  // One line: as wide as its text needs where a translation is longer than the design's width,
  // up to the length of the line under it.
  const int width = std::min(px(380), std::max(px(200), Panels::textWidth(dialog, font, text) + 1));
  HWND label = CreateWindowExW(WS_EX_APPWINDOW, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE, px(15) + px(420),
                               px(390) - px(20), width, height, dialog,
                               reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kIdSignInOptionsLabel)), module, nullptr);
  if (label == nullptr) {
    KV_LOG_LAST_ERROR("%s: Failed to create sign-in label [0x%08x]", kCreate);
    return;
  }
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  // Its bottom stays just above the line; a script with tall glyphs makes it grow upwards (the
  // panels end above it).
  fitLabelToText(label, true);
}

// The option labels' font: the design size, made smaller (by at most 3 design pixels) until
// every label's wrapped text, in bold as the selected one is shown, fits between the buttons
// and the bottom of the dialog, has no word wider than the label and no last line of a single
// character.
int optionLabelFontSize(HWND dialog, const std::vector<OptionButton>& options) {
  if (options.empty()) return 0;
  RECT client{};
  GetClientRect(dialog, &client);
  const int room = client.bottom - (options.front().y + options.front().height);
  const int width = options.front().labelWidth;
  const int designSize = options.front().labelFontSize;
  const int smallest = designSize - px(3) > 6 ? designSize - px(3) : 6;
  int size = designSize;
  for (; size > smallest; --size) {
    HFONT bold = Utils::Font::createFont(size, 900);
    bool fits = true;
    for (const OptionButton& option : options) {
      const std::wstring label = GetWText(static_cast<UINT>(option.labelTextId));
      if (wrappedTextHeight(dialog, bold, label, width) > room ||
          Panels::wrappedWidth(dialog, bold, label, width) > width ||
          endsWithLoneCharacter(dialog, bold, label, width, DT_CENTER)) {
        fits = false;
        break;
      }
    }
    if (fits) break;
  }
  return size;
}

void addOptionButtons(HWND dialog, HMODULE module) {
  const DialogState& state = dialogState();
  DialogWindowState& window = dialogWindowState();
  const std::vector<OptionButton> options =
      optionButtons(Utils::getScaleFactor(), state.pushEnabled, state.qrCodeEnabled, state.otpEnabled, state.forgotTokenEnabled);
  if (options.empty()) return;
  const int fontSize = optionLabelFontSize(dialog, options);
  for (const OptionButton& option : options) {
    const std::wstring label = GetWText(static_cast<UINT>(option.labelTextId));
    Button& record = window.options[option.method - 1];
    record.createButtonWindow(reinterpret_cast<const wchar_t*>(option.windowText), WS_CHILD | WS_VISIBLE | BS_BITMAP,
                              option.x, option.y, option.width, option.height, dialog, option.id, module,
                              loadSvgResource(module, option.imageId), true, label.c_str(), option.labelHeight,
                              fontSize);
    if (record.label != nullptr) {
      const int width = option.labelWidth;
      const int height = std::max(option.labelHeight, wrappedTextHeight(dialog, record.labelBoldFont, label, width));
      SetWindowPos(record.label, nullptr, option.x + option.width / 2 - width / 2, option.y + option.height, width,
                   height, SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
}

// Builds the dialog after the start-up decisions and leaves its window in `dialog` as soon as
// it exists: null when the user passes without a window (validated flag set) or when the
// window cannot be made (flag cleared: refused).
void createMfaDialog(HMODULE module, bool isRdpSession, HWND& dialog) {
  DialogWindowState& window = dialogWindowState();
  for (Button& record : window.options) record = Button();
  window.about = Button();
  window.back = Button();

  // The bypass needs no window, so it is decided before any window exists.
  const DialogContent content = prepareDialog();
  if (content == DialogContent::Bypass) {
    KV_LOG_DEBUG("%s Bypassing MFA", kCreate);
    return;
  }

  CommonControlsScope controls(module);
  Panels::registerWindowClass(module, kMfaDialogClass, dialogProc, kCreate,
                              "%s: Failed to register MFA dialog class [0x%08x]");
  dialog = TopLevel::createCentred(module, kMfaDialogClass, nullptr, kCreate,
                                   "%s: Failed to create MFA dialog window [0x%08x]");
  if (dialog == nullptr) {
    // No window, no loop: the attempt is refused at once instead of waiting for a close
    // that can never come.
    dialogState().validated = false;
    return;
  }
  window.window = dialog;

  if (content == DialogContent::SignInOptions) {
    KV_LOG_DEBUG("%s - Adding authentication MFA dialog components.", kCreate);
    addApplicationIcon(dialog, module);
    addSignInOptionsLabel(dialog, module);
    addOptionButtons(dialog, module);
  }
  KV_LOG_DEBUG("%s - Creating button about.", kCreate);
  window.about.createButtonWindow(L"About", WS_CHILD | WS_VISIBLE | BS_BITMAP, px(810), px(470), px(20), px(20), dialog,
                                  kCmdAbout, module, loadSvgResource(module, KV_IDR_SVG_ABOUT));
  if (!isRdpSession) {
    // Back refuses the sign-in; a remote session has no way back to the tile, so it has none.
    KV_LOG_DEBUG("%s - Creating button back.", kCreate);
    window.back.createButtonWindow(L"back", WS_CHILD | WS_VISIBLE | BS_BITMAP, px(10), px(10), px(30), px(30), dialog,
                                   kCmdBack, module, loadSvgResource(module, KV_IDR_SVG_BACK));
  }
  KV_LOG_DEBUG("%s - Creating panels manager instance.", kCreate);
  DialogState& state = dialogState();
  window.panelsManager.reset(new PanelsManager(dialog, module, state.clickTimer.get(), &state.internetStatus,
                                               state.service.get()));
  showInitialPanel();
}

bool isKeyboardMessage(UINT message) { return message >= WM_KEYFIRST && message <= WM_KEYLAST; }

// Runs until the dialog is gone or the thread's quit message arrives.
void runMessageLoop(HWND dialog) {
  MSG msg;
  while (IsWindow(dialog)) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    if (isKeyboardMessage(msg.message) && msg.wParam == VK_RETURN) {
      // Enter goes straight to the focused control (each panel's main button handles it).
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    } else if (!IsDialogMessageW(dialog, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (msg.message == WM_KEYDOWN && IsWindow(dialog)) {
      // The key has reached the focused control; then it works as a shortcut.
      const KeyShortcut shortcut = shortcutForKey(static_cast<std::uint32_t>(msg.wParam));
      if (shortcut.command != 0) SendMessageW(dialog, WM_COMMAND, shortcut.command, shortcut.digit);
    }
  }
}

void endDialogThread(HWND dialog) {
  DialogWindowState& window = dialogWindowState();
  // Windows die with their thread; they are destroyed here, on it, so every panel's clean-up
  // runs before the panel objects go.
  if (dialog != nullptr && IsWindow(dialog)) DestroyWindow(dialog);
  if (window.panelsManager) {
    window.panelsManager->deleteAllPanels();
    window.panelsManager.reset();
  }
  forgetDialogWindow(dialog);
  // A push left while still in an exchange with the service ends here, on this thread, while
  // LogonUI's thread goes on answering in start(); the service's destructor, on LogonUI's
  // thread, would wait for it without dispatching anything.
  if (Service::KvService* service = dialogState().service.get()) {
    for (const auto& push : service->getFutures())
      if (push.valid()) push.wait();
  }
}

DWORD runDialogThread(bool isRdpSession) {
  KV_LOG_DEBUG("%s - Executing thread process.", kThread);
  const HMODULE module = dialogWindowState().module.load();
  HWND dialog = nullptr;
  try {
    createMfaDialog(module, isRdpSession, dialog);
    if (dialog != nullptr) {
      SendMessageW(dialog, WM_UPDATEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS), 0);
      ShowWindow(dialog, SW_SHOWNORMAL);
      UpdateWindow(dialog);
      PanelsManager* manager = dialogWindowState().panelsManager.get();
      if (dialogState().autoSendPush && manager != nullptr && manager->currentPanel() != nullptr) {
        SendMessageW(manager->currentPanel(), WM_COMMAND, kSendPushButtonId, 0);
      }
      runMessageLoop(dialog);
    }
  } catch (const std::exception& e) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", kThread, e.what());
    dialogState().validated = false;
  } catch (...) {
    KV_LOG_ERROR("%s - unknown exception", kThread);
    dialogState().validated = false;
  }
  try {
    endDialogThread(dialog);
  } catch (...) {
    KV_LOG_ERROR("%s - exception while closing the dialog", kThread);
  }
  return 0;
}

// Waits for the dialog thread while this thread goes on dispatching its own messages (sent
// and posted, COM's included), so that a window or COM call aimed at it from the dialog
// thread, or from anyone, is answered instead of deadlocking. A quit message that arrives
// meanwhile is posted again afterwards for the caller's own loop.
void waitPumping(HANDLE thread) {
  bool quit = false;
  WPARAM quitCode = 0;
  for (;;) {
    const DWORD woke = MsgWaitForMultipleObjectsEx(1, &thread, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0) break;
    if (woke != WAIT_OBJECT_0 + 1) {
      WaitForSingleObject(thread, INFINITE);
      break;
    }
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quit = true;
        quitCode = msg.wParam;
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
}

}  // namespace

DialogWindowState& dialogWindowState() {
  static DialogWindowState state;
  return state;
}

void forgetDialogWindow(HWND window) {
  if (window == nullptr) return;
  DialogWindowState& state = dialogWindowState();
  state.window.compare_exchange_strong(window, nullptr);
}

MfaDialog::MfaDialog(const bool* isRdpSession, const std::vector<std::string>* userNames, HMODULE module,
                     const std::string* sessionClientIpAddress)
    : isRdpSession_(isRdpSession), sessionClientIpAddress_(sessionClientIpAddress), module_(module) {
  static const std::vector<std::string> kNoNames;
  static const std::string kNoAddress;
  startAttempt(isRdpSession_ != nullptr && *isRdpSession_, userNames != nullptr ? *userNames : kNoNames,
               sessionClientIpAddress_ != nullptr ? *sessionClientIpAddress_ : kNoAddress);
}

MfaDialog::~MfaDialog() {
  try {
    tearDownMfaDialog();
  } catch (...) {
    KV_LOG_ERROR("%s - exception in the tear-down", "Korvath::View::MfaDialog::~MfaDialog");
  }
}

void MfaDialog::start() {
  try {
    HANDLE thread = CreateThread(nullptr, 0, threadProc, this, 0, nullptr);
    if (thread == nullptr) {
      KV_LOG_LAST_ERROR("Failed in %s: 0x%08x", "Korvath::View::MfaDialog::start");
      return;
    }
    waitPumping(thread);
    CloseHandle(thread);
  } catch (const std::exception& e) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", "Korvath::View::MfaDialog::start", e.what());
  }
}

DWORD WINAPI MfaDialog::threadProc(LPVOID parameter) {
  if (parameter == nullptr) {
    KV_LOG_ERROR("%s: ERROR! - NOT ENOUGH MEMORY", kThread);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  const MfaDialog* dialog = static_cast<const MfaDialog*>(parameter);
  dialogWindowState().module = dialog->module_;
  return runDialogThread(dialog->isRdpSession_ != nullptr && *dialog->isRdpSession_);
}

HRESULT MfaDialog::closeWindow() {
  KV_LOG_DEBUG("%s - Closing MFA dialog.", "Korvath::View::MfaDialog::closeWindow");
  DialogWindowState& state = dialogWindowState();
  HWND window = state.window.exchange(nullptr);
  if (window == nullptr) return E_FAIL;
  state.module = nullptr;
  PostMessageW(window, WM_CLOSE, 0, 0);
  return S_OK;
}

bool MfaDialog::isInForgotTokenMode() { return ::Korvath::View::isInForgotTokenMode(); }

void tearDownMfaDialog() {
  DialogWindowState& window = dialogWindowState();
  if (window.panelsManager) {
    window.panelsManager->deleteAllPanels();
    window.panelsManager.reset();
  }
  tearDownDialogState();
  MfaDialog::closeWindow();
}

}  // namespace View
}  // namespace Korvath
