#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>

#include "Korvath/ConnectionUtils.h"
#include "Korvath/KvGeolocator.h"
#include "TestSupport.h"

using namespace Korvath;
using namespace Korvath::Utils::ConnectionUtils;
using namespace Korvath::Geolocation;

namespace {
struct ScriptedSource : IRemoteAddressSource {
  ScriptedSource(std::wstring e, std::wstring s, std::wstring t) : eventLog(e), session(s), tcp(t) {}
  std::wstring eventLog, session, tcp;
  std::wstring fromEventLog() override { return eventLog; }
  std::wstring fromSessionInformation() override { return session; }
  std::wstring fromTcpTable() override { return tcp; }
};
}  // namespace

// The event log first, then the session, then the TCP table.
TEST(RemoteAddress, SourcesInOrder) {
  ScriptedSource s(L"192.0.2.10", L"192.0.2.20", L"192.0.2.30");
  // Each source answers until it is emptied, then the next one does.
  for (std::wstring* source : {&s.eventLog, &s.session, &s.tcp}) {
    EXPECT_EQ(getRemoteClientIpAddress(s), *source);
    source->clear();
  }
  EXPECT_EQ(getRemoteClientIpAddress(s), L"");
#ifndef _WIN32
  EXPECT_EQ(getRemoteClientIpAddress(), L"");  // natively there is no remote session
#endif
}

// Only text that is an IP literal is taken, from either event's field.
TEST(RemoteAddress, EventXmlAndIpText) {
  const std::pair<const char*, const char*> rows[] = {
      {"<Event><EventData><Data Name='ClientIP'>192.0.2.7:50123</Data></EventData></Event>", "192.0.2.7"},
      {"<Data Name=\"ClientIP\">[2001:db8::5]:3390</Data>", "2001:db8::5"},
      {"<UserData><EventXML><Param1>bob</Param1><Param3>198.51.100.4</Param3></EventXML>", "198.51.100.4"},
      {"<Address>203.0.113.9</Address>", "203.0.113.9"},
      {"<Param3>LOCAL</Param3>", ""},
      {"<Param3>1.2.3.4.5</Param3>", ""},
      {"<Param3>256.1.1.1</Param3>", ""},
      {"<Param3>192.0.2.1", ""},  // unterminated
      {"", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(addressFromEventXml(row.first), row.second) << row.first;
  EXPECT_TRUE(isIpAddressText("fe80::1%12"));
  for (const char* bad : {"10.0.0", "a.b.c.d", "<script>", ""}) EXPECT_FALSE(isIpAddressText(bad)) << bad;
}

TEST(RemoteAddress, TcpTable) {
  std::vector<TcpRow> rows = {
      {2, 0, 3389, 0, 0},                        // listening
      {5, 0x0A000001, 3389, 0x7F000001, 50000},  // loopback peer
      {5, 0x0A000001, 443, 0xC0000202, 50001},   // another port
      {5, 0x0A000001, 3389, 0xC0000263, 50002},  // the client: 192.0.2.99
  };
  EXPECT_EQ(rdpPeerFromTcpTable(rows, 3389), "192.0.2.99");
  EXPECT_EQ(rdpPeerFromTcpTable(rows, 3390), "");
}

namespace {

// A source whose position a test sets; `stuck` 1 holds it inside latest() (standing for a slow
// platform call; it shows 3 meanwhile) until the test sets 2.
class TestSource : public ILocationSource {
 public:
  struct Shared {
    std::mutex mutex;
    bool has = false;
    Position position;
    std::atomic<int> opens{0}, closes{0}, stuck{0};
    std::atomic<bool> available{true};
  };
  explicit TestSource(std::shared_ptr<Shared> s) : s_(std::move(s)) {}
  bool open() override {
    ++s_->opens;
    return s_->available.load();
  }
  bool latest(Position& p) override {
    if (s_->stuck == 1) {
      s_->stuck = 3;  // inside
      while (s_->stuck == 3) std::this_thread::yield();
    }
    std::lock_guard<std::mutex> lock(s_->mutex);
    if (s_->has) p = s_->position;
    return s_->has;
  }
  void close() override { ++s_->closes; }

 private:
  std::shared_ptr<Shared> s_;
};

class GeolocationTest : public ::testing::Test {
 protected:
  // The flavour's own agent registry (Wine's under Windows), given back as it was found.
  void SetUp() override {
    registry_.setString("Geolocation", "enabled");
    Utils::setRemoteLogonFlag(0);
  }
  void TearDown() override { registry_.deleteValue("Geolocation"); }
  std::shared_ptr<TestSource::Shared> shared_ = std::make_shared<TestSource::Shared>();
  Platform::IRegistry& registry_ = Platform::agentRegistry();
  KvTest::FakeClock clock_;
  KvTest::ScopedClock scopedClock_{clock_};
  Korvath::Geolocation::LocationSourceFactory factory() {
    return [s = shared_] { return std::unique_ptr<ILocationSource>(new TestSource(s)); };
  }
};

}  // namespace

// 0, 0, -1 at once (no wait) unless the registry says exactly "enabled" and the sign-in is not
// remote, or when no location source can be opened for a task.
TEST_F(GeolocationTest, DefaultsAtOnceWhenIgnoredOrWithoutASource) {
  shared_->has = true;
  shared_->position = Position{48.1f, 11.5f, 30.0f};
  // The registry value (none: nullptr), the remote flag, whether a source opens.
  const std::tuple<const char*, std::uint32_t, bool> rows[] = {
      {nullptr, 0, true}, {"disabled", 0, true}, {"Enabled", 0, true}, {"enabled", 1, true}, {"enabled", 0, false}};
  for (const auto& [value, remote, available] : rows) {
    if (value != nullptr)
      registry_.setString("Geolocation", value);
    else
      registry_.deleteValue("Geolocation");
    Utils::setRemoteLogonFlag(remote);
    shared_->available = available;
    KvGeolocator g(factory());
    g.startGeolocationProcessing();
    while (!available && g.isRunning() && !g.stopGeolocationProcessing()) {
    }
    float lat = 1, lon = 1, acc = 1;
    g.getGeolocation(lat, lon, acc);
    EXPECT_TRUE(lat == 0.0f && lon == 0.0f && acc == -1.0f) << (value ? value : "none") << remote;
    EXPECT_EQ(clock_.sleeps(), 0);
    EXPECT_TRUE(g.stopGeolocationProcessing());
  }
  Utils::setRemoteLogonFlag(0);
}

// Without a position the caller waits 15 s (in 100 ms steps of the clock); then it gets the
// latest one the task published. The task starts once per process.
TEST_F(GeolocationTest, WaitsForAFirstPositionThenKeepsTheLatest) {
  KvGeolocator g(factory());
  g.startGeolocationProcessing();
  g.startGeolocationProcessing();
  float lat = 0, lon = 0, acc = 1;
  g.getGeolocation(lat, lon, acc);
  EXPECT_EQ(acc, -1.0f);
  EXPECT_EQ(clock_.sleeps(), 150);
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->has = true;
    shared_->position = Position{48.1f, 11.5f, 30.0f};
  }
  // The fake clock's steps cost nothing, so one call may end before the task has polled
  // again; ask until it has published (bounded in real time).
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (acc <= 0 && std::chrono::steady_clock::now() < giveUp) {
    g.getGeolocation(lat, lon, acc);
    std::this_thread::yield();
  }
  EXPECT_FLOAT_EQ(lat, 48.1f);
  EXPECT_FLOAT_EQ(lon, 11.5f);
  EXPECT_FLOAT_EQ(acc, 30.0f);
  EXPECT_TRUE(g.stopGeolocationProcessing());
  EXPECT_FALSE(g.isRunning());
  EXPECT_EQ(shared_->opens.load(), 1);
  EXPECT_EQ(shared_->closes.load(), 1);
}

TEST_F(GeolocationTest, StopIsCooperativeAndBounded) {
  // The task polls once a second; a stop must not wait for that poll.
  KvGeolocator g(factory());
  g.startGeolocationProcessing();
  while (shared_->opens.load() == 0) std::this_thread::yield();
  const auto begin = std::chrono::steady_clock::now();
  std::atomic<int> stopped{0};
  std::thread other([&] { stopped += g.stopGeolocationProcessing() ? 1 : 0; });  // two stops at once
  stopped += g.stopGeolocationProcessing() ? 1 : 0;
  other.join();
  EXPECT_EQ(stopped.load(), 2);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(KvGeolocator::kPollMs));
  EXPECT_FALSE(g.isRunning());
}

TEST_F(GeolocationTest, SlowTaskIsLeftToFinishNotKilled) {
  shared_->stuck = 1;
  KvGeolocator g(factory());
  g.startGeolocationProcessing();
  while (shared_->stuck != 3) std::this_thread::yield();
  EXPECT_FALSE(g.stopGeolocationProcessing(10));  // bounded: gives up waiting
  EXPECT_TRUE(g.isRunning());                     // and the thread is still alive
  shared_->stuck = 2;                             // the slow call returns
  EXPECT_TRUE(g.stopGeolocationProcessing(60000));
  EXPECT_FALSE(g.isRunning());
}
