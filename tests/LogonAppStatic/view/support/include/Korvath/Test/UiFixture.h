#pragma once
// UI test fixture for the Windows flavour under Wine and Xvfb: a thread that owns the
// windows of a test, a driver that works them from the test's thread the way a user would
// (texts, keys, clicks, commands; every step waited for), and screen captures that can be
// checked pixel by pixel and saved as PNG under the build tree.

#include <windows.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace Korvath {
namespace Test {

// 32-bit pixels, top-down rows, each 0x00RRGGBB.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;

  bool empty() const { return pixels.empty(); }
  std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
  // Pixels of the rectangle (whole image by default) that are `rgb`.
  std::size_t count(std::uint32_t rgb, RECT area = RECT{0, 0, 0, 0}) const;
  // The part of the image inside `area`.
  Image crop(RECT area) const;
};

// Where `window` is in the client coordinates of `parent`.
RECT rectIn(HWND window, HWND parent);

// What the window shows now: its whole window rectangle (children included), or its client
// area; read back from the window's own surface, so it works on a virtual display too.
Image captureWindow(HWND window);
Image captureClient(HWND window);

// Saves an image as PNG with GDI+'s encoder. `path` is a Windows path.
bool savePng(const Image& image, const std::wstring& path);
// <KV_SCREENSHOT_DIR>\<name>.png (the folder is made when missing); KV_SCREENSHOT_DIR is set
// by the build for every UI test (docs/toolkit.md), else the current folder.
std::wstring screenshotPath(const std::wstring& name);
// captureWindow + savePng to screenshotPath(name).
bool saveScreenshot(HWND window, const std::wstring& name);

// GDI objects of this process: GetGuiResources where it answers (Windows). Wine's answers 0, so
// there it is the GDI handle table's slots in use (65,536 less the handles that can still be
// made, counted by making brushes until none is left, then freeing them). Compare counts, not
// values. (Windows a leaked thread keeps would be USER objects; the dialog's end with its thread.)
DWORD gdiObjects();

// A thread with a message loop that owns the windows a test makes. run() carries work out on
// it and waits; an exception thrown there is thrown again in the caller.
class UiThread {
 public:
  UiThread();
  ~UiThread();  // ends the loop and joins the thread
  UiThread(const UiThread&) = delete;
  UiThread& operator=(const UiThread&) = delete;

  void run(const std::function<void()>& work);
  template <typename F>
  auto call(F f) -> decltype(f()) {
    if constexpr (std::is_void_v<decltype(f())>) {
      run(f);
    } else {
      decltype(f()) result{};
      run([&] { result = f(); });
      return result;
    }
  }

 private:
  void loop();
  std::thread thread_;
  DWORD threadId_ = 0;
  HANDLE ready_ = nullptr;
};

// A top-level test window of the class "KvTestHost" (background 0xF0F0F0, default
// processing), visible, at (x, y) with the given outer size. Make it on the owning thread.
HWND createHostWindow(const wchar_t* title, int width, int height, int x = 0, int y = 0);

// Waits (at most `timeoutMs`) until a top-level window of `className` exists, e.g. the dialog
// that another thread is building; null on time-out.
HWND waitForWindow(const wchar_t* className, DWORD timeoutMs = 10000);

// Drives the windows of one thread from another thread. Every step that posts input ends by
// waiting until the window's thread has handled everything posted before (a sync message seen
// by a message hook on that thread); steps that send are synchronous anyway.
class WindowDriver {
 public:
  explicit WindowDriver(HWND window);  // window: the top-level window to drive
  ~WindowDriver();
  WindowDriver(const WindowDriver&) = delete;
  WindowDriver& operator=(const WindowDriver&) = delete;

  HWND window() const { return window_; }
  // Child control `id` of `parent` (default: the top-level window).
  HWND item(int id, HWND parent = nullptr) const;

  // Waits (at most `timeoutMs`) until the window's thread has handled every message posted
  // to it before this call. False on time-out: that thread is blocked.
  bool sync(DWORD timeoutMs = 10000);
  // Syncs until `condition` holds (work finished on another thread, such as a push result
  // posted back); false when it still does not after `timeoutMs`.
  bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000);

  void post(HWND target, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  LRESULT send(HWND target, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

  void setText(HWND target, const std::wstring& text);
  std::wstring text(HWND target) const;
  // Posts WM_CHAR for each character (as the keyboard gives them once a loop has translated the
  // keys), then syncs.
  bool type(HWND target, const std::wstring& characters);
  // Posts WM_KEYDOWN and WM_KEYUP of a virtual key, then syncs.
  bool key(HWND target, UINT virtualKey);
  // Posts BM_CLICK to the button, then syncs.
  bool click(HWND button);
  // Posts WM_COMMAND `id` to `target` (default: the top-level window), then syncs.
  bool command(int id, HWND target = nullptr);

  // The window with the keyboard focus on the driven thread.
  bool isEnabled(HWND target) const { return IsWindowEnabled(target) != FALSE; }
  HWND focus() const;

 private:
  HWND window_ = nullptr;
  DWORD threadId_ = 0;
  HHOOK hook_ = nullptr;
  HANDLE synced_ = nullptr;
};

}  // namespace Test
}  // namespace Korvath
