// The About window. It runs modally on the dialog thread (TopLevelWindow.h): start() disables
// the dialog, runs a loop of its own until the About window is gone and enables the dialog
// again. The dialog thread therefore never stops answering messages (push results, the gate's
// close, anyone's SendMessage), and no thread is ever ended from a window procedure.

#include "Korvath/View/AboutDialog.h"

#include <atomic>
#include <exception>
#include <string>

#include "DialogWindowState.h"
#include "Korvath/Logger.h"
#include "Korvath/Utils/LanguageUtil.h"
#include "Korvath/View/AboutLogic.h"
#include "Korvath/View/Button.h"
#include "Korvath/View/CommonControls.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/Images.h"
#include "Korvath/View/ViewUtils.h"
#include "ResourceIds.h"
#include "TextFit.h"
#include "TopLevelWindow.h"
#include "Win32Helpers.h"
#include "panels/PanelCommon.h"

namespace Korvath {
namespace View {

namespace {

const char* const kAbout = "Korvath::View::AboutDialog";

using Panels::px;

// The About window while it is open (made and closed on the dialog thread).
std::atomic<HWND> aboutWindow{nullptr};

std::u16string lookup(int id) {
  const std::wstring text = Korvath::Utils::LanguageUtil::GetWText(static_cast<UINT>(id));
  return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

std::wstring wide(const std::u16string& text) { return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size()); }

// The background and the logo.
void drawBackground(HWND window, HDC dc) {
  DrawRect logo;
  logo.x = static_cast<std::uint16_t>(px(840) / 2 - px(251) / 2);
  logo.y = static_cast<std::uint16_t>(px(110));
  logo.width = static_cast<std::uint16_t>(px(251));
  logo.height = static_cast<std::uint16_t>(px(72));
  TopLevel::drawBackground(window, dc, logo);
}

void paintBackground(HWND window, HDC dc) {
  KV_LOG_DEBUG("%s::drawBackground - Setting panel image.", kAbout);
  drawBackground(window, dc);
}

void closeAbout(HWND window) { TopLevel::closeModal(window, dialogWindowState().window.load()); }

const TopLevel::ModalWindow kAboutWindow{kAboutBackButtonId, paintBackground, drawBackground, closeAbout, &aboutWindow};

LRESULT CALLBACK aboutProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    LRESULT result = 0;
    if (TopLevel::handleModal(kAboutWindow, window, message, wParam, result)) return result;
  } catch (const std::exception& e) {
    KV_LOG_ERROR("%s::aboutProc - exception - e.what(): %s", kAbout, e.what());
    if (message == WM_CLOSE) {
      DestroyWindow(window);
      return 0;
    }
  } catch (...) {
    KV_LOG_ERROR("%s::aboutProc - unknown exception", kAbout);
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND addLabel(HWND parent, HMODULE module, const std::wstring& text, DWORD style, int x, int y, int width, int height,
              int fontHeight) {
  HWND label = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TRANSPARENT, L"STATIC", text.c_str(), WS_CHILD | WS_VISIBLE | style, x,
                               y, width, height, parent, nullptr, module, nullptr);
  if (label == nullptr) {
    KV_LOG_LAST_ERROR("Failed in %s: 0x%08x", "Korvath::View::AboutDialog::createAboutDialog");
    return nullptr;
  }
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(Utils::Font::createFont(fontHeight, 400)), TRUE);
  return label;
}

HWND createAboutDialog(const Service::ServiceResponseAbout& about, HMODULE module) {
  CommonControlsScope controls(module);
  // Unlogged: an existing class is the one registered before.
  Panels::registerWindowClass(module, kAboutDialogClass, aboutProc, nullptr, nullptr);
  HWND window = TopLevel::createCentred(module, kAboutDialogClass, nullptr,
                                        "Korvath::View::AboutDialog::createAboutDialog", "Failed in %s: 0x%08x");
  if (window == nullptr) return nullptr;
  const int width = px(840);
  Button back;
  back.createButtonWindow(L"back", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_BITMAP, px(10), px(10), px(30), px(30),
                          window, kAboutBackButtonId, module, loadSvgResource(module, KV_IDR_SVG_BACK_ABOUT));
  const int s16 = px(16);
  const int s32 = px(32);
  const int versionTop = px(110) + px(72) + px(40);
  const int versionHeight = static_cast<int>(1.3 * s32);
  // Each label takes the height its text needs (Thai lines are higher than the design's),
  // the notice staying below the version and the support lines at the bottom.
  HWND version = addLabel(window, module, wide(aboutVersionText(lookup)), SS_CENTER, 0, versionTop, width, versionHeight, s32);
  fitLabelToText(version, false);
  const RECT below = version != nullptr ? Panels::rectInParent(version) : RECT{0, versionTop + versionHeight, 0, 0};
  HWND notice = addLabel(window, module, wide(aboutNoticeText(lookup(418))), SS_CENTER, 0, below.bottom + s16, width, 2 * s16, s16);
  fitLabelToText(notice, false);
  RECT client{};
  GetClientRect(window, &client);
  HWND support = addLabel(window, module, wide(aboutSupportText(lookup, about)), WS_SYSMENU, px(20),
                          client.bottom - px(5) - 3 * s16, px(800), 3 * s16, s16);
  fitLabelToText(support, true);
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  return window;
}

}  // namespace

void AboutDialog::start(const Service::ServiceResponseAbout& about, HMODULE module) {
  try {
    if (aboutWindow.load() != nullptr) return;  // one About window at a time
    HWND dialog = dialogWindowState().window.load();
    HWND window = createAboutDialog(about, module);
    if (window == nullptr) return;
    aboutWindow = window;
    if (dialog != nullptr) EnableWindow(dialog, FALSE);
    TopLevel::ModalLoop loop;
    loop.run(window);
    if (IsWindow(window)) closeAbout(window);
    if (dialog != nullptr && IsWindow(dialog)) EnableWindow(dialog, TRUE);
    aboutWindow = nullptr;
    // The dialog's loop must see the quit message too (the dialog closed meanwhile).
    loop.repostQuit();
  } catch (const std::exception& e) {
    KV_LOG_ERROR("%s::start - exception - e.what(): %s", kAbout, e.what());
  }
}

HWND AboutDialog::window() { return aboutWindow.load(); }

}  // namespace View
}  // namespace Korvath
