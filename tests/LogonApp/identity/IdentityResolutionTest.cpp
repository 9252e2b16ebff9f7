// Which SAM name, UPN and domain the second factor is asked for, in every branch of the
// identity resolution, with a fake seam playing the domain, directory, sessions and LSA; and the
// real seam under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeIdentity.h"
#include "Korvath/Authentication/UserLogin.h"
#include "Korvath/Authentication/WindowsAuthentication.h"
#include "Korvath/LogonMessage.h"
#include "Korvath/Utils.h"
#include "KvStandIn/PackedLogon.h"

using namespace Korvath::Authentication;
using KvTest::FakeIdentity;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::wstring>;

const std::wstring kAlice = L"S-1-5-21-100-200-300-1101", kBob = L"S-1-5-21-100-200-300-1102",
                   kDave = L"S-1-5-21-100-200-300-1104", kOther = L"S-1-5-21-100-200-300-1199",
                   kFrank = L"S-1-5-21-100-200-300-1106", kGrace = L"S-1-5-21-100-200-300-1107",
                   kMallory = L"S-1-5-21-100-200-300-1113", kHelen = L"S-1-12-1-111-222-333-444",
                   kRita = L"S-1-12-1-555-666-777-888", kNina = L"S-1-5-21-100-200-300-1114",
                   kU06 = L"S-1-5-21-100-200-300-1126", kU16 = L"S-1-5-21-100-200-300-1136";

Bytes logon(const std::u16string& domain, const std::u16string& user) {
  return packInteractiveLogon(domain, user, u"Pa55-w0rd!");
}

// A packed certificate logon (type 13).
Bytes certificate(const wchar_t* domain, const wchar_t* user) {
  return KvStandIn::packCertificateLogon(13, domain, user, L"", L"");
}

CredentialIdentity rdp(const wchar_t* user, const wchar_t* upn, const wchar_t* domain) {
  CredentialIdentity in;
  in.shouldSerializeRdpData = true;
  in.username = user;
  in.userUpn = upn;
  in.domain = domain;
  return in;
}
using In = CredentialIdentity;
In with(void (*change)(In&)) {
  In in;
  change(in);
  return in;
}
constexpr ULONG kSizeZero = ~0u;  // the row's serialization, handed over with size 0
// Marks a tile with an inner credential, whose fields the fake answers ("field 1", "field 4").
const auto kInnerFields = [](DWORD) { return std::wstring(); };

struct Row {
  const char* what;
  CredentialIdentity in;
  Bytes serialization;
  std::map<std::wstring, std::wstring> answers;
  std::vector<LogonSessionInfo> sessions;
  Texts expected;  // sam, upn, domain
  Texts calls;
};

// clang-format off
const Row kRows[] = {
    {"Kerberos interactive with a domain: cached LSA logon, UPN read under impersonation", {},
     logon(u"CORP", u"asmith"),
     {{L"name CORP\\asmith", kAlice}, {L"lsa 11 upn", L"asmith|CORP|alice.smith@corp.example"}}, {},
     {L"asmith", L"alice.smith@corp.example", L"CORP"},
     {L"name CORP\\asmith", L"sessions", L"ldap " + kAlice, L"lsa 11 upn"}},
    {"certificate logon with a UPN: only the UPN from the message, the SAM name by its SID", {},
     certificate(L".", L"robert@contoso.com"), {{L"name robert@contoso.com", kBob}, {L"sid " + kBob, L"bob|PC1"}}, {},
     {L"bob", L"robert@contoso.com", L"PC1"}, {L"name robert@contoso.com", L"sid " + kBob}},
    {"local account without an internet principal name keeps an empty UPN", {}, logon(u".", u"carol"), {}, {},
     {L"carol", L"", L"."}, {L"netuser carol"}},
    {"local account linked to an internet identity", {}, logon(u".", u"carol"),
     {{L"netuser carol", L"carol.x@outlook.com"}}, {}, {L"carol", L"carol.x@outlook.com", L"."}, {L"netuser carol"}},
    {"serialization of size 0 fills nothing", with([](In& in) { in.serializationSize = kSizeZero; }),
     logon(u"CORP", u"asmith"), {}, {}, {L"", L"", L"."}, {L"dns"}},
    {"two logon sessions of the user: the first with a UPN", {}, logon(u"CORP", u"dave"), {{L"name CORP\\dave", kDave}},
     {FakeIdentity::session(kDave, L"dave", L"CORP", L""),
      FakeIdentity::session(kOther, L"eve", L"CORP", L"eve@corp.example"),
      FakeIdentity::session(kDave, L"dave", L"CORP", L"dave.d@corp.example"),
      FakeIdentity::session(kDave, L"dave", L"CORP", L"dave.later@corp.example")},
     {L"dave", L"dave.d@corp.example", L"CORP"}, {L"name CORP\\dave", L"sessions"}},
    {"UPN unknown to the account database: the session with exactly that UPN names the user", {},
     certificate(L"", L"erin@corp.example"), {},
     {FakeIdentity::session(kOther, L"wrong", L"ELSE", L"Erin@corp.example"),
      FakeIdentity::session(kOther, L"ewalker", L"CORP", L"erin@corp.example")},
     {L"ewalker", L"erin@corp.example", L"CORP"}, {L"name erin@corp.example", L"sessions"}},
    {"the directory fills what the sessions lack", {}, logon(u"CORP", u"frank"),
     {{L"name CORP\\frank", kFrank}, {L"ldap " + kFrank, L"frank.f@corp.example|frank"}}, {},
     {L"frank", L"frank.f@corp.example", L"CORP"}, {L"name CORP\\frank", L"sessions", L"ldap " + kFrank}},
    {"no user name in the message: a network LSA logon names the user", {}, logon(u"", u""),
     {{L"lsa 3 upn", L"gina|CORP|gina.g@corp.example"}}, {}, {L"gina", L"gina.g@corp.example", L"CORP"},
     {L"lsa 3 upn"}},
    {"LSA logon without a token (as under Wine): the message's names and the DNS domain", {},
     logon(u"CORP", u"hank"), {{L"dns", L"corp.example"}}, {}, {L"", L"hank@corp.example", L"CORP"},
     {L"name CORP\\hank", L"lsa 11 upn", L"dns"}},
    {"a SID of another account never replaces the serialization's SAM name, not even a set-up account's",
     with([](In& in) { in.userSid = kGrace; }), logon(u".", u"defaultuser0"),
     {{L"sid " + kGrace, L"grace|PC1"}, {L"inet " + kGrace, L"PC1\\grace"}}, {}, {L"defaultuser0", L"", L"."},
     {L"netuser defaultuser0", L"name defaultuser0"}},
    {"u06 typed on dave's tile: dave's SID and qualified name are not u06's",
     with([](In& in) { in.userSid = kDave, in.qualifiedUserName = L"dave@corp.example"; }), logon(u"", u"u06"),
     {{L"name u06", kU06}, {L"inet " + kDave, L"dave@corp.example"}, {L"name dave@corp.example", kDave}}, {},
     {L"u06", L"", L"."},
     {L"name u06", L"sessions", L"ldap " + kU06, L"lsa 11 upn", L"name u06", L"name dave@corp.example", L"dns",
      L"dns"}},
    {"a serialization's name that is no SAM name is dropped, and no tile user's name takes its place",
     with([](In& in) { in.userSid = kDave, in.qualifiedUserName = L"dave@corp.example"; }), logon(u"", u"u06,"),
     {{L"inet " + kDave, L"dave@corp.example"}, {L"name dave@corp.example", kDave}}, {}, {L"", L"", L"."},
     {L"name u06,", L"lsa 11 upn", L"dns"}},
    {"the tile's user is the serialization's: the UPN of its SID is added",
     with([](In& in) { in.userSid = kAlice; }), logon(u"CORP", u"asmith"),
     {{L"name CORP\\asmith", kAlice}, {L"inet " + kAlice, L"alice.smith@corp.example"}}, {},
     {L"asmith", L"alice.smith@corp.example", L"CORP"},
     {L"name CORP\\asmith", L"sessions", L"ldap " + kAlice, L"lsa 11 upn", L"name CORP\\asmith", L"inet " + kAlice}},
    {"UPN from the SID's internet name", with([](In& in) { in.userSid = kRita; }), {},
     {{L"sid " + kRita, L"rkhan|AzureAD"}, {L"inet " + kRita, L"rita@contoso.com"}}, {},
     {L"rkhan", L"rita@contoso.com", L"AzureAD"}, {L"sid " + kRita, L"inet " + kRita}},
    {"Azure AD SAM name: the UPN from the identity cache",
     with([](In& in) { in.qualifiedUserName = L"AzureAD\\HelenJones"; }), {},
     {{L"name AzureAD\\HelenJones", kHelen}, {L"cache " + kHelen, L"helen@contoso.onmicrosoft.com"}}, {},
     {L"AzureAD\\HelenJones", L"helen@contoso.onmicrosoft.com", L"."},
     {L"name AzureAD\\HelenJones", L"cache " + kHelen, L"dns"}},
    {"SAM equal to the UPN's prefix in another case is discarded", rdp(L"Judy", L"judy@corp.example", L"CORP"), {}, {},
     {}, {L"", L"judy@corp.example", L"CORP"}, {}},
    {"at sign in the Remote Desktop SAM name: rejected", rdp(L"kim@corp.example", L"", L"CORP"), {}, {}, {},
     {L"", L"", L"CORP"}, {}},
    {"the released serialization names the user, not the Remote Desktop data",
     rdp(L"alice", L"alice@corp.example", L"CORP"), logon(u"CORP", u"mallory"),
     {{L"name CORP\\mallory", kMallory}, {L"ldap " + kMallory, L"mal.lory@corp.example|mallory"}}, {},
     {L"mallory", L"mal.lory@corp.example", L"CORP"}, {L"name CORP\\mallory", L"sessions", L"ldap " + kMallory}},
    {"a remote UPN of another account fills nothing, though its prefix is the SAM name typed, which stays",
     rdp(L"", L"u16@mallory.example", L"MALLORY"), logon(u"", u"u16"),
     {{L"name u16", kU16}, {L"name u16@mallory.example", kMallory}}, {}, {L"u16", L"", L"."},
     {L"name u16", L"sessions", L"ldap " + kU16, L"lsa 11 upn", L"name u16", L"name u16@mallory.example", L"dns",
      L"dns"}},
    {"Remote Desktop data of the same account fills the UPN and the domain", rdp(L"", L"Nina@corp.example", L"CORP"),
     logon(u"", u"nina"), {{L"name nina", kNina}, {L"name Nina@corp.example", kNina}}, {},
     {L"nina", L"Nina@corp.example", L"CORP"},
     {L"name nina", L"sessions", L"ldap " + kNina, L"lsa 11 upn", L"name nina", L"name Nina@corp.example"}},
    {"password tile: its user name field when nothing else names the user",
     with([](In& in) { in.readInnerStringField = kInnerFields; }), {},
     {{L"field 4", L"paul@corp.example"}}, {}, {L"", L"paul@corp.example", L"."}, {L"field 1", L"field 4", L"dns"}},
    {"PIN tile: only field 4", with([](In& in) { in.credentialTag = 201, in.readInnerStringField = kInnerFields; }),
     {}, {{L"field 4", L"quinn"}}, {}, {L"quinn", L"", L"."}, {L"field 4", L"dns", L"dns"}},
};
// clang-format on

}  // namespace

TEST(IdentityResolution, EachSourceInItsTurn) {
  for (const Row& row : kRows) {
    FakeIdentity os;
    os.answers = row.answers;
    os.sessions = row.sessions;
    CredentialIdentity in = row.in;
    if (!row.serialization.empty()) {
      in.serialization = row.serialization.data();
      in.serializationSize = in.serializationSize == kSizeZero ? 0 : static_cast<ULONG>(row.serialization.size());
    }
    if (in.readInnerStringField)
      in.readInnerStringField = [&os](DWORD id) { return os.ask(L"field " + std::to_wstring(id)); };
    const ResolvedIdentity out = resolveUserLogin(in, os);
    EXPECT_EQ((Texts{out.username, out.userUpn, out.domain}), row.expected) << row.what;
    EXPECT_EQ(os.calls, row.calls) << row.what;
  }
}

TEST(IdentityResolution, SamAccountNameCharacters) {
  for (const wchar_t* bad : {L"a@b", L"a/b", L"a\"b", L"a[b", L"a]b", L"a:b", L"a|b", L"a<b", L"a>b", L"a+b", L"a=b",
                             L"a,b", L"a?b", L"a*b", L"A\\B\\c"}) {
    EXPECT_FALSE(isValidSamAccountName(bad, true)) << Korvath::Utils::toUtf8(bad);
  }
  EXPECT_TRUE(isValidSamAccountName(L"j.doe-2_x", false));
  EXPECT_FALSE(isValidSamAccountName(L"CORP\\jdoe", false));
  EXPECT_TRUE(isValidSamAccountName(L"CORP\\jdoe", true));
}

// The real identity calls under Wine, which carries few of them out: each must answer
// "nothing" without crashing, and the resolution must still give the message's names.
TEST(SystemIdentity, EveryCallAnswersGracefullyUnderWine) {
  ASSERT_NE(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"), nullptr) << "these are Wine's answers";

  IdentitySeam& os = systemIdentity();
  wchar_t user[256];
  DWORD length = 256;
  ASSERT_TRUE(GetUserNameW(user, &length));
  const std::vector<std::uint8_t> sid = os.lookupAccountName(user);
  const std::wstring sidText = WindowsAuthentication::sidToText(sid);
  std::wstring name, domain;
  ASSERT_TRUE(os.lookupAccountSid(sid, name, domain));
  EXPECT_EQ(name, user);
  EXPECT_TRUE(os.lookupAccountName(L"").empty());
  EXPECT_TRUE(os.lookupAccountName(L"no-such-user-kv4711").empty());
  EXPECT_FALSE(os.lookupAccountSid({1, 2, 3}, name, domain));
  // Resolves LsaLookupSids2 from advapi32 only; the process is still here to check the rest.
  EXPECT_EQ(os.lookupSidPreferInternetName(sid).find(L'@'), std::wstring::npos);
  EXPECT_TRUE(os.logonSessions().empty());
  EXPECT_TRUE(os.netUserInternetPrincipalName(user).empty());
  const DirectoryNames entry = os.queryDirectoryBySid(sidText);
  EXPECT_TRUE(FAILED(entry.result) && entry.userPrincipalName.empty() && entry.samAccountName.empty());
  EXPECT_EQ(os.queryDirectoryBySid(L"S-1-5)(objectClass=*").result, E_INVALIDARG);
  EXPECT_TRUE(os.identityCacheUserName(sidText).empty());
  std::vector<std::uint8_t> logon = packInteractiveLogon(u"CORP", u"zed", u"Pa55-w0rd!");
  const LsaLogonNames lsa = os.lsaLogon(0, logon.data(), static_cast<ULONG>(logon.size()), kLogonTypeNetwork, true);
  EXPECT_FALSE(lsa.loggedOn || !lsa.userName.empty() || !lsa.upn.empty());
  os.computerDnsDomain();
  EXPECT_FALSE(os.currentSession().remote) << "Wine's session is the console";
  os.disconnectCurrentSession();
}
