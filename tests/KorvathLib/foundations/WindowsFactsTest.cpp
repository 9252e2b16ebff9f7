#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Korvath/WindowsFacts.h"
#include "TestSupport.h"

using namespace Korvath::Utils;

namespace {

const auto putU32 = KvTest::put<4>;
const auto putU64 = KvTest::put<8>;

// A packed certificate logon whose smart-card data names `reader`.
std::vector<std::uint8_t> certificateLogon(std::uint32_t messageType, const std::u16string& reader) {
  std::vector<std::uint8_t> csp(40, 0);
  // Card name "c", then the reader name, both NUL-terminated UTF-16 in bBuffer.
  KvTest::appendText(csp, std::u16string(u"c") + u'\0' + reader + u'\0');
  putU32(csp, 0, static_cast<std::uint32_t>(csp.size()));  // dwCspInfoLen
  putU32(csp, 4, 1);
  putU32(csp, 24, 0);  // card name at 0
  putU32(csp, 28, 2);  // reader name after "c\0"
  std::vector<std::uint8_t> b(72 + csp.size(), 0);
  putU32(b, 0, messageType);
  putU32(b, 60, static_cast<std::uint32_t>(csp.size()));
  putU64(b, 64, 72);
  for (std::size_t i = 0; i < csp.size(); ++i) b[72 + i] = csp[i];
  return b;
}

}  // namespace

// A certificate logon or unlock (13, 15) whose reader is Windows Hello's; every offset and length
// is checked against the buffer, and the reader name must end inside the record.
TEST(HelloLogon, RecognisesHelloReadersInWholeMessagesOnly) {
  const std::vector<std::uint8_t> good = certificateLogon(13, u"Windows Hello");
  auto with = [&](std::size_t at, std::uint64_t v, auto put) {
    std::vector<std::uint8_t> b = good;
    put(b, at, v);
    return b;
  };
  std::vector<std::uint8_t> unterminated = good;  // a reader name without its terminating NUL
  unterminated.resize(unterminated.size() - 2);
  putU32(unterminated, 60, static_cast<std::uint32_t>(unterminated.size() - 72));
  putU32(unterminated, 72, static_cast<std::uint32_t>(unterminated.size() - 72));
  const std::pair<std::vector<std::uint8_t>, bool> rows[] = {
      {certificateLogon(13, u"Windows Hello for Business 1"), true},
      {certificateLogon(15, u"Microsoft Windows Hello reader"), true},
      {certificateLogon(13, u"Gemalto USB Smart Card Reader 0"), false},
      {certificateLogon(2, u"Windows Hello"), false},  // password logon
      {with(64, ~0ULL, putU64), false},                // CSP offset wraps around
      {with(64, good.size(), putU64), false},          // CSP offset at the end
      {with(64, 1ULL << 40, putU64), false},           // far away
      {with(60, 0xFFFFFFFFu, putU32), false},          // CSP length too large
      {with(60, 39, putU32), false},                   // CSP shorter than its header
      {with(72 + 0, 0xFFFFFFFFu, putU32), false},      // CSP record claims too much
      {with(72 + 28, 0x7FFFFFFFu, putU32), false},     // reader offset far past the end
      {with(72 + 28, 0xFFFFFFFFu, putU32), false},     // reader offset overflow
      {unterminated, false},
  };
  for (std::size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i)
    EXPECT_EQ(rows[i].second, isWindowsHelloCertificateLogon(rows[i].first)) << i;
  EXPECT_FALSE(isWindowsHelloCertificateLogon(nullptr, 100));
  for (std::size_t n = 0; n < good.size(); ++n) {
    // A copy of exactly n bytes, so the sanitizers see any read past it.
    std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_FALSE(isWindowsHelloCertificateLogon(cut.data(), cut.size())) << n;
  }
}

// Random and damaged messages: under the sanitizers, a read outside the buffer fails here.
TEST(HelloLogon, GarbageNeverCrashes) {
  std::mt19937 rng(12345);
  const std::vector<std::uint8_t> good = certificateLogon(15, u"Windows Hello");
  int accepted = 0;
  for (int round = 0; round < 20000; ++round) {
    std::vector<std::uint8_t> b;
    if (round % 2 == 0) {
      b.resize(rng() % 200);
      for (auto& x : b) x = static_cast<std::uint8_t>(rng());
      if (b.size() >= 4) putU32(b, 0, 13 + 2 * (rng() % 2));  // get past the first check
    } else {
      b = good;
      const int flips = 1 + static_cast<int>(rng() % 8);
      for (int f = 0; f < flips; ++f) b[rng() % b.size()] = static_cast<std::uint8_t>(rng());
      b.resize(rng() % (b.size() + 1));
    }
    accepted += isWindowsHelloCertificateLogon(b.data(), b.size()) ? 1 : 0;
  }
  EXPECT_LT(accepted, 20000);
}

// From build 22000 the first stand-alone "10" becomes "11".
TEST(WindowsVersion, ElevenRuleAndWindows8Names) {
  EXPECT_EQ(windowsVersionName("Windows 10 Pro", 19045), "Windows 10 Pro");
  EXPECT_EQ(windowsVersionName("Windows 10 Enterprise", 22000), "Windows 11 Enterprise");
  EXPECT_EQ(windowsVersionName("Windows Server 2025 Datacenter", 26100), "Windows Server 2025 Datacenter");
  EXPECT_EQ(windowsVersionName("Windows Server 2010", 26100), "Windows Server 2010");
  EXPECT_EQ(windowsVersionName("", 26100), "");
  EXPECT_TRUE(isWindows8OrServer2012Name("Windows 8.1 Pro"));
  EXPECT_TRUE(isWindows8OrServer2012Name("Windows Server 2012 R2 Standard"));
  EXPECT_FALSE(isWindows8OrServer2012Name("Windows 10 Pro"));
}

TEST(MachineFacts, ComputerNameAndLocalDomain) {
  const std::string name = getComputerName();
  ASSERT_FALSE(name.empty());
  std::string other = name;
  for (char& c : other)
    c = static_cast<char>(std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c) : std::toupper(c));
  for (const std::string& local : {std::string("."), name, other}) EXPECT_TRUE(isLocalDomain(local)) << local;
  EXPECT_FALSE(isLocalDomain("CORP"));
  EXPECT_FALSE(isLocalDomain(""));
#ifdef _WIN32
  EXPECT_NE(getWindowsVersionName().find("Windows"), std::string::npos);
#else
  EXPECT_EQ(getDnsDomainName(), "");
  EXPECT_EQ(getSystemPrimaryLanguageId(), 9);
#endif
}
