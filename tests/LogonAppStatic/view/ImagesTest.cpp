// drawSvgImage and drawBmpImage: what lands on a window, read back pixel by pixel.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Korvath/Test/UiFixture.h"
#include "Korvath/View/Images.h"
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

}  // namespace
