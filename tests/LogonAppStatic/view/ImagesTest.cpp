// drawSvgImage and drawBmpImage: what lands on a window, read back pixel by pixel.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Korvath/Test/UiFixture.h"
#include "Korvath/View/Images.h"
#include "Korvath/View/QRCodePainter.h"
#include "Korvath/View/QrCode.h"
#include "Korvath/View/ViewUtils.h"
#include "ViewTestSupport.h"

using namespace Korvath::Test;
using namespace Korvath::View;

namespace {

constexpr std::uint32_t kBlue = 0x1E5AA8, kRed = 0xD02020, kGreen = 0x20A040;

class Images : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = ui_.call([] { return createHostWindow(L"images", 640, 480); });
    ASSERT_NE(host_, nullptr);
  }
  void TearDown() override {
    ui_.run([this] { DestroyWindow(host_); });
  }
  // Runs `draw` with the host's client device context on the UI thread, over the background,
  // and returns what it said and what the window shows then.
  template <typename F>
  Image drawOnHost(F draw, bool& drawn) {
    ui_.run([&] {
      HDC dc = GetDC(host_);
      RECT all;
      GetClientRect(host_, &all);
      HBRUSH brush = CreateSolidBrush(RGB(0xF0, 0xF0, 0xF0));
      FillRect(dc, &all, brush);
      DeleteObject(brush);
      drawn = draw(dc);
      ReleaseDC(host_, dc);
    });
    return captureClient(host_);
  }
  UiThread ui_;
  HWND host_ = nullptr;
};

struct Probe {
  int x, y;
  std::uint32_t rgb;
};

TEST_F(Images, SvgIsRenderedAtTheRectangleSizeAndBlendedOverTheBackground) {
  const struct {
    const char* name;
    int resource;
    DrawRect rect;
    bool drawn;
    std::vector<Probe> probes;
  } cases[] = {
      // 20x20 design drawn at 40x40: the square fills exactly the rectangle, the circle (radius
      // 6 of 20) is centred; transparent parts leave the background as it was.
      // clang-format off
      {"square", 900, {10, 10, 40, 40}, true, {{10, 10, kBlue}, {49, 49, kBlue}, {30, 30, kRed}, {50, 50, kBackground}}},
      // clang-format on
      {"half", 901, {0, 0, 40, 40}, true, {{5, 20, kGreen}, {19, 20, kGreen}, {20, 20, kBackground}}},
      // A document that does not parse draws nothing, and says so.
      {"broken", 902, {0, 0, 40, 40}, false, {{20, 20, kBackground}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SvgSource svg = loadSvgResource(testModule(), c.resource);
    bool drawn = false;
    const Image image = drawOnHost([&](HDC dc) { return drawSvgImage(dc, svg, c.rect); }, drawn);
    EXPECT_EQ(drawn, c.drawn);
    for (const Probe& p : c.probes) EXPECT_EQ(image.at(p.x, p.y), p.rgb) << "at " << p.x << "," << p.y;
  }
}

// The twelve images of the dialog from KvCredProv.dll, each at the size the dialog draws it,
// saved for people to look at.
TEST_F(Images, EveryImageOfTheDialogDraws) {
  const struct {
    int id, width, height;
  } images[] = {{110, 81, 58}, {111, 81, 58}, {112, 81, 58},   {113, 81, 58},   {114, 30, 30},   {115, 30, 30},
                {116, 30, 30}, {117, 20, 20}, {118, 420, 500}, {119, 840, 500}, {120, 112, 112}, {121, 251, 72}};
  const double s = Utils::getScaleFactor();
  for (const auto& i : images) {
    SCOPED_TRACE(i.id);
    const SvgSource svg = loadSvgResource(productModule(), i.id);
    const DrawRect rect{0, 0, static_cast<std::uint16_t>(s * i.width), static_cast<std::uint16_t>(s * i.height)};
    ui_.run([&] { SetWindowPos(host_, nullptr, 0, 0, rect.width + 2, rect.height + 2, SWP_NOMOVE | SWP_NOZORDER); });
    bool drawn = false;
    const Image image = drawOnHost([&](HDC dc) { return drawSvgImage(dc, svg, rect); }, drawn)
                            .crop(RECT{0, 0, rect.width, rect.height});
    EXPECT_TRUE(drawn);
    EXPECT_LT(image.count(kBackground), std::size_t(rect.width) * rect.height) << "nothing drawn";
    EXPECT_TRUE(savePng(image, screenshotPath(L"svg-" + std::to_wstring(i.id))));
  }
}

// The painter's BMP of a command, drawn as the QR-code panel draws it (StretchBlt), read back
// module by module against the encoder's grid: the 21 modules of a short command at scale 1,
// and a longer command at scale 1.5.
TEST_F(Images, QrBitmapStretchedOntoTheWindowMatchesItsGrid) {
  const struct {
    std::string command;
    int side;
  } cases[] = {{"KV-2FA", 190}, {"KV1|" + std::string(290, 'x') + "|0123456789", 285}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.side);
    Qr::QrCode code;
    ASSERT_TRUE(Qr::encodeText(c.command, code));
    QRCodePainter painter;
    ASSERT_TRUE(painter.paint(c.command.c_str()));
    const int left = 94, top = 5, n = code.size();
    bool drawn = false;
    const Image image = drawOnHost(
        [&](HDC dc) { return drawBmpImage(dc, painter.image(), painter.imageLength(), left, top, c.side); }, drawn);
    ASSERT_TRUE(drawn);
    int wrong = 0;
    for (int my = 0; my < n; ++my) {
      for (int mx = 0; mx < n; ++mx) {
        const int px = left + static_cast<int>((mx + 0.5) * c.side / n);
        const int py = top + static_cast<int>((my + 0.5) * c.side / n);
        wrong += image.at(px, py) != (code.isDark(mx, my) ? 0x000000u : 0xFFFFFFu);
      }
    }
    EXPECT_EQ(wrong, 0);
    // Only black and white inside the square (no blur between modules), nothing outside.
    const RECT square{left, top, left + c.side, top + c.side};
    EXPECT_EQ(image.count(0x000000, square) + image.count(0xFFFFFF, square), std::size_t(c.side) * c.side);
    EXPECT_EQ(image.at(left - 1, top + 10), kBackground);
    EXPECT_EQ(image.at(left + c.side, top + 10), kBackground);
    if (n == 21) {
      EXPECT_TRUE(saveScreenshot(host_, L"qr-21-modules"));
    }
  }
}

}  // namespace
