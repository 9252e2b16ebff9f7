// What callers of the renderer rely on, in both flavours: which documents load, exact area
// coverage at the edges, and sizes with nothing to draw. (How everything is drawn, layout of the
// pixels included, is the librsvg oracle's; the dialog's images under Wine are the view tests'.)

#include <gtest/gtest.h>

#include <algorithm>

#include "SvgTestSupport.h"

namespace {

using Korvath::View::Svg::Document;
using namespace KvSvgTest;

std::string svg(const std::string& attributes, const std::string& body) {
  return "<svg xmlns='http://www.w3.org/2000/svg' " + attributes + ">" + body + "</svg>";
}

// Channel c (0 blue, 1 green, 2 red, 3 alpha) of pixel (x, y).
int at(const Bitmap& bitmap, std::uint32_t x, std::uint32_t y, int c) {
  return bitmap.pixels[y * bitmap.stride + x * 4 + c];
}

TEST(SvgRenderTest, DocumentsThatAreNotWellFormedSvgDoNotLoad) {
  // clang-format off
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"empty", ""}, {"text", "hello"}, {"unclosed root", "<svg xmlns='http://www.w3.org/2000/svg'>"},
      {"mismatched tags", "<svg><g></svg></g>"}, {"two roots", "<svg></svg><svg></svg>"},
      {"root is not svg", "<html><svg/></html>"}, {"unknown entity", "<svg><rect fill='&nope;'/></svg>"},
      {"unquoted attribute", "<svg><rect width=4/></svg>"}, {"repeated attribute", "<svg><rect x='1' x='2'/></svg>"},
      {"less-than in attribute", "<svg><rect fill='<'/></svg>"}, {"text before root", "x<svg/>"},
      {"unterminated comment", "<svg/><!-- "}, {"attributes without space", "<svg a='1'b='2'/>"},
      {"character reference to nothing", "<svg a='&#0;'/>"}};
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(Document::loadFromData(c.second.data(), c.second.size()), nullptr) << c.first;
  EXPECT_EQ(Document::loadFromData(nullptr, 10), nullptr);
  std::string huge = svg("", std::string(Korvath::View::Svg::kMaxDocumentBytes, ' '));
  EXPECT_EQ(Document::loadFromData(huge.data(), huge.size()), nullptr);
  std::string many;
  for (std::size_t i = 0; i < Korvath::View::Svg::kMaxElements; ++i) many += "<g/>";
  many = svg("", many);
  EXPECT_EQ(Document::loadFromData(many.data(), many.size()), nullptr);
}

TEST(SvgRenderTest, WellFormedVariationsLoadAndDraw) {
  const std::string rect = "<rect width='4' height='4' fill='#f00'/>";
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"declaration, comment, doctype", "<?xml version='1.0'?><!-- c --><!DOCTYPE svg [<!ENTITY x 'y'>]>" +
                                            svg("viewBox='0 0 4 4'", rect) + "<!-- after -->"},
      {"byte-order mark", "\xEF\xBB\xBF" + svg("viewBox='0 0 4 4'", rect)},
      {"namespace prefix",
       "<s:svg xmlns:s='http://www.w3.org/2000/svg' viewBox='0 0 4 4'><s:rect width='4' "
       "height='4' fill='#f00'/></s:svg>"},
      {"character reference", svg("viewBox='0 0 4 4'", "<rect width='4' height='4' fill='&#x23;f00'/>")},
      {"CDATA and text", svg("viewBox='0 0 4 4'", "<![CDATA[ <not markup> ]]> text " + rect)},
      {"no viewBox, pixel units", svg("", rect)},
      {"width and height only", svg("width='2' height='2'", "<rect width='2' height='2' fill='#f00'/>")},
  };
  for (const auto& c : cases) {
    const Bitmap b = render(c.second, 4, 4);
    ASSERT_TRUE(b.valid()) << c.first << " did not load";
    EXPECT_EQ(at(b, 3, 3, 2), 255) << c.first;
    EXPECT_EQ(at(b, 3, 3, 3), 255) << c.first;
  }
}

TEST(SvgRenderTest, EdgeCoverageIsTheCoveredArea) {
  // A rectangle covering a quarter, a half and three quarters of pixels.
  Bitmap b = render(svg("viewBox='0 0 4 1'", "<rect x='0.75' width='2.75' height='1' fill='#000'/>"), 4, 1);
  ASSERT_TRUE(b.valid());
  const int alpha[] = {64, 255, 255, 128};
  for (std::uint32_t x = 0; x < 4; ++x) EXPECT_EQ(at(b, x, 0, 3), alpha[x]) << x;
}

TEST(SvgRenderTest, SizesWithNothingToDrawGiveEmptyOrTransparentBitmaps) {
  const std::string doc = svg("viewBox='0 0 4 4'", "<rect width='4' height='4'/>");
  auto d = Document::loadFromData(doc.data(), doc.size());
  ASSERT_NE(d, nullptr);
  EXPECT_DOUBLE_EQ(d->width(), 4);
  EXPECT_DOUBLE_EQ(d->height(), 4);
  using Korvath::View::Svg::kMaxBitmapSide;
  for (auto size : std::vector<std::pair<std::uint32_t, std::uint32_t>>{
           {0, 4}, {4, 0}, {kMaxBitmapSide + 1, 1}, {1, kMaxBitmapSide + 1}, {kMaxBitmapSide, kMaxBitmapSide}}) {
    Bitmap b = d->renderToBitmap(size.first, size.second);
    EXPECT_FALSE(b.valid()) << size.first << "x" << size.second;
    EXPECT_TRUE(b.pixels.empty());
  }
  // A zero viewBox, and elements that are not drawn, leave the bitmap transparent.
  for (const std::string& empty : {svg("viewBox='0 0 0 4'", "<rect width='4' height='4'/>"),
                                   svg("viewBox='0 0 4 4'",
                                       "<text>hi</text><image width='4' height='4'/><defs><rect width='4' "
                                       "height='4'/></defs><path d='L4 4 H0z'/><rect width='4' height='4' "
                                       "fill='none'/><rect width='-4' height='4'/><circle r='-1'/>")}) {
    Bitmap b = render(empty, 4, 4);
    ASSERT_TRUE(b.valid());
    EXPECT_EQ(std::count(b.pixels.begin(), b.pixels.end(), 0), 64) << empty;
  }
}

}  // namespace
