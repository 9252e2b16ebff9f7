#include "PanelsTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "CloudTestSupport.h"
#include "Korvath/HttpsExchange.h"
#include "Korvath/Utils/LanguageUtil.h"
#include "Korvath/View/AboutDialog.h"
#include "Korvath/View/DialogState.h"
#include "Korvath/View/ViewUtils.h"
#include "QrForgotServiceTestSupport.h"
#include "ViewTestSupport.h"

using namespace Korvath;
using namespace Korvath::Test;

namespace PanelsTest {

namespace {

std::atomic<int> dialogCloses{0};

LRESULT CALLBACK standInProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    ++dialogCloses;
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

HWND createStandInDialog() {
  static HBRUSH background = CreateSolidBrush(0xF0F0F0);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = standInProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = background;
  wc.lpszClassName = L"KvPanelsTestDialog";
  RegisterClassExW(&wc);
  const double s = View::Utils::getScaleFactor();
  const int w = static_cast<int>(s * 840);
  const int h = static_cast<int>(s * 500);
  HWND window = CreateWindowExW(WS_EX_TOPMOST, L"KvPanelsTestDialog", L"Pellora Agent for Windows",
                                WS_POPUP | WS_BORDER | WS_SYSMENU, GetSystemMetrics(SM_CXSCREEN) / 2 - w / 2,
                                GetSystemMetrics(SM_CYSCREEN) / 2 - h / 2, w, h, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  // The dialog's "Sign-in Options" label as the dialog makes it: its bottom at s·387, as high as
  // its text, so that it reaches up into the bottom of the panel's area.
  const std::wstring caption = Utils::LanguageUtil::GetWText(442);
  HFONT font = View::Utils::Font::createFont(static_cast<int>(s * 16) + 1, FW_NORMAL);
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, font);
  RECT text{0, 0, static_cast<int>(s * 200), 0};
  DrawTextW(dc, caption.c_str(), -1, &text, DT_CALCRECT | DT_WORDBREAK);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  const int bottom = static_cast<int>(s * 390) - static_cast<int>(s * 20) + static_cast<int>(s * 16) + 1;
  const int height = std::max<int>(text.bottom, static_cast<int>(s * 16) + 1);
  HWND label = CreateWindowExW(0, L"STATIC", caption.c_str(), WS_CHILD | WS_VISIBLE, static_cast<int>(s * 15) + static_cast<int>(s * 420),
                               bottom - height, static_cast<int>(s * 200), height, window,
                               reinterpret_cast<HMENU>(static_cast<UINT_PTR>(215)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  return window;
}

namespace {

std::uint64_t realNow() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

std::string control(std::uint16_t port, const std::string& method, const std::string& path, const std::string& body) {
  Cloud::HttpsExchange exchange;
  EXPECT_EQ(0u, exchange.open("localhost", port, method, path, {"Content-Type: application/json", "Accept: application/json"}));
  const Cloud::HttpsResult answer = exchange.sendAndReceive(body);
  EXPECT_TRUE(answer.answered());
  EXPECT_EQ(200u, answer.httpStatus) << answer.body;
  return answer.body;
}

std::wstring localeTag() {
  const char* all = std::getenv("LC_ALL");
  std::string tag = all != nullptr ? all : "en_US";
  tag = tag.substr(0, tag.find('.'));
  return std::wstring(tag.begin(), tag.end());
}

// The Unix path of a Windows path (Wine's own mapping).
std::string unixPath(const std::wstring& path) {
  using Convert = char*(__cdecl*)(const wchar_t*);
  auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (convert == nullptr) return std::string();
  char* unix = convert(path.c_str());
  if (unix == nullptr) return std::string();
  std::string result(unix);
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

}  // namespace

double expectedScale() {
  const char* value = std::getenv("KV_EXPECT_SCALE");
  return value != nullptr ? std::strtod(value, nullptr) : 1.0;
}

Model::UserConfig PanelSim::storedAlice() {
  Model::UserConfig alice = QrForgotServiceTest::qrUser("alice", true, true, true, {QrForgotServiceTest::mobile(1001)});
  alice.setEmail("alice@sim.example");
  return alice;
}

void PanelSim::SetUp() {
  ServiceSimTestBase::SetUp();
  // Real time: the simulator checks QR answers and dates forgot-token periods by its clock.
  clock_.set(realNow());
  module_ = productModule();
  ASSERT_NE(module_, nullptr) << "KvCredProv.dll";
  Utils::LanguageUtil::setResourceModule(module_);
  QrForgotServiceTest::fillQrForgotService(service_, dir_.file("kvconfig.cfg"), {storedAlice()});
  service_.getConfig().setLastSync(clock_.nowFileTime());
  View::dialogState().validated = false;
  dialogCloses = 0;
  dialog_ = ui_.call([] { return createStandInDialog(); });
  ASSERT_NE(dialog_, nullptr);
  driver_.reset(new WindowDriver(dialog_));
}

void PanelSim::TearDown() {
  driver_.reset();
  ui_.run([this] { DestroyWindow(dialog_); });
  View::dialogState().validated = false;
  Utils::LanguageUtil::setResourceModule(nullptr);
  ServiceSimTestBase::TearDown();
}

int PanelSim::closes() {
  driver_->sync();
  return dialogCloses.load();
}

bool PanelSim::validated() const { return View::dialogState().validated.load(); }

void PanelSim::resetValidated() { View::dialogState().validated = false; }

std::wstring PanelSim::shown(HWND panel, int id) {
  driver_->sync();
  HWND control = GetDlgItem(panel, id);
  if (control == nullptr || !IsWindowVisible(control)) return std::wstring();
  return driver_->text(control);
}

bool PanelSim::typeText(HWND control, const std::wstring& characters) {
  for (wchar_t c : characters) driver_->post(control, WM_CHAR, c, 1);
  return driver_->sync();
}

bool PanelSim::press(HWND panel, int id) {
  advanceMs(100);
  return driver_->click(driver_->item(id, panel));
}

bool PanelSim::showsItsTextWhole(HWND edit) {
  return ui_.call([&] {
    HDC dc = GetDC(edit);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0)));
    wchar_t text[64] = {};
    SIZE size{};
    GetTextExtentPoint32W(dc, text, GetWindowTextW(edit, text, 64), &size);
    SelectObject(dc, old);
    ReleaseDC(edit, dc);
    RECT client;
    GetClientRect(edit, &client);
    return size.cx <= client.right;
  });
}

void PanelSim::advanceMs(std::uint64_t ms) { clock_.set(clock_.nowFileTime() + ms * 10000ull); }

void PanelSim::planPush(const std::string& login, const std::string& decision, unsigned afterPolls) {
  control(port_, "POST", "/_sim/push",
          "{\"login\":" + CloudTest::quote(login) + ",\"decision\":" + CloudTest::quote(decision) +
              ",\"afterPolls\":" + std::to_string(afterPolls) + "}");
}

void PanelSim::decidePush(const std::string& transactionId, const std::string& decision) {
  control(port_, "POST", "/_sim/push",
          "{\"transactionId\":" + CloudTest::quote(transactionId) + ",\"decision\":" + CloudTest::quote(decision) + "}");
}

std::string PanelSim::pushes() { return control(port_, "GET", "/_sim/pushes", ""); }

unsigned PanelSim::pushPolls() {
  const std::string list = pushes();
  unsigned polls = 0;
  for (std::size_t at = list.find("\"polls\":"); at != std::string::npos; at = list.find("\"polls\":", at + 1)) {
    polls += static_cast<unsigned>(std::strtoul(list.c_str() + at + 8, nullptr, 10));
  }
  return polls;
}

void PanelSim::paintNow(HWND window) {
  if (View::HowToUseForgotTokenDialog::window() != nullptr) {
    // The help window's own loop serves the UI thread now and takes no work from ui_.
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    driver_->sync();
    return;
  }
  ui_.run([&] {
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    GdiFlush();
  });
}

void PanelSim::shoot(HWND window, const std::wstring& name) {
  std::wstring file = name + L"-" + localeTag();
  if (expectedScale() != 1.0) file += L"@1.5x";
  paintNow(window);
  EXPECT_TRUE(saveScreenshot(window, file)) << std::string(file.begin(), file.end());
}

std::string PanelSim::decodeQr(const Image& image, const std::wstring& name) {
  // The dialog's background around the code, as far as a scanner needs a quiet zone.
  const int margin = 40;
  Image framed;
  framed.width = image.width + 2 * margin;
  framed.height = image.height + 2 * margin;
  framed.pixels.assign(static_cast<std::size_t>(framed.width) * framed.height, 0xF0F0F0);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      framed.pixels[static_cast<std::size_t>(y + margin) * framed.width + x + margin] = image.at(x, y);
    }
  }
  const std::wstring png = screenshotPath(name);
  if (!savePng(framed, png)) return std::string();
  const std::wstring out = png + L".txt";
  DeleteFileW(out.c_str());
  const std::string pngUnix = unixPath(png);
  const std::string outUnix = unixPath(out);
  if (pngUnix.empty() || outUnix.empty()) return std::string();
  // zbarimg is a host program: Wine starts it, without a handle to wait on, so the result is
  // written to a file under another name and renamed when complete.
  const std::string script = "zbarimg --raw -q '" + pngUnix + "' > '" + outUnix + ".part'; mv '" + outUnix +
                             ".part' '" + outUnix + "'";
  std::wstring commandLine = L"/bin/sh -c \"" + std::wstring(script.begin(), script.end()) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(L"Z:\\bin\\sh", &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ADD_FAILURE() << "cannot start zbarimg: " << GetLastError();
    return std::string();
  }
  if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  if (process.hThread != nullptr) CloseHandle(process.hThread);
  for (int wait = 0; wait < 600 && GetFileAttributesW(out.c_str()) == INVALID_FILE_ATTRIBUTES; ++wait) Sleep(50);
  std::ifstream file(std::filesystem::path(out), std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  std::string decoded = text.str();
  while (!decoded.empty() && (decoded.back() == '\n' || decoded.back() == '\r')) decoded.pop_back();
  return decoded;
}

}  // namespace PanelsTest
