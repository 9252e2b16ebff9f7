// The forgot-token help window. It runs modally on the thread that opens it (the MFA dialog's
// thread, TopLevelWindow.h); the dialog is disabled for input meanwhile, as under any modal
// window.

#include <atomic>

#include "Korvath/Logger.h"
#include "Korvath/View/AboutDialog.h"
#include "Korvath/View/Button.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/Images.h"
#include "PanelCommon.h"
#include "Korvath/View/ViewUtils.h"
#include "Win32Helpers.h"
#include "dialog/TopLevelWindow.h"

namespace Korvath {
namespace View {

namespace {

constexpr const char* kClass = "Korvath::View::HowToUseForgotTokenDialog";
constexpr int kBackImageId = 116;
constexpr int kHelpTextId = 433;

std::atomic<HWND> howToWindow{nullptr};
std::atomic<HWND> howToOwner{nullptr};
void drawBackground(HWND window, HDC dc) {
  KV_LOG_DEBUG("%s - Setting panel image.", kClass);
  DrawRect logo;
  logo.x = static_cast<std::uint16_t>(Panels::scale() * 840 / 2 - Panels::scale() * 230 / 2);
  logo.y = static_cast<std::uint16_t>(Panels::px(36));
  logo.width = static_cast<std::uint16_t>(Panels::px(230));
  logo.height = static_cast<std::uint16_t>(Panels::px(65));
  TopLevel::drawBackground(window, dc, logo);
}

void closeHowTo(HWND window) { TopLevel::closeModal(window, howToOwner.exchange(nullptr)); }

const TopLevel::ModalWindow kHowToWindow{kHowToBackButtonId, drawBackground, drawBackground, closeHowTo, &howToWindow};

LRESULT CALLBACK howToProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return Panels::guarded(kClass, window, message, wParam, lParam, [&]() -> LRESULT {
    LRESULT result = 0;
    if (TopLevel::handleModal(kHowToWindow, window, message, wParam, result)) return result;
    return DefWindowProcW(window, message, wParam, lParam);
  });
}

bool createHowToUseDialog(HMODULE module, HWND owner) {
  Panels::registerWindowClass(module, kHowToDialogClass, howToProc, kClass,
                              "%s: Failed to register 'How to use forgot token' dialog class [0x%08x]");
  HWND window = TopLevel::createCentred(module, kHowToDialogClass, owner, kClass, "Failed in %s: 0x%08x");
  if (window == nullptr) return false;
  howToWindow = window;
  Button back;
  back.createButtonWindow(L"back", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_BITMAP, Panels::px(10), Panels::px(10),
                          Panels::px(30), Panels::px(30), window, kHowToBackButtonId, module,
                          loadSvgResource(module, kBackImageId));
  const int width = Panels::px(840);
  const int height = Panels::px(500);
  const int margin = Panels::px(20);
  HWND help = Panels::createLabel(window, module, Panels::text(kHelpTextId), 0, WS_CHILD | WS_VISIBLE | SS_NOPREFIX,
                                  margin, Panels::px(140), width - 2 * margin, height - Panels::px(140), 0,
                                  Panels::px(16) + 4, FW_NORMAL);
  if (help == nullptr) KV_LOG_LAST_ERROR("Failed in %s: 0x%08x", kClass);
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  if (back.button != nullptr) SetFocus(back.button);
  return true;
}

}  // namespace

void HowToUseForgotTokenDialog::start(HMODULE module) { start(module, nullptr); }

void HowToUseForgotTokenDialog::start(HMODULE module, HWND owner) {
  try {
    if (HWND open = howToWindow.load()) {
      if (IsWindow(open)) return;  // already shown by an outer call on this thread
    }
    // The dialog takes no input from the moment its modal window exists.
    if (owner != nullptr) {
      howToOwner = owner;
      EnableWindow(owner, FALSE);
    }
    if (!createHowToUseDialog(module, owner)) {
      howToWindow = nullptr;
      HWND stillOwner = howToOwner.exchange(nullptr);
      if (stillOwner != nullptr && IsWindow(stillOwner)) EnableWindow(stillOwner, TRUE);
      return;
    }
    HWND self = howToWindow.load();
    TopLevel::ModalLoop loop;
    loop.run(self);
    if (IsWindow(self)) closeHowTo(self);
    HWND stillOwner = howToOwner.exchange(nullptr);
    if (stillOwner != nullptr && IsWindow(stillOwner)) EnableWindow(stillOwner, TRUE);
    loop.repostQuit();
  } catch (...) {
    KV_LOG_ERROR("%s::start - exception - e.what(): %s", kClass, "unknown");
  }
}

HWND HowToUseForgotTokenDialog::window() {
  HWND window = howToWindow.load();
  return window != nullptr && IsWindow(window) ? window : nullptr;
}

}  // namespace View
}  // namespace Korvath
