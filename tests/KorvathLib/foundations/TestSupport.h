#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "Korvath/Platform.h"

namespace KvTest {

// A clock that only moves when told to; sleeping advances it instead of waiting.
class FakeClock : public Korvath::Platform::IClock {
 public:
  std::uint64_t nowFileTime() override {
    return static_cast<std::uint64_t>(unixMs_.load() + 11644473600000LL) * 10000ULL;
  }
  std::int64_t nowUnixMs() override { return unixMs_.load(); }
  std::int64_t monotonicMs() override { return monotonicMs_.load(); }
  void sleepMs(std::uint32_t ms) override {
    sleeps_.fetch_add(1);
    monotonicMs_.fetch_add(ms);
    unixMs_.fetch_add(ms);
  }
  void setUnixMs(std::int64_t ms) { unixMs_.store(ms); }
  int sleeps() const { return sleeps_.load(); }

 private:
  std::atomic<std::int64_t> unixMs_{1700000000000LL};
  std::atomic<std::int64_t> monotonicMs_{5000};
  std::atomic<int> sleeps_{0};
};

// Installs a clock for the lifetime of the object.
class ScopedClock {
 public:
  explicit ScopedClock(Korvath::Platform::IClock& c) { Korvath::Platform::setClock(&c); }
  ~ScopedClock() { Korvath::Platform::setClock(nullptr); }
};

// Packed Windows structures, as the logon-message and Windows-facts tests build them:
// a little-endian value of `bytes` bytes at `at`, and UTF-16LE text appended.
template <int bytes>
void put(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < bytes; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void appendText(std::vector<std::uint8_t>& b, const std::u16string& text) {
  for (char16_t c : text) {
    b.push_back(static_cast<std::uint8_t>(c & 0xFF));
    b.push_back(static_cast<std::uint8_t>(c >> 8));
  }
}

// The directory that KORVATH_ROOT names for this test process (native flavour); a
// fresh temporary directory removed when the process ends. Empty on Windows.
std::string testRoot();

}  // namespace KvTest
