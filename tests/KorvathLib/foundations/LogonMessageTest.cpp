// The packed logon message reader and the interactive-logon packer. The reader takes bytes
// that may come from a remote client, so beside the known layouts it is fed hostile and
// random buffers; each is copied into a buffer of exactly its size, so the sanitizers see any
// read past the end.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "Commons/Encoding.h"
#include "Korvath/LogonMessage.h"
#include "TestSupport.h"

using namespace Korvath::Authentication;

namespace {

using Bytes = std::vector<std::uint8_t>;

using KvTest::appendText;
const auto putU16 = KvTest::put<2>;
const auto putU32 = KvTest::put<4>;
const auto putU64 = KvTest::put<8>;
const auto hex = [](const Bytes& b) { return Commons::Hex::encode(b); };

// A certificate logon (13) or certificate unlock logon (15) with the names at its end.
Bytes certificateLogon(std::uint32_t type, const std::u16string& domain, const std::u16string& user) {
  Bytes b(type == kKerbCertificateLogon ? kCertificateLogonSize : kCertificateUnlockLogonSize, 0);
  putU32(b, 0, type);
  putU16(b, 8, static_cast<std::uint32_t>(2 * domain.size()));
  putU64(b, 16, b.size());
  putU16(b, 24, static_cast<std::uint32_t>(2 * user.size()));
  putU64(b, 32, b.size() + 2 * domain.size());
  appendText(b, domain);
  appendText(b, user);
  return b;
}

// Type 513: user name at byte 48, the domain right after it, byte lengths at 16 and 24.
Bytes namesAfterHeader(const std::u16string& domain, const std::u16string& user) {
  Bytes b(kNamesAfterHeaderSize, 0);
  putU32(b, 0, kKerbNamesAfterHeaderLogon);
  putU32(b, 16, static_cast<std::uint32_t>(2 * user.size()));
  putU32(b, 24, static_cast<std::uint32_t>(2 * domain.size()));
  appendText(b, user);
  appendText(b, domain);
  return b;
}

LogonMessageNames read(const Bytes& b) {
  const Bytes exact(b);  // the reader must stay inside exactly these bytes
  return readLogonMessageNames(exact.data(), exact.size());
}

}  // namespace

TEST(LogonMessage, PacksInteractiveLogonsAsLsaReadsThem) {
  // Type, then Length, MaximumLength, padding and Buffer offset of domain, user name and password,
  // then the three texts.
  // clang-format off
  EXPECT_EQ(hex(packInteractiveLogon(u"CORP", u"alice", u"pw", kKerbInteractiveLogon)),
            "0200000000000000" "0800080000000000" "3800000000000000" "0a000a0000000000" "4000000000000000"
            "0400040000000000" "4a00000000000000" "43004f0052005000" "61006c0069006300" "650070007700");
  // The unlock form: the same with a zero LogonId before the texts.
  EXPECT_EQ(hex(packInteractiveLogon(u"D", u"", u"p", kKerbWorkstationUnlockLogon)),
            "0700000000000000" "0200020000000000" "4000000000000000" "0000000000000000" "4200000000000000"
            "0200020000000000" "4200000000000000" "0000000000000000" "44007000");
  // clang-format on
  EXPECT_TRUE(packInteractiveLogon(u"", u"a", u"b", kKerbCertificateLogon).empty());
  EXPECT_TRUE(packInteractiveLogon(std::u16string(32768, u'x'), u"a", u"b").empty());
  EXPECT_EQ(read(packInteractiveLogon(std::u16string(32767, u'x'), u"a", u"b")).domain.size(), 32767u);
}

// Each row: a message, its type, and its names, or none when it is malformed.
TEST(LogonMessage, ReadsNamesOnlyFromWellFormedMessages) {
  const Bytes logon = packInteractiveLogon(u"CORP", u"alice", u"pw");  // user name at 64, 10 bytes
  const Bytes after = namesAfterHeader(u"CORP", u"bob");
  auto patched = [](Bytes b, auto&& change) {
    change(b);
    return b;
  };
  // What, the message, its type, the names expected (both empty: malformed), readable.
  const std::tuple<const char*, Bytes, std::uint32_t, std::u16string, std::u16string, bool> rows[] = {
      {"interactive", logon, 2, u"CORP", u"alice", true},
      {"unlock", packInteractiveLogon(u".", u"carol", u"", 7), 7, u".", u"carol", true},
      {"empty names", packInteractiveLogon(u"", u"", u""), 2, u"", u"", true},
      {"certificate", certificateLogon(13, u"", u"bob@corp.example"), 13, u"", u"bob@corp.example", true},
      {"certificate unlock", certificateLogon(15, u"CORP", u"dave"), 15, u"CORP", u"dave", true},
      {"513", namesAfterHeader(u"CORP", u"erin\u00e9"), 513, u"CORP", u"erin\u00e9", true},
      {"terminating NUL counted", patched(after, [](Bytes& b) { b.insert(b.end(), 2, 0), putU32(b, 24, 10); }), 513,
       u"CORP", u"bob", true},
      {"other type", patched(Bytes(96, 0), [](Bytes& b) { b[0] = 6; }), 6, u"", u"", false},
      {"too short for a type", Bytes{2, 0, 0}, 0, u"", u"", false},
      {"odd length", patched(logon, [](Bytes& b) { putU16(b, 24, 9); }), 2, u"", u"", false},
      {"length past the end", patched(logon, [](Bytes& b) { putU16(b, 24, 0xFFFE); }), 2, u"", u"", false},
      {"offset inside the fixed part", patched(logon, [](Bytes& b) { putU64(b, 32, 40); }), 2, u"", u"", false},
      {"offset at the end", patched(logon, [&](Bytes& b) { putU64(b, 32, logon.size()); }), 2, u"", u"", false},
      {"offset past the end", patched(logon, [](Bytes& b) { putU64(b, 32, 1ULL << 40); }), 2, u"", u"", false},
      {"offset plus length wraps", patched(logon, [](Bytes& b) { putU64(b, 32, ~0ULL - 3); }), 2, u"", u"", false},
      {"text one byte short", patched(logon, [&](Bytes& b) { putU64(b, 32, logon.size() - 9); }), 2, u"", u"", false},
      {"bad domain, good user", patched(logon, [](Bytes& b) { putU64(b, 16, 8); }), 2, u"", u"", false},
      {"NUL inside a name", patched(logon, [](Bytes& b) { b[66] = b[67] = 0; }), 2, u"", u"", false},
      {"shorter than its fixed part", Bytes(logon.begin(), logon.begin() + 55), 2, u"", u"", false},
      {"unlock without its LogonId", patched(Bytes(logon.begin(), logon.begin() + 62), [](Bytes& b) { b[0] = 7; }), 7,
       u"", u"", false},
      {"513 odd length", patched(after, [](Bytes& b) { putU32(b, 16, 5); }), 513, u"", u"", false},
      {"513 lengths past the end", patched(after, [](Bytes& b) { putU32(b, 24, 10); }), 513, u"", u"", false},
      {"513 lengths overflow 32 bits", patched(after, [](Bytes& b) { putU32(b, 16, 0xFFFFFFFEu), putU32(b, 24, 8); }),
       513, u"", u"", false},
      {"513 shorter than its fixed part", Bytes(after.begin(), after.begin() + 47), 513, u"", u"", false},
  };
  for (const auto& [what, message, type, domain, user, readable] : rows) {
    const LogonMessageNames names = read(message);
    EXPECT_EQ(names.messageType, type) << what;
    EXPECT_EQ(names.readable, readable) << what;
    EXPECT_TRUE(names.domain == domain && names.userName == user) << what;
  }
  // Messages whose names end them: cut anywhere, they give no names.
  for (const Bytes& whole : {packInteractiveLogon(u"CORP", u"alice", u""), certificateLogon(15, u"", u"c@d"),
                             namesAfterHeader(u"CORP", u"erin")}) {
    for (std::size_t n = 0; n < whole.size(); ++n) {
      EXPECT_FALSE(read(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n))).readable) << n;
    }
  }
  EXPECT_FALSE(readLogonMessageNames(nullptr, 100).readable);
}

// Random buffers and mutations of valid messages, with the length and offset fields aimed at
// the edges; the sanitizers of the native build turn any read outside into a failure.
TEST(LogonMessage, FuzzedMessagesStayInsideTheBuffer) {
  std::mt19937_64 rng(0x4b76);
  const Bytes seeds[] = {packInteractiveLogon(u"CORP", u"alice", u"pw"), packInteractiveLogon(u"", u"bob", u"", 7),
                         certificateLogon(13, u"CORP", u"carol@corp"), certificateLogon(15, u"D", u"dave"),
                         namesAfterHeader(u"CORP", u"erin")};
  const std::uint32_t types[] = {2, 7, 13, 15, 513};
  const std::size_t fields[] = {8, 16, 24, 32, 40, 48};
  int readable = 0;
  const int rounds = 300000;
  for (int round = 0; round < rounds; ++round) {
    Bytes b;
    if (round % 4 == 0) {
      b.resize(rng() % 160);
      for (auto& x : b) x = static_cast<std::uint8_t>(rng());
      if (b.size() >= 4) putU32(b, 0, types[rng() % 5]);
    } else {
      b = seeds[rng() % 5];
      const std::size_t size = b.size();
      const std::uint64_t edges[] = {0, 1, 2, size - 1, size, size + 1, 0xFFFF, 0xFFFFFFFFu, ~0ULL, rng() % (size + 8)};
      for (int n = 1 + static_cast<int>(rng() % 3); n > 0; --n) {
        const std::size_t field = fields[rng() % 6];
        const std::uint64_t value = edges[rng() % 10];
        if (rng() % 2)
          putU16(b, field, static_cast<std::uint32_t>(value));
        else if (rng() % 2)
          putU32(b, field, static_cast<std::uint32_t>(value));
        else
          putU64(b, field, value);
      }
      if (rng() % 2) b[rng() % b.size()] = static_cast<std::uint8_t>(rng());
      if (rng() % 3 == 0) b.resize(rng() % (b.size() + 16), static_cast<std::uint8_t>(rng()));
    }
    const LogonMessageNames names = read(b);
    if (!names.readable) {
      ASSERT_TRUE(names.domain.empty() && names.userName.empty());
      continue;
    }
    ++readable;
    ASSERT_LE(2 * (names.domain.size() + names.userName.size()), b.size());
  }
  // Both outcomes were reached often, so the mutations exercised the checks and the reading.
  EXPECT_GT(readable, rounds / 20);
  EXPECT_LT(readable, rounds / 2);
}
