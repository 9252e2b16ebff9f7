// The wrapping provider and credential of KvCredProv.dll, made through COM from the
// registration the installer stand-in writes: serializations re-addressed to Windows'
// provider, the user array matched by SID, bounds, pass-through of the tile, and the
// LogonUI stand-in's command line driving a whole sign-in.

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "KvStandIn/PackedLogon.h"
#include "ProviderTestSupport.h"

using namespace ProviderTest;

namespace {

HRESULT comCreate(REFCLSID clsid, REFIID iid, void** out) {
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out);
}

class Provider : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    installStandIns();
    registerKvCredProv();
  }
  void TearDown() override {
    // Balanced references: the library COM loaded may be unloaded.
    using CanUnloadNowFn = HRESULT(__stdcall*)();
    HMODULE dll = GetModuleHandleW((binDirectory() + L"\\KvCredProv.dll").c_str());
    if (dll != nullptr) {
      auto canUnload =
          reinterpret_cast<CanUnloadNowFn>(reinterpret_cast<void (*)()>(GetProcAddress(dll, "DllCanUnloadNow")));
      EXPECT_EQ(S_OK, canUnload());
    }
    CoUninitialize();
  }
};

}  // namespace

TEST_F(Provider, IncomingSerializationReachesWindowsProviderOfItsTag) {
  const std::vector<std::uint8_t> bytes = KvStandIn::packInteractiveLogon(2, L"VM", L"alice", L"pw");
  const std::string hex = KvStandIn::toHex(bytes.data(), bytes.size());
  for (int row : {0, 1, 2, 3}) {  // password, PIN, fingerprint, face
    SCOPED_TRACE(kWrappers[row].wrapper);
    ICredentialProvider* provider = nullptr;
    ASSERT_EQ(S_OK, comCreate(guidOf(kWrappers[row].wrapper), IID_ICredentialProvider, reinterpret_cast<void**>(&provider)));
    ASSERT_EQ(S_OK, provider->SetUsageScenario(CPUS_LOGON, 0));
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION cs = {};
    cs.clsidCredentialProvider = guidOf(kWrappers[row].wrapper);  // as the filter re-addressed it
    cs.ulAuthenticationPackage = 7;
    cs.cbSerialization = static_cast<ULONG>(bytes.size());
    cs.rgbSerialization = const_cast<byte*>(bytes.data());
    EXPECT_EQ(S_OK, provider->SetSerialization(&cs));
    EXPECT_EQ(std::string(kWrappers[row].inner) + " 7 " + std::to_string(bytes.size()) + " " + hex,
              ask(provider, L"serialization"));
    provider->Release();
  }
}

TEST_F(Provider, CredentialTakesTheUserWhoseSidItReports) {
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
      Tile tile(comCreate, guidOf(kWrappers[0].wrapper), CPUS_LOGON, [&](ICredentialProvider* p) {
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
    }
    // Only bob's user object was read for the credential's qualified name.
    EXPECT_EQ(0, reads[0].qualifiedUserName);
    EXPECT_EQ(version2 ? 1 : 0, reads[1].qualifiedUserName);
    EXPECT_EQ(0, reads[2].qualifiedUserName);
    array->Release();
  }
}

TEST_F(Provider, CredentialIndexIsChecked) {
  Tile tile(comCreate, guidOf(kWrappers[0].wrapper), CPUS_LOGON,
            [](ICredentialProvider* p) { tell(p, L"credentials", L";"); });
  ASSERT_EQ(S_OK, tile.hr);
  ASSERT_EQ(2u, tile.count);
  for (DWORD index : {2u, 3u, 0xFFFFFFFFu}) {
    ICredentialProviderCredential* credential = reinterpret_cast<ICredentialProviderCredential*>(1);
    EXPECT_EQ(E_INVALIDARG, tile.provider->GetCredentialAt(index, &credential)) << index;
    EXPECT_EQ(nullptr, credential);
  }
  EXPECT_EQ(E_INVALIDARG, tile.provider->GetCredentialAt(0, nullptr));
}

TEST_F(Provider, TilePassesFieldsThroughAndOffersPasswordReveal) {
  Tile tile(comCreate, guidOf(kWrappers[1].wrapper), CPUS_UNLOCK_WORKSTATION);
  ASSERT_EQ(S_OK, tile.hr);
  tile.type(L"alice", L"1234");
  LPWSTR value = nullptr;
  ASSERT_EQ(S_OK, tile.credential->GetStringValue(KvStandIn::kFieldLabel, &value));
  EXPECT_EQ(std::wstring(L"PIN stand-in"), value);
  CoTaskMemFree(value);
  EXPECT_EQ("alice", ask(tile.credential, L"user"));
  CREDENTIAL_PROVIDER_FIELD_STATE state;
  EXPECT_EQ(E_INVALIDARG, tile.credential->GetFieldState(1, &state, nullptr));
  ICredentialProviderCredentialWithFieldOptions* options = nullptr;
  ASSERT_EQ(S_OK, tile.credential->QueryInterface(IID_ICredentialProviderCredentialWithFieldOptions,
                                                  reinterpret_cast<void**>(&options)));
  CREDENTIAL_PROVIDER_CREDENTIAL_FIELD_OPTIONS option = CPCFO_NONE;
  EXPECT_EQ(S_OK, options->GetFieldOptions(2, &option));
  EXPECT_EQ(CPCFO_ENABLE_PASSWORD_REVEAL, option);
  EXPECT_EQ(S_OK, options->GetFieldOptions(1, &option));
  EXPECT_EQ(CPCFO_NONE, option);
  options->Release();
  NTSTATUS logonFailure = static_cast<NTSTATUS>(0xC000006D);
  EXPECT_EQ(S_OK, tile.credential->ReportResult(logonFailure, 0, nullptr, nullptr));
  EXPECT_EQ("c000006d 00000000", ask(tile.credential, L"reported"));
}

TEST_F(Provider, LogonUiStandInCommandLineRunsASignIn) {
  const std::wstring command = L"\"" + binDirectory() +
                               L"\\kvlogonui.exe\" --tile {BCB72349-6C97-4E3F-94B5-6EA045F85CA5} --user alice "
                               L"--password Sw0rdfish-42 --check-unload";
  std::string output;
  DialogRefuser refuser;
  EXPECT_EQ(0, runCommand(command, output)) << output;
  // The agent is not installed here: the dialog says so and the person goes Back (refused).
  EXPECT_TRUE(refuser.dialogSeen());
  EXPECT_NE(std::string::npos,
            output.find("credential clsid={BCB72349-6C97-4E3F-94B5-6EA045F85CA5} index=0 GetSerialization hr=0x80070005 "
                        "response=0 size=0 package=0"))
      << output;
  EXPECT_NE(std::string::npos, output.find("allow clsid={60B78E88-EAD8-445C-9CFD-0B87F74EA6CD} allowed=0")) << output;
  EXPECT_NE(std::string::npos, output.find("unload module=KvCredProv.dll DllCanUnloadNow=0x00000000")) << output;
  EXPECT_EQ(std::string::npos, output.find("Sw0rdfish")) << output;
}
