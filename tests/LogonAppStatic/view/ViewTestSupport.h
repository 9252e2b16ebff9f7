#pragma once
// Shared bits of the toolkit's UI tests.

#include <windows.h>

#include <cstdint>
#include <cstdlib>

namespace Korvath {
namespace Test {

// The test executable: its resources hold test texts (400, 401), test images
// (900 square, 901 half, 902 broken) and the common controls manifest (2).
inline HMODULE testModule() { return GetModuleHandleW(nullptr); }

// KvCredProv.dll, loaded once for the whole test run: the product's own resources.
inline HMODULE productModule() {
  static HMODULE module = LoadLibraryW(L"KvCredProv.dll");
  return module;
}

constexpr std::uint32_t kBackground = 0xF0F0F0;

// 1 on the build's display, 1.5 on the 2880x1620 screen (KV_EXPECT_SCALE).
inline double expectedScale() {
  const char* value = std::getenv("KV_EXPECT_SCALE");
  return value != nullptr ? std::strtod(value, nullptr) : 1.0;
}

}  // namespace Test
}  // namespace Korvath
