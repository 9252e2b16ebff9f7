// The process's geolocation task as the providers run it: started once by the first provider
// that gets a usage scenario (as LocalSystem, with geolocation enabled, outside Remote
// Desktop), stopped by the last provider, and keeping the library loaded while it runs.

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "GateTestSupport.h"
#include "Korvath/ConnectionUtils.h"
#include "Korvath/KvGeolocator.h"
#include "ModuleState.h"
#include "ProviderEnvironment.h"
#include "ProviderTestSupport.h"

using namespace ProviderTest;

namespace {

class Source : public Korvath::Geolocation::ILocationSource {
 public:
  bool open() override { return true; }
  bool latest(Korvath::Geolocation::Position&) override { return false; }
  void close() override {}
};

bool g_localSystem = true;
bool localSystem() { return g_localSystem; }

class Geolocation : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    installStandIns();
    geolocator_ = std::make_unique<Korvath::Geolocation::KvGeolocator>([this] {
      ++sourcesMade_;
      return std::unique_ptr<Korvath::Geolocation::ILocationSource>(new Source);
    });
    Korvath::Provider::ProviderEnvironment environment;
    environment.identity = &seam_;
    environment.geolocator = geolocator_.get();
    environment.runningAsLocalSystem = localSystem;
    Korvath::Provider::setProviderEnvironment(environment);
    setAgentValue(L"Geolocation", L"enabled");
    g_localSystem = true;
    Korvath::Utils::setRemoteLogonFlag(0);
  }
  void TearDown() override {
    geolocator_->stopGeolocationProcessing();
    Korvath::Provider::setProviderEnvironment(Korvath::Provider::ProviderEnvironment());
    deleteAgentValue(L"Geolocation");
    Korvath::Utils::setRemoteLogonFlag(0);
    EXPECT_EQ(S_OK, Korvath::Provider::canUnloadNow());
    CoUninitialize();
  }

  ICredentialProvider* providerWithScenario() {
    ICredentialProvider* provider = nullptr;
    EXPECT_EQ(S_OK, GateTest::createObject(guidOf(kWrappers[0].wrapper), IID_ICredentialProvider,
                                           reinterpret_cast<void**>(&provider)));
    if (provider != nullptr) {
      EXPECT_EQ(S_OK, provider->SetUsageScenario(CPUS_LOGON, 0));
    }
    return provider;
  }

  GateTest::RecordingSeam seam_;
  std::unique_ptr<Korvath::Geolocation::KvGeolocator> geolocator_;
  std::atomic<int> sourcesMade_{0};
};

}  // namespace

TEST_F(Geolocation, FirstProviderStartsTheTaskOnceAndTheLastOneStopsIt) {
  ICredentialProvider* first = providerWithScenario();
  ICredentialProvider* second = providerWithScenario();
  ASSERT_TRUE(first != nullptr && second != nullptr);
  EXPECT_TRUE(geolocator_->isRunning());
  first->Release();
  EXPECT_TRUE(geolocator_->isRunning());
  second->Release();
  EXPECT_FALSE(geolocator_->isRunning());
  EXPECT_EQ(1, sourcesMade_.load());
}

TEST_F(Geolocation, NotStartedUnlessLocalSystemWithGeolocationEnabledAtTheConsole) {
  const struct {
    bool localSystem;
    const wchar_t* value;
    std::uint32_t remote;
  } rows[] = {{false, L"enabled", 0}, {true, L"disabled", 0}, {true, L"Enabled", 0}, {true, L"enabled", 1}};
  for (const auto& row : rows) {
    g_localSystem = row.localSystem;
    setAgentValue(L"Geolocation", row.value);
    Korvath::Utils::setRemoteLogonFlag(row.remote);
    ICredentialProvider* provider = providerWithScenario();
    EXPECT_FALSE(geolocator_->isRunning()) << row.localSystem << " " << row.remote;
    if (provider != nullptr) provider->Release();
  }
}

TEST_F(Geolocation, LibraryStaysLoadedWhileTheTaskRuns) {
  geolocator_->startGeolocationProcessing();
  EXPECT_EQ(0, Korvath::Provider::objectCount());
  EXPECT_EQ(S_FALSE, Korvath::Provider::canUnloadNow());
  ASSERT_TRUE(geolocator_->stopGeolocationProcessing());
  EXPECT_EQ(S_OK, Korvath::Provider::canUnloadNow());
}
