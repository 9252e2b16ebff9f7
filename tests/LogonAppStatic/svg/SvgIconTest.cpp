// The committed application icon is what the generator makes of its SVG source today: every
// size present, and its pixels those of our renderer (so a changed app-icon.svg or renderer
// without a regenerated app.ico fails here).

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "SvgTestSupport.h"

namespace {

using namespace KvSvgTest;

std::uint32_t read32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
}

// A 32-bit bitmap entry (colour rows bottom-up, not premultiplied), premultiplied again.
Bitmap decodeBmp(const std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t size) {
  Bitmap out;
  if (read32(b, at) != 40 || read32(b, at + 4) != size || read32(b, at + 8) != 2 * size) return out;
  out.width = out.height = size;
  out.stride = 4 * size;
  out.pixels.resize(std::size_t(size) * size * 4);
  const std::uint8_t* p = &b[at + 40];
  for (std::uint32_t row = size; row-- > 0;) {
    for (std::uint32_t x = 0; x < size; ++x, p += 4) {
      std::uint8_t* d = &out.pixels[row * out.stride + x * 4];
      for (int c = 0; c < 3; ++c) d[c] = std::uint8_t((p[c] * p[3] + 127) / 255);
      d[3] = p[3];
    }
  }
  return out;
}

TEST(SvgIconTest, AppIcoHoldsOurRenderingOfAppIconSvg) {
  std::ifstream in(std::string(KV_SVG_IMAGE_DIR) + "/app.ico", std::ios::binary);
  std::vector<std::uint8_t> ico((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GE(ico.size(), 6u + 4 * 16);
  ASSERT_EQ(read32(ico, 0), 0x00010000u);  // reserved 0, type 1 (icon)
  ASSERT_EQ(ico[4], 4);
  const std::uint32_t sizes[] = {16, 32, 48, 256};
  for (int i = 0; i < 4; ++i) {
    std::size_t entry = 6 + 16 * std::size_t(i);
    std::uint32_t size = sizes[i];
    EXPECT_EQ(ico[entry], size == 256 ? 0 : size);
    EXPECT_EQ(read32(ico, entry + 4), 0x00200001u);  // 1 plane, 32 bits
    std::uint32_t length = read32(ico, entry + 8), offset = read32(ico, entry + 12);
    ASSERT_LE(std::size_t(offset) + length, ico.size());
    Bitmap stored = size == 256
                        ? loadPng(std::vector<std::uint8_t>(ico.begin() + offset, ico.begin() + offset + length))
                        : decodeBmp(ico, offset, size);
    ASSERT_TRUE(stored.valid()) << size;
    // Un-premultiplying and premultiplying again may move a channel by one.
    EXPECT_LE(compare(stored, render(appIconSvg(), size, size)).max, 1) << size << " px";
  }
}

}  // namespace
