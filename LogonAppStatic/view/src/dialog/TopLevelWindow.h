#pragma once

// The dialog thread's top-level windows: the MFA dialog and, over it, the About window and the
// forgot-token help window. The two over it are modal on the dialog thread: each runs a message
// loop of its own (ModalLoop) that serves every window of the thread, so the dialog keeps
// painting and answering messages sent to it from other threads (LogonUI, the push waiter's
// posts) and nothing can wait on a thread that waits for them. No thread is started or ended for
// them: they close by a posted WM_CLOSE, and a WM_QUIT that reaches their loop (the dialog
// closing for good) ends it and is posted again so that the dialog's own loop ends too.

#include <windows.h>

#include <atomic>

#include "Korvath/View/Images.h"

namespace Korvath {
namespace View {
namespace TopLevel {

// A window of class `className`, WS_EX_TOPMOST and WS_POPUP | WS_BORDER | WS_SYSMENU, titled as
// the dialog, 840·s × 500·s centred on the primary screen, owned by `owner`. Null when it cannot
// be made, logged with `failureFormat` ("... %s ... 0x%08x ...": `where`, the HRESULT).
HWND createCentred(HMODULE module, const wchar_t* className, HWND owner, const char* where, const char* failureFormat);

// The background picture (raw-data resource 119) over the whole 840·s × 500·s window and the
// logo (121) in `logo`, from the module the window was made with.
void drawBackground(HWND window, HDC dc, const DrawRect& logo);

// What a modal window answers alike: `paint` on WM_PAINT, `print` into the device context of
// WM_PRINTCLIENT (how the back button shows the picture behind its translucent image), the back
// button `backButtonId` posting WM_CLOSE, `close` on WM_CLOSE, the window forgotten in `current`
// when destroyed, and its static texts drawn transparently over the picture.
struct ModalWindow {
  UINT backButtonId;
  void (*paint)(HWND window, HDC dc);
  void (*print)(HWND window, HDC dc);
  void (*close)(HWND window);
  std::atomic<HWND>* current;
};
// True when `message` is one of those, its answer in `result`.
bool handleModal(const ModalWindow& modal, HWND window, UINT message, WPARAM wParam, LRESULT& result);

// Closes a modal window. The owner takes input again before its modal window goes, so that it,
// not some other window, is activated.
void closeModal(HWND window, HWND owner);

// The modal loop: serves every window of the thread until `window` is gone or a WM_QUIT arrives.
class ModalLoop {
 public:
  void run(HWND window);
  // Posts the WM_QUIT that ended the loop again, for the dialog's own loop; nothing otherwise.
  void repostQuit() const;

 private:
  bool quit_ = false;
  WPARAM quitCode_ = 0;
};

}  // namespace TopLevel
}  // namespace View
}  // namespace Korvath
