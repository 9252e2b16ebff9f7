// The MFA gate with a scripted dialog: what LogonUI receives when the user passes, when the
// user is refused or the dialog fails, a second submission too soon, the Windows Hello
// shortcut, what a refusal does to the user tile and the session, and what the log keeps.

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>

#include "GateTestSupport.h"
#include "KvStandIn/PackedLogon.h"
#include "HalvaneCredential.h"
#include "Korvath/ConnectionUtils.h"
#include "Korvath/Logger.h"
#include "ModuleState.h"
#include "ProviderEnvironment.h"
#include "ProviderTestSupport.h"
#include "ScriptedDialogRunner.h"

using namespace ProviderTest;
using ScriptedDialog::Verdict;

namespace {

const wchar_t* const kPassword = L"Tr0ub4dor&3 \"secret\"";
const char* const kPasswordWrapper = "{BCB72349-6C97-4E3F-94B5-6EA045F85CA5}";
const char* const kSmartCardWrapper = "{2BFD34AC-10D7-4C70-94F5-3F7EA9025B0E}";
const wchar_t* const kUserTileKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\LogonUI\\UserTile";
const wchar_t* const kSessionDataKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Authentication\\LogonUI\\SessionData";

class Gate : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    installStandIns();
    registerKvCredProv();
    Korvath::Platform::setClock(&clock_);
    Korvath::Provider::ProviderEnvironment environment;
    environment.identity = &seam_;
    Korvath::Provider::setProviderEnvironment(environment);
    Korvath::Utils::setRemoteLogonFlag(0);
    ASSERT_EQ(S_OK, CoRegisterMallocSpy(&spy_));
    spy_.watch(utf16Bytes(kPassword));
  }
  void TearDown() override {
    CoRevokeMallocSpy();
    Korvath::Utils::setRemoteLogonFlag(0);
    Korvath::Provider::setProviderEnvironment(Korvath::Provider::ProviderEnvironment());
    Korvath::Platform::setClock(nullptr);
    EXPECT_EQ(S_OK, Korvath::Provider::canUnloadNow()) << "references left: " << Korvath::Provider::objectCount();
    CoUninitialize();
  }

  // One sign-in through the LogonUI stand-in on the given tile.
  KvLogonUi::Submission signIn(const char* tile, const std::wstring& user, int submissions = 1) {
    KvLogonUi::LogonUi logonUi(nullptr, GateTest::createObject);
    KvLogonUi::SignIn request;
    request.tile = guidOf(tile);
    request.user = user;
    request.password = kPassword;
    request.submissions = submissions;
    KvLogonUi::Outcome outcome = logonUi.signIn(request);
    EXPECT_EQ(S_OK, outcome.hr);
    clock_.advance(1000);  // the next sign-in is not a double submission
    if (outcome.submissions.empty()) return KvLogonUi::Submission();
    return outcome.submissions.front();
  }

  GateTest::MovableClock clock_;
  GateTest::RecordingSeam seam_;
  GateTest::FreeSpy spy_;
};

}  // namespace

TEST_F(Gate, PassedSignInReleasesTheInnerSerializationByteForByte) {
  ScriptedDialog::script(Verdict::Approve);
  const KvLogonUi::Submission s = signIn(kPasswordWrapper, L"alice");
  EXPECT_EQ(S_OK, s.hr);
  EXPECT_EQ(CPGSR_RETURN_CREDENTIAL_FINISHED, s.response);
  ASSERT_FALSE(s.bytes.empty());
  EXPECT_EQ(KvStandIn::fromHex(s.innerProduced), s.bytes);
  EXPECT_EQ(KvStandIn::negotiatePackage(), s.package);
  EXPECT_EQ(kWrappers[0].inner, text(s.provider));
  EXPECT_EQ(1, ScriptedDialog::calls());
}

TEST_F(Gate, RefusedOrFailedDialogReleasesNoPassword) {
  for (Verdict verdict : {Verdict::Refuse, Verdict::Throw}) {
    SCOPED_TRACE(verdict == Verdict::Refuse ? "refused" : "dialog threw");
    ScriptedDialog::script(verdict);
    spy_.watch(utf16Bytes(kPassword));
    const KvLogonUi::Submission s = signIn(kPasswordWrapper, L"alice");
    EXPECT_EQ(E_ACCESSDENIED, s.hr);
    EXPECT_EQ(CPGSR_NO_CREDENTIAL_NOT_FINISHED, s.response);
    EXPECT_TRUE(s.bytes.empty());
    EXPECT_EQ(0u, s.package);
    EXPECT_EQ(std::string("{00000000-0000-0000-0000-000000000000}"), text(s.provider));
    EXPECT_EQ(std::wstring::npos, s.statusText.find(L"Tr0ub4dor"));
    EXPECT_EQ(1, ScriptedDialog::calls());
    // The inner credential's buffer was wiped before it was freed; no freed block held the
    // password.
    const std::size_t produced = KvStandIn::fromHex(s.innerProduced).size();
    ASSERT_GT(produced, 0u);
    EXPECT_GE(spy_.zeroedFreesOfSize(produced), 1);
    EXPECT_EQ(0, spy_.freedHoldingSecret());
  }
}

TEST_F(Gate, SecondSubmissionWithin200msIsAbortedWithoutADialog) {
  ScriptedDialog::script(Verdict::Approve);
  Tile tile(GateTest::createObject, guidOf(kPasswordWrapper), CPUS_LOGON);
  ASSERT_EQ(S_OK, tile.hr);
  tile.type(L"alice", kPassword);
  EXPECT_EQ(S_OK, tile.submit().hr);
  clock_.advance(100);
  const KvLogonUi::Submission second = tile.submit();  // checks every out-parameter was set
  EXPECT_EQ(E_ABORT, second.hr);
  EXPECT_EQ(CPGSR_NO_CREDENTIAL_NOT_FINISHED, second.response);
  EXPECT_TRUE(second.bytes.empty());
  EXPECT_EQ(1, ScriptedDialog::calls());
  clock_.advance(150);
  EXPECT_EQ(S_OK, tile.submit().hr);
  EXPECT_EQ(2, ScriptedDialog::calls());
}

TEST_F(Gate, RefusalResetsTheUserTileAndDisconnectsWhereItMust) {
  const std::wstring sid = L"S-1-5-21-1004336348-1177238915-682003330-1001";
  const struct {
    const char* tile;
    bool remote;
    bool tileWritten;
    int disconnects;
  } rows[] = {
      {kWrappers[2].wrapper, false, true, 1},  // fingerprint at the console
      {kWrappers[3].wrapper, false, true, 1},  // face
      {kPasswordWrapper, false, false, 0},     // password at the console: only refused
      {kPasswordWrapper, true, false, 1},      // password over Remote Desktop
  };
  ScriptedDialog::script(Verdict::Refuse);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.tile);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUserTileKey);
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, (std::wstring(kSessionDataKey) + L"\\1").c_str(),
                                             L"LoggedOnUser", REG_SZ, L"x", 4));
    seam_.disconnects = 0;
    Korvath::Utils::setRemoteLogonFlag(row.remote ? 1 : 0);
    {
      Tile tile(GateTest::createObject, guidOf(row.tile), CPUS_LOGON,
                [&](ICredentialProvider* p) { tell(p, L"credentials", sid.c_str()); });
      ASSERT_EQ(S_OK, tile.hr);
      tile.type(L"alice", kPassword);
      EXPECT_EQ(E_ACCESSDENIED, tile.submit().hr);
    }
    clock_.advance(1000);
    bool found = false;
    const std::wstring tileDefault = hklmString(kUserTileKey, nullptr, &found);
    if (row.tileWritten) {
      const std::wstring wrapper(row.tile, row.tile + std::strlen(row.tile));
      EXPECT_EQ(wrapper, tileDefault);
      EXPECT_EQ(wrapper, hklmString(kUserTileKey, sid.c_str()));
      EXPECT_FALSE(hklmKeyExists(kSessionDataKey));
    } else {
      EXPECT_FALSE(found);
      EXPECT_TRUE(hklmKeyExists(kSessionDataKey));
    }
    EXPECT_EQ(row.disconnects, seam_.disconnects);
  }
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSessionDataKey);
}

TEST_F(Gate, CredentialWithoutAnInnerCredentialFailsCleanly) {
  ScriptedDialog::script(Verdict::Refuse);
  for (std::uint32_t tag : {207u, 202u, 200u}) {
    SCOPED_TRACE(tag);
    seam_.disconnects = 0;
    auto* credential = new Korvath::Provider::HalvaneCredential(tag);
    ASSERT_EQ(S_OK, credential->Initialize(nullptr, nullptr, nullptr, L"", L"EXAMPLE", L"alice@example.com", true,
                                           false, ""));
    EXPECT_FALSE(credential->checkMFAAuthentication(nullptr));
    EXPECT_EQ(tag == 202u ? 1 : 0, seam_.disconnects);
    CREDENTIAL_PROVIDER_GET_SERIALIZATION_RESPONSE response = CPGSR_RETURN_CREDENTIAL_FINISHED;
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION cs;
    FillMemory(&cs, sizeof cs, 0xCC);
    EXPECT_EQ(S_OK, credential->GetSerialization(&response, &cs, nullptr, nullptr));
    EXPECT_EQ(CPGSR_NO_CREDENTIAL_NOT_FINISHED, response);
    EXPECT_EQ(nullptr, cs.rgbSerialization);
    LPWSTR sid = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(S_FALSE, credential->GetUserSid(&sid));
    EXPECT_EQ(nullptr, sid);
    BOOL autoLogon = TRUE;
    EXPECT_EQ(E_UNEXPECTED, credential->SetSelected(&autoLogon));
    EXPECT_EQ(FALSE, autoLogon);
    EXPECT_EQ(E_UNEXPECTED, credential->SetStringValue(1, L"x"));
    CREDENTIAL_PROVIDER_CREDENTIAL_FIELD_OPTIONS options = CPCFO_NONE;
    EXPECT_EQ(S_OK, credential->GetFieldOptions(2, &options));
    EXPECT_EQ(CPCFO_ENABLE_PASSWORD_REVEAL, options);
    credential->Release();
    clock_.advance(1000);
  }
}

TEST_F(Gate, WindowsHelloSignInSkipsTheDialogOnlyForTheUserWhoPassedIt) {
  ScriptedDialog::script(Verdict::Approve);
  signIn(kPasswordWrapper, L"carol");  // no Windows Hello user has passed yet
  const struct {
    const char* tile;
    const wchar_t* user;
    int dialogsAfter;
  } steps[] = {
      {kSmartCardWrapper, L"alice", 2},  // first Windows Hello sign-in of alice: dialog
      {kSmartCardWrapper, L"alice", 2},  // alice again: no dialog
      {kSmartCardWrapper, L"bob", 3},    // another user: dialog
      {kSmartCardWrapper, L"bob", 3},
      {kPasswordWrapper, L"bob", 4},     // a password sign-in in between
      {kSmartCardWrapper, L"bob", 5},    // shows the dialog again
  };
  for (const auto& step : steps) {
    // The tiles are taken directly: at the console the filter hides the smart-card wrapper.
    Tile tile(GateTest::createObject, guidOf(step.tile), CPUS_LOGON);
    ASSERT_EQ(S_OK, tile.hr);
    tile.type(step.user, kPassword);
    EXPECT_EQ(S_OK, tile.submit().hr);
    EXPECT_EQ(step.dialogsAfter, ScriptedDialog::calls()) << text(guidOf(step.tile));
    clock_.advance(1000);
  }
}

TEST_F(Gate, DialogIsAskedAboutTheUserWhoSignsIn) {
  ScriptedDialog::script(Verdict::Approve);
  Korvath::Utils::setRemoteLogonFlag(1);
  KvLogonUi::LogonUi logonUi(nullptr, GateTest::createObject);
  KvLogonUi::SignIn request;
  request.tile = guidOf(kPasswordWrapper);
  // The Remote Desktop client sent mallory's credentials; alice is typed into the tile.
  request.hasRemote = true;
  request.remote.provider = guidOf(kWrappers[0].inner);
  request.remote.bytes = KvStandIn::packInteractiveLogon(2, L"VM", L"mallory", L"other");
  request.user = L"alice";
  request.password = kPassword;
  const KvLogonUi::Outcome outcome = logonUi.signIn(request);
  ASSERT_EQ(1u, outcome.submissions.size());
  EXPECT_EQ(S_OK, outcome.submissions[0].hr);
  ASSERT_EQ(1, ScriptedDialog::calls());
  EXPECT_EQ(std::vector<std::string>{"alice"}, ScriptedDialog::names()[0]);
  EXPECT_TRUE(ScriptedDialog::rdp()[0]);
}

TEST_F(Gate, LogHoldsNoPasswordOrSerializationBytes) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring path = std::wstring(temp) + L"kv-gate-test.log";
  DeleteFileW(path.c_str());
  const std::string path8(path.begin(), path.end());
  ASSERT_TRUE(Korvath::Logger::open(path8));
  std::vector<std::string> produced;
  for (Verdict verdict : {Verdict::Approve, Verdict::Refuse}) {
    ScriptedDialog::script(verdict);
    produced.push_back(signIn(kPasswordWrapper, L"alice").innerProduced);
  }
  Korvath::Logger::close();

  const std::vector<std::string> messages = sealedLogMessages(path8);
  for (const std::string& plain : messages) {
    EXPECT_EQ(std::string::npos, plain.find("Tr0ub4dor")) << plain;
    for (const std::string& hex : produced) {
      ASSERT_GT(hex.size(), 64u);
      EXPECT_EQ(std::string::npos, plain.find(hex.substr(0, 32))) << plain;
    }
  }
  EXPECT_GT(messages.size(), 10u);
  DeleteFileW(path.c_str());
}

TEST_F(Gate, SmartCardSerializationRunsTheDialogBeforeWindowsProviderGetsIt) {
  ScriptedDialog::script(Verdict::Approve);
  signIn(kPasswordWrapper, L"carol");  // empties the list of Windows Hello users
  const int before = ScriptedDialog::calls();
  const std::vector<std::uint8_t> hello =
      KvStandIn::packCertificateLogon(13, L"", L"alice@example.com", L"1234", L"Windows Hello for Business 1");
  Tile tile(GateTest::createObject, guidOf(kSmartCardWrapper), CPUS_LOGON, [&](ICredentialProvider* p) {
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION cs = {};
    cs.clsidCredentialProvider = guidOf(kSmartCardWrapper);
    cs.cbSerialization = static_cast<ULONG>(hello.size());
    cs.rgbSerialization = const_cast<byte*>(hello.data());
    EXPECT_EQ(S_OK, p->SetSerialization(&cs));
    // The dialog ran for the user the serialization names, on a credential of its own.
    EXPECT_EQ(before + 1, ScriptedDialog::calls());
    EXPECT_EQ(std::vector<std::string>{"alice@example.com"}, ScriptedDialog::names().back());
  });
  ASSERT_EQ(S_OK, tile.hr);
  // Windows' provider signs in with the remote serialization; the same Windows Hello user
  // passed a moment ago, so no second dialog.
  const KvLogonUi::Submission s = tile.submit();
  EXPECT_EQ(S_OK, s.hr);
  EXPECT_EQ(hello, s.bytes);
  EXPECT_EQ(before + 1, ScriptedDialog::calls());
}

TEST_F(Gate, LogonResultsSetThePasswordFlags) {
  const NTSTATUS mustChange = static_cast<NTSTATUS>(0xC0000224);
  const NTSTATUS restriction = static_cast<NTSTATUS>(0xC000006E);
  const NTSTATUS expired = static_cast<NTSTATUS>(0xC0000071);
  const NTSTATUS wrongPassword = static_cast<NTSTATUS>(0xC000006D);
  const NTSTATUS disabled = static_cast<NTSTATUS>(0xC0000072);
  const struct {
    std::vector<std::pair<NTSTATUS, NTSTATUS>> results;
    bool mustChange;
    bool changed;
    bool rdpData;
  } rows[] = {
      {{{mustChange, 0}}, true, false, true},
      {{{restriction, expired}}, true, false, true},
      {{{mustChange, 0}, {0, 0}}, false, true, true},  // the new password was set
      {{{0, 0}}, false, false, true},
      {{{wrongPassword, 0}}, false, false, false},  // Remote Desktop data with a wrong password
      {{{restriction, disabled}}, false, false, false},
  };
  for (const auto& row : rows) {
    auto* credential = new Korvath::Provider::HalvaneCredential(200);
    ASSERT_EQ(S_OK, credential->Initialize(nullptr, nullptr, nullptr, L"alice", L"VM", L"", true, true, "10.0.0.9"));
    ASSERT_TRUE(credential->shouldSerializeRdpData());
    for (const auto& result : row.results) {
      EXPECT_EQ(E_UNEXPECTED, credential->ReportResult(result.first, result.second, nullptr, nullptr));
    }
    EXPECT_EQ(row.mustChange, credential->mustChangePassword());
    EXPECT_EQ(row.changed, credential->passwordChanged());
    EXPECT_EQ(row.rdpData, credential->shouldSerializeRdpData());
    credential->Release();
  }
}

namespace {
class CancellingQuery : public IQueryContinueWithStatus {
 public:
  IFACEMETHODIMP QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  IFACEMETHODIMP_(ULONG) AddRef() override { return 2; }
  IFACEMETHODIMP_(ULONG) Release() override { return 1; }
  IFACEMETHODIMP QueryContinue() override {
    ++asked;
    return S_FALSE;  // the user pressed Cancel
  }
  IFACEMETHODIMP SetStatusMessage(LPCWSTR text) override {
    status = text != nullptr ? text : L"";
    return S_OK;
  }
  int asked = 0;
  std::wstring status;
};
}  // namespace

TEST_F(Gate, ConnectShowsLoggingOnAndGoesOnAfterCancel) {
  Tile tile(GateTest::createObject, guidOf(kPasswordWrapper), CPUS_LOGON);
  ASSERT_EQ(S_OK, tile.hr);
  IConnectableCredentialProviderCredential* connectable = nullptr;
  ASSERT_EQ(S_OK, tile.credential->QueryInterface(IID_IConnectableCredentialProviderCredential,
                                                  reinterpret_cast<void**>(&connectable)));
  CancellingQuery queryContinue;
  // Windows' password provider is not connectable: the wrapper answers for it.
  EXPECT_EQ(S_OK, connectable->Connect(&queryContinue));
  EXPECT_EQ(L"Logging on...", queryContinue.status);
  EXPECT_EQ(1, queryContinue.asked);
  EXPECT_EQ(S_OK, connectable->Connect(nullptr));
  EXPECT_EQ(S_OK, connectable->Disconnect());
  connectable->Release();
}
