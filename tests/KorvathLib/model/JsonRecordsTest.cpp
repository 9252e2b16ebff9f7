// Every record round-trips through its JSON, and every key that is missing or of the wrong
// type gives its own fill code (nested keys included, by path).

#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include <rapidjson/document.h>
#include <rapidjson/pointer.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "Korvath/ResultCodes.h"
#include "ModelTestSupport.h"

using namespace Korvath;
using namespace Korvath::Model;
using namespace Korvath::Service;
using namespace KvModelTest;

namespace {

using Filler = std::function<std::uint16_t(const std::string& json, std::string& rewritten)>;

template <typename T>
Filler filler() {
  return [](const std::string& json, std::string& out) {
    T record;
    std::uint16_t code = record.fillFromJson(json);
    out = record.toJson();
    return code;
  };
}

struct RecordCase {
  std::string name;
  std::string json;
  Filler fill;
  std::uint16_t documentCode;
};

std::string write(const rapidjson::Document& doc) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
  doc.Accept(w);
  return buffer.GetString();
}

// The same text with the value at `path` removed, or replaced by a value of another type.
std::string edit(const std::string& json, const std::string& path, bool remove) {
  rapidjson::Document doc;
  doc.Parse(json.c_str());
  std::string parentPath = "/" + path;
  std::size_t slash = parentPath.find_last_of('/');
  std::string key = parentPath.substr(slash + 1);
  rapidjson::Value* parent = slash == 0 ? &doc : rapidjson::Pointer(parentPath.substr(0, slash).c_str()).Get(doc);
  if (parent == nullptr || !parent->IsObject() || !parent->HasMember(key.c_str())) {
    ADD_FAILURE() << "no key " << path << " in " << json;
    return json;
  }
  if (remove) {
    parent->RemoveMember(key.c_str());
  } else {
    rapidjson::Value& v = (*parent)[key.c_str()];
    if (v.IsString())
      v.SetBool(true);
    else
      v.SetString("wrong type", doc.GetAllocator());
  }
  return write(doc);
}

RequestTransaction sampleRequestTransaction() {
  RequestTransaction r;
  EXPECT_EQ(0, r.setMachineName("DESKTOP-01"));
  EXPECT_EQ(0, r.setAuthenticationFactor("qrcode"));
  r.setClientIp("10.0.0.9");
  r.setIsRdp(true);
  GeolocationData g{38.7, -9.1, 25.0};
  r.setGeolocationData(g.toJson());
  UserTransaction u;
  EXPECT_EQ(0, u.setLoginType("EMAIL"));
  EXPECT_EQ(0, u.setLogin("alice@example.test"));
  EXPECT_EQ(0, u.setTransactionData(sampleTransactionData()));
  EXPECT_EQ(0, r.setUserTransaction(u));
  return r;
}

UserAuthentication sampleUserAuthentication() {
  UserAuthentication u;
  EXPECT_EQ(0, u.setLoginType("email"));
  EXPECT_EQ(0, u.setLogin("alice"));
  EXPECT_EQ(0, u.setAuthenticationData("123456"));
  EXPECT_EQ(0, u.setTransactionId(std::string(36, 'f')));
  return u;
}

ActivationData sampleActivation() {
  ActivationData a;
  EXPECT_EQ(0, a.setLogin("alice"));
  EXPECT_EQ(0, a.setChallenge("123456"));
  EXPECT_EQ(0, a.setAuthenticationCode("654321"));
  EXPECT_EQ(0, a.setPeriod("48"));
  return a;
}

void fillResponseBase(ServiceResponseBase& r) {
  EXPECT_EQ(0, r.setUserLogin("alice"));
  EXPECT_EQ(0, r.setUserPassword("secret"));
  r.setCheckRememberPassword(false);
  r.setAuthTypes({{"otp", true}, {"push", false}});
  EXPECT_EQ(0, r.setLastAuthType("QRCODE"));
  r.setAutoSendPush(false);
  r.setPolicyAllowsAuthentication(true);
}

std::vector<RecordCase> allRecords() {
  std::vector<RecordCase> c;
  c.push_back({"AuthenticatorRecord", sampleAuthenticator().toJson(), filler<AuthenticatorRecord>(),
               KV_ERROR_FILL_AUTHENTICATOR_FROM_JSON});
  c.push_back({"User", sampleUser("alice").User::toJson(), filler<User>(), KV_ERROR_FILL_USER_FROM_JSON});
  c.push_back({"UserConfig", sampleUser("alice").toJson(), filler<UserConfig>(), KV_ERROR_FILL_USER_CONFIG_FROM_JSON});
  c.push_back(
      {"ServerConfig", sampleServerConfig().toJson(), filler<ServerConfig>(), KV_ERROR_FILL_SERVER_CONFIG_FROM_JSON});
  {
    Config cfg;
    EXPECT_EQ(0, cfg.setRegion("eu1"));
    EXPECT_EQ(0, cfg.setEnvironment("qa"));
    EXPECT_EQ(0, cfg.setAccountAlias("ACME"));
    cfg.setAccountId("acct-1");
    EXPECT_EQ(0, cfg.setResourceAlias("Front desk"));
    cfg.setResourceId(77);
    cfg.setMasterPassword("master");
    cfg.setLastSync(1);
    cfg.setLastAuth(2);
    cfg.setLastRun(3);
    EXPECT_EQ(0, cfg.setLastUser("alice"));
    EXPECT_EQ(0, cfg.setMachineName("DESKTOP-01"));
    cfg.setLogonAppDisable(5108);
    EXPECT_EQ(0, cfg.setServerConfig(sampleServerConfig()));
    EXPECT_EQ(0, cfg.setUsersConfig({sampleUser("alice"), sampleUser("bob")}));
    EXPECT_TRUE(cfg.shouldBypassMfaForNonPelloraUser(
        "guest", true));  // adds a whitelist entry; no crypto object, so nothing is saved
    c.push_back({"Config", cfg.toJson(), filler<Config>(), KV_ERROR_FILL_CONFIG_FROM_JSON});
  }
  {
    InstallConfig ic;
    EXPECT_EQ(0, ic.setRegion("eu1"));
    EXPECT_EQ(0, ic.setEnvironment("prod"));
    ic.setAccountId("acct-1");
    ic.setResourceId(77);
    EXPECT_EQ(0, ic.setIntegrationKey("integration-key-1"));
    ic.setAllowUnknownUsers(1);
    c.push_back({"InstallConfig", ic.toJson(), filler<InstallConfig>(), KV_ERROR_FILL_INSTALL_CONFIG_FROM_JSON});
  }
  {
    ServiceRequestBase r;
    EXPECT_EQ(0, r.setUserLogin("alice"));
    EXPECT_EQ(0, r.setUserPassword("secret"));
    r.setCheckRememberPassword(true);
    c.push_back(
        {"ServiceRequestBase", r.toJson(), filler<ServiceRequestBase>(), KV_ERROR_FILL_SERVICE_REQUEST_BASE_FROM_JSON});
    ServiceRequestAuthOTP o;
    EXPECT_EQ(0, o.setUserLogin("alice"));
    o.setAuthData("123456");
    c.push_back({"ServiceRequestAuthOTP", o.toJson(), filler<ServiceRequestAuthOTP>(),
                 KV_ERROR_FILL_SERVICE_REQUEST_AUTH_OTP_FROM_JSON});
    ServiceRequestAuthQRCode q;
    EXPECT_EQ(0, q.setUserLogin("alice"));
    q.setAuthData("123456");
    q.setCommand("cmd-text");
    EXPECT_EQ(0, q.setTransactionId(std::string(36, 'a')));
    q.setOnLine(false);
    EXPECT_EQ(0, q.setTransactionData(sampleTransactionData()));
    c.push_back({"ServiceRequestAuthQRCode", q.toJson(), filler<ServiceRequestAuthQRCode>(),
                 KV_ERROR_FILL_SERVICE_REQUEST_AUTH_QRCODE_FROM_JSON});
    ServiceRequestActiveForgotAuthenticator f;
    EXPECT_EQ(0, f.setUserLogin("alice"));
    f.setTime(48);
    f.setChallenge("123456");
    f.setAuthData("654321");
    c.push_back({"ServiceRequestActiveForgotAuthenticator", f.toJson(),
                 filler<ServiceRequestActiveForgotAuthenticator>(),
                 KV_ERROR_FILL_SERVICE_REQUEST_ACTIVE_FORGOT_AUTHENTICATOR_FROM_JSON});
  }
  {
    ServiceResponseBase b;
    fillResponseBase(b);
    c.push_back({"ServiceResponseBase", b.toJson(), filler<ServiceResponseBase>(),
                 KV_ERROR_FILL_SERVICE_RESPONSE_BASE_FROM_JSON});
    ServiceResponseAuthOTP o;
    fillResponseBase(o);
    o.setAuthDataSize(8);
    c.push_back({"ServiceResponseAuthOTP", o.toJson(), filler<ServiceResponseAuthOTP>(),
                 KV_ERROR_FILL_SERVICE_RESPONSE_AUTH_OTP_FROM_JSON});
    ServiceResponseAuthQRCode q;
    fillResponseBase(q);
    q.setCommand("cmd");
    EXPECT_EQ(0, q.setTransactionId(std::string(36, 'b')));
    q.setOnLine(true);
    EXPECT_EQ(0, q.setTransactionData(sampleTransactionData()));
    c.push_back({"ServiceResponseAuthQRCode", q.toJson(), filler<ServiceResponseAuthQRCode>(),
                 KV_ERROR_FILL_SERVICE_RESPONSE_AUTH_QRCODE_FROM_JSON});
    ServiceResponseActiveForgotAuthenticator a;
    fillResponseBase(a);
    a.setTime(12);
    a.setChallenge("482913");
    a.setOnLine(false);
    c.push_back({"ServiceResponseActiveForgotAuthenticator", a.toJson(),
                 filler<ServiceResponseActiveForgotAuthenticator>(),
                 KV_ERROR_FILL_SERVICE_RESPONSE_ACTIVE_FORGOT_AUTHENTICATOR_FROM_JSON});
    ServiceResponseAuthForgotAuthenticator f;
    fillResponseBase(f);
    f.setOnLine(false);
    c.push_back({"ServiceResponseAuthForgotAuthenticator", f.toJson(), filler<ServiceResponseAuthForgotAuthenticator>(),
                 KV_ERROR_FILL_SERVICE_RESPONSE_AUTH_FORGOT_AUTHENTICATOR_FROM_JSON});
  }
  {
    ServiceResponseAbout about;
    about.region = "eu1";
    about.environment = "qa";
    about.accountAlias = "ACME";
    about.resourceAlias = "Front desk";
    about.machineName = "DESKTOP-01";
    about.latestVersionKorvath = "3.0.1.643 - Release - x64";
    about.supportMessage = "Call";
    about.version = "3.0.1.643";
    about.platform = "x64";
    about.build = "Release";
    about.pushTimeout = 30;
    about.syncInterval = 12;
    about.offlineAuthentication = true;
    about.enableRememberPassword = false;
    about.enableForgotAuthenticator = false;
    about.timeDifference = -5;
    c.push_back({"ServiceResponseAbout", about.toJson(), filler<ServiceResponseAbout>(),
                 KV_ERROR_FILL_SERVICE_RESPONSE_ABOUT_FROM_JSON});
  }
  c.push_back({"TransactionData", sampleTransactionData().toJson(), filler<TransactionData>(),
               KV_ERROR_FILL_TRANSACTION_DATA_FROM_JSON});
  c.push_back({"TransactionDataData", sampleTransactionData().getData().toJson(), filler<TransactionDataData>(), 5497});
  {
    RequestConfig r;
    r.setAccountId("acct-1");
    r.setResourceId(77);
    EXPECT_EQ(0, r.setMachineName("DESKTOP-01"));
    EXPECT_EQ(0, r.setUserLogins({"alice", "bob"}));
    c.push_back({"RequestConfig", r.toJson(), filler<RequestConfig>(), KV_ERROR_FILL_REQUEST_CONFIG_FROM_JSON});
  }
  c.push_back({"ResponseConfig", sampleResponseConfig().toJson(), filler<ResponseConfig>(),
               KV_ERROR_FILL_RESPONSE_CONFIG_FROM_JSON});
  c.push_back({"RequestTransaction", sampleRequestTransaction().toJson(), filler<RequestTransaction>(),
               KV_ERROR_FILL_REQUEST_TRANSACTION_FROM_JSON});
  c.push_back({"UserTransaction", sampleRequestTransaction().getUserTransaction().toJson(), filler<UserTransaction>(),
               KV_ERROR_FILL_USER_TRANSACTION_FROM_JSON});
  {
    ResponseTransaction r;
    r.setTransactionStatus("PENDING");
    r.setTransactionId(std::string(36, 'c'));
    r.setCommand("qr-command");
    c.push_back({"ResponseTransaction", r.toJson(), filler<ResponseTransaction>(), 5500});
  }
  {
    RequestAuthentication r;
    EXPECT_EQ(0, r.setMachineName("DESKTOP-01"));
    EXPECT_EQ(0, r.setAuthenticationFactor("otp"));
    r.setClientIp("10.0.0.9");
    EXPECT_EQ(0, r.setUserAuthentication(sampleUserAuthentication()));
    c.push_back({"RequestAuthentication", r.toJson(), filler<RequestAuthentication>(),
                 KV_ERROR_FILL_REQUEST_AUTHENTICATION_FROM_JSON});
  }
  c.push_back({"UserAuthentication", sampleUserAuthentication().toJson(), filler<UserAuthentication>(),
               KV_ERROR_FILL_USER_AUTHENTICATION_FROM_JSON});
  {
    RequestForgotTokenAuthenticationCode r;
    EXPECT_EQ(0, r.setMachineName("DESKTOP-01"));
    r.setClientIp("10.0.0.9");
    r.setIsRdp(true);
    r.setActivationData(sampleActivation());
    c.push_back({"RequestForgotTokenAuthenticationCode", r.toJson(), filler<RequestForgotTokenAuthenticationCode>(),
                 KV_ERROR_FILL_REQUEST_FORGOT_TOKEN_AUTHENTICATION_CODE_FROM_JSON});
  }
  c.push_back({"ActivationData", sampleActivation().toJson(), filler<ActivationData>(),
               KV_ERROR_FILL_ACTIVATION_DATA_FROM_JSON});
  {
    RequestGetUserPolicy r;
    EXPECT_EQ(0, r.setLoginType("EMAIL"));
    r.setClientVersion("3.0.1.643");
    r.setClientType("desktop");
    r.setClientIp("10.0.0.9");
    r.setIsRdp(true);
    EXPECT_EQ(0, r.setUserLogins({"alice"}));
    r.setGeolocationData(GeolocationData{1.5, 2.5, 3.5}.toJson());
    c.push_back({"RequestGetUserPolicy", r.toJson(), filler<RequestGetUserPolicy>(),
                 KV_ERROR_FILL_REQUEST_GET_USER_POLICY_FROM_JSON});
  }
  {
    UserPolicy p;
    p.username = "alice";
    p.email = "alice@example.test";
    p.hasPolicy = true;
    p.isAllowedToAuthenticate = true;
    p.isInForgotToken = true;
    p.authTypes = {{"push", true}, {"otp", false}};
    ResponseGetUserPolicy r;
    r.setUserPolicies({p, p});
    c.push_back({"ResponseGetUserPolicy", r.toJson(), filler<ResponseGetUserPolicy>(),
                 KV_ERROR_FILL_RESPONSE_GET_USER_POLICY_FROM_JSON});
  }
  {
    RequestGetUserPolicyOffline r;
    r.setAccountId("acct-1");
    EXPECT_EQ(0, r.setMachineName("DESKTOP-01"));
    r.setResourceId("77");
    EXPECT_EQ(0, r.setUserLogin("alice"));
    c.push_back({"RequestGetUserPolicyOffline", r.toJson(), filler<RequestGetUserPolicyOffline>(),
                 KV_ERROR_FILL_REQUEST_GET_USER_POLICY_OFFLINE_FROM_JSON});
  }
  {
    UserPolicyOffline p;
    p.hasPolicy = true;
    p.policyAllowsAuthentication = true;
    p.authTypes = {{"qrcode", true}};
    ResponseGetUserPolicyOffline r;
    r.setPolicies({p});
    c.push_back({"ResponseGetUserPolicyOffline", r.toJson(), filler<ResponseGetUserPolicyOffline>(),
                 KV_ERROR_FILL_RESPONSE_GET_USER_POLICY_OFFLINE_FROM_JSON});
  }
  c.push_back({"GeolocationData", GeolocationData{38.72, -9.14, 12.5}.toJson(), filler<GeolocationData>(),
               KV_ERROR_FILL_GEOLOCATION_DATA_FROM_JSON});
  return c;
}

}  // namespace

TEST(JsonRecords, EveryRecordRoundTrips) {
  for (const auto& rc : allRecords()) {
    SCOPED_TRACE(rc.name);
    std::string again;
    ASSERT_EQ(0, rc.fill(rc.json, again)) << rc.json;
    EXPECT_EQ(rc.json, again);
  }
}

// The path of every member of every object in the text, nested records and array elements
// included ("users/1/login"); `parent` is the member's object.
void memberPaths(const rapidjson::Value& v, const std::string& at,
                 std::vector<std::pair<std::string, std::string>>& out) {
  if (v.IsObject()) {
    for (auto it = v.MemberBegin(); it != v.MemberEnd(); ++it) {
      const std::string path = (at.empty() ? "" : at + "/") + it->name.GetString();
      out.emplace_back(path, at);
      memberPaths(it->value, path, out);
    }
  } else if (v.IsArray()) {
    for (rapidjson::SizeType i = 0; i < v.Size(); ++i)
      memberPaths(v[i], (at.empty() ? "" : at + "/") + std::to_string(i), out);
  }
}

// Every key, however deep, is required and typed: removed or of another type it gives a
// fill code, the same for both, and no two keys of one object share a code. A factor
// missing from a factor map is allowed: it reads as off.
TEST(JsonRecords, EveryMissingOrMistypedKeyGivesItsOwnFillCode) {
  for (const auto& rc : allRecords()) {
    SCOPED_TRACE(rc.name);
    rapidjson::Document doc;
    doc.Parse(rc.json.c_str());
    std::vector<std::pair<std::string, std::string>> paths;
    memberPaths(doc, "", paths);
    ASSERT_FALSE(paths.empty());
    std::map<std::string, std::set<std::uint16_t>> codesOf;
    for (const auto& path : paths) {
      SCOPED_TRACE(path.first);
      std::string out;
      const std::uint16_t mistyped = rc.fill(edit(rc.json, path.first, false), out);
      EXPECT_NE(0, mistyped);
      const bool factor = path.second.size() >= 9 && path.second.compare(path.second.size() - 9, 9, "authTypes") == 0;
      if (factor) continue;
      EXPECT_EQ(mistyped, rc.fill(edit(rc.json, path.first, true), out));
      EXPECT_TRUE(codesOf[path.second].insert(mistyped).second) << "shared code " << mistyped;
    }
  }
}

// The fill codes the product's documents give by number.
TEST(JsonRecords, DocumentedFillCodes) {
  const TransactionData t = sampleTransactionData();
  ResponseTransaction r;
  r.setTransactionId(std::string(36, 'c'));
  const struct {
    Filler fill;
    std::string json;
    const char* path;
    std::uint16_t code;
  } rows[] = {
      {filler<TransactionData>(), t.toJson(), "type", 5470},
      {filler<TransactionData>(), t.toJson(), "data", 5473},
      {filler<TransactionData>(), t.toJson(), "data/platform", 5490},
      {filler<TransactionData>(), t.toJson(), "data/resourceName", 5496},
      {filler<ResponseTransaction>(), r.toJson(), "transactionStatus", 5501},
      {filler<ResponseTransaction>(), r.toJson(), "command", 5503},
  };
  for (const auto& row : rows) {
    std::string out;
    EXPECT_EQ(row.code, row.fill(edit(row.json, row.path, true), out)) << row.path;
  }
  std::string out;
  EXPECT_EQ(5497, filler<TransactionDataData>()("[]", out));
  EXPECT_EQ(5500, filler<ResponseTransaction>()("[]", out));
}

TEST(JsonRecords, TextThatIsNotTheRecordGivesTheDocumentCode) {
  for (const auto& rc : allRecords()) {
    SCOPED_TRACE(rc.name);
    std::string out;
    EXPECT_EQ(rc.documentCode, rc.fill("", out));
    EXPECT_EQ(rc.documentCode, rc.fill("{\"a\":", out));
    EXPECT_EQ(rc.documentCode, rc.fill(rc.json + "x", out));
    const bool isArray = rc.json[0] == '[';
    EXPECT_EQ(rc.documentCode, rc.fill(isArray ? "{}" : "[]", out));
  }
}

TEST(JsonRecords, FailedFillLeavesTheRecordUnchanged) {
  ServiceResponseAuthQRCode r;
  ASSERT_EQ(0, r.setUserLogin("kept"));
  std::string json = r.toJson();
  ServiceResponseAuthQRCode other;
  ASSERT_EQ(0, other.setUserLogin("other"));
  std::string broken = other.toJson();
  broken.replace(broken.find("\"onLine\""), 8, "\"onLime\"");
  EXPECT_EQ(KV_ERROR_FILL_SERVICE_RESPONSE_AUTH_QRCODE_ON_LINE_FROM_JSON, r.fillFromJson(broken));
  EXPECT_EQ(json, r.toJson());
}

TEST(JsonRecords, LimitsAreFillCodesToo) {
  UserConfig u = sampleUser("alice");
  std::string json = u.toJson();
  std::string longLogin = json;
  longLogin.replace(longLogin.find("\"alice\""), 7, "\"" + std::string(101, 'x') + "\"");
  UserConfig target;
  EXPECT_EQ(KV_ERROR_FILL_USER_LOGIN_FROM_JSON, target.fillFromJson(longLogin));
  std::string shortBlob = json;
  shortBlob.replace(shortBlob.find(std::string(280, 'A')), 280, std::string(236, 'A'));
  EXPECT_EQ(KV_ERROR_FILL_AUTHENTICATOR_BLOB_FROM_JSON, target.fillFromJson(shortBlob));
  ServerConfig s;
  EXPECT_EQ(KV_ERROR_FILL_SERVER_CONFIG_PUSH_TIMEOUT_FROM_JSON,
            s.fillFromJson(std::string(sampleServerConfig().toJson()).replace(15, 2, "100")));
}

// Truncated and mutated texts never crash a parser; a strict prefix of a record is always
// refused, and whatever a mutated text fills reads back the same way it writes.
TEST(JsonRecords, TruncatedAndMutatedTextsNeverCrashAParser) {
#if defined(_WIN32)
  const int mutationsPerRecord = 25;
#else
  const int mutationsPerRecord = 150;
#endif
  std::mt19937 rng(20261206);
  const std::string alphabet = "{}[]\":,0123456789-.eE truefalsnul\\u00Ax";
  int accepted = 0, total = 0;
  for (const auto& rc : allRecords()) {
    SCOPED_TRACE(rc.name);
    std::string out;
    for (std::size_t n = 0; n < rc.json.size(); ++n) {
      EXPECT_NE(0, rc.fill(rc.json.substr(0, n), out)) << n;
    }
    for (int i = 0; i < mutationsPerRecord; ++i) {
      std::string text = rc.json;
      int edits = 1 + static_cast<int>(rng() % 4);
      for (int e = 0; e < edits && !text.empty(); ++e) {
        std::size_t at = rng() % text.size();
        switch (rng() % 4) {
          case 0:
            text[at] = alphabet[rng() % alphabet.size()];
            break;
          case 1:
            text.erase(at, 1 + rng() % 8);
            break;
          case 2:
            text.insert(at, text.substr(rng() % text.size(), 1 + rng() % 16));
            break;
          default:
            text.insert(at, std::string(1 + rng() % 3, static_cast<char>(rng() % 256)));
            break;
        }
      }
      ++total;
      std::string written;
      if (rc.fill(text, written) == 0) {
        ++accepted;
        std::string again;
        EXPECT_EQ(0, rc.fill(written, again)) << text;
        EXPECT_EQ(written, again);
      }
    }
  }
  EXPECT_GT(total, 0);
  EXPECT_LT(accepted, total);
}

TEST(JsonRecords, DeeplyNestedTextIsRefusedWithoutExhaustingTheStack) {
  std::string arrays(200000, '[');
  std::string objects;
  for (int i = 0; i < 50000; ++i) objects += "{\"a\":";
  ResponseGetUserPolicy policies;
  EXPECT_EQ(KV_ERROR_FILL_RESPONSE_GET_USER_POLICY_FROM_JSON, policies.fillFromJson(arrays));
  EXPECT_EQ(KV_ERROR_FILL_USER_POLICY_FROM_JSON, policies.fillFromJson(arrays + std::string(200000, ']')));
  Config config;
  EXPECT_EQ(KV_ERROR_FILL_CONFIG_FROM_JSON, config.fillFromJson(objects));
  std::string closed = "{\"region\":" + arrays + std::string(200000, ']') + "}";
  EXPECT_EQ(KV_ERROR_FILL_CONFIG_REGION_FROM_JSON, config.fillFromJson(closed));
}
