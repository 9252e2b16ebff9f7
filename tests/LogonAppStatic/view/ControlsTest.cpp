// Image buttons, the check box, edit boxes and common controls 6, created on a UI thread and
// worked from the test's thread. (The dialog's tests show them in place, and count handles.)
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "Korvath/Test/UiFixture.h"
#include "Korvath/View/Button.h"
#include "Korvath/View/Checkbox.h"
#include "Korvath/View/Editbox.h"
#include "Korvath/View/ViewUtils.h"
#include "ViewTestSupport.h"

using namespace Korvath::Test;
using namespace Korvath::View;

namespace {

class Controls : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = ui_.call([this] { return createHostWindow(L"controls", int(s_ * 840), int(s_ * 500)); });
    ASSERT_NE(host_, nullptr);
  }
  void TearDown() override {
    ui_.run([this] { DestroyWindow(host_); });
  }
  const double s_ = Utils::getScaleFactor();
  UiThread ui_;
  HWND host_ = nullptr;
};

// The test image (900: blue square, red circle) is on the button, nothing painted over it.
bool showsImage(HWND button) {
  const Image face = captureClient(button);
  return !face.empty() && face.count(0xFF00FF) == 0 && face.count(0x1E5AA8) > face.pixels.size() / 3 &&
         face.count(0xD02020) > 0;
}

TEST_F(Controls, ImageButtonComesBackAfterEveryKindOfRepaint) {
  const std::size_t before = imageButtonCount();
  Button a, b;
  ui_.run([&] {
    for (Button* button : {&a, &b})
      button->createButtonWindow(L"Push", WS_CHILD | WS_VISIBLE | BS_BITMAP, button == &a ? 20 : 120, 20, 81, 58, host_,
                                 210, testModule(), loadSvgResource(testModule(), 900));
  });
  ASSERT_EQ(a.error, S_OK);
  EXPECT_EQ(imageButtonCount(), before + 2);
  WindowDriver driver(host_);
  EXPECT_TRUE(driver.waitUntil([&] { return showsImage(a.button); }, 3000));
  // Wine's button repaints its plain face through WM_PAINT after a press, a click, focus or
  // enabling, which the image button's WM_PAINT draws over; the frame (WM_NCPAINT) and a repaint
  // by the system are the ways the image can be lost.
  const struct {
    const char* name;
    UINT message;
  } steps[] = {{"non-client repaint", WM_NCPAINT}, {"system repaint without WM_NCPAINT", 0}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    // Paints over the button's pixels directly, as another window or a stale surface would.
    ui_.run([&] {
      HDC dc = GetDC(a.button);
      RECT r{0, 0, 81, 58};
      HBRUSH brush = CreateSolidBrush(RGB(0xFF, 0x00, 0xFF));
      FillRect(dc, &r, brush);
      DeleteObject(brush);
      ReleaseDC(a.button, dc);
    });
    if (step.message != 0) {
      driver.post(a.button, step.message, 1);
    } else {
      InvalidateRect(a.button, nullptr, FALSE);
    }
    // Some repaints reach the button a moment after the step (focus changes, Wine's X round trips).
    EXPECT_TRUE(driver.waitUntil([&] { return showsImage(a.button); }, 3000));
  }
  EXPECT_TRUE(driver.waitUntil([&] { return showsImage(b.button); }, 3000)) << "the other button has its own face";
  ui_.run([&] {
    DestroyWindow(a.button);
    DestroyWindow(b.button);
  });
  EXPECT_EQ(imageButtonCount(), before);
}

TEST_F(Controls, CheckboxShrinksItsTextUntilItFitsAndStopsWhenItCannot) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  const struct {
    const char* name;
    int parentWidth;
    std::wstring text;
    bool shrunk, fits;
  } cases[] = {
      {"fits as it is", int(s_ * 380), L"Automatically send a push", false, true},
      {"too wide", int(s_ * 380), std::wstring(36, L'W'), true, true},
      {"can never fit", 200, std::wstring(2000, L'W'), true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Checkbox box = ui_.call([&] {
      HWND panel = CreateWindowExW(0, L"KvTestHost", L"", WS_CHILD | WS_VISIBLE, int(s_ * 440), 10, c.parentWidth,
                                   int(s_ * 360), host_, nullptr, GetModuleHandleW(nullptr), nullptr);
      Checkbox b;
      b.createCheckboxWindow(c.text.c_str(), int(s_ * 240), panel, testModule());
      return b;
    });
    ASSERT_EQ(box.error, S_OK);
    EXPECT_EQ(box.fontSize < int(s_ * 16), c.shrunk);
    EXPECT_EQ(box.fontSize == kCheckboxMinFontSize, !c.fits);
    const RECT panel = rectIn(box.parent, host_), square = rectIn(box.checkbox, host_),
               label = rectIn(box.label, host_);
    EXPECT_EQ(square.bottom - square.top, checkboxBoxHeight(s_, dpi));
    // Centred: the same room left and right, give or take the halving.
    if (c.fits) {
      EXPECT_NEAR(square.left - panel.left, panel.right - label.right, 1);
    }
    if (!c.shrunk) {
      EXPECT_TRUE(saveScreenshot(host_, L"checkbox"));
    }
    ui_.run([&] { DestroyWindow(box.parent); });
  }
}

TEST(ScaleAndDpi, ScaleFactorAndCheckboxHeightFollowTheScreen) {
  const struct {
    int height;
    double s;
  } scales[] = {{720, 1.0}, {1080, 1.0}, {1200, 1200.0 / 1080}, {1620, 1.5}, {2160, 2.0}};
  for (const auto& c : scales) EXPECT_DOUBLE_EQ(Utils::scaleFactorForScreenHeight(c.height), c.s) << c.height;
  // 1 on the build's 1080-pixel display, 1.5 when CTest runs the suite on a 2880 x 1620 screen.
  EXPECT_DOUBLE_EQ(Utils::getScaleFactor(), expectedScale());
  const struct {
    double s;
    int dpi, height;
  } boxes[] = {{1.0, 72, 16},  {1.0, 96, 16}, {1.0, 120, 16}, {1.0, 144, 18},
               {1.0, 192, 21}, {1.5, 96, 24}, {1.5, 144, 26}};
  for (const auto& c : boxes) EXPECT_EQ(checkboxBoxHeight(c.s, c.dpi), c.height) << c.s << " at " << c.dpi << " DPI";
}

// Cue banners need common controls 6: the module's manifest is activated around the creation.
TEST_F(Controls, CueBannerNeedsTheManifestOfTheDialogModule) {
  for (HMODULE module : {productModule(), HMODULE(nullptr)}) {
    wchar_t cue[64] = {};
    const bool hasCue = ui_.call([&] {
      Editbox box(WS_CHILD | WS_VISIBLE | WS_BORDER | ES_NUMBER, 10, 100, 196, 20, host_, 242, module, L" Code");
      const bool answered = SendMessageW(box.window(), EM_GETCUEBANNER, reinterpret_cast<WPARAM>(cue), 64) != 0;
      DestroyWindow(box.window());
      return answered;
    });
    EXPECT_EQ(hasCue, module != nullptr);
    EXPECT_EQ(std::wstring(cue), module != nullptr ? L" Code" : L"");
  }
}

}  // namespace
