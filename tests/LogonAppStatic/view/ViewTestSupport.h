#pragma once
// Shared bits of the toolkit's UI tests.

#include <windows.h>

#include <cstdint>

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

}  // namespace Test
}  // namespace Korvath
