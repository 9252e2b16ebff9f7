// KvCredProv.dll as COM and LogonUI see it: its exports, a class factory per class identifier
// carrying its tag into the provider, the factory's answers, the unload rule, the usage
// scenarios it serves, serializations re-addressed to Windows' provider and the user array
// matched by SID. The providers wrap the stand-ins for Windows' providers.

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "KvStandIn/PackedLogon.h"
#include "ProviderTestSupport.h"

using namespace ProviderTest;

namespace {

// How many names the loaded image exports.
DWORD exportedNames(HMODULE module) {
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* nt =
      reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& exports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  return reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + exports.VirtualAddress)->NumberOfNames;
}

}  // namespace

TEST_F(Library, EachClassIdentifierWrapsItsKindOfSignIn) {
  EXPECT_EQ(2u, exportedNames(module)) << "DllGetClassObject and DllCanUnloadNow only";
  const std::vector<std::uint8_t> bytes = KvStandIn::packInteractiveLogon(2, L"VM", L"alice", L"pw");
  const std::string hex = KvStandIn::toHex(bytes.data(), bytes.size());
  for (const WrapperRow& row : kWrappers) {
    SCOPED_TRACE(row.wrapper);
    ICredentialProvider* provider = nullptr;
    ASSERT_EQ(S_OK, create(guidOf(row.wrapper), IID_ICredentialProvider, reinterpret_cast<void**>(&provider)));
    ASSERT_EQ(S_OK, provider->SetUsageScenario(CPUS_LOGON, 0));
    // The probe answers through the wrapper: the inner provider is the stand-in of this tag (the
    // picture password's is served only by the class factory of credprovslegacy.dll in the
    // system folder, which nothing registered with COM).
    EXPECT_EQ(row.inner, ask(provider, L"clsid"));
    EXPECT_EQ(row.kind, ask(provider, L"kind"));
    // A serialization the filter addressed to the wrapper reaches Windows' provider (the smart
    // card's would show the MFA dialog first).
    if (&row != &kWrappers[7]) {
      CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION cs = {};
      cs.clsidCredentialProvider = guidOf(row.wrapper);
      cs.ulAuthenticationPackage = 7;
      cs.cbSerialization = static_cast<ULONG>(bytes.size());
      cs.rgbSerialization = const_cast<byte*>(bytes.data());
      EXPECT_EQ(S_OK, provider->SetSerialization(&cs));
      EXPECT_EQ(std::string(row.inner) + " 7 " + std::to_string(bytes.size()) + " " + hex,
                ask(provider, L"serialization"));
    }
    provider->Release();
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
        << text(*row.iid);
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

TEST_F(Library, ServesLogonUnlockAndChangePasswordOnly) {
  const struct {
    CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario;
    HRESULT expected;
  } rows[] = {{CPUS_LOGON, S_OK},       {CPUS_UNLOCK_WORKSTATION, S_OK}, {CPUS_CHANGE_PASSWORD, S_OK},
              {CPUS_CREDUI, E_NOTIMPL}, {CPUS_PLAP, E_NOTIMPL},          {CPUS_INVALID, E_NOTIMPL}};
  for (const auto& row : rows) {
    ICredentialProvider* provider = nullptr;
    ASSERT_EQ(S_OK, create(guidOf(kWrappers[1].wrapper), IID_ICredentialProvider, reinterpret_cast<void**>(&provider)));
    EXPECT_EQ(row.expected, provider->SetUsageScenario(row.scenario, 0)) << row.scenario;
    // Windows' provider gets the scenario; without a served one none is made.
    EXPECT_EQ(row.expected == S_OK ? std::to_string(row.scenario) : "<no probe>", ask(provider, L"scenario"));
    provider->Release();
  }
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
    EXPECT_EQ(0, reads[0].qualifiedUserName);
    EXPECT_EQ(version2 ? 1 : 0, reads[1].qualifiedUserName);
    EXPECT_EQ(0, reads[2].qualifiedUserName);
    array->Release();
  }
}
