// The provider filter of KvCredProv.dll: which providers LogonUI may show per scenario, and
// how a Remote Desktop serialization is re-addressed to the matching wrapper. Its own
// executable: a remote serialization marks the whole process as a Remote Desktop sign-in.

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "KvStandIn/PackedLogon.h"
#include "ProviderTestSupport.h"

using namespace ProviderTest;

namespace {

class Filter : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    registerKvCredProv();
  }
  void TearDown() override { CoUninitialize(); }

  ICredentialProviderFilter* filter() {
    ICredentialProviderFilter* f = nullptr;
    EXPECT_EQ(S_OK, CoCreateInstance(guidOf(kWrappers[0].wrapper), nullptr, CLSCTX_INPROC_SERVER,
                                     IID_ICredentialProviderFilter, reinterpret_cast<void**>(&f)));
    return f;
  }
};

struct FilterRow {
  const char* provider;
  bool in;      // what LogonUI passes
  bool logon;   // after Filter in the logon scenario
  bool credui;  // after Filter in the CredUI scenario
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

}  // namespace

// Runs first: nothing has marked the process remote yet.
TEST_F(Filter, A_WhichProvidersLogonUiMayShow) {
  ICredentialProviderFilter* f = filter();
  ASSERT_NE(f, nullptr);
  const std::vector<bool> logon = runFilter(f, CPUS_LOGON);
  const std::vector<bool> unlock = runFilter(f, CPUS_UNLOCK_WORKSTATION);
  const std::vector<bool> credui = runFilter(f, CPUS_CREDUI);
  const std::vector<bool> plap = runFilter(f, CPUS_PLAP);
  for (std::size_t i = 0; i < std::size(kRows); ++i) {
    EXPECT_EQ(kRows[i].logon, logon[i]) << kRows[i].provider;
    EXPECT_EQ(kRows[i].logon, unlock[i]) << kRows[i].provider;
    EXPECT_EQ(kRows[i].credui, credui[i]) << kRows[i].provider;
    EXPECT_EQ(kRows[i].credui, plap[i]) << kRows[i].provider;
  }
  EXPECT_EQ(S_OK, f->Filter(CPUS_LOGON, 0, nullptr, nullptr, 3));
  f->Release();
}

TEST_F(Filter, B_EmptyRemoteSerializationIsNotTaken) {
  ICredentialProviderFilter* f = filter();
  ASSERT_NE(f, nullptr);
  CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION in = {};
  in.clsidCredentialProvider = guidOf(kWrappers[0].inner);
  CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out;
  FillMemory(&out, sizeof out, 0xCC);
  EXPECT_EQ(S_FALSE, f->UpdateRemoteCredential(&in, &out));
  EXPECT_EQ(nullptr, out.rgbSerialization);
  EXPECT_EQ(0u, out.cbSerialization);
  EXPECT_EQ(S_FALSE, f->UpdateRemoteCredential(nullptr, &out));
  f->Release();
}

TEST_F(Filter, C_RemoteSerializationGoesToTheMatchingWrapper) {
  const std::vector<std::uint8_t> bytes = KvStandIn::packInteractiveLogon(2, L"VM", L"alice", L"pw");
  const struct {
    const char* windows;
    const char* wrapper;
  } rows[] = {
      {"{60B78E88-EAD8-445C-9CFD-0B87F74EA6CD}", "{BCB72349-6C97-4E3F-94B5-6EA045F85CA5}"},
      {"{D6886603-9D2F-4EB2-B667-1971041FA96B}", "{5D76DE6C-7F65-4431-89AC-2D43EBE72298}"},
      {"{BEC09223-B018-416D-A0AC-523971B639F5}", "{B88420D8-BAB2-4451-A2D3-A2F99AF9854A}"},
      {"{8AF662BF-65A0-4D0A-A540-A338A999D36F}", "{22AD5268-00F7-427E-A4F7-87C7CF161BA7}"},
      {"{2135F72A-90B5-4ED3-A7F1-8BB705AC276A}", "{2135F72A-90B5-4ED3-A7F1-8BB705AC276A}"},
      {"{F8A0B131-5F68-486C-8040-7E8FC3C85BB6}", "{3AAAD06D-817D-4028-B640-06E07C903BD0}"},
      {"{F8A1793B-7873-4046-B2A7-1F318747F427}", "{061299FA-2FD9-46D6-B300-B2E15A388636}"},
      {"{8FD7E19C-3BF7-489B-A72C-846AB3678C96}", "{2BFD34AC-10D7-4C70-94F5-3F7EA9025B0E}"},
      {"{11111111-2222-3333-4444-555555555555}", "{11111111-2222-3333-4444-555555555555}"},
  };
  for (const auto& row : rows) {
    ICredentialProviderFilter* f = filter();
    ASSERT_NE(f, nullptr);
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION in = {};
    in.clsidCredentialProvider = guidOf(row.windows);
    in.ulAuthenticationPackage = 9;
    in.cbSerialization = static_cast<ULONG>(bytes.size());
    in.rgbSerialization = const_cast<byte*>(bytes.data());
    CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out = {};
    ASSERT_EQ(S_OK, f->UpdateRemoteCredential(&in, &out)) << row.windows;
    EXPECT_EQ(row.wrapper, text(out.clsidCredentialProvider)) << row.windows;
    EXPECT_EQ(9u, out.ulAuthenticationPackage);
    ASSERT_NE(out.rgbSerialization, in.rgbSerialization);  // a copy LogonUI owns
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(out.rgbSerialization, out.rgbSerialization + out.cbSerialization));
    CoTaskMemFree(out.rgbSerialization);
    // Not a Windows Hello logon: the smart-card wrapper stays hidden. (Once: every Filter of
    // a remote session looks for the client's address, which takes a while under Wine.)
    if (&row == &rows[0]) {
      EXPECT_FALSE(runFilter(f, CPUS_LOGON)[7]);
    }
    f->Release();
  }
}

TEST_F(Filter, D_RemoteWindowsHelloCredentialShowsTheSmartCardWrapper) {
  ICredentialProviderFilter* f = filter();
  ASSERT_NE(f, nullptr);
  const std::vector<std::uint8_t> hello =
      KvStandIn::packCertificateLogon(13, L"", L"alice@example.com", L"1234", L"Windows Hello for Business 1");
  CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION in = {};
  in.clsidCredentialProvider = guidOf("{8FD7E19C-3BF7-489B-A72C-846AB3678C96}");
  in.cbSerialization = static_cast<ULONG>(hello.size());
  in.rgbSerialization = const_cast<byte*>(hello.data());
  CREDENTIAL_PROVIDER_CREDENTIAL_SERIALIZATION out = {};
  ASSERT_EQ(S_OK, f->UpdateRemoteCredential(&in, &out));
  CoTaskMemFree(out.rgbSerialization);
  const std::vector<bool> logon = runFilter(f, CPUS_LOGON);
  for (std::size_t i = 0; i < std::size(kRows); ++i) EXPECT_EQ(kRows[i].hello, logon[i]) << kRows[i].provider;
  f->Release();
}
