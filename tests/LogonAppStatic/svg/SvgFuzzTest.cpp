// Hostile input in both flavours: mutated copies of real documents, random bytes, deep nesting
// and extreme numbers must neither crash (the native build runs under ASan and UBSan) nor hang
// (CTest's time-out), and whatever loads must render to a bitmap of the requested size.

#include <gtest/gtest.h>

#include <random>

#include "SvgTestSupport.h"

namespace {

using Korvath::View::Svg::Document;
using namespace KvSvgTest;

// Whether the document loaded.
bool renderAnything(const std::string& text, std::uint32_t w = 40, std::uint32_t h = 30) {
  auto doc = Document::loadFromData(text.data(), text.size());
  if (!doc) return false;
  Bitmap b = doc->renderToBitmap(w, h);
  EXPECT_TRUE(b.valid());
  EXPECT_EQ(b.pixels.size(), std::size_t(w) * h * 4);
  return true;
}

// Fragments that steer mutations towards the parser's corners...
// clang-format off
const std::vector<std::string> kMarkup = {
    "<g>", "</g>", "<g opacity='.5'>", "/>", "<", ">", "'", "\"", "&", "&#x", ";", "=", "<!--", "-->", "<![CDATA[",
    "<g transform='scale(1e30)'>", "<linearGradient id='g' href='#g'>", "<stop offset='2' stop-color='red'/>",
    "<circle r='1e300' stroke='#000'/>", "<path d='M0 0c1e300 0 0 1e300 1 1'/>"};
// ...and, inside attribute values (so that the document still loads), towards the renderer's.
const std::vector<std::string> kValues = {
    " ", ",", "-", ".", "e", "e-", "1e308", "-1e308", "1e-308", "NaN", "inf", "0", "9999999999999999999999", "M", "m",
    "z", "A", "a", "C", "s", "Q", "t", "H", "v", "0 0 1 1", "1 1 0 0 0 1e9 1e9", "1 1 0 1 1 0 0", "scale(1e30)",
    "matrix(0 0 0 0 0 0)", "rotate(1e308 5 5)", "skewX(90)", "url(#g)", "url(#", "rgb(1e9,-5,50%)", "#12", "none",
    "inherit", "currentColor", "%", "px", "em", ";fill:red;", ":", "round", "evenodd", "slice", "xMaxYMin"};
// clang-format on

std::string mutate(std::string s, std::mt19937& rng) {
  auto pick = [&](const std::vector<std::string>& list) { return list[rng() % list.size()]; };
  // Ranges of attribute values ('...' or "..."), for edits that keep the markup intact.
  std::vector<std::pair<std::size_t, std::size_t>> values;
  for (std::size_t i = 0; i + 1 < s.size(); ++i) {
    if (s[i] == '=' && (s[i + 1] == '"' || s[i + 1] == '\'')) {
      std::size_t end = s.find(s[i + 1], i + 2);
      if (end == std::string::npos) break;
      values.emplace_back(i + 2, end);
      i = end;
    }
  }
  if (!values.empty() && rng() % 4 != 0) {  // one edit, as it moves the ranges after it
    const auto range = values[rng() % values.size()];
    const std::size_t pos = range.first + rng() % (range.second - range.first + 1);
    const unsigned kind = rng() % 3;
    if (kind == 0) s.insert(pos, pick(kValues));
    if (kind == 1) s.erase(pos, std::min<std::size_t>(rng() % 6, range.second - pos));
    if (kind == 2) s.insert(pos, s.substr(range.first, range.second - range.first));
    return s;
  }
  for (int edits = 1 + int(rng() % 6); edits > 0; --edits) {
    const std::size_t pos = s.empty() ? 0 : rng() % s.size();
    const unsigned kind = rng() % 5;
    if (kind == 0 && !s.empty()) s[pos] = char(rng());
    if (kind == 1) s.erase(pos, rng() % 12);
    if (kind == 2) s.insert(pos, pick(kMarkup));
    if (kind == 3 && !s.empty()) s.insert(pos, s.substr(rng() % s.size(), rng() % 64));
    if (kind == 4) s.resize(pos);
  }
  return s;
}

TEST(SvgFuzzTest, MutatedDocumentsNeitherCrashNorHang) {
  std::mt19937 rng(20240611);
  std::vector<std::string> seeds;
  for (const auto& image : dialogImages()) seeds.push_back(*image.text);
  seeds.push_back(appIconSvg());
  for (const auto& feature : features()) seeds.push_back(feature.document);
  std::vector<std::string> current = seeds;
  for (int round = 0; round < 400; ++round) {
    for (std::size_t i = 0; i < seeds.size(); ++i) {
      std::string mutated = mutate(current[i], rng);
      // Mutations pile up on a document while it still loads, for 40 rounds at a time.
      const bool loads = renderAnything(mutated);
      current[i] = round % 40 == 39 ? seeds[i] : loads ? mutated : current[i];
    }
  }
}

TEST(SvgFuzzTest, RandomBytesNeitherCrashNorHang) {
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; ++i) {
    std::string s(rng() % 300, '\0');
    for (auto& c : s) c = char(rng());
    if (i % 2) s = "<svg>" + s + "</svg>";
    renderAnything(s);
  }
}

TEST(SvgFuzzTest, ExtremeDocumentsNeitherCrashNorHang) {
  std::string deep;
  for (int i = 0; i < 99000; ++i) deep += "<g>";
  deep += "<rect width='9' height='9'/>";
  for (int i = 0; i < 99000; ++i) deep += "</g>";
  std::string longPath = "M0 0";
  for (int i = 0; i < 100000; ++i) longPath += " c30 -30 -30 30 1 1";
  std::string manyShapes;
  for (int i = 0; i < 20000; ++i) manyShapes += "<rect width='100%' height='100%' opacity='.5'/>";
  const std::vector<std::string> documents = {
      "<svg viewBox='0 0 10 10'>" + deep + "</svg>",
      "<svg viewBox='0 0 10 10'><path stroke='#000' stroke-linejoin='round' stroke-width='3' d='" + longPath +
          "'/></svg>",
      "<svg viewBox='0 0 10 10'>" + manyShapes + "</svg>",
      "<svg viewBox='0 0 10 10'><path d='M1e308 1e308 L-1e308 1e308 L0 -1e308z M0 0 A1e-300 1e300 1e308 1 1 5 5'/>"
      "<circle r='1e300' stroke='#000' stroke-width='1e300'/><rect width='1e-300' height='1e300' rx='1e300'/>"
      "<g transform='scale(1e-300)'><circle r='5' stroke='red' stroke-width='2'/></g>"
      "<g transform='translate(1e308) scale(1e308)'><path d='M0 0h1v1z'/></g>"
      "<polyline points='0,0 1e308,1e308 NaN' stroke='#000' stroke-width='1e-308'/></svg>",
      "<svg viewBox='0 0 10 10'><linearGradient id='a' href='#b'/><linearGradient id='b' href='#a'/>"
      "<rect width='10' height='10' fill='url(#a)'/><rect width='10' height='10' fill='url(#a) url(#b)'/></svg>",
  };
  for (const auto& d : documents) {
    renderAnything(d);
    renderAnything(d, 300, 200);
  }
}

}  // namespace
