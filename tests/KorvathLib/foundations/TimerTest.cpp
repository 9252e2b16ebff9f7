#include <gtest/gtest.h>

#include "Korvath/Timer.h"
#include "Korvath/TimeUtils.h"
#include "TestSupport.h"

using namespace Korvath;
using Korvath::Utils::AutoTokenCancellationRelease;
using Korvath::Utils::Timer;

// Copies share one record; the last holder (a timer included) gives it back.
TEST(Token, SharedRecordCountsHolders) {
  AutoTokenCancellationRelease a;
  {
    AutoTokenCancellationRelease c;
    c = a;
    Timer timer(a);
    EXPECT_EQ(a.holders(), 3);
    c.cancel();
    EXPECT_TRUE(a.isCancelled());
  }
  EXPECT_EQ(a.holders(), 1);
  AutoTokenCancellationRelease d;
  d = a;
  d = d;  // self-assignment keeps the record
  EXPECT_EQ(a.holders(), 2);
}

namespace {

class TimerTest : public ::testing::Test {
 protected:
  KvTest::FakeClock clock;
  KvTest::ScopedClock scoped{clock};
};

}  // namespace

// Without a token each call sleeps one step until the waiting time has passed on the monotonic
// clock: a wall clock set back stretches nothing (the push's polling shows the steps too).
TEST_F(TimerTest, WallClockSetBackDoesNotStretchTheWait) {
  Timer timer;
  timer.start(1000, 500);
  clock.setUnixMs(clock.nowUnixMs() - 3600 * 1000);  // an hour back
  EXPECT_FALSE(timer.isTimeOut());
  EXPECT_FALSE(timer.isTimeOut());
  EXPECT_TRUE(timer.isTimeOut());
  EXPECT_EQ(clock.sleeps(), 2);
}

TEST_F(TimerTest, CancelledTokenAndHugeTimesEndTheStepWithoutOverflow) {
  AutoTokenCancellationRelease token;
  Timer timer(token);
  timer.start(INT64_MAX, INT64_MAX);
  token.cancel();
  EXPECT_FALSE(timer.isTimeOut());  // a cancelled token ends the step at once
  EXPECT_EQ(clock.sleeps(), 0);
  EXPECT_TRUE(timer.isCancelled());
  Timer plain;
  plain.start(INT64_MAX, 10);
  EXPECT_FALSE(plain.isTimeOut());
}

// With a token a step is slept in slices of at most 100 ms, and the token is looked at between
// them: one cancelled during a step (from the dialog's thread) ends the step after the running slice.
TEST(Timer, WithTokenAStepEndsAfterTheSliceInWhichItWasCancelled) {
  struct CancellingClock : KvTest::FakeClock {
    AutoTokenCancellationRelease token;
    int cancelAt = 0;
    void sleepMs(std::uint32_t ms) override {
      FakeClock::sleepMs(ms);
      if (sleeps() == cancelAt) token.cancel();
    }
  } clock;
  KvTest::ScopedClock scoped(clock);
  Timer whole(clock.token);
  whole.start(2000, 2000);
  EXPECT_FALSE(whole.isTimeOut());
  EXPECT_EQ(clock.sleeps(), 20);
  EXPECT_TRUE(whole.isTimeOut());
  clock.cancelAt = 22;
  Timer cut(clock.token);
  cut.start(600000, 300000);  // a five-minute step
  EXPECT_FALSE(cut.isTimeOut());
  EXPECT_EQ(clock.sleeps(), 22);
  EXPECT_TRUE(cut.isCancelled());
}

TEST_F(TimerTest, FileTimeTextAndTheCurrentTime) {
  using Korvath::Utils::TimeUtils::fileTimeToString;
  EXPECT_EQ(fileTimeToString(0), "01/01/1601 00:00:00");
  EXPECT_EQ(fileTimeToString(116444736000000000ULL), "01/01/1970 00:00:00");
  // 2024-02-29 23:59:59 UTC = 1709251199 s.
  EXPECT_EQ(fileTimeToString((1709251199ULL + 11644473600ULL) * 10000000ULL + 9999999ULL), "29/02/2024 23:59:59");
  EXPECT_EQ(fileTimeToString((4102444800ULL + 11644473600ULL) * 10000000ULL), "01/01/2100 00:00:00");
  clock.setUnixMs(1000000000000LL);  // 2001-09-09 01:46:40 UTC
  EXPECT_EQ(Korvath::Utils::TimeUtils::getCurrentTimeString(), "09/09/2001 01:46:40");
}
