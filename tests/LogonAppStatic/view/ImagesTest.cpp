// drawSvgImage and drawBmpImage: what lands on a window, read back pixel by pixel.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "Korvath/Test/UiFixture.h"
#include "Korvath/View/Images.h"
#include "Korvath/View/QRCodePainter.h"
#include "Korvath/View/QrCode.h"
#include "Korvath/View/ViewUtils.h"
#include "ViewTestSupport.h"

using namespace Korvath::Test;
using Korvath::View::DrawRect;
using Korvath::View::SvgSource;

namespace {

constexpr std::uint32_t kBlue = 0x1E5AA8;
constexpr std::uint32_t kRed = 0xD02020;
constexpr std::uint32_t kGreen = 0x20A040;

class Images : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = ui_.call([] { return createHostWindow(L"images", 640, 480); });
    ASSERT_NE(host_, nullptr);
  }
  void TearDown() override {
    ui_.run([this] { DestroyWindow(host_); });
  }
  // Runs `draw` with the host's client device context on the UI thread; the client area is
  // the background again before.
  template <typename F>
  bool drawOnHost(F draw) {
    return ui_.call([&] {
      HDC dc = GetDC(host_);
      RECT all;
      GetClientRect(host_, &all);
      HBRUSH brush = CreateSolidBrush(RGB(0xF0, 0xF0, 0xF0));
      FillRect(dc, &all, brush);
      DeleteObject(brush);
      const bool drawn = draw(dc);
      ReleaseDC(host_, dc);
      return drawn;
    });
  }
  UiThread ui_;
  HWND host_ = nullptr;
};

struct SvgProbe {
  int x, y;
  std::uint32_t rgb;
};

struct SvgCase {
  const char* name;
  int resource;
  DrawRect rect;
  bool drawn;
  std::vector<SvgProbe> probes;
};

TEST_F(Images, SvgIsRenderedAtTheRectangleSizeAndBlendedOverTheBackground) {
  const std::vector<SvgCase> cases = {
      // 20x20 design drawn at 40x40: the square fills exactly the rectangle, the circle
      // (radius 6 of 20) is centred.
      {"square 40", 900, {10, 10, 40, 40}, true,
       {{11, 11, kBlue}, {48, 48, kBlue}, {30, 30, kRed}, {9, 9, kBackground}, {50, 50, kBackground}}},
      // The same image three times larger is as sharp: edges one pixel apart.
      {"square 120", 900, {100, 50, 120, 120}, true,
       {{100, 50, kBlue}, {219, 169, kBlue}, {220, 170, kBackground}, {99, 49, kBackground}, {160, 110, kRed}}},
      // Transparent parts leave the background as it was.
      {"half", 901, {0, 0, 40, 40}, true, {{5, 20, kGreen}, {19, 20, kGreen}, {20, 20, kBackground}, {39, 39, kBackground}}},
      // A document that does not parse draws nothing, and says so.
      {"broken", 902, {0, 0, 40, 40}, false, {{20, 20, kBackground}}},
      {"no resource", 999, {0, 0, 40, 40}, false, {{20, 20, kBackground}}},
      {"empty rectangle", 900, {0, 0, 0, 40}, false, {{0, 0, kBackground}}},
  };
  for (const SvgCase& c : cases) {
    SCOPED_TRACE(c.name);
    const SvgSource svg = Korvath::View::loadSvgResource(testModule(), c.resource);
    EXPECT_EQ(drawOnHost([&](HDC dc) { return Korvath::View::drawSvgImage(dc, svg, c.rect); }), c.drawn);
    const Image image = captureClient(host_);
    ASSERT_FALSE(image.empty());
    for (const SvgProbe& p : c.probes) {
      EXPECT_EQ(image.at(p.x, p.y), p.rgb) << "at " << p.x << "," << p.y;
    }
  }
}

// The twelve images of the dialog from KvCredProv.dll, each at the size the dialog draws it.
TEST_F(Images, EveryImageOfTheDialogDraws) {
  const struct {
    int id;
    int width, height;
  } images[] = {{110, 81, 58}, {111, 81, 58}, {112, 81, 58}, {113, 81, 58}, {114, 30, 30}, {115, 30, 30},
                {116, 30, 30}, {117, 20, 20}, {118, 420, 500}, {119, 840, 500}, {120, 112, 112}, {121, 251, 72}};
  if (Korvath::View::loadSvgResource(productModule(), 110).empty()) {
    GTEST_SKIP() << "KvCredProv.dll has no images in this build";
  }
  const double s = Korvath::View::Utils::getScaleFactor();
  for (const auto& image : images) {
    SCOPED_TRACE(image.id);
    const SvgSource svg = Korvath::View::loadSvgResource(productModule(), image.id);
    ASSERT_FALSE(svg.empty());
    DrawRect rect;
    rect.width = static_cast<std::uint16_t>(s * image.width);
    rect.height = static_cast<std::uint16_t>(s * image.height);
    ui_.run([&] { SetWindowPos(host_, nullptr, 0, 0, rect.width + 2, rect.height + 2, SWP_NOMOVE | SWP_NOZORDER); });
    EXPECT_TRUE(drawOnHost([&](HDC dc) { return Korvath::View::drawSvgImage(dc, svg, rect); }));
    const RECT area{0, 0, rect.width, rect.height};
    const Image drawn = captureClient(host_).crop(area);
    EXPECT_GT(drawn.countOther(kBackground), 0u);
    EXPECT_TRUE(savePng(drawn, screenshotPath(L"svg-" + std::to_wstring(image.id))));
  }
}

struct BmpCase {
  const char* name;
  std::string command;
  int modules;
  int side;
  std::size_t expectedSize;  // 0: not checked
};

// The painter's BMP of a command, drawn as the QR-code panel draws it, read back module by
// module against the encoder's grid.
TEST_F(Images, QrBitmapStretchedOntoTheWindowMatchesItsGrid) {
  const std::string longCommand = "KV1|" + std::string(290, 'x') + "|0123456789";
  const std::vector<BmpCase> cases = {
      {"version 1 at scale 1", "KV-2FA", 21, 190, 1398},
      {"version 1 at scale 1.5", "KV-2FA", 21, 285, 1398},
      {"long command", longCommand, 0, 190, 0},
      {"long command at scale 1.5", longCommand, 0, 285, 0},
  };
  for (const BmpCase& c : cases) {
    SCOPED_TRACE(c.name);
    Korvath::View::Qr::QrCode code;
    ASSERT_TRUE(Korvath::View::Qr::encodeText(c.command, code));
    if (c.modules != 0) {
      EXPECT_EQ(code.size(), c.modules);
    }
    Korvath::View::QRCodePainter painter;
    ASSERT_TRUE(painter.paint(c.command.c_str()));
    if (c.expectedSize != 0) {
      EXPECT_EQ(painter.imageLength(), c.expectedSize);
    }
    const int left = 94, top = 5, n = code.size();
    ASSERT_TRUE(drawOnHost([&](HDC dc) {
      return Korvath::View::drawBmpImage(dc, painter.image(), painter.imageLength(), left, top, c.side);
    }));
    const Image image = captureClient(host_);
    int wrong = 0;
    for (int my = 0; my < n; ++my) {
      for (int mx = 0; mx < n; ++mx) {
        const int px = left + static_cast<int>((mx + 0.5) * c.side / n);
        const int py = top + static_cast<int>((my + 0.5) * c.side / n);
        if (image.at(px, py) != (code.isDark(mx, my) ? 0x000000u : 0xFFFFFFu)) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0);
    // Only black and white inside the square (no blur between modules), nothing outside.
    const RECT square{left, top, left + c.side, top + c.side};
    EXPECT_EQ(image.count(0x000000, square) + image.count(0xFFFFFF, square),
              static_cast<std::size_t>(c.side) * c.side);
    EXPECT_EQ(image.at(left - 1, top + 10), kBackground);
    EXPECT_EQ(image.at(left + c.side, top + 10), kBackground);
    if (c.modules == 21 && c.side == 190) saveScreenshot(host_, L"qr-21-modules");
  }
}

TEST_F(Images, MalformedBitmapsDrawNothing) {
  Korvath::View::QRCodePainter painter;
  ASSERT_TRUE(painter.paint("KV-2FA"));
  const std::vector<std::uint8_t> good(painter.image(), painter.image() + painter.imageLength());
  struct Bad {
    const char* name;
    std::vector<std::uint8_t> bytes;
  };
  auto withByte = [&](std::size_t at, std::uint8_t value) {
    auto copy = good;
    copy[at] = value;
    return copy;
  };
  const std::vector<Bad> bad = {
      {"truncated pixels", std::vector<std::uint8_t>(good.begin(), good.end() - 1)},
      {"header only", std::vector<std::uint8_t>(good.begin(), good.begin() + 40)},
      {"not BM", withByte(0, 'X')},
      {"32 bits per pixel", withByte(28, 32)},
      {"compressed", withByte(30, 1)},
      {"pixels past the end", withByte(11, 0x40)},
      {"huge width", withByte(21, 0x7F)},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.name);
    EXPECT_FALSE(drawOnHost([&](HDC dc) { return Korvath::View::drawBmpImage(dc, b.bytes.data(), b.bytes.size(), 0, 0, 100); }));
    EXPECT_EQ(captureClient(host_).countOther(kBackground, RECT{0, 0, 100, 100}), 0u);
  }
}

}  // namespace
