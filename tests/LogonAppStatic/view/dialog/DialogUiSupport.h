#pragma once
// The MFA dialog's window tests: one sign-in attempt, run by a gate thread exactly as the
// credential provider runs it (MfaDialog dialog(...); closeWindow(); start(); read the flag;
// tearDownMfaDialog()), worked from the test's thread as a user works it, against the simulator
// of the CTest fixture or, offline, a closed port.

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DialogSimSupport.h"
#include "Korvath/Test/UiFixture.h"
#include "ViewTestSupport.h"

namespace DialogUi {

using Korvath::Test::expectedScale;
using Korvath::Test::productModule;
// A text of KvCredProv.dll in the system's language.
std::wstring productText(UINT id);

// Runs `work` on the thread of `window` (a message hook there sees a message sent to it) and
// returns once it has run; false when it could not be run. For what only the window's own
// thread may do, such as laying out a panel's labels again.
bool runOnThreadOf(HWND window, const std::function<void()>& work);

// The "Static" children of `parent` in the order they were made; with `id` >= 0 only those of
// that id (an option button's label shares the button's id).
std::vector<HWND> statics(HWND parent, int id = -1);

class Attempt {
 public:
  // The gate on a thread of its own (LogonUI's thread, with a window of its own when asked);
  // returns once the dialog is shown or the gate has ended without one.
  explicit Attempt(std::vector<std::string> names, bool isRdp = false, bool logonUiWindow = false);
  // Closes whatever a test left open (the dialog, About) and joins the gate.
  ~Attempt();
  bool finished(DWORD timeoutMs = 20000);

  // The panel shown now (its id), 0 when none.
  UINT panel() const;
  // Control `id` of panel `panelId`, or of the dialog for 0.
  HWND item(int id, UINT panelId = 0) const;
  // Its text once everything posted to the dialog's thread is handled; "" when it is hidden.
  std::wstring shown(int id, UINT panelId = 0);
  // BM_CLICK on control `id`, then a sync.
  bool click(int id, UINT panelId = 0);

  std::atomic<bool> passed{false};
  std::atomic<bool> quitSeenAfterStart{false};
  std::atomic<HWND> logonUi{nullptr};
  std::atomic<DWORD> threadId{0};
  HWND dialog = nullptr;  // null when the gate ended without showing one
  std::unique_ptr<Korvath::Test::WindowDriver> driver;

 private:
  std::vector<std::string> names_;
  bool isRdp_;
  std::string clientIp_ = "10.1.2.3";
  HANDLE done_;
  std::thread thread_;
};

class DialogTest : public DialogSim::AgentSimTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Stored users with these factors and the last one used; the service cannot be reached, so
  // the stored factors count.
  void offlineWith(const std::string& login, bool push, bool qrcode, bool otp, const std::string& last,
                   bool forgotToken = true);
  // Moves the test's clock (the click timer's 100 ms, the forgot-token countdown).
  void advanceMs(std::uint64_t ms);
  // Clicks button `id` of panel `panelId` once the click timer of an earlier action has run out.
  bool press(Attempt& attempt, UINT panelId, int id);
  // The text of the QR code in `image`, read by zbarimg on the host; empty when none.
  std::string decodeQr(const Korvath::Test::Image& image, const std::wstring& name);

  const double s_ = expectedScale();
};

}  // namespace DialogUi
