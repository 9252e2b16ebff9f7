// The packed logon message reader and the interactive-logon packer. The reader takes bytes
// that may come from a remote client, so beside the known layouts it is fed hostile and
// random buffers; each is copied into a buffer of exactly its size, so the sanitizers see any
// read past the end.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "Korvath/LogonMessage.h"

using namespace Korvath::Authentication;

namespace {

using Bytes = std::vector<std::uint8_t>;

void putU16(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 2; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
void putU32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
void putU64(Bytes& b, std::size_t at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint64_t getU64(const Bytes& b, std::size_t at) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | b[at + i];
  return v;
}
void appendText(Bytes& b, const std::u16string& text) {
  for (char16_t c : text) {
    b.push_back(static_cast<std::uint8_t>(c & 0xFF));
    b.push_back(static_cast<std::uint8_t>(c >> 8));
  }
}

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
  const Bytes logon = packInteractiveLogon(u"CORP", u"alice", u"pw", kKerbInteractiveLogon);
  ASSERT_EQ(logon.size(), 56u + 8 + 10 + 4);
  EXPECT_EQ(logon[0], 2);
  // Length, MaximumLength and Buffer offset of domain, user name and password.
  const std::size_t fields[] = {8, 24, 40};
  const std::uint32_t lengths[] = {8, 10, 4};
  const std::uint64_t offsets[] = {56, 64, 74};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(logon[fields[i]] | (logon[fields[i] + 1] << 8), static_cast<int>(lengths[i])) << i;
    EXPECT_EQ(logon[fields[i] + 2] | (logon[fields[i] + 3] << 8), static_cast<int>(lengths[i])) << i;
    EXPECT_EQ(getU64(logon, fields[i] + 8), offsets[i]) << i;
  }
  EXPECT_EQ(logon[74], 'p');
  EXPECT_EQ(logon[76], 'w');

  // The unlock form carries a zero LogonId after the same fields.
  const Bytes unlock = packInteractiveLogon(u"CORP", u"alice", u"pw", kKerbWorkstationUnlockLogon);
  ASSERT_EQ(unlock.size(), 64u + 8 + 10 + 4);
  EXPECT_EQ(unlock[0], 7);
  EXPECT_EQ(getU64(unlock, 56), 0u);
  EXPECT_EQ(getU64(unlock, 16), 64u);

  EXPECT_TRUE(packInteractiveLogon(u"", u"a", u"b", kKerbCertificateLogon).empty());
  EXPECT_TRUE(packInteractiveLogon(std::u16string(32768, u'x'), u"a", u"b").empty());
  EXPECT_EQ(read(packInteractiveLogon(std::u16string(32767, u'x'), u"a", u"b")).domain.size(), 32767u);
}

TEST(LogonMessage, ReadsTheNamesOfEachMessageType) {
  struct Row {
    const char* what;
    Bytes message;
    std::uint32_t type;
    bool readable;
    std::u16string domain, user;
  };
  Bytes trailingNul = namesAfterHeader(u"CORP", u"bob");
  trailingNul.push_back(0);
  trailingNul.push_back(0);
  putU32(trailingNul, 24, 10);  // the domain's length counts its NUL
  const Row rows[] = {
      {"interactive", packInteractiveLogon(u"CORP", u"alice", u"secret"), 2, true, u"CORP", u"alice"},
      {"unlock", packInteractiveLogon(u".", u"carol", u"x", 7), 7, true, u".", u"carol"},
      {"empty names", packInteractiveLogon(u"", u"", u"x"), 2, true, u"", u""},
      {"certificate", certificateLogon(13, u"", u"bob@corp.example"), 13, true, u"", u"bob@corp.example"},
      {"certificate unlock", certificateLogon(15, u"CORP", u"dave"), 15, true, u"CORP", u"dave"},
      {"513", namesAfterHeader(u"CORP", u"erin\u00e9"), 513, true, u"CORP", u"erin\u00e9"},
      {"513 with terminating NUL", trailingNul, 513, true, u"CORP", u"bob"},
      {"other type", [] { Bytes b(96, 0); b[0] = 6; return b; }(), 6, false, u"", u""},
      {"too short for a type", Bytes{2, 0, 0}, 0, false, u"", u""},
  };
  for (const Row& row : rows) {
    const LogonMessageNames names = read(row.message);
    EXPECT_EQ(names.messageType, row.type) << row.what;
    EXPECT_EQ(names.readable, row.readable) << row.what;
    EXPECT_EQ(names.domain, row.domain) << row.what;
    EXPECT_EQ(names.userName, row.user) << row.what;
  }
  EXPECT_FALSE(readLogonMessageNames(nullptr, 100).readable);
}

TEST(LogonMessage, MalformedMessagesGiveNoNames) {
  const Bytes logon = packInteractiveLogon(u"CORP", u"alice", u"pw");  // user name at 64, 10 bytes
  const Bytes after = namesAfterHeader(u"CORP", u"bob");
  struct Row {
    const char* what;
    Bytes message;
  };
  auto patched = [](Bytes b, auto&& change) {
    change(b);
    return b;
  };
  const Row rows[] = {
      {"odd length", patched(logon, [](Bytes& b) { putU16(b, 24, 9); })},
      {"length past the end", patched(logon, [](Bytes& b) { putU16(b, 24, 0xFFFE); })},
      {"offset inside the fixed part", patched(logon, [](Bytes& b) { putU64(b, 32, 40); })},
      {"offset at the end", patched(logon, [&](Bytes& b) { putU64(b, 32, logon.size()); })},
      {"offset past the end", patched(logon, [](Bytes& b) { putU64(b, 32, 1ULL << 40); })},
      {"offset plus length wraps", patched(logon, [](Bytes& b) { putU64(b, 32, ~0ULL - 3); })},
      {"text one byte short", patched(logon, [&](Bytes& b) { putU64(b, 32, logon.size() - 9); })},
      {"bad domain, good user", patched(logon, [](Bytes& b) { putU64(b, 16, 8); })},
      {"NUL inside a name", patched(logon, [](Bytes& b) { b[66] = 0; b[67] = 0; })},
      {"shorter than its fixed part", Bytes(logon.begin(), logon.begin() + 55)},
      {"unlock without its LogonId", patched(Bytes(logon.begin(), logon.begin() + 62), [](Bytes& b) { b[0] = 7; })},
      {"513 odd length", patched(after, [](Bytes& b) { putU32(b, 16, 5); })},
      {"513 lengths past the end", patched(after, [](Bytes& b) { putU32(b, 24, 10); })},
      {"513 lengths overflow 32 bits", patched(after, [](Bytes& b) { putU32(b, 16, 0xFFFFFFFEu); putU32(b, 24, 8); })},
      {"513 shorter than its fixed part", Bytes(after.begin(), after.begin() + 47)},
  };
  for (const Row& row : rows) {
    const LogonMessageNames names = read(row.message);
    EXPECT_FALSE(names.readable) << row.what;
    EXPECT_TRUE(names.domain.empty() && names.userName.empty()) << row.what;
  }
}

TEST(LogonMessage, EveryTruncationGivesNoNames) {
  const Bytes messages[] = {packInteractiveLogon(u"CORP", u"alice", u""), packInteractiveLogon(u"D", u"u", u"", 7),
                            certificateLogon(13, u"CORP", u"bob"), certificateLogon(15, u"", u"c@d"),
                            namesAfterHeader(u"CORP", u"erin")};
  for (const Bytes& whole : messages) {
    ASSERT_TRUE(read(whole).readable);
    for (std::size_t n = 0; n < whole.size(); ++n) {
      EXPECT_FALSE(read(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n))).readable)
          << "type " << int(whole[0]) << " cut to " << n;
    }
  }
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
        if (rng() % 2) putU16(b, field, static_cast<std::uint32_t>(value));
        else if (rng() % 2) putU32(b, field, static_cast<std::uint32_t>(value));
        else putU64(b, field, value);
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
