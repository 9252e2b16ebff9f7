#include "Korvath/Test/UiFixture.h"

#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <stdexcept>

#include "Korvath/View/Images.h"

namespace Korvath {
namespace Test {

namespace {

constexpr UINT kRunMessage = WM_APP + 0x4B;

UINT syncMessage() {
  static const UINT message = RegisterWindowMessageW(L"KvUiTestSync");
  return message;
}

// Sees every message the driven thread takes from its queue; the sync message carries the
// event to set, and arrives only after everything posted before it has been handled.
LRESULT CALLBACK syncHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && wParam == PM_REMOVE) {
    auto* msg = reinterpret_cast<MSG*>(lParam);
    if (msg->message == syncMessage()) {
      SetEvent(reinterpret_cast<HANDLE>(msg->lParam));
      msg->message = WM_NULL;
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

struct Task {
  const std::function<void()>* work;
  std::exception_ptr error;
  HANDLE done;
};

Image readBack(HWND window, bool whole) {
  Image image;
  RECT rect{};
  if (whole) {
    GetWindowRect(window, &rect);
    OffsetRect(&rect, -rect.left, -rect.top);
  } else {
    GetClientRect(window, &rect);
  }
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return image;
  HDC source = whole ? GetWindowDC(window) : GetDC(window);
  if (source == nullptr) return image;
  BITMAPINFO info{{sizeof(BITMAPINFOHEADER), width, -height /* top-down */, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC memory = CreateCompatibleDC(source);
  if (dib != nullptr && memory != nullptr) {
    HGDIOBJ old = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    GdiFlush();
    const auto* words = static_cast<const std::uint32_t*>(bits);
    image.width = width;
    image.height = height;
    image.pixels.assign(words, words + static_cast<std::size_t>(width) * height);
    for (auto& pixel : image.pixels) pixel &= 0x00FFFFFF;
    SelectObject(memory, old);
  }
  if (memory != nullptr) DeleteDC(memory);
  if (dib != nullptr) DeleteObject(dib);
  ReleaseDC(window, source);
  return image;
}

RECT clampArea(const Image& image, RECT area) {
  if (area.right <= area.left || area.bottom <= area.top) return RECT{0, 0, image.width, image.height};
  area.left = std::max<LONG>(area.left, 0);
  area.top = std::max<LONG>(area.top, 0);
  area.right = std::min<LONG>(area.right, image.width);
  area.bottom = std::min<LONG>(area.bottom, image.height);
  return area;
}

}  // namespace

std::size_t Image::count(std::uint32_t rgb, RECT area) const {
  const Image part = crop(area);
  return static_cast<std::size_t>(std::count(part.pixels.begin(), part.pixels.end(), rgb));
}

Image Image::crop(RECT area) const {
  area = clampArea(*this, area);
  Image part{area.right - area.left, area.bottom - area.top, {}};
  for (LONG y = area.top; y < area.bottom; ++y)
    part.pixels.insert(part.pixels.end(), pixels.data() + y * width + area.left,
                       pixels.data() + y * width + area.right);
  return part;
}

RECT rectIn(HWND window, HWND parent) {
  RECT r{};
  GetWindowRect(window, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

Image captureWindow(HWND window) { return readBack(window, true); }
Image captureClient(HWND window) { return readBack(window, false); }

bool savePng(const Image& image, const std::wstring& path) {
  if (image.empty() || !View::startGdiPlus()) return false;
  // The PNG encoder's class identifier, as GDI+ documents it.
  const CLSID png = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
  Gdiplus::GpBitmap* bitmap = nullptr;
  std::vector<std::uint32_t> pixels(image.pixels);
  if (Gdiplus::DllExports::GdipCreateBitmapFromScan0(image.width, image.height, image.width * 4, PixelFormat32bppRGB,
                                                     reinterpret_cast<BYTE*>(pixels.data()), &bitmap) != Gdiplus::Ok) {
    return false;
  }
  const bool saved = Gdiplus::DllExports::GdipSaveImageToFile(bitmap, path.c_str(), &png, nullptr) == Gdiplus::Ok;
  Gdiplus::DllExports::GdipDisposeImage(bitmap);
  return saved;
}

std::wstring screenshotPath(const std::wstring& name) {
  wchar_t buffer[MAX_PATH] = {};
  std::wstring dir;
  if (GetEnvironmentVariableW(L"KV_SCREENSHOT_DIR", buffer, MAX_PATH) > 0) dir = buffer;
  if (dir.empty()) return name + L".png";
  // Make every missing folder of the path.
  for (std::size_t at = 3; at <= dir.size(); ++at)
    if (at == dir.size() || dir[at] == L'\\' || dir[at] == L'/') CreateDirectoryW(dir.substr(0, at).c_str(), nullptr);
  return dir + L"\\" + name + L".png";
}

bool saveScreenshot(HWND window, const std::wstring& name) {
  return savePng(captureWindow(window), screenshotPath(name));
}

DWORD gdiObjects() {
  if (const DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) return counted;
  // The handles this process can still make, by making brushes until none is left.
  constexpr std::size_t kGdiSlots = 65536;
  std::vector<HBRUSH> brushes;
  for (HBRUSH b; brushes.size() < kGdiSlots && (b = CreateSolidBrush(RGB(1, 2, 3))) != nullptr;) brushes.push_back(b);
  for (HBRUSH brush : brushes) DeleteObject(brush);
  return static_cast<DWORD>(kGdiSlots - brushes.size());
}

UiThread::UiThread() {
  ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  thread_ = std::thread([this] { loop(); });
  WaitForSingleObject(ready_, INFINITE);
}

UiThread::~UiThread() {
  PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
  if (thread_.joinable()) thread_.join();
  CloseHandle(ready_);
}

void UiThread::loop() {
  MSG msg;
  // Makes the thread's queue before anyone posts to it.
  PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  threadId_ = GetCurrentThreadId();
  SetEvent(ready_);
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.hwnd == nullptr && msg.message == kRunMessage) {
      auto* task = reinterpret_cast<Task*>(msg.lParam);
      try {
        (*task->work)();
      } catch (...) {
        task->error = std::current_exception();
      }
      SetEvent(task->done);
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void UiThread::run(const std::function<void()>& work) {
  Task task{&work, nullptr, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  if (!PostThreadMessageW(threadId_, kRunMessage, 0, reinterpret_cast<LPARAM>(&task))) {
    CloseHandle(task.done);
    throw std::runtime_error("UiThread: cannot post to the UI thread");
  }
  WaitForSingleObject(task.done, INFINITE);
  CloseHandle(task.done);
  if (task.error) std::rethrow_exception(task.error);
}

HWND createHostWindow(const wchar_t* title, int width, int height, int x, int y) {
  // clang-format off
  static const WNDCLASSEXW wc{sizeof(WNDCLASSEXW), CS_HREDRAW | CS_VREDRAW, DefWindowProcW, 0, 0,
                              GetModuleHandleW(nullptr), nullptr, LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)),
                              CreateSolidBrush(RGB(0xF0, 0xF0, 0xF0)), nullptr, L"KvTestHost", nullptr};
  // clang-format on
  static const ATOM registered = RegisterClassExW(&wc);
  (void)registered;
  HWND window = CreateWindowExW(0, L"KvTestHost", title, WS_POPUP | WS_BORDER | WS_VISIBLE, x, y, width, height,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window != nullptr) UpdateWindow(window);
  return window;
}

HWND waitForWindow(const wchar_t* className, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (HWND window = FindWindowW(className, nullptr)) return window;
    if (GetTickCount64() >= end) return nullptr;
    Sleep(5);
  }
}

WindowDriver::WindowDriver(HWND window) : window_(window) {
  threadId_ = GetWindowThreadProcessId(window, nullptr);
  synced_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  hook_ = SetWindowsHookExW(WH_GETMESSAGE, syncHook, nullptr, threadId_);
}

WindowDriver::~WindowDriver() {
  if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
  CloseHandle(synced_);
}

HWND WindowDriver::item(int id, HWND parent) const { return GetDlgItem(parent != nullptr ? parent : window_, id); }

bool WindowDriver::sync(DWORD timeoutMs) {
  if (hook_ == nullptr) return false;
  ResetEvent(synced_);
  if (!PostMessageW(window_, syncMessage(), 0, reinterpret_cast<LPARAM>(synced_))) return false;
  return WaitForSingleObject(synced_, timeoutMs) == WAIT_OBJECT_0;
}

bool WindowDriver::waitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (!sync(timeoutMs)) return false;
    if (condition()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(5);
  }
}

void WindowDriver::post(HWND target, UINT message, WPARAM wParam, LPARAM lParam) {
  PostMessageW(target, message, wParam, lParam);
}

LRESULT WindowDriver::send(HWND target, UINT message, WPARAM wParam, LPARAM lParam) const {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(target, message, wParam, lParam, SMTO_NORMAL, 10000, &result);
  return static_cast<LRESULT>(result);
}

void WindowDriver::setText(HWND target, const std::wstring& text) {
  send(target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::wstring WindowDriver::text(HWND target) const {
  wchar_t buffer[2048] = {};
  return std::wstring(buffer,
                      static_cast<std::size_t>(send(target, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer))));
}

bool WindowDriver::type(HWND target, const std::wstring& characters) {
  for (wchar_t c : characters) post(target, WM_CHAR, c, 1);
  return sync();
}

bool WindowDriver::key(HWND target, UINT virtualKey) {
  post(target, WM_KEYDOWN, virtualKey, 1);
  post(target, WM_KEYUP, virtualKey, static_cast<LPARAM>(0xC0000001));
  return sync();
}

bool WindowDriver::click(HWND button) {
  post(button, BM_CLICK);
  return sync();
}

bool WindowDriver::command(int id, HWND target) {
  post(target != nullptr ? target : window_, WM_COMMAND, static_cast<WPARAM>(id), 0);
  return sync();
}

HWND WindowDriver::focus() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(threadId_, &info) ? info.hwndFocus : nullptr;
}

}  // namespace Test
}  // namespace Korvath
