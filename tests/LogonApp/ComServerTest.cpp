// KvCredProv.dll as COM and LogonUI see it: a class factory per class identifier
// carrying its tag into the provider, the factory's answers, the unload rule, the usage
// scenarios it serves, serializations re-addressed to Windows' provider, the user array
// matched by SID, the provider filter and the library's log. The providers wrap the stand-ins
// for Windows' providers.

#include <windows.h>
#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "KvLogRead/SealedLog.h"
#include "KvStandIn/PackedLogon.h"
#include "ProviderTestSupport.h"

using namespace ProviderTest;

namespace {

// The provider filter: which providers LogonUI may show per scenario, and how a Remote Desktop
// serialization is re-addressed to the matching wrapper. A remote serialization marks the
// library's process state as a Remote Desktop sign-in, which the unload after each test forgets.

struct FilterRow {
  const char* provider;
  bool in;      // what LogonUI passes
  bool logon;   // after Filter in the logon (and unlock) scenario
  bool credui;  // after Filter in the CredUI (and PLAP) scenario
  bool hello;   // in the logon scenario after a remote Windows Hello credential
};

// clang-format off
const FilterRow kRows[] = {
  // The password wrapper stands for every wrapper but the smart card's and the picture password's
  // (which wrapper is which: the remote serializations' test), Windows' password for every
  // provider that is neither the library's nor always allowed.
  {"{BCB72349-6C97-4E3F-94B5-6EA045F85CA5}", true,  true,  false, true},   // password wrapper
  {"{5D76DE6C-7F65-4431-89AC-2D43EBE72298}", false, false, false, false},  // PIN wrapper LogonUI hid
  {"{B4841AC3-BB3F-4BBF-8F90-E25B45EF4CB4}", true,  true,  false, true},   // same family, not served
  {"{2BFD34AC-10D7-4C70-94F5-3F7EA9025B0E}", true,  false, true,  true},   // smart-card wrapper
  {"{2135F72A-90B5-4ED3-A7F1-8BB705AC276A}", true,  true,  true,  true},   // picture password
  {"{00002BA3-BCC4-4C7D-AEC7-363F164FD178}", true,  true,  true,  true},
  {"{4834DBC7-4A06-424D-A67F-20DDEBCF00E1}", false, false, false, false},
  {"{60B78E88-EAD8-445C-9CFD-0B87F74EA6CD}", true,  false, true,  false},  // Windows' password
  {"{11111111-2222-3333-4444-555555555555}", true,  false, true,  false},  // anyone else
};
// clang-format on

// Filters kRows in `scenario` and expects what the rows' `shown` column says.
void expectFilter(ICredentialProviderFilter* f, CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario, bool FilterRow::*shown) {
  std::vector<GUID> ids;
  std::vector<BOOL> allow;
  for (const FilterRow& row : kRows) {
    ids.push_back(guidOf(row.provider));
    allow.push_back(row.in ? TRUE : FALSE);
  }
  EXPECT_EQ(S_OK, f->Filter(scenario, 0, ids.data(), allow.data(), static_cast<DWORD>(ids.size())));
  for (std::size_t i = 0; i < std::size(kRows); ++i)
    EXPECT_EQ(kRows[i].*shown, allow[i] != FALSE) << kRows[i].provider << " in scenario " << scenario;
}

// The library's log as the agent's "Log" value switches it: opened by the first request for a
// class object (not while the DLL is being loaded), "Log opening" and "Closing log" around what
// a sign-in writes, readable by SYSTEM and Administrators only, opened by the project's own log
// key, and holding no password or serialization bytes.

const wchar_t* const kLogPath = L"C:\\PelloraAgentForWindows.log";
const wchar_t* const kPassword = L"Corr3ct-Horse battery";

bool fileExists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

// The file's DACL in SDDL form.
std::wstring daclText(const wchar_t* path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  LPWSTR text = nullptr;
  std::wstring out;
  if (GetNamedSecurityInfoW(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &descriptor) == ERROR_SUCCESS &&
      ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                           &text, nullptr))
    out = text;
  LocalFree(text);
  LocalFree(descriptor);
  return out;
}

// Plays the person at the MFA dialog that a sign-in on this thread shows: presses its Back
// button, which refuses the sign-in. True when a dialog came within a minute.
std::future<bool> refuseTheDialog() {
  return std::async(std::launch::async, [] {
    for (int tries = 0; tries < 1200; ++tries) {
      HWND dialog = FindWindowW(L"MFA_Dialog", nullptr);
      if (dialog != nullptr && IsWindowVisible(dialog)) return PostMessageW(dialog, WM_COMMAND, 216 /* Back */, 0) != 0;
      Sleep(50);
    }
    return false;
  });
}

class LibraryLog : public Library {
 protected:
  void TearDown() override {
    Library::TearDown();
    setAgentValue(L"Log", nullptr);
    DeleteFileW(kLogPath);
  }
};

}  // namespace

TEST_F(Library, EachClassIdentifierWrapsItsKindOfSignInInTheScenariosItServes) {
  std::vector<std::uint8_t> bytes = KvStandIn::packInteractiveLogon(2, L"VM", L"alice", L"pw");
  const std::string hex = KvStandIn::toHex(bytes.data(), bytes.size());
  const std::pair<CREDENTIAL_PROVIDER_USAGE_SCENARIO, HRESULT> scenarios[] = {
      {CPUS_LOGON, S_OK},       {CPUS_UNLOCK_WORKSTATION, S_OK}, {CPUS_CHANGE_PASSWORD, S_OK},
      {CPUS_CREDUI, E_NOTIMPL}, {CPUS_PLAP, E_NOTIMPL},          {CPUS_INVALID, E_NOTIMPL}};
  for (const WrapperRow& row : kWrappers) {
    for (const auto& scenario : scenarios) {
      SCOPED_TRACE(testing::Message() << row.wrapper << " scenario " << scenario.first);
      ICredentialProvider* provider = nullptr;
      ASSERT_EQ(S_OK, create(guidOf(row.wrapper), IID_ICredentialProvider, reinterpret_cast<void**>(&provider)));
      EXPECT_EQ(scenario.second, provider->SetUsageScenario(scenario.first, 0));
      // Windows' provider gets the scenario; without a served one none is made. The probe
      // answers through the wrapper: the inner provider is the stand-in of this tag (the picture
      // password's is served only by the class factory of credprovslegacy.dll in the system
      // folder, which nothing registered with COM).
      const bool served = scenario.second == S_OK;
      EXPECT_EQ(served ? std::to_string(scenario.first) : "<no probe>", ask(provider, L"scenario"));
      EXPECT_EQ(served ? row.inner : "<no probe>", ask(provider, L"clsid"));
      // A serialization the filter addressed to the wrapper reaches Windows' provider (the smart
      // card's would show the MFA dialog first).
      if (served && &row != &kWrappers[7]) {
        const CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION cs = remote(row.wrapper, bytes);
        EXPECT_EQ(S_OK, provider->SetSerialization(&cs));
        EXPECT_EQ(std::string(row.inner) + " 9 " + std::to_string(bytes.size()) + " " + hex,
                  ask(provider, L"serialization"));
      }
      provider->Release();
    }
  }
}

// The factory's answers, and the unload rule: the library stays while any object, credential
// or server lock is alive.
TEST_F(Library, FactoryAnswersAndTheLibraryUnloadsOnlyWhenEveryObjectAndLockIsGone) {
  void* object = reinterpret_cast<void*>(1);
  const CLSID unknown = guidOf("{0BADF00D-1234-5678-9ABC-DEF012345678}");
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClassObject(unknown, IID_IClassFactory, &object));
  EXPECT_EQ(nullptr, object);
  EXPECT_EQ(E_NOINTERFACE, getClassObject(guidOf(kWrappers[0].wrapper), IID_ICredentialProvider, &object));
  IClassFactory* f = nullptr;
  ASSERT_EQ(S_OK, getClassObject(guidOf(kWrappers[0].wrapper), IID_IClassFactory, reinterpret_cast<void**>(&f)));
  EXPECT_EQ(S_FALSE, canUnloadNow());
  // Another interface gets 0x80040110 (CLASS_E_NOAGGREGATION), as COM callers of these
  // factories have always seen; so does aggregation.
  const struct {
    IUnknown* outer;
    const IID* iid;
  } rows[] = {{nullptr, &IID_ICredentialProviderCredential}, {nullptr, &IID_IClassFactory}, {f, &IID_IUnknown}};
  for (const auto& row : rows) {
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(0x80040110, static_cast<unsigned long>(f->CreateInstance(row.outer, *row.iid, &object)))
        << guidText(*row.iid);
    EXPECT_EQ(nullptr, object);
  }
  ICredentialProviderFilter* filter = nullptr;
  ASSERT_EQ(S_OK, f->CreateInstance(nullptr, IID_ICredentialProviderFilter, reinterpret_cast<void**>(&filter)));
  EXPECT_EQ(S_OK, f->LockServer(TRUE));
  f->Release();
  ICredentialProviderCredential* credential = nullptr;
  {
    Tile tile(create, guidOf(kWrappers[0].wrapper), CPUS_LOGON);
    ASSERT_EQ(S_OK, tile.hr);
    credential = tile.credential;
    credential->AddRef();
  }
  EXPECT_EQ(S_FALSE, canUnloadNow()) << "LogonUI still holds a credential of the released provider";
  credential->Release();
  EXPECT_EQ(S_FALSE, canUnloadNow()) << "the filter is alive";
  filter->Release();
  EXPECT_EQ(S_FALSE, canUnloadNow()) << "a server lock is outstanding";
  ASSERT_EQ(S_OK, getClassObject(guidOf(kWrappers[3].wrapper), IID_IClassFactory, reinterpret_cast<void**>(&f)));
  EXPECT_EQ(S_OK, f->LockServer(FALSE));
  f->Release();
  EXPECT_EQ(S_OK, canUnloadNow());
}

TEST_F(Library, CredentialTakesTheUserWhoseSidItReports) {
  const std::vector<KvLogonUi::UserEntry> users = {
      {L"S-1-5-21-100-200-300-1001", L"alice", L"VM\\alice"},
      {L"S-1-5-21-100-200-300-1002", L"bob", L"VM\\bob"},
      {L"S-1-5-21-100-200-300-1003", L"carol", L"VM\\carol"},
  };
  for (bool version2 : {true, false}) {
    SCOPED_TRACE(version2 ? "credentials with a SID" : "credentials without ICredentialProviderCredential2");
    std::vector<KvLogonUi::UserReads> reads;
    ICredentialProviderUserArray* array = KvLogonUi::createUserArray(users, &reads);
    {
      Tile tile(create, guidOf(kWrappers[0].wrapper), CPUS_LOGON, [&](ICredentialProvider* p) {
        ICredentialProviderSetUserArray* setter = nullptr;
        ASSERT_EQ(S_OK, p->QueryInterface(IID_ICredentialProviderSetUserArray, reinterpret_cast<void**>(&setter)));
        EXPECT_EQ(S_OK, setter->SetUserArray(array));
        setter->Release();
        EXPECT_EQ("3", ask(p, L"users"));  // passed on to Windows' provider
        // Credentials for bob, for nobody, and for a user LogonUI does not show.
        tell(p, L"credentials", L"S-1-5-21-100-200-300-1002;;S-1-5-21-100-200-300-1009");
        tell(p, L"credential2", version2 ? L"1" : L"0");
      });
      ASSERT_EQ(S_OK, tile.hr);
      EXPECT_EQ(3u, tile.count);
      ICredentialProviderCredential* beyond = tile.credential;
      EXPECT_EQ(E_INVALIDARG, tile.provider->GetCredentialAt(3, &beyond));
      EXPECT_EQ(nullptr, beyond);
      // What LSA answered reaches Windows' credential, which words the message LogonUI shows.
      EXPECT_EQ(S_OK, tile.credential->ReportResult(static_cast<NTSTATUS>(0xC000006D), 0, nullptr, nullptr));
      EXPECT_EQ("c000006d 00000000", ask(tile.credential, L"reported"));
    }
    // Only bob's user object was read for the credential's qualified name.
    EXPECT_EQ((std::vector<int>{0, version2 ? 1 : 0, 0}),
              (std::vector<int>{reads[0].qualifiedUserName, reads[1].qualifiedUserName, reads[2].qualifiedUserName}));
    array->Release();
  }
}

// No caller gets Windows' provider or credential through a wrapper: each wrapper answers its
// documented interfaces itself, all with its own IUnknown, and nothing else, not even what
// Windows' object behind it answers (the stand-ins' probe, a second user-array interface).
TEST_F(Library, WrappersAnswerOnlyTheirOwnInterfacesAndKeepTheirIdentity) {
  Tile tile(create, guidOf(kWrappers[0].wrapper), CPUS_LOGON);
  ASSERT_EQ(S_OK, tile.hr);
  const IID* const asked[] = {&IID_IUnknown,
                              &IID_ICredentialProvider,
                              &IID_ICredentialProviderSetUserArray,
                              &IID_ICredentialProviderCredential,
                              &IID_ICredentialProviderCredential2,
                              &IID_IConnectableCredentialProviderCredential,
                              &IID_ICredentialProviderCredentialWithFieldOptions,
                              &IID_ICredentialProviderFilter,
                              &IID_IStandInProbe,
                              &IID_IClassFactory};
  const struct {
    IUnknown* wrapper;
    std::vector<const IID*> own;
  } rows[] = {
      {tile.provider, {asked[0], asked[1], asked[2]}},
      {tile.credential, {asked[0], asked[3], asked[4], asked[5], asked[6]}},
  };
  for (const auto& row : rows) {
    IUnknown* identity = nullptr;
    ASSERT_EQ(S_OK, row.wrapper->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
    for (const IID* iid : asked) {
      const bool own = std::find(row.own.begin(), row.own.end(), iid) != row.own.end();
      IUnknown* answer = reinterpret_cast<IUnknown*>(1);
      EXPECT_EQ(own ? S_OK : E_NOINTERFACE, row.wrapper->QueryInterface(*iid, reinterpret_cast<void**>(&answer)))
          << guidText(*iid);
      if (!own) {
        EXPECT_EQ(nullptr, answer) << guidText(*iid);
        continue;
      }
      IUnknown* answerIdentity = nullptr;
      ASSERT_EQ(S_OK, answer->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&answerIdentity)));
      EXPECT_EQ(identity, answerIdentity) << guidText(*iid);
      answerIdentity->Release();
      answer->Release();
    }
    identity->Release();
  }
}

// The providers shown per scenario, before and after a remote Windows Hello credential; a
// remote serialization for Windows' provider or anyone else handed to the matching wrapper.
TEST_F(Library, FilterShowsTheWrappersOnlyAtLogonAndHandsThemRemoteSerializations) {
  ICredentialProviderFilter* f = nullptr;
  ASSERT_EQ(S_OK, create(guidOf(kWrappers[0].wrapper), IID_ICredentialProviderFilter, reinterpret_cast<void**>(&f)));
  expectFilter(f, CPUS_LOGON, &FilterRow::logon);
  expectFilter(f, CPUS_UNLOCK_WORKSTATION, &FilterRow::logon);
  expectFilter(f, CPUS_CREDUI, &FilterRow::credui);
  expectFilter(f, CPUS_PLAP, &FilterRow::credui);
  EXPECT_EQ(S_OK, f->Filter(CPUS_LOGON, 0, nullptr, nullptr, 3));
  std::vector<std::uint8_t> bytes;
  CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION in = remote(kWrappers[0].inner, bytes);
  CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out;
  FillMemory(&out, sizeof out, 0xCC);
  EXPECT_EQ(S_FALSE, f->UpdateRemoteCredential(&in, &out)) << "an empty one is not taken";
  EXPECT_EQ(nullptr, out.rgbSerialization);
  bytes = KvStandIn::packInteractiveLogon(2, L"VM", L"alice", L"pw");
  std::vector<WrapperRow> rows(std::begin(kWrappers), std::end(kWrappers));
  rows.push_back({"{11111111-2222-3333-4444-555555555555}", "{11111111-2222-3333-4444-555555555555}"});  // anyone else
  for (const WrapperRow& row : rows) {
    in = remote(row.inner, bytes);
    ASSERT_EQ(S_OK, f->UpdateRemoteCredential(&in, &out)) << row.inner;
    EXPECT_EQ(row.wrapper, guidText(out.clsidCredentialProvider)) << row.inner;
    EXPECT_EQ(9u, out.ulAuthenticationPackage);
    ASSERT_NE(out.rgbSerialization, in.rgbSerialization);  // a copy LogonUI owns
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(out.rgbSerialization, out.rgbSerialization + out.cbSerialization));
    CoTaskMemFree(out.rgbSerialization);
  }
  // Only a Windows Hello credential shows the smart-card wrapper at logon.
  expectFilter(f, CPUS_LOGON, &FilterRow::logon);
  bytes = KvStandIn::packCertificateLogon(13, L"", L"alice@example.com", L"1234", L"Windows Hello for Business 1");
  in = remote(kWrappers[7].inner, bytes);
  ASSERT_EQ(S_OK, f->UpdateRemoteCredential(&in, &out));
  CoTaskMemFree(out.rgbSerialization);
  expectFilter(f, CPUS_LOGON, &FilterRow::hello);
  f->Release();
}

TEST_F(LibraryLog, OnlyAnEnabledLogIsWrittenAndItFramesASignInAndHoldsNoSecret) {
  DeleteFileW(kLogPath);
  for (const wchar_t* value : {static_cast<const wchar_t*>(nullptr), L"Enabled", L"disabled", L""}) {
    setAgentValue(L"Log", value);
    IClassFactory* f = nullptr;
    ASSERT_EQ(S_OK, getClassObject(guidOf(kWrappers[0].wrapper), IID_IClassFactory, reinterpret_cast<void**>(&f)));
    f->Release();
    unload();
    EXPECT_FALSE(fileExists(kLogPath)) << (value == nullptr ? "absent" : "set");
    // Loaded with the log enabled, the library opens it at the first request, not before.
    setAgentValue(L"Log", L"enabled");
    load();
    EXPECT_FALSE(fileExists(kLogPath)) << "opened while the library was being loaded";
  }
  KvLogonUi::LogonUi logonUi(nullptr, create);
  KvLogonUi::SignIn request;
  request.tile = guidOf(kWrappers[0].wrapper);
  request.user = L"alice";
  request.password = kPassword;
  // The agent is not installed here: the dialog says so, and the person goes Back.
  std::future<bool> refused = refuseTheDialog();
  const KvLogonUi::Outcome outcome = logonUi.signIn(request);
  EXPECT_TRUE(refused.get());
  ASSERT_EQ(1u, outcome.submissions.size());
  EXPECT_EQ(E_ACCESSDENIED, outcome.submissions[0].hr);
  const std::string produced = outcome.submissions[0].innerProduced;
  ASSERT_GT(produced.size(), 64u);
  unload();

  // SYSTEM and Administrators only (Wine keeps file permissions as the owner's Unix mode, so
  // there the owner stands for Administrators): nobody else, not Everyone, not Users.
  const std::wstring dacl = daclText(kLogPath);
  EXPECT_NE(std::wstring::npos, dacl.find(L";;;SY)"));
  for (const wchar_t* other : {L";;;WD)", L";;;BU)", L";;;AU)", L";;;IU)"})
    EXPECT_EQ(std::wstring::npos, dacl.find(other)) << std::string(dacl.begin(), dacl.end());

  // Opened with this machine's log key as the project's tools open it.
  std::vector<KvLogRead::Record> records;
  std::string error;
  ASSERT_TRUE(KvLogRead::readSealedLog("C:/PelloraAgentForWindows.log", records, error)) << error;
  ASSERT_GE(records.size(), 3u);
  EXPECT_EQ("Log opening", records.front().message);
  EXPECT_EQ("Closing log", records.back().message);
  const std::string utf16Hex = KvStandIn::toHex(utf16Bytes(kPassword).data(), utf16Bytes(kPassword).size());
  // LogonUI's stand-in asked the credential for the stand-ins' probe: the field log says what.
  EXPECT_TRUE(std::any_of(records.begin(), records.end(), [](const KvLogRead::Record& record) {
    return record.level == "debug" &&
           record.message.find("no interface " + guidText(IID_IStandInProbe)) != std::string::npos;
  }));
  for (const KvLogRead::Record& record : records) {
    EXPECT_TRUE(record.opened);
    EXPECT_EQ(std::string::npos, record.message.find("Horse")) << record.message;
    EXPECT_EQ(std::string::npos, record.message.find(utf16Hex.substr(0, 24))) << record.message;
    EXPECT_EQ(std::string::npos, record.message.find(produced.substr(0, 32))) << record.message;
  }
}
