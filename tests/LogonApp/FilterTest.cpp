// The provider filter of KvCredProv.dll: which providers LogonUI may show per scenario, and how
// a Remote Desktop serialization is re-addressed to the matching wrapper. A remote
// serialization marks the library's process state as a Remote Desktop sign-in; the fixture
// unloads the library after each test, which forgets it.

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "KvStandIn/PackedLogon.h"
#include "ProviderTestSupport.h"

using namespace ProviderTest;

namespace {

struct FilterRow {
  const char* provider;
  bool in;      // what LogonUI passes
  bool logon;   // after Filter in the logon (and unlock) scenario
  bool credui;  // after Filter in the CredUI (and PLAP) scenario
  bool hello;   // in the logon scenario after a remote Windows Hello credential
};

// clang-format off
const FilterRow kRows[] = {
  {"{BCB72349-6C97-4E3F-94B5-6EA045F85CA5}", true,  true,  false, true},   // password wrapper
  {"{5D76DE6C-7F65-4431-89AC-2D43EBE72298}", false, false, false, false},  // PIN wrapper LogonUI hid
  {"{B88420D8-BAB2-4451-A2D3-A2F99AF9854A}", true,  true,  false, true},   // fingerprint wrapper
  {"{22AD5268-00F7-427E-A4F7-87C7CF161BA7}", true,  true,  false, true},   // face wrapper
  {"{3AAAD06D-817D-4028-B640-06E07C903BD0}", true,  true,  false, true},   // Microsoft account wrapper
  {"{061299FA-2FD9-46D6-B300-B2E15A388636}", true,  true,  false, true},   // FIDO wrapper
  {"{B4841AC3-BB3F-4BBF-8F90-E25B45EF4CB4}", true,  true,  false, true},   // same family, not served
  {"{2BFD34AC-10D7-4C70-94F5-3F7EA9025B0E}", true,  false, true,  true},   // smart-card wrapper
  {"{2135F72A-90B5-4ED3-A7F1-8BB705AC276A}", true,  true,  true,  true},   // picture password
  {"{00002BA3-BCC4-4C7D-AEC7-363F164FD178}", true,  true,  true,  true},
  {"{4834DBC7-4A06-424D-A67F-20DDEBCF00E1}", false, false, false, false},
  {"{60B78E88-EAD8-445C-9CFD-0B87F74EA6CD}", true,  false, true,  false},  // Windows' password
  {"{D6886603-9D2F-4EB2-B667-1971041FA96B}", true,  false, true,  false},  // Windows' PIN
  {"{8FD7E19C-3BF7-489B-A72C-846AB3678C96}", true,  false, true,  false},  // Windows' smart card
  {"{11111111-2222-3333-4444-555555555555}", true,  false, true,  false},  // anyone else
};
// clang-format on

std::vector<bool> runFilter(ICredentialProviderFilter* f, CREDENTIAL_PROVIDER_USAGE_SCENARIO scenario) {
  std::vector<GUID> ids;
  std::vector<BOOL> allow;
  for (const FilterRow& row : kRows) {
    ids.push_back(guidOf(row.provider));
    allow.push_back(row.in ? TRUE : FALSE);
  }
  EXPECT_EQ(S_OK, f->Filter(scenario, 0, ids.data(), allow.data(), static_cast<DWORD>(ids.size())));
  return std::vector<bool>(allow.begin(), allow.end());
}

// A serialization for `provider` as a Remote Desktop client sends it.
CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION remote(const char* provider, std::vector<std::uint8_t>& bytes) {
  CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION in = {};
  in.clsidCredentialProvider = guidOf(provider);
  in.ulAuthenticationPackage = 9;
  in.cbSerialization = static_cast<ULONG>(bytes.size());
  in.rgbSerialization = bytes.data();
  return in;
}

}  // namespace

// The providers shown per scenario, before and after a remote Windows Hello credential; a
// remote serialization for Windows' provider or anyone else handed to the matching wrapper.
TEST_F(Library, FilterShowsTheWrappersOnlyAtLogonAndHandsThemRemoteSerializations) {
  ICredentialProviderFilter* f = nullptr;
  ASSERT_EQ(S_OK, create(guidOf(kWrappers[0].wrapper), IID_ICredentialProviderFilter, reinterpret_cast<void**>(&f)));
  const std::vector<bool> logon = runFilter(f, CPUS_LOGON);
  const std::vector<bool> unlock = runFilter(f, CPUS_UNLOCK_WORKSTATION);
  const std::vector<bool> credui = runFilter(f, CPUS_CREDUI);
  const std::vector<bool> plap = runFilter(f, CPUS_PLAP);
  EXPECT_EQ(S_OK, f->Filter(CPUS_LOGON, 0, nullptr, nullptr, 3));
  std::vector<std::uint8_t> bytes;
  CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION in = remote(kWrappers[0].inner, bytes);
  CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out;
  FillMemory(&out, sizeof out, 0xCC);
  EXPECT_EQ(S_FALSE, f->UpdateRemoteCredential(&in, &out)) << "an empty one is not taken";
  EXPECT_EQ(nullptr, out.rgbSerialization);
  bytes = KvStandIn::packInteractiveLogon(2, L"VM", L"alice", L"pw");
  std::vector<WrapperRow> rows(std::begin(kWrappers), std::end(kWrappers));
  rows.push_back({"{11111111-2222-3333-4444-555555555555}", "{11111111-2222-3333-4444-555555555555}", "anyone else"});
  for (const WrapperRow& row : rows) {
    in = remote(row.inner, bytes);
    ASSERT_EQ(S_OK, f->UpdateRemoteCredential(&in, &out)) << row.inner;
    EXPECT_EQ(row.wrapper, text(out.clsidCredentialProvider)) << row.inner;
    EXPECT_EQ(9u, out.ulAuthenticationPackage);
    ASSERT_NE(out.rgbSerialization, in.rgbSerialization);  // a copy LogonUI owns
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(out.rgbSerialization, out.rgbSerialization + out.cbSerialization));
    CoTaskMemFree(out.rgbSerialization);
  }
  // Only a Windows Hello credential shows the smart-card wrapper at logon.
  EXPECT_EQ(logon, runFilter(f, CPUS_LOGON));
  bytes = KvStandIn::packCertificateLogon(13, L"", L"alice@example.com", L"1234", L"Windows Hello for Business 1");
  in = remote(kWrappers[7].inner, bytes);
  ASSERT_EQ(S_OK, f->UpdateRemoteCredential(&in, &out));
  CoTaskMemFree(out.rgbSerialization);
  const std::vector<bool> afterHello = runFilter(f, CPUS_LOGON);
  for (std::size_t i = 0; i < std::size(kRows); ++i) {
    SCOPED_TRACE(kRows[i].provider);
    EXPECT_EQ(kRows[i].logon, logon[i]);
    EXPECT_EQ(kRows[i].logon, unlock[i]);
    EXPECT_EQ(kRows[i].credui, credui[i]);
    EXPECT_EQ(kRows[i].credui, plap[i]);
    EXPECT_EQ(kRows[i].hello, afterHello[i]);
  }
  f->Release();
}
