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
  Filler fill;
  std::uint16_t documentCode;
  std::string json;
};

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
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
  doc.Accept(w);
  return buffer.GetString();
}

std::vector<RecordCase> allRecords() {
  // A registered configuration with two users and an unknown user who passed online.
  const std::string config =
      R"({"region":"eu1","environment":"qa","accountAlias":"ACME","accountId":"acct-1","resourceAlias":"Front desk",)"
      R"("resourceId":77,"masterPassword":"master","masterPasswordMark":"","lastSync":1,"lastAuth":2,"lastRun":3,)"
      R"("lastUser":"alice","machineName":"DESKTOP-01","platform":1,"logonAppDisable":5108,"serverConfig":)" +
      sampleServerConfig().toJson() + R"(,"usersConfig":[)" + sampleUser("alice").toJson() + "," +
      sampleUser("bob").toJson() + R"(],"unknownUsers":[{"login":"guest","authenticatedOnline":true}]})";
  const std::string tx = sampleTransactionData().toJson();
  const std::string request = R"({"userLogin":"alice","userPassword":"","checkRememberPassword":false,)";
  const std::string reply =
      R"({"userLogin":"alice","userPassword":"secret","checkRememberPassword":false,"enableRememberPassword":)"
      R"(true,"enableForgotAuthenticator":true,"authTypes":{"otp":true,"push":false},"lastAuthType":"qrcode",)"
      R"("autoSendPush":false,"policyAllowsAuthentication":true)";
  const std::string policy =
      R"({"username":"alice","email":"alice@example.test","hasPolicy":true,"isAllowedToAuthenticate":true,)"
      R"("isInSafeLocation":false,"isInForgotToken":true,"isBlocked":false,"isOverallocated":false,)"
      R"("isInQuarantine":false,"authTypes":{"otp":false,"push":true}})";
  // The sample records as they write themselves; the dialog messages and the smaller cloud
  // records as their JSON, keys in their order.
  return {
      {"AuthenticatorRecord", filler<AuthenticatorRecord>(), KV_ERROR_FILL_AUTHENTICATOR_FROM_JSON,
       sampleAuthenticator().toJson()},
      {"User", filler<User>(), KV_ERROR_FILL_USER_FROM_JSON, sampleUser("alice").User::toJson()},
      {"UserConfig", filler<UserConfig>(), KV_ERROR_FILL_USER_CONFIG_FROM_JSON, sampleUser("alice").toJson()},
      {"ServerConfig", filler<ServerConfig>(), KV_ERROR_FILL_SERVER_CONFIG_FROM_JSON, sampleServerConfig().toJson()},
      {"TransactionData", filler<TransactionData>(), KV_ERROR_FILL_TRANSACTION_DATA_FROM_JSON, tx},
      {"TransactionDataData", filler<TransactionDataData>(), 5497, sampleTransactionData().getData().toJson()},
      {"ResponseConfig", filler<ResponseConfig>(), KV_ERROR_FILL_RESPONSE_CONFIG_FROM_JSON,
       sampleResponseConfig().toJson()},
      {"GeolocationData", filler<GeolocationData>(), KV_ERROR_FILL_GEOLOCATION_DATA_FROM_JSON,
       GeolocationData{38.72, -9.14, 12.5}.toJson()},
      {"Config", filler<Config>(), KV_ERROR_FILL_CONFIG_FROM_JSON, config},
      {"InstallConfig", filler<InstallConfig>(), KV_ERROR_FILL_INSTALL_CONFIG_FROM_JSON,
       R"({"region":"eu1","environment":"prod","accountId":"acct-1","resourceId":77,"integrationKey":"integrat)"
       R"(ion-key-1","allowUnknownUsers":1})"},
      {"ServiceRequestBase", filler<ServiceRequestBase>(), KV_ERROR_FILL_SERVICE_REQUEST_BASE_FROM_JSON,
       R"({"userLogin":"alice","userPassword":"secret","checkRememberPassword":true})"},
      {"ServiceRequestAuthOTP", filler<ServiceRequestAuthOTP>(), KV_ERROR_FILL_SERVICE_REQUEST_AUTH_OTP_FROM_JSON,
       request + R"("authData":"123456"})"},
      {"ServiceRequestAuthQRCode", filler<ServiceRequestAuthQRCode>(),
       KV_ERROR_FILL_SERVICE_REQUEST_AUTH_QRCODE_FROM_JSON,
       request +
           R"("authData":"123456","command":"cmd-text","transactionId":"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",)"
           R"("onLine":false,"transactionData":)" +
           tx + "}"},
      {"ServiceRequestActiveForgotAuthenticator", filler<ServiceRequestActiveForgotAuthenticator>(),
       KV_ERROR_FILL_SERVICE_REQUEST_ACTIVE_FORGOT_AUTHENTICATOR_FROM_JSON,
       request + R"("time":48,"challenge":"123456","authData":"654321"})"},
      {"ServiceResponseBase", filler<ServiceResponseBase>(), KV_ERROR_FILL_SERVICE_RESPONSE_BASE_FROM_JSON,
       reply + "}"},
      {"ServiceResponseAuthOTP", filler<ServiceResponseAuthOTP>(), KV_ERROR_FILL_SERVICE_RESPONSE_AUTH_OTP_FROM_JSON,
       reply + R"(,"authDataSize":8})"},
      {"ServiceResponseAuthQRCode", filler<ServiceResponseAuthQRCode>(),
       KV_ERROR_FILL_SERVICE_RESPONSE_AUTH_QRCODE_FROM_JSON,
       reply +
           R"(,"authDataSize":6,"command":"cmd","transactionId":"bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb",)"
           R"("onLine":true,"transactionData":)" +
           tx + "}"},
      {"ServiceResponseActiveForgotAuthenticator", filler<ServiceResponseActiveForgotAuthenticator>(),
       KV_ERROR_FILL_SERVICE_RESPONSE_ACTIVE_FORGOT_AUTHENTICATOR_FROM_JSON,
       reply + R"(,"time":12,"challenge":"482913","onLine":false,"authDataSize":6})"},
      {"ServiceResponseAuthForgotAuthenticator", filler<ServiceResponseAuthForgotAuthenticator>(),
       KV_ERROR_FILL_SERVICE_RESPONSE_AUTH_FORGOT_AUTHENTICATOR_FROM_JSON, reply + R"(,"onLine":false})"},
      {"ServiceResponseAbout", filler<ServiceResponseAbout>(), KV_ERROR_FILL_SERVICE_RESPONSE_ABOUT_FROM_JSON,
       R"({"region":"eu1","environment":"qa","accountAlias":"ACME","resourceAlias":"Front desk","machineName":)"
       R"("DESKTOP-01","latestVersionKorvath":"3.0.1.643 - Release - x64","supportMessage":"Call","version":"3)"
       R"(.0.1.643","platform":"x64","build":"Release","pushTimeout":30,"syncInterval":12,"offlineAuthenticati)"
       R"(on":true,"enableRememberPassword":false,"enableForgotAuthenticator":false,"timeDifference":-5})"},
      {"RequestTransaction", filler<RequestTransaction>(), KV_ERROR_FILL_REQUEST_TRANSACTION_FROM_JSON,
       R"({"machineName":"DESKTOP-01","platform":1,"authenticationFactor":"QRCODE","clientIp":"10.0.0.9","isRdp")"
       R"(:true,"geolocationData":"{\"latitude\":38.7,\"longitude\":-9.1,\"accuracy\":25.0}","userTransa)"
       R"(ction":{"loginType":"EMAIL","login":"alice@example.test","transactionData":)" +
           tx + "}}"},
      {"UserTransaction", filler<UserTransaction>(), KV_ERROR_FILL_USER_TRANSACTION_FROM_JSON,
       R"({"loginType":"EMAIL","login":"alice@example.test","transactionData":)" + tx + "}"},
      {"RequestConfig", filler<RequestConfig>(), KV_ERROR_FILL_REQUEST_CONFIG_FROM_JSON,
       R"({"accountId":"acct-1","resourceId":77,"machineName":"DESKTOP-01","userLogins":["alice","bob"],"platf)"
       R"(orm":1})"},
      {"ResponseTransaction", filler<ResponseTransaction>(), 5500,
       R"({"transactionStatus":"PENDING","transactionId":"cccccccccccccccccccccccccccccccccccc","command":"qr-)"
       R"(command"})"},
      {"RequestAuthentication", filler<RequestAuthentication>(), KV_ERROR_FILL_REQUEST_AUTHENTICATION_FROM_JSON,
       R"({"machineName":"DESKTOP-01","platform":1,"authenticationFactor":"OTP","clientIp":"10.0.0.9","isRdp":)"
       R"(false,"geolocationData":"","userAuthentication":{"loginType":"EMAIL","login":"alice","authentication)"
       R"(Data":"123456","transactionId":"ffffffffffffffffffffffffffffffffffff"}})"},
      {"UserAuthentication", filler<UserAuthentication>(), KV_ERROR_FILL_USER_AUTHENTICATION_FROM_JSON,
       R"({"loginType":"EMAIL","login":"alice","authenticationData":"123456","transactionId":"ffffffffffffffff)"
       R"(ffffffffffffffffffff"})"},
      {"RequestForgotTokenAuthenticationCode", filler<RequestForgotTokenAuthenticationCode>(),
       KV_ERROR_FILL_REQUEST_FORGOT_TOKEN_AUTHENTICATION_CODE_FROM_JSON,
       R"({"machineName":"DESKTOP-01","platform":1,"clientIp":"10.0.0.9","isRdp":true,"activationData":{"login)"
       R"(":"alice","challenge":"123456","authenticationCode":"654321","period":"48"}})"},
      {"ActivationData", filler<ActivationData>(), KV_ERROR_FILL_ACTIVATION_DATA_FROM_JSON,
       R"({"login":"alice","challenge":"123456","authenticationCode":"654321","period":"48"})"},
      {"RequestGetUserPolicy", filler<RequestGetUserPolicy>(), KV_ERROR_FILL_REQUEST_GET_USER_POLICY_FROM_JSON,
       R"({"loginType":"EMAIL","clientVersion":"3.0.1.643","clientType":"desktop","clientIp":"10.0.0.9","isRdp)"
       R"(":true,"userLogins":["alice"],"geolocationData":"{\"latitude\":1.5,\"longitude\":2.5,\"accuracy\":3.)"
       R"(5}"})"},
      {"RequestGetUserPolicyOffline", filler<RequestGetUserPolicyOffline>(),
       KV_ERROR_FILL_REQUEST_GET_USER_POLICY_OFFLINE_FROM_JSON,
       R"({"accountId":"acct-1","machineName":"DESKTOP-01","resourceId":"77","platform":1,"userLogin":"alice"})"},
      {"ResponseGetUserPolicy", filler<ResponseGetUserPolicy>(), KV_ERROR_FILL_RESPONSE_GET_USER_POLICY_FROM_JSON,
       "[" + policy + "," + policy + "]"},
      {"ResponseGetUserPolicyOffline", filler<ResponseGetUserPolicyOffline>(),
       KV_ERROR_FILL_RESPONSE_GET_USER_POLICY_OFFLINE_FROM_JSON,
       R"([{"hasPolicy":true,"policyAllowsAuthentication":true,"authTypes":{"qrcode":true}}])"},
  };
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
// missing from a factor map is allowed: it reads as off; so are the keys that files of
// earlier agents do not have (the configuration's password mark, a user's forgot-token count
// and the mark of a check whose outcome was never saved).
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
      const std::string key = path.first.substr(path.first.find_last_of('/') + 1);
      const bool later = key == "masterPasswordMark" || key == "forgotTokenFailures" ||
                         key == "forgotTokenBlockedAt" || key == "offlineCheckPending" ||
                         key == "forgotTokenGrantedAt" || key == "usedHereFrom";
      EXPECT_EQ(later ? 0 : mistyped, rc.fill(edit(rc.json, path.first, true), out));
      EXPECT_TRUE(codesOf[path.second].insert(mistyped).second) << "shared code " << mistyped;
    }
  }
}

// A user stored before forgot-token codes were counted, before checks were marked pending,
// before passes had a grant time or authenticators their codes used here, reads as it was, with
// no count, no block, no check pending, no grant time and no code used here; a record without
// a grant time or codes used here is written without those keys.
TEST(JsonRecords, AUserStoredWithoutTheForgotTokenCountReadsAsBefore) {
  UserConfig before = sampleUser("alice");
  before.setForgotTokenFailures(0);
  before.setForgotTokenBlockedAt(0);
  before.setOfflineCheckPending(false);
  before.setForgotTokenGrantedAt(0);
  std::string json = before.toJson();
  EXPECT_EQ(std::string::npos, json.find("forgotTokenGrantedAt"));
  std::vector<AuthenticatorRecord> authenticators = before.getAuthenticators();
  for (AuthenticatorRecord& a : authenticators) a.clearUsedHereFrom();
  ASSERT_EQ(0, before.setAuthenticators(authenticators));
  json = before.toJson();
  EXPECT_EQ(std::string::npos, json.find("usedHereFrom"));
  for (const char* key :
       {",\"forgotTokenFailures\":0", ",\"forgotTokenBlockedAt\":0", ",\"offlineCheckPending\":false"}) {
    ASSERT_NE(std::string::npos, json.find(key)) << key;
    json.erase(json.find(key), std::string(key).size());
  }
  UserConfig read = sampleUser("bob");
  ASSERT_EQ(0, read.fillFromJson(json));
  EXPECT_TRUE(read == before);
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
    for (std::size_t n = 0; n < rc.json.size(); ++n) EXPECT_NE(0, rc.fill(rc.json.substr(0, n), out)) << n;
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
