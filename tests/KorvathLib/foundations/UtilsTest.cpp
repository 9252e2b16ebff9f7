#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <thread>
#include <vector>

#include "Korvath/AttemptSlot.h"
#include "Korvath/RequestId.h"
#include "Korvath/Utils.h"

using namespace Korvath;

// One identifier per sign-in attempt, also when threads ask for it at once.
TEST(RequestId, OnePerAttempt) {
  clearRequestId();
  EXPECT_EQ(currentRequestId(), "");
  std::vector<std::string> got(8);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&, i] { got[i] = ensureRequestId(); });
  for (auto& t : threads) t.join();
  const std::string first = got[0];
  for (const auto& g : got) EXPECT_EQ(g, first);
  // A version-4 UUID in lower case from the cryptographic random source, new for every attempt.
  const std::regex form("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$");
  EXPECT_TRUE(std::regex_match(first, form)) << first;
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) EXPECT_TRUE(seen.insert(Utils::generateRandomId()).second);
  EXPECT_EQ(currentRequestId(), first);
  clearRequestId();
  EXPECT_EQ(currentRequestId(), "");
  EXPECT_NE(ensureRequestId(), first);
  clearRequestId();
}

// While one attempt holds its turn, no other gets one: not one nested on the same thread (as
// from a message LogonUI's thread dispatches while it waits), not one from another thread; and
// the refused ones leave the first attempt's turn as it was.
TEST(AttemptSlot, OneAttemptAtATime) {
  Utils::AttemptSlot slot;
  {
    Utils::AttemptSlot::Turn first = slot.tryBegin();
    ASSERT_TRUE(first);
    EXPECT_FALSE(slot.tryBegin());
    bool other = true;
    std::thread([&] { other = static_cast<bool>(slot.tryBegin()); }).join();
    EXPECT_FALSE(other);
    EXPECT_TRUE(slot.running());
    const Utils::AttemptSlot::Turn moved(std::move(first));
    EXPECT_FALSE(slot.tryBegin());
  }
  EXPECT_FALSE(slot.running());
  EXPECT_TRUE(slot.tryBegin());
  EXPECT_TRUE(slot.tryBegin()) << "the turn of an ended attempt is free again";
}

TEST(Text, Utf8WideRoundTripAndMalformedInput) {
  EXPECT_EQ(Utils::toUtf8(L""), "");
  EXPECT_EQ(Utils::toWide(""), L"");
  const std::string text = "A\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z";  // A é € 😀 z
  const std::wstring wide = Utils::toWide(text);
  if (sizeof(wchar_t) == 2) {
    ASSERT_EQ(wide.size(), 6u);  // the emoji is a surrogate pair
    EXPECT_EQ(static_cast<unsigned>(wide[3]), 0xD83Du);
  } else {
    ASSERT_EQ(wide.size(), 5u);
  }
  EXPECT_EQ(static_cast<unsigned>(wide[1]), 0xE9u);
  EXPECT_EQ(Utils::toUtf8(wide), text);
  EXPECT_EQ(Utils::toWide(std::string("a\xff") + 'b'), std::wstring(L"a\xFFFD") + L'b');
  EXPECT_EQ(Utils::toWide("\xe2\x82"), std::wstring(L"\xFFFD\xFFFD"));  // truncated sequence
  EXPECT_EQ(Utils::toWide("\xc0\xaf"), std::wstring(L"\xFFFD\xFFFD"));  // overlong
  std::wstring lone;
  lone.push_back(static_cast<wchar_t>(0xD800));
  EXPECT_EQ(Utils::toUtf8(lone), "\xef\xbf\xbd");
  EXPECT_EQ(Utils::escapeQuotes("say \"hi\""), "say \\\"hi\\\"");
}
