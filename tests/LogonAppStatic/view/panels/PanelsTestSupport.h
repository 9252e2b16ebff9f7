#pragma once
// The panels' UI tests: each panel lives in a stand-in for the MFA dialog (a top-level window
// of the dialog's size that counts the WM_CLOSE it is sent instead of closing), on a UI thread
// of its own, with a real KvService holding the simulator's alice and talking to the simulator
// of the CTest fixture. The panels are worked from the test's thread with window messages, as
// a user works them.

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "Korvath/Service/KvService.h"
#include "Korvath/Test/UiFixture.h"
#include "Korvath/Timer.h"
#include "ServicesTestSupport.h"

namespace PanelsTest {

// The UI scale factor the run expects (1, or 1.5 on the 2880 x 1620 desktop: KV_EXPECT_SCALE).
double expectedScale();

// A stand-in for the MFA dialog on the calling thread: a top-level window of the dialog's size
// and styles that counts the WM_CLOSE it gets (PanelSim::closes) instead of closing.
HWND createStandInDialog();

class PanelSim : public ServicesTest::ServiceSimTestBase {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs `make` on the UI thread (where the panel's windows must live) and returns it.
  template <typename Panel, typename Make>
  std::unique_ptr<Panel> create(Make make) {
    std::unique_ptr<Panel> panel;
    ui_.run([&] {
      panel.reset(new Panel());
      make(*panel);
    });
    return panel;
  }
  // Destroys a panel on the UI thread, as the panels manager does.
  template <typename Panel>
  void destroy(std::unique_ptr<Panel>& panel) {
    ui_.run([&] { panel.reset(); });
  }

  // The WM_CLOSE messages the stand-in dialog received (a panel that signed the user in),
  // once everything posted to it so far has been handled.
  int closes();
  bool validated() const;
  void resetValidated();
  // Text of control `id` of `panel`, "" when the control is hidden, once everything posted to
  // the panels' thread so far has been handled.
  std::wstring shown(HWND panel, int id);
  // Types `characters` into a control as the keyboard does once the message loop has
  // translated the keys (WM_CHAR each), then waits until they are handled.
  bool typeText(HWND control, const std::wstring& characters);
  // Clicks button `id` of `panel` once the click timer of an earlier action has run out.
  bool press(HWND panel, int id);
  // True when the text of an edit box fits inside the box in its font.
  bool showsItsTextWhole(HWND edit);
  // Moves the test's clock (the click timer's 100 ms, the forgot-token countdown).
  void advanceMs(std::uint64_t ms);
  // Decides every push made afterwards for `login` after `afterPolls` waiting answers.
  void planPush(const std::string& login, const std::string& decision, unsigned afterPolls = 0);
  // Decides the push `transactionId` now.
  void decidePush(const std::string& transactionId, const std::string& decision);
  // /_sim/pushes: the pushes since the reset.
  std::string pushes();
  // The number of polls the simulator answered for its pushes so far.
  unsigned pushPolls();
  // Recorded cloud requests whose path ends with `part`.
  std::size_t requestsTo(const std::string& part) { return recorded(part).size(); }
  // Paints, on the UI thread, what is waiting to be painted in `window` and its children (from
  // another thread a repaint may still be under way when the screen is read).
  void paintNow(HWND window);
  // Saves a screenshot of `window` as <name>-<locale>[@1.5x].png, once every pending paint
  // of its thread is done.
  void shoot(HWND window, const std::wstring& name);
  // The text of the QR code in `image`, read by zbarimg on the host; empty when none.
  std::string decodeQr(const Korvath::Test::Image& image, const std::wstring& name);
  // The stored user alice with her mobile authenticator (the simulator's secret).
  static Korvath::Model::UserConfig storedAlice();

  Korvath::Test::UiThread ui_;
  HWND dialog_ = nullptr;
  std::unique_ptr<Korvath::Test::WindowDriver> driver_;
  Korvath::Service::KvService service_;
  std::atomic<bool> internet_{true};
  Korvath::Utils::Timer clickTimer_;
  HMODULE module_ = nullptr;
};

}  // namespace PanelsTest
