#pragma once
// Shared bits of the toolkit's UI tests.

#include <windows.h>

#include <cstdint>
#include <vector>

namespace Korvath {
namespace Test {

// The test executable: its resources hold test texts (400, 401, 421, ...), test images
// (900 square, 901 half, 902 broken) and the common controls manifest (2).
inline HMODULE testModule() { return GetModuleHandleW(nullptr); }

// KvCredProv.dll, loaded once for the whole test run: the product's own resources.
inline HMODULE productModule() {
  static HMODULE module = LoadLibraryW(L"KvCredProv.dll");
  return module;
}

constexpr std::uint32_t kBackground = 0xF0F0F0;

// A 24-bit BMP of a module grid exactly as the QR-code painter writes it: rows of 3*n bytes
// padded to a multiple of 4 with 255, the bottom module row first, dark = 0,0,0.
inline std::vector<std::uint8_t> makeQrBmp(const std::vector<std::vector<bool>>& dark) {
  const std::uint32_t n = static_cast<std::uint32_t>(dark.size());
  const std::uint32_t rowBytes = (3 * n + 3) / 4 * 4;
  std::vector<std::uint8_t> bmp(54 + static_cast<std::size_t>(n) * rowBytes, 0);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put32(2, static_cast<std::uint32_t>(bmp.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, n);
  put32(22, n);
  bmp[26] = 1;
  bmp[28] = 24;
  std::fill(bmp.begin() + 54, bmp.end(), 255);
  for (std::uint32_t y = 0; y < n; ++y) {
    for (std::uint32_t x = 0; x < n; ++x) {
      if (!dark[y][x]) continue;
      std::uint8_t* p = &bmp[54 + static_cast<std::size_t>(n - 1 - y) * rowBytes + 3 * x];
      p[0] = p[1] = p[2] = 0;
    }
  }
  return bmp;
}

// An n x n grid with a finder-like block in the top-left corner only (so a grid drawn upside
// down or mirrored does not match) and a fixed pseudo-random rest.
inline std::vector<std::vector<bool>> makeGrid(int n) {
  std::vector<std::vector<bool>> grid(n, std::vector<bool>(n, false));
  std::uint32_t state = 12345u + static_cast<std::uint32_t>(n);
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      state = state * 1103515245u + 12345u;
      grid[y][x] = (x < 7 && y < 7) ? (x == 0 || y == 0 || x == 6 || y == 6 || (x >= 2 && x <= 4 && y >= 2 && y <= 4))
                                    : ((state >> 16) & 1) != 0;
    }
  }
  return grid;
}

}  // namespace Test
}  // namespace Korvath
