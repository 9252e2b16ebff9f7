// Our renderer against librsvg, pixel by pixel: every image of ours at the sizes the dialog draws
// it (scale 1 and 1.5) and at 32 px, and small documents that each exercise one feature. Where
// a rendering is out of bounds, both are saved as PNG for people to look at.

#include <gtest/gtest.h>

#include <cstdio>

#include "SvgTestSupport.h"

namespace {

using namespace KvSvgTest;

// Agreement required with librsvg, over the pixels that either rendering covers (librsvg draws
// with a curve tolerance of 0.01 px here). Both draw the same geometry with exact colours; they
// differ only in anti-aliasing: cairo samples 15 rows a pixel where we integrate exact areas,
// which moves edge pixels of nearly horizontal edges by up to about 1/30 (8 levels). Measured:
// mean at most 1.2, 99th percentile at most 9. A shape moved by a third of a pixel, a wrong
// fill rule, colour, transform or missing element moves whole rows of edge pixels or areas and
// breaks both bounds. See docs/toolkit.md.
constexpr double kMaxMeanDifference = 1.5;
constexpr int kMaxP99Difference = 16;

void expectAgreement(const std::string& name, const std::string& document, std::uint32_t w, std::uint32_t h) {
  Bitmap ours = render(document, w, h);
  Bitmap theirs = renderWithRsvg(document, w, h);
  ASSERT_TRUE(ours.valid()) << name;
  ASSERT_TRUE(theirs.valid()) << name;
  Difference d = compare(ours, theirs);
  std::printf("%-28s %4ux%-4u covered %7zu  mean %.3f  p99 %3d  max %3d\n", name.c_str(), w, h, d.pixels, d.mean, d.p99,
              d.max);
  EXPECT_GT(d.pixels, 0u) << name << ": nothing drawn";
  EXPECT_LE(d.mean, kMaxMeanDifference) << name;
  EXPECT_LE(d.p99, kMaxP99Difference) << name;
  if (d.mean > kMaxMeanDifference || d.p99 > kMaxP99Difference) {
    std::string dir = screenshotDir();
    savePng(ours, dir + "/mismatch-" + name + "-ours.png");
    savePng(theirs, dir + "/mismatch-" + name + "-librsvg.png");
  }
}

TEST(SvgOracleTest, EachFeatureAgreesWithLibrsvg) {
  for (const auto& f : features()) {
    expectAgreement(f.name, f.document, f.width, f.height);
    expectAgreement(std::string(f.name) + "-x3", f.document, f.width * 3, f.height * 3);
  }
}

TEST(SvgOracleTest, OurImagesAgreeWithLibrsvgAtTheirSizes) {
  for (const auto& image : dialogImages()) {
    const std::string name = image.name;
    expectAgreement(name, *image.text, image.width, image.height);
    expectAgreement(name + "-x1.5", *image.text, image.width * 3 / 2, image.height * 3 / 2);
    expectAgreement(name + "-32", *image.text, 32, 32);
  }
  expectAgreement("app-icon", appIconSvg(), 256, 256);
  expectAgreement("app-icon-16", appIconSvg(), 16, 16);
}

}  // namespace
