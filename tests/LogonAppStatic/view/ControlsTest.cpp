// Image buttons, the check box, edit boxes, common controls 6 and the font cache, created
// on a UI thread and worked from the test's thread.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "Korvath/Test/UiFixture.h"
#include "Korvath/View/Button.h"
#include "Korvath/View/Checkbox.h"
#include "Korvath/View/CommonControls.h"
#include "Korvath/View/Editbox.h"
#include "Korvath/View/ViewUtils.h"
#include "ViewTestSupport.h"

using namespace Korvath::Test;
using namespace Korvath::View;

namespace {

constexpr std::uint32_t kMagenta = 0xFF00FF;

// The scale factor this run expects: 1 on the build's 1080-pixel display, 1.5 when CTest runs
// the suite on a 2880 x 1620 virtual desktop (KV_EXPECT_SCALE).
double expectedScale() {
  const char* value = std::getenv("KV_EXPECT_SCALE");
  return value != nullptr ? std::strtod(value, nullptr) : 1.0;
}

class Controls : public ::testing::Test {
 protected:
  void SetUp() override {
    const double s = Utils::getScaleFactor();
    host_ = ui_.call([s] { return createHostWindow(L"controls", static_cast<int>(s * 840), static_cast<int>(s * 500)); });
    ASSERT_NE(host_, nullptr);
  }
  void TearDown() override {
    ui_.run([this] { DestroyWindow(host_); });
  }
  Button imageButton(UINT id, int x, int svgId = 900, bool withLabel = false, const wchar_t* label = nullptr) {
    return ui_.call([&] {
      Button b;
      b.createButtonWindow(L"Push", WS_CHILD | WS_VISIBLE | BS_BITMAP, x, 20, 81, 58, host_, id, testModule(),
                           loadSvgResource(testModule(), svgId), withLabel, label, 32, 15);
      UpdateWindow(host_);
      return b;
    });
  }
  // Paints over a control's pixels directly, as another window or a stale surface would.
  void smear(HWND control) {
    ui_.run([&] {
      HDC dc = GetDC(control);
      RECT r;
      GetClientRect(control, &r);
      HBRUSH brush = CreateSolidBrush(RGB(0xFF, 0x00, 0xFF));
      FillRect(dc, &r, brush);
      DeleteObject(brush);
      ReleaseDC(control, dc);
    });
  }
  // The image is there: the button shows the test image's blue and red, no magenta, and
  // not only the background.
  void expectImage(HWND button) {
    const Image face = captureClient(button);
    ASSERT_FALSE(face.empty());
    EXPECT_EQ(face.count(kMagenta), 0u);
    EXPECT_GT(face.count(0x1E5AA8), face.pixels.size() / 3);
    EXPECT_GT(face.count(0xD02020), 0u);
  }
  UiThread ui_;
  HWND host_ = nullptr;
};

TEST_F(Controls, ImageButtonShowsItsSvgAndComesBackAfterEveryKindOfRepaint) {
  const Button a = imageButton(210, 20);
  ASSERT_EQ(a.error, S_OK);
  ASSERT_TRUE(isImageButton(a.button));
  WindowDriver driver(host_);
  ASSERT_TRUE(driver.sync());
  expectImage(a.button);

  struct Step {
    const char* name;
    std::function<void()> act;
  };
  const std::vector<Step> steps = {
      {"non-client repaint", [&] { driver.post(a.button, WM_NCPAINT, 1, 0); }},
      {"system repaint without WM_NCPAINT", [&] { ui_.run([&] { RedrawWindow(a.button, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); }); }},
      {"pressed and released", [&] { driver.post(a.button, BM_SETSTATE, TRUE); driver.post(a.button, BM_SETSTATE, FALSE); }},
      {"clicked", [&] { driver.post(a.button, BM_CLICK); }},
      {"focus", [&] { ui_.run([&] { SetFocus(a.button); SetFocus(host_); }); }},
      {"disabled and enabled", [&] { ui_.run([&] { EnableWindow(a.button, FALSE); EnableWindow(a.button, TRUE); }); }},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    smear(a.button);
    step.act();
    ASSERT_TRUE(driver.sync());
    expectImage(a.button);
  }
}

TEST_F(Controls, ImageButtonsKeepSeparateStateAndLeaveTheTableWhenDestroyed) {
  const std::size_t before = imageButtonCount();
  const Button a = imageButton(210, 20);
  const Button b = imageButton(211, 120);
  EXPECT_EQ(imageButtonCount(), before + 2);
  WindowDriver driver(host_);
  smear(a.button);
  smear(b.button);
  driver.post(a.button, WM_NCPAINT, 1, 0);
  ASSERT_TRUE(driver.sync());
  expectImage(a.button);
  // Only the button that was repainted drew again.
  EXPECT_EQ(captureClient(b.button).countOther(kMagenta), 0u);

  ui_.run([&] {
    DestroyWindow(a.button);
    DestroyWindow(b.button);
  });
  EXPECT_EQ(imageButtonCount(), before);
  EXPECT_FALSE(isImageButton(a.button));
}

TEST_F(Controls, OptionButtonRowWithLabelsAndTextButton) {
  const double s = Utils::getScaleFactor();
  const int w = static_cast<int>(s * 81), h = static_cast<int>(s * 58);
  const struct {
    UINT id;
    int svg;
    const wchar_t* text;
  } options[] = {{210, 900, L"Push"}, {211, 901, L"QR Code"}, {212, 902, L"One-Time Password"}, {213, 900, L"Forgot Token"}};
  std::vector<Button> row;
  double x = static_cast<int>(s * 425);
  for (const auto& o : options) {
    row.push_back(ui_.call([&] {
      Button b;
      b.createButtonWindow(o.text, WS_CHILD | WS_VISIBLE | BS_BITMAP, static_cast<int>(x), static_cast<int>(s * 400), w, h,
                           host_, o.id, testModule(), loadSvgResource(testModule(), o.svg), true, o.text,
                           static_cast<int>(s * 16) * 2, static_cast<int>(s * 16) - 1);
      return b;
    }));
    x = static_cast<int>(x + w + 0.12 * w);
  }
  const Button text = ui_.call([&] {
    Button b;
    b.createButtonWindow(L"Send Push", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 40, 40, static_cast<int>(s * 114), static_cast<int>(s * 22), host_, 221, testModule(),
                         SvgSource{});
    return b;
  });
  WindowDriver driver(host_);
  ASSERT_TRUE(driver.sync());
  // Where the option buttons of the dialog stand: x from trunc(s*425), each next one
  // trunc(x + w + 0.12*w) further, y trunc(s*400), trunc(s*81) x trunc(s*58).
  const struct {
    double s;
    int x[4], y, w, h;
  } geometry[] = {{1.0, {425, 515, 605, 695}, 400, 81, 58}, {1.5, {637, 772, 907, 1042}, 600, 121, 87}};
  for (const auto& g : geometry) {
    if (g.s != s) continue;
    for (std::size_t i = 0; i < row.size(); ++i) {
      RECT r;
      GetWindowRect(row[i].button, &r);
      MapWindowPoints(nullptr, host_, reinterpret_cast<POINT*>(&r), 2);
      EXPECT_EQ(r.left, g.x[i]);
      EXPECT_EQ(r.top, g.y);
      EXPECT_EQ(r.right - r.left, g.w);
      EXPECT_EQ(r.bottom - r.top, g.h);
    }
  }
  for (const Button& b : row) {
    ASSERT_EQ(b.error, S_OK);
    ASSERT_NE(b.label, nullptr);
    EXPECT_NE(b.labelFont, b.labelBoldFont);
    RECT button, label;
    GetWindowRect(b.button, &button);
    GetWindowRect(b.label, &label);
    // The label sits right below its button, as wide, with the button's id.
    EXPECT_EQ(label.top, button.bottom);
    EXPECT_EQ(label.left, button.left);
    EXPECT_EQ(label.right - label.left, w);
    EXPECT_EQ(GetDlgCtrlID(b.label), static_cast<int>(b.controlId));
    EXPECT_EQ(driver.text(b.label), driver.text(b.button));
  }
  EXPECT_FALSE(isImageButton(text.button));
  EXPECT_NE(reinterpret_cast<HFONT>(driver.send(text.button, WM_GETFONT)), nullptr);
  // The selected option is marked with the bold font.
  ui_.run([&] { SendMessageW(row[0].label, WM_SETFONT, reinterpret_cast<WPARAM>(row[0].labelBoldFont), TRUE); });
  ASSERT_TRUE(driver.sync());
  EXPECT_TRUE(saveScreenshot(host_, L"image-button-row"));
}

TEST_F(Controls, CheckboxShrinksItsTextUntilItFitsAndStopsWhenItCannot) {
  const double s = Utils::getScaleFactor();
  const std::wstring longText(36, L'W');
  const std::wstring endless(2000, L'W');
  struct Case {
    const char* name;
    int parentWidth;
    std::wstring text;
    bool shrunk;
    bool fits;
  };
  const std::vector<Case> cases = {
      {"fits as it is", 380, L"Automatically send a push", false, true},
      {"too wide", 380, longText, true, true},
      {"can never fit", 200, endless, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Checkbox box = ui_.call([&] {
      HWND panel = CreateWindowExW(0, L"KvTestHost", L"", WS_CHILD | WS_VISIBLE, 440, 10, c.parentWidth, 360, host_,
                                   nullptr, GetModuleHandleW(nullptr), nullptr);
      Checkbox b;
      b.createCheckboxWindow(c.text.c_str(), static_cast<int>(s * 240), panel, testModule());
      return b;
    });
    ASSERT_EQ(box.error, S_OK);
    EXPECT_EQ(GetDlgCtrlID(box.checkbox), 225);
    EXPECT_EQ(box.fontSize < static_cast<int>(s * 16), c.shrunk);
    if (!c.fits) {
      EXPECT_EQ(box.fontSize, kCheckboxMinFontSize);
    }
    RECT panel, boxRect, label;
    GetWindowRect(box.parent, &panel);
    GetWindowRect(box.checkbox, &boxRect);
    GetWindowRect(box.label, &label);
    EXPECT_GE(boxRect.left, panel.left) << "font " << box.fontSize;
    EXPECT_EQ(label.left - boxRect.left, static_cast<int>(s * 6) + static_cast<int>(s * 16));
    EXPECT_EQ(boxRect.right - boxRect.left, static_cast<int>(s * 16));
    if (c.fits) {
      // Centred: the same room left and right, give or take the halving.
      EXPECT_LE(label.right, panel.right) << "font " << box.fontSize << ", label " << label.right - label.left;
      EXPECT_NEAR(boxRect.left - panel.left, panel.right - label.right, 1);
    }
    if (c.text.size() < 100) {
      WindowDriver driver(host_);
      EXPECT_FALSE(driver.isChecked(box.checkbox));
      ASSERT_TRUE(driver.click(box.checkbox));
      EXPECT_TRUE(driver.isChecked(box.checkbox));
    }
    if (!c.shrunk) {
      EXPECT_TRUE(saveScreenshot(host_, L"checkbox"));
    }
    ui_.run([&] { DestroyWindow(box.parent); });
  }
}

TEST(ScaleFactor, FollowsThePrimaryScreenHeight) {
  const struct {
    int height;
    double s;
  } cases[] = {{720, 1.0}, {1080, 1.0}, {1200, 1200.0 / 1080}, {1620, 1.5}, {2160, 2.0}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(Utils::scaleFactorForScreenHeight(c.height), c.s) << c.height;
  // This run's screen.
  EXPECT_DOUBLE_EQ(Utils::getScaleFactor(), expectedScale());
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), static_cast<int>(1080 * expectedScale()));
}

TEST(CheckboxHeight, FollowsTheScreenDpi) {
  const struct {
    double s;
    int dpi;
    int height;
  } cases[] = {{1.0, 72, 16}, {1.0, 96, 16}, {1.0, 120, 16}, {1.0, 144, 18}, {1.0, 192, 21}, {1.5, 96, 24}, {1.5, 144, 26}};
  for (const auto& c : cases) {
    EXPECT_EQ(checkboxBoxHeight(c.s, c.dpi), c.height) << c.s << " at " << c.dpi << " DPI";
  }
}

TEST_F(Controls, CheckboxBoxHasTheHeightOfThisScreen) {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  const Checkbox box = ui_.call([&] {
    Checkbox b;
    b.createCheckboxWindow(L"Automatically send", 100, host_, testModule());
    return b;
  });
  RECT r;
  GetWindowRect(box.checkbox, &r);
  EXPECT_EQ(r.bottom - r.top, checkboxBoxHeight(Utils::getScaleFactor(), dpi));
}

TEST_F(Controls, CueBannerNeedsTheManifestOfTheDialogModule) {
  const struct {
    const char* name;
    HMODULE module;
    bool cue;
  } cases[] = {{"KvCredProv.dll", productModule(), true}, {"test executable", testModule(), true}, {"no module", nullptr, false}};
  ASSERT_NE(productModule(), nullptr);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const HWND edit = ui_.call([&] {
      Editbox box(WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_NUMBER | ES_AUTOHSCROLL, 10, 100, 196, 20, host_,
                  242, c.module, L" Verification Code");
      return box.error == S_OK ? box.window() : nullptr;
    });
    ASSERT_NE(edit, nullptr);
    wchar_t cue[64] = {};
    const bool hasCue = ui_.call([&] { return SendMessageW(edit, EM_GETCUEBANNER, reinterpret_cast<WPARAM>(cue), 64) != 0; });
    EXPECT_EQ(hasCue, c.cue);
    if (c.cue) {
      EXPECT_EQ(std::wstring(cue), L" Verification Code");
    }
    ui_.run([&] { DestroyWindow(edit); });
  }
}

TEST_F(Controls, EditboxTextAndMouseBlindBoxes) {
  WindowDriver driver(host_);
  Editbox typed, blind;
  ui_.run([&] {
    typed = Editbox(WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, 10, 10, 196, 20, host_, 242, testModule());
    blind = Editbox(WS_CHILD | WS_VISIBLE | WS_BORDER | ES_CENTER, 10, 60, 27, 27, host_, 257, testModule());
    makeMouseBlind(blind.window());
    SetFocus(host_);
  });
  ASSERT_EQ(typed.error, S_OK);
  ASSERT_EQ(blind.error, S_OK);
  EXPECT_EQ(typed.window(), GetDlgItem(host_, 242));
  driver.setText(typed.window(), L"Bestätigung 123");
  EXPECT_EQ(typed.getText(), "Bestätigung 123");
  driver.setText(typed.window(), std::wstring(600, L'7'));
  EXPECT_EQ(typed.getText().size(), 510u);

  // A click puts the focus into a normal box; a mouse-blind box ignores it and every other
  // mouse message, and still shows the text it is given.
  const LPARAM at = MAKELPARAM(5, 5);
  driver.post(typed.window(), WM_LBUTTONDOWN, MK_LBUTTON, at);
  driver.post(typed.window(), WM_LBUTTONUP, 0, at);
  ASSERT_TRUE(driver.sync());
  EXPECT_EQ(driver.focus(), typed.window());
  for (UINT message : {WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN, WM_MBUTTONDOWN, WM_MOUSEWHEEL}) {
    driver.post(blind.window(), message, MK_LBUTTON, at);
  }
  ASSERT_TRUE(driver.sync());
  EXPECT_EQ(driver.focus(), typed.window());
  driver.setText(blind.window(), L"A");
  EXPECT_EQ(blind.getText(), "A");
}

TEST_F(Controls, FontsAndImagesCreateNoHandlesWhenUsedAgain) {
  // Warm up: the first round makes the fonts and the GDI+ state that later rounds reuse.
  auto round = [&] {
    ui_.run([&] {
      for (int i = 0; i < 3; ++i) {
        Button b;
        b.createButtonWindow(L"x", WS_CHILD | WS_VISIBLE | BS_BITMAP, 10 + 90 * i, 10, 81, 58, host_, 210 + i,
                             testModule(), loadSvgResource(testModule(), 900), true, L"Label", 32, 15);
        Checkbox c;
        c.createCheckboxWindow(L"Automatically send a push notification when I log in", 200, host_, testModule());
        Editbox e(WS_CHILD | WS_VISIBLE, 10, 300, 100, 20, host_, 242, testModule(), L" Code");
        UpdateWindow(host_);
        Utils::Font::createFont(16, 400);
        DestroyWindow(b.button);
        DestroyWindow(b.label);
        DestroyWindow(c.checkbox);
        DestroyWindow(c.label);
        DestroyWindow(e.window());
      }
    });
  };
  round();
  const std::size_t fonts = Utils::Font::cachedFontCount();
  const HandleCounts before = handleCounts();
  for (int i = 0; i < 20; ++i) round();
  const HandleCounts after = handleCounts();
  EXPECT_EQ(Utils::Font::cachedFontCount(), fonts);
  EXPECT_EQ(after.gdi, before.gdi);
  EXPECT_EQ(after.user, before.user);
  EXPECT_EQ(Utils::Font::createFont(16, 400), Utils::Font::createFont(16, 400));
}

}  // namespace
