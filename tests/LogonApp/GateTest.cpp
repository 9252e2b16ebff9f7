// The MFA gate, linked with a scripted dialog: what LogonUI receives when the user passes, when
// the user is refused or the dialog fails (which account the dialog is asked about, whether the
// session is remote, and what a refusal does to the user tile and the session), a second
// submission too soon or while an attempt runs, the Windows Hello shortcut, and the process's
// geolocation task.

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>

#include "ClassFactory.h"
#include "DialogRunner.h"
#include "HalvaneProviderFilter.h"
#include "FakeIdentity.h"
#include "Korvath/ConnectionUtils.h"
#include "Korvath/KvGeolocator.h"
#include "Korvath/Platform.h"
#include "KvStandIn/PackedLogon.h"
#include "ModuleState.h"
#include "ProviderEnvironment.h"
#include "ProviderTestSupport.h"

using namespace ProviderTest;

namespace {

// This executable links its own runMfaDialog in place of the real dialog: every call gives the
// scripted verdict and records what it was given.
enum class Verdict { Approve, Refuse, Throw };
struct Dialog {
  std::vector<std::string> names;
  bool rdp = false;
  std::string clientIp;
};
Verdict g_verdict = Verdict::Refuse;
std::vector<Dialog> g_dialogs;  // since the last script()
// Runs once inside the next dialog, as a message LogonUI's thread dispatches while it waits.
std::function<void()> g_whileShown;

// Every following dialog gives `verdict`; forgets the dialogs so far.
void script(Verdict verdict) {
  g_verdict = verdict;
  g_dialogs.clear();
}

const wchar_t* const kPassword = L"Tr0ub4dor&3 \"secret\"";
const wchar_t* const kUserTileKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\LogonUI\\UserTile";
const wchar_t* const kSessionDataKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\LogonUI\\SessionData\\1";

class MovableClock : public Korvath::Platform::IClock {
 public:
  std::uint64_t nowFileTime() override { return 133000000000000000ull + static_cast<std::uint64_t>(ms) * 10000; }
  std::int64_t nowUnixMs() override { return 1700000000000 + ms; }
  std::int64_t monotonicMs() override { return ms; }
  void sleepMs(std::uint32_t step) override { ms += step; }
  std::int64_t ms = 1000000;
};

// Sees every block COM's task allocator frees (it takes them from the process heap): how many
// still held the password, and how many of each size were all zeros.
class FreeSpy : public IMallocSpy {
 public:
  IFACEMETHODIMP_(void*) PreFree(void* p, BOOL spyed) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (!spyed || p == nullptr) return p;
    const auto* bytes = static_cast<const std::uint8_t*>(p);
    const SIZE_T size = HeapSize(GetProcessHeap(), 0, p);
    if (std::search(bytes, bytes + size, secret.begin(), secret.end()) != bytes + size) ++holdingSecret;
    if (std::all_of(bytes, bytes + size, [](std::uint8_t b) { return b == 0; })) ++zeroedOfSize[size];
    return p;
  }
  IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMallocSpy) ? this : nullptr;
    return *ppv != nullptr ? S_OK : E_NOINTERFACE;
  }
  IFACEMETHODIMP_(ULONG) AddRef() override { return 2; }
  IFACEMETHODIMP_(ULONG) Release() override { return 1; }
  IFACEMETHODIMP_(SIZE_T) PreAlloc(SIZE_T cb) override { return cb; }
  IFACEMETHODIMP_(void*) PostAlloc(void* p) override { return p; }
  IFACEMETHODIMP_(void) PostFree(BOOL) override {}
  IFACEMETHODIMP_(SIZE_T) PreRealloc(void* p, SIZE_T cb, void** out, BOOL) override {
    *out = p;
    return cb;
  }
  IFACEMETHODIMP_(void*) PostRealloc(void* p, BOOL) override { return p; }
  IFACEMETHODIMP_(void*) PreGetSize(void* p, BOOL) override { return p; }
  IFACEMETHODIMP_(SIZE_T) PostGetSize(SIZE_T cb, BOOL) override { return cb; }
  IFACEMETHODIMP_(void*) PreDidAlloc(void* p, BOOL) override { return p; }
  IFACEMETHODIMP_(int) PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  IFACEMETHODIMP_(void) PreHeapMinimize() override {}
  IFACEMETHODIMP_(void) PostHeapMinimize() override {}

  std::mutex mutex;
  std::vector<std::uint8_t> secret;
  int holdingSecret = 0;
  std::map<SIZE_T, int> zeroedOfSize;
};

bool g_localSystem = false;

int dialogs() { return static_cast<int>(g_dialogs.size()); }

// The library's classes made in this process.
const KvLogonUi::ObjectFactory createObject = classesOf(Korvath::Provider::getClassObject);

// A string value under HKLM, empty when there is none.
std::wstring hklmString(const wchar_t* key, const wchar_t* name) {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof buffer;
  RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ, nullptr, buffer, &size);
  return buffer;
}

class Gate : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    installTestMachine();
    Korvath::Platform::setClock(&clock_);
    Korvath::Provider::setProviderEnvironment({&seam_, &geolocator_, [] { return g_localSystem; }});
    Korvath::Utils::setRemoteLogonFlag(0);
    spy_.secret = utf16Bytes(kPassword);
    ASSERT_EQ(S_OK, CoRegisterMallocSpy(&spy_));
  }
  void TearDown() override {
    CoRevokeMallocSpy();
    geolocator_.stopGeolocationProcessing();
    g_localSystem = false;
    setAgentValue(L"Geolocation", nullptr);
    Korvath::Utils::setRemoteLogonFlag(0);
    Korvath::Provider::setRemoteCredential(false);
    Korvath::Provider::setRemoteClientAddress("");
    Korvath::Provider::setProviderEnvironment(Korvath::Provider::ProviderEnvironment());
    Korvath::Platform::setClock(nullptr);
    EXPECT_EQ(S_OK, Korvath::Provider::canUnloadNow()) << "references left: " << Korvath::Provider::objectCount();
    CoUninitialize();
  }

  MovableClock clock_;
  KvTest::FakeIdentity seam_;  // answers like a machine without a directory
  FreeSpy spy_;
  Korvath::Geolocation::KvGeolocator geolocator_{[] { return nullptr; }};  // a task without positions
};

}  // namespace

bool Korvath::Provider::runMfaDialog(const MfaDialogRequest& request) {
  g_dialogs.push_back({*request.userNames, *request.isRdpSession, *request.sessionClientIpAddress});
  if (g_whileShown) std::exchange(g_whileShown, nullptr)();
  if (g_verdict == Verdict::Throw) throw std::runtime_error("the dialog failed");
  return g_verdict == Verdict::Approve;
}

// A passed sign-in releases what Windows' credential produced, untouched; a second submission
// within 200 ms is aborted without a dialog.
TEST_F(Gate, PassedSignInReleasesTheSerializationAndASecondWithin200msIsAbortedWithoutADialog) {
  script(Verdict::Approve);
  Tile tile(createObject, guidOf(kWrappers[0].wrapper), CPUS_LOGON);
  ASSERT_EQ(S_OK, tile.hr);
  tile.type(L"alice", kPassword);
  const KvLogonUi::Submission first = tile.submit();
  EXPECT_EQ(S_OK, first.hr);
  EXPECT_EQ(CPGSR_RETURN_CREDENTIAL_FINISHED, first.response);
  EXPECT_EQ(KvStandIn::fromHex(first.innerProduced), first.bytes);
  EXPECT_EQ(KvStandIn::negotiatePackage(), first.package);
  EXPECT_EQ(kWrappers[0].inner, guidText(first.provider));
  clock_.ms += 100;
  const KvLogonUi::Submission second = tile.submit();  // fails if an out-parameter was left unset
  EXPECT_EQ(E_ABORT, second.hr);
  EXPECT_EQ(CPGSR_NO_CREDENTIAL_NOT_FINISHED, second.response);
  EXPECT_TRUE(second.bytes.empty());
  EXPECT_EQ(1, dialogs());
  clock_.ms += 150;
  EXPECT_EQ(S_OK, tile.submit().hr);
  EXPECT_EQ(2, dialogs());
}

TEST_F(Gate, RefusalReleasesNoPasswordAndResetsTheTileOrDisconnectsWhereItMust) {
  const std::wstring sid = L"S-1-5-21-1004336348-1177238915-682003330-1001";
  const struct {
    const char* tile;
    Verdict verdict;
    bool remote;
    bool tileWritten;
    int disconnects;
  } rows[] = {
      {kWrappers[0].wrapper, Verdict::Refuse, false, false, 0},  // password at the console: only refused
      {kWrappers[0].wrapper, Verdict::Throw, false, false, 0},   // the dialog failed
      {kWrappers[0].wrapper, Verdict::Refuse, true, false, 1},   // password over Remote Desktop
      {kWrappers[2].wrapper, Verdict::Refuse, false, true, 1},   // fingerprint at the console
      {kWrappers[3].wrapper, Verdict::Refuse, false, true, 1},   // face
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.tile << (row.verdict == Verdict::Throw ? " threw" : " refused"));
    script(row.verdict);
    spy_.zeroedOfSize.clear();
    seam_.calls.clear();
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUserTileKey);
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSessionDataKey, L"LoggedOnUser", REG_SZ, L"x", 4));
    Korvath::Utils::setRemoteLogonFlag(row.remote ? 1 : 0);
    Tile tile(createObject, guidOf(row.tile), CPUS_LOGON,
              [&](ICredentialProvider* p) { tell(p, L"credentials", sid.c_str()); });
    ASSERT_EQ(S_OK, tile.hr);
    tile.type(L"alice", kPassword);
    const KvLogonUi::Submission s = tile.submit();
    EXPECT_EQ(E_ACCESSDENIED, s.hr);
    EXPECT_EQ(CPGSR_NO_CREDENTIAL_NOT_FINISHED, s.response);
    EXPECT_TRUE(s.bytes.empty());
    ASSERT_EQ(1, dialogs());
    // Asked about the user typed into the tile, knowing whether it is a Remote Desktop session.
    EXPECT_EQ(std::vector<std::string>{"alice"}, g_dialogs[0].names);
    EXPECT_EQ(row.remote, g_dialogs[0].rdp);
    // The inner credential's buffer was wiped before it was freed; no freed block held the
    // password.
    const std::size_t produced = KvStandIn::fromHex(s.innerProduced).size();
    ASSERT_GT(produced, 0u);
    EXPECT_GE(spy_.zeroedOfSize[produced], 1);
    EXPECT_EQ(0, spy_.holdingSecret);
    const std::wstring wrapper = row.tileWritten ? std::wstring(row.tile, row.tile + std::strlen(row.tile)) : L"";
    EXPECT_EQ(wrapper, hklmString(kUserTileKey, nullptr));
    EXPECT_EQ(wrapper, hklmString(kUserTileKey, sid.c_str()));
    EXPECT_EQ(row.tileWritten ? L"" : L"x", hklmString(kSessionDataKey, L"LoggedOnUser"));
    EXPECT_EQ(row.disconnects, std::count(seam_.calls.begin(), seam_.calls.end(), L"disconnect"));
    clock_.ms += 1000;
  }
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSessionDataKey);
}

// The dialog is asked about the account whose serialization is released, by its own name first:
// LogonUI's tile user and a Remote Desktop client's names are added only when the account
// database resolves them to that account.
TEST_F(Gate, TheDialogIsAskedAboutTheAccountThatSignsIn) {
  wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  ASSERT_TRUE(GetComputerNameW(computer, &size));
  const std::wstring local = std::wstring(computer) + L"\\";
  const std::wstring dave = L"S-1-5-21-100-200-300-1104", u06 = L"S-1-5-21-100-200-300-1126",
                     u16 = L"S-1-5-21-100-200-300-1136", mallory = L"S-1-5-21-100-200-300-1113",
                     nina = L"S-1-5-21-100-200-300-1114";
  const struct {
    const char* what;
    const wchar_t* typed;
    const wchar_t* remoteUser;  // what a Remote Desktop client sent, or null
    std::map<std::wstring, std::wstring> answers;
    std::vector<std::string> names;
  } rows[] = {
      // clang-format off
      {"u06 typed on dave's tile", L"u06", nullptr,
       {{L"name " + local + L"u06", u06}, {L"inet " + dave, L"dave@corp.example"}, {L"name dave@corp.example", dave}},
       {"u06"}},
      {"dave on his own tile", L"dave", nullptr,
       {{L"name " + local + L"dave", dave}, {L"inet " + dave, L"dave@corp.example"}},
       {"dave", "dave@corp.example"}},
      {"u16 typed at the remote sign-in screen of u16@mallory.example", L"u16", L"u16@mallory.example",
       {{L"name " + local + L"u16", u16}, {L"name u16@mallory.example", mallory}}, {"u16"}},
      {"nina typed at the remote sign-in screen of her own UPN", L"nina", L"Nina@corp.example",
       {{L"name " + local + L"nina", nina}, {L"name Nina@corp.example", nina}}, {"nina", "Nina@corp.example"}},
      // clang-format on
  };
  std::vector<KvLogonUi::UserReads> reads;
  ICredentialProviderUserArray* users = KvLogonUi::createUserArray({{dave, L"dave", L"dave@corp.example"}}, &reads);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    script(Verdict::Approve);
    seam_.answers = row.answers;
    Korvath::Utils::setRemoteLogonFlag(row.remoteUser != nullptr ? 1 : 0);
    Korvath::Provider::setRemoteCredential(row.remoteUser != nullptr);
    std::vector<std::uint8_t> sent =
        KvStandIn::packInteractiveLogon(2, L"", row.remoteUser != nullptr ? row.remoteUser : L"", L"x");
    Tile tile(createObject, guidOf(kWrappers[0].wrapper), CPUS_LOGON, [&](ICredentialProvider* p) {
      if (row.remoteUser != nullptr) {
        const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION cs = remote(kWrappers[0].wrapper, sent);
        EXPECT_EQ(S_OK, p->SetSerialization(&cs));
        return;
      }
      ICredentialProviderSetUserArray* setter = nullptr;
      ASSERT_EQ(S_OK, p->QueryInterface(IID_ICredentialProviderSetUserArray, reinterpret_cast<void**>(&setter)));
      EXPECT_EQ(S_OK, setter->SetUserArray(users));
      setter->Release();
      tell(p, L"credentials", dave.c_str());
    });
    ASSERT_EQ(S_OK, tile.hr);
    tile.type(row.typed, kPassword);
    EXPECT_EQ(S_OK, tile.submit().hr);
    ASSERT_EQ(1, dialogs());
    EXPECT_EQ(row.names, g_dialogs[0].names);
    clock_.ms += 1000;
  }
  users->Release();
}

// A sign-in typed at a remote sign-in screen comes with no remote credential: the session itself
// says it is remote. The dialog is told so (no Back, the remote flag in the cloud requests) with
// the client's address, not the server's own, and a refusal disconnects the session.
TEST_F(Gate, ARemoteDesktopSessionIsKnownFromTheSessionItself) {
  const struct {
    const wchar_t* session;  // client protocol | client address
    bool remote;
  } rows[] = {{L"2|203.0.113.7", true}, {L"0|", false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.remote);
    script(Verdict::Refuse);
    seam_.answers = {{L"session", row.session}};
    seam_.calls.clear();
    Korvath::Provider::setRemoteClientAddress("");
    Korvath::Utils::setRemoteLogonFlag(0);
    ICredentialProviderFilter* filter = nullptr;
    ASSERT_EQ(S_OK, createObject(guidOf(kWrappers[0].wrapper), IID_ICredentialProviderFilter,
                                 reinterpret_cast<void**>(&filter)));
    EXPECT_EQ(S_OK, filter->Filter(CPUS_LOGON, 0, nullptr, nullptr, 0));
    filter->Release();
    Tile tile(createObject, guidOf(kWrappers[0].wrapper), CPUS_LOGON);
    ASSERT_EQ(S_OK, tile.hr);
    tile.type(L"alice", kPassword);
    EXPECT_EQ(E_ACCESSDENIED, tile.submit().hr);
    ASSERT_EQ(1, dialogs());
    EXPECT_EQ(row.remote, g_dialogs[0].rdp);
    EXPECT_EQ(row.remote ? "203.0.113.7" : Korvath::Provider::localIpAddress(), g_dialogs[0].clientIp);
    EXPECT_EQ(row.remote, Korvath::Utils::isRemoteLogon());
    EXPECT_EQ(row.remote ? 1 : 0, std::count(seam_.calls.begin(), seam_.calls.end(), L"disconnect"));
    clock_.ms += 1000;
  }
}

// A second attempt while a dialog is up: the same tile submitted again, another tile, a smart-card
// serialization. Each is refused at once: no second dialog, nothing released, Windows'
// serialization wiped, no disconnect although the session is remote. The first attempt goes on
// and releases its own serialization, and the next attempt after it runs.
TEST_F(Gate, ASecondAttemptWhileOneRunsIsRefusedAtOnceAndLeavesTheFirstAlone) {
  script(Verdict::Approve);
  Korvath::Utils::setRemoteLogonFlag(1);
  Tile first(createObject, guidOf(kWrappers[0].wrapper), CPUS_LOGON),
      other(createObject, guidOf(kWrappers[1].wrapper), CPUS_LOGON);
  ICredentialProvider* smartCard = nullptr;
  ASSERT_EQ(S_OK,
            createObject(guidOf(kWrappers[7].wrapper), IID_ICredentialProvider, reinterpret_cast<void**>(&smartCard)));
  ASSERT_EQ(S_OK, smartCard->SetUsageScenario(CPUS_LOGON, 0));
  first.type(L"alice", kPassword);
  other.type(L"bob", kPassword);
  std::vector<std::uint8_t> hello =
      KvStandIn::packCertificateLogon(13, L"", L"carol@example.com", L"1234", L"Windows Hello for Business 1");
  std::vector<KvLogonUi::Submission> nested;
  HRESULT smartCardHr = E_FAIL;
  g_whileShown = [&] {
    nested.push_back(first.submit());
    nested.push_back(other.submit());
    const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION cs = remote(kWrappers[7].wrapper, hello);
    smartCardHr = smartCard->SetSerialization(&cs);
  };
  const KvLogonUi::Submission released = first.submit();
  smartCard->Release();
  EXPECT_EQ(S_OK, released.hr);
  EXPECT_EQ(KvStandIn::fromHex(released.innerProduced), released.bytes);
  EXPECT_EQ(1, dialogs());
  ASSERT_EQ(2u, nested.size());
  for (const KvLogonUi::Submission& s : nested) {
    EXPECT_EQ(E_ACCESSDENIED, s.hr);
    EXPECT_EQ(CPGSR_NO_CREDENTIAL_NOT_FINISHED, s.response);
    EXPECT_TRUE(s.bytes.empty());
    EXPECT_GE(spy_.zeroedOfSize[KvStandIn::fromHex(s.innerProduced).size()], 1);
  }
  EXPECT_EQ(0, spy_.holdingSecret);
  EXPECT_EQ(S_OK, smartCardHr) << "Windows' smart-card provider still gets the serialization";
  EXPECT_EQ(0, std::count(seam_.calls.begin(), seam_.calls.end(), L"disconnect"));
  clock_.ms += 1000;
  EXPECT_EQ(S_OK, other.submit().hr);
  EXPECT_EQ(2, dialogs());
}

TEST_F(Gate, WindowsHelloSignInSkipsTheDialogOnlyForTheUserWhoPassedIt) {
  std::vector<std::uint8_t> hello =
      KvStandIn::packCertificateLogon(13, L"", L"alice@example.com", L"1234", L"Windows Hello for Business 1");
  const struct {
    const char* tile;
    const wchar_t* user;  // typed; null: a Remote Desktop client sent alice@example.com's Windows Hello logon
    Verdict verdict;
    int dialogs;
  } steps[] = {
      {kWrappers[0].wrapper, L"carol", Verdict::Approve, 1},  // no Windows Hello user has passed yet
      {kWrappers[7].wrapper, L"alice", Verdict::Approve, 1},
      {kWrappers[7].wrapper, L"alice", Verdict::Approve, 0},  // alice again
      {kWrappers[7].wrapper, L"bob", Verdict::Approve, 1},    // another user
      {kWrappers[7].wrapper, L"bob", Verdict::Approve, 0},
      {kWrappers[0].wrapper, L"bob", Verdict::Approve, 1},  // a password sign-in in between
      {kWrappers[7].wrapper, L"bob", Verdict::Approve, 1},
      // The dialog runs before Windows' provider gets the serialization, on a credential
      // without a Windows one inside; refused, the submission asks again.
      {kWrappers[7].wrapper, nullptr, Verdict::Refuse, 2},
      {kWrappers[7].wrapper, nullptr, Verdict::Approve, 1},
  };
  for (const auto& step : steps) {
    script(step.verdict);
    // The tiles are taken directly: at the console the filter hides the smart-card wrapper.
    Tile tile(createObject, guidOf(step.tile), CPUS_LOGON, [&](ICredentialProvider* p) {
      if (step.user != nullptr) return;
      const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION cs = remote(kWrappers[7].wrapper, hello);
      EXPECT_EQ(S_OK, p->SetSerialization(&cs));
      ASSERT_EQ(1, dialogs());
      EXPECT_EQ(std::vector<std::string>{"alice@example.com"}, g_dialogs[0].names);
    });
    ASSERT_EQ(S_OK, tile.hr);
    if (step.user != nullptr) tile.type(step.user, kPassword);
    EXPECT_EQ(step.verdict == Verdict::Approve ? S_OK : E_ACCESSDENIED, tile.submit().hr);
    EXPECT_EQ(step.dialogs, dialogs()) << step.tile;
    clock_.ms += 1000;
  }
}

TEST_F(Gate, GeolocationRunsFromTheFirstProviderToTheLastAsLocalSystemAtTheConsole) {
  const struct {
    bool localSystem;
    const wchar_t* value;
    std::uint32_t remote;
    bool runs;
  } rows[] = {{false, L"enabled", 0, false},
              {true, L"Enabled", 0, false},
              {true, L"enabled", 1, false},
              {true, L"enabled", 0, true}};  // last: the task never starts twice
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.localSystem << " " << row.remote);
    g_localSystem = row.localSystem;
    setAgentValue(L"Geolocation", row.value);
    Korvath::Utils::setRemoteLogonFlag(row.remote);
    ICredentialProvider* providers[2] = {};
    for (ICredentialProvider*& provider : providers) {
      ASSERT_EQ(S_OK, createObject(guidOf(kWrappers[0].wrapper), IID_ICredentialProvider,
                                   reinterpret_cast<void**>(&provider)));
      EXPECT_EQ(S_OK, provider->SetUsageScenario(CPUS_LOGON, 0));
    }
    EXPECT_EQ(row.runs, geolocator_.isRunning());
    providers[0]->Release();
    EXPECT_EQ(row.runs, geolocator_.isRunning());
    providers[1]->Release();
    EXPECT_FALSE(geolocator_.isRunning());
  }
}

TEST_F(Gate, LibraryStaysLoadedWhileTheGeolocationTaskRuns) {
  geolocator_.startGeolocationProcessing();
  EXPECT_EQ(0, Korvath::Provider::objectCount());
  EXPECT_EQ(S_FALSE, Korvath::Provider::canUnloadNow());
  ASSERT_TRUE(geolocator_.stopGeolocationProcessing());
}
