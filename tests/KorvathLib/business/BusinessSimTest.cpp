// The business objects against the simulator of the CTest fixture (its default fixture,
// docs/cloudsim.md): the first registration, the configuration synchronization and the per-user
// updates, the policies, how a push's polling ends, the OTP, QR-code and forgot-token exchanges,
// what goes on the wire, and what the logon-disabled state and the configuration keep
// afterwards. Time is the fake clock's: polling steps and the push timeout pass without waiting.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "AuthenticationSdk/OfflineAuthentication.h"
#include "BizCoreTestSupport.h"
#include "Korvath/ConnectionUtils.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Timer.h"
#include "Korvath/WindowsFacts.h"

using namespace BizCoreTest;
using namespace Korvath::Model;

namespace {

using Logins = std::vector<std::string>;

// Faults of the simulator for one route, `count` times.
std::string resourceGone(const std::string& route, int count = 1) {
  return R"({"status":404,"body":"{\"errors\":[{\"code\":\"201005012\",\"message\":\"gone\"}]}","route":")" + route +
         "\",\"count\":" + std::to_string(count) + "}";
}
std::string statusError(const std::string& route, int count = 1) {
  return R"({"status":200,"body":"{\"status\": \"error\"}","route":")" + route +
         "\",\"count\":" + std::to_string(count) + "}";
}
std::string notSealed(const std::string& route) {
  return R"({"status":200,"body":"{\"data\":\"bm90IHNlYWxlZA==\"}","count":1,"route":")" + route + "\"}";
}

class BusinessSim : public CloudTest::SimTest, protected BizState {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    attach();
    Korvath::Utils::setRemoteLogonFlag(0);
    store({userWith("alice", "alice@sim.example", {})});
  }
  void TearDown() override {
    Korvath::Utils::setRemoteLogonFlag(0);
    detach();
    SimTest::TearDown();
  }
  template <typename Record>
  Record lastSent(const std::string& route) {
    const std::vector<CloudTest::Recorded> sent = recordedTo(route);
    EXPECT_FALSE(sent.empty()) << route;
    return parsed<Record>(sent.empty() ? "" : sent.back().opened);
  }
};

// A refused registration keeps no resource (and leaves no file: the services' start-up table).
TEST_F(BusinessSim, FirstRegistrationTakesTheServiceConfiguration) {
  // An unknown resource: the service answers 404 with its resource-not-found code.
  EXPECT_EQ(5108, registering_.iniConfig("localhost", "prod", kAccountId, 9999, kIntegrationKey).getResultCode());
  EXPECT_EQ(0, fresh_.getResourceId());
  ASSERT_EQ(0, registering_.iniConfig("localhost", "prod", kAccountId, 4242, kIntegrationKey).getResultCode());
  EXPECT_EQ("sim-master-password-0001", fresh_.getMasterPassword());
  EXPECT_EQ(FakeClock::kStart, fresh_.getLastSync());
  EXPECT_EQ(2u, recordedTo("config").size());
  const auto request = lastSent<Korvath::Model::RequestConfig>("config");
  EXPECT_TRUE(request.getUserLogins().empty());
  EXPECT_EQ(Korvath::Utils::getComputerName(), request.getMachineName());
  EXPECT_EQ(1, request.getPlatform());
  const Korvath::Config back = readBackConfig();
  EXPECT_EQ(kResourceId, back.getResourceId());
  EXPECT_EQ(kIntegrationKey, back.getServerConfig().getIntegrationKey());
}

// A synchronization names the current login first, then every other stored login (exact
// comparison), and merges the service's view of each user.
TEST_F(BusinessSim, UpdateNamesTheCurrentLoginFirstAndMergesTheReply) {
  store({makeUser("bob", true, true, true), makeUser("alice", true, true, true), makeUser("carol", true, true, true)});
  for (const char* current : {"alice", "", "Alice"}) ASSERT_EQ(0, business_.updateConfig(current).getResultCode());
  EXPECT_EQ(
      (std::vector<Logins>{{"alice", "bob", "carol"}, {"bob", "alice", "carol"}, {"Alice", "bob", "alice", "carol"}}),
      configLogins(recordedTo("config")));
  const UserConfig alice = stored("alice");
  EXPECT_EQ(2u, alice.getAuthenticators().size());
  EXPECT_FALSE(business_.areAllAuthenticatorsBlocked(alice));
  EXPECT_EQ("alice@sim.example", alice.getEmail());
  EXPECT_FALSE(stored("bob").isAuthTypeEnabled("qrcode"));
  EXPECT_EQ("Simulated Desktop", readBackConfig().getResourceAlias());
}

// A user added is named last and its authentication recorded (a known user's record: the logic
// tests); a user the service does not bring is not added, but the configuration is saved.
TEST_F(BusinessSim, PerUserUpdates) {
  store({makeUser("bob", true, true, true), makeUser("alice", true, true, true)});
  clock_.set(FakeClock::kStart + 77);
  ASSERT_EQ(0, business_.updateConfigAddUser("dave", "pw of dave", true, "OTP", -1).getResultCode());
  const UserConfig dave = stored("dave");
  EXPECT_EQ(FakeClock::kStart + 77, dave.getLastAuthTime());
  EXPECT_TRUE(dave.isBlocked()) << "the service's view came with the reply";
  EXPECT_EQ("dave", readBackConfig().getLastUser());
  ASSERT_EQ(0, business_.updateConfigUser("alice", "secret", false, "push", false, -1).getResultCode());
  ASSERT_EQ(0, business_.updateConfigAddUser("nobody", "pw", true, "otp", -1).getResultCode());
  EXPECT_LT(config_.getUserIndex("nobody"), 0);
  EXPECT_EQ(3u, readBackConfig().getUsersConfig().size());
  EXPECT_EQ(
      (std::vector<Logins>{{"bob", "alice", "dave"}, {"bob", "alice", "dave"}, {"bob", "alice", "dave", "nobody"}}),
      configLogins(recordedTo("config")));
}

// 5108 disables (saved, lastSync moved); a reply that does not open is an answer too and ends
// it, merging nothing. (A connectivity failure keeps the state, an error code ends it: the online
// OTP's table, through the same bookkeeping.)
TEST_F(BusinessSim, EachKindOfAnswerMovesTheLogonDisabledState) {
  store({makeUser("bob", true, true, true)});
  fault(resourceGone("config", 2));
  EXPECT_EQ(5108, business_.updateConfig("").getResultCode());
  EXPECT_EQ(5108, readBackConfig().getLogonAppDisable());
  clock_.set(FakeClock::kStart + 10);
  EXPECT_EQ(5108, business_.updateConfig("").getResultCode());
  EXPECT_EQ(FakeClock::kStart + 10, readBackConfig().getLastSync());
  fault(notSealed("config"));
  const std::uint16_t unopened = business_.updateConfig("").getResultCode();
  EXPECT_NE(0, unopened);
  EXPECT_TRUE(Korvath::isServerReachable(unopened)) << unopened;
  EXPECT_EQ(0, readBackConfig().getLogonAppDisable());
  EXPECT_TRUE(stored("bob").getAuthenticators().empty()) << "nothing merged";
}

Korvath::Model::RequestGetUserPolicy policyRequest(const std::string& login) {
  Korvath::Model::RequestGetUserPolicy request;
  request.setUserLogins({login});
  return request;
}

const AuthFactorMap kAllOff = {{"push", false}, {"qrcode", false}, {"otp", false}};

// A policy element whose flags are the bits of `flags`, in the order of `names`.
std::string element(const std::string& user, const char* flags, const std::string& authTypes = "{}") {
  const char* names[] = {"hasPolicy", "isAllowedToAuthenticate", "isInSafeLocation", "isInForgotToken",
                         "isBlocked", "isOverallocated",         "isInQuarantine"};
  std::string text = R"({"username":")" + user + R"(","email":"","authTypes":)" + authTypes;
  for (int i = 0; i < 7; ++i) text += std::string(",\"") + names[i] + "\":" + (flags[i] == '1' ? "true" : "false");
  return text + "}";
}

// Only the first element counts. The states decide in their order and merge nothing: blocked,
// over-allocated, quarantine, safe location, no policy, not allowed; an allowed user's policy is
// merged and fills the factors. Every answer ends the logon-disabled state.
TEST_F(BusinessSim, PolicyStatesDecideInTheirOrder) {
  store({makeUser("bob", true, true, true), makeUser("alice", true, true, true)});
  // hasPolicy, isAllowedToAuthenticate, isInSafeLocation, isInForgotToken, isBlocked, isOverallocated, isInQuarantine
  // Each row: json, code.
  const std::tuple<std::string, std::uint16_t> rows[] = {
      {"[" + element("bob", "1110100") + "]", 5131},
      {"[" + element("bob", "0110000") + "]", 5129},
      {"[" + element("bob", "1001000") + "]", 5128},
      {"[" + element("bob", "1100011") + "]", 5132},
      {"[" + element("bob", "1100001") + "]", 5133},
      {"[" + element("bob", "0000000") + "]", 5127},
      {"[" + element("alice", "1100000", R"({"otp":true})") + "," + element("bob", "1100100") + "]", 0},
  };
  for (const auto& [json, code] : rows) {
    config_.setLogonAppDisable(5108);
    reply("policy", 200, json, 1);
    AuthFactorMap factors = kAllOff;
    EXPECT_EQ(code, business_.postUserPolicy(policyRequest("bob"), factors).getResultCode()) << json;
    EXPECT_EQ(code == 0 ? AuthFactorMap({{"push", false}, {"qrcode", false}, {"otp", true}}) : kAllOff, factors);
    EXPECT_TRUE(stored("bob").isAuthTypeEnabled("qrcode"));
    EXPECT_EQ(0, readBackConfig().getLogonAppDisable());
  }
  EXPECT_FALSE(stored("alice").isAuthTypeEnabled("push")) << "the first element is alice's and is merged";
}

// A user in forgot-token mode: the factors come from the policy and the user is synchronized.
// An empty policy, or one for a user not stored, is 5103 and still ends the disabled state (a
// transport failure changes nothing: the services' policy tests, the online OTP's table).
TEST_F(BusinessSim, ForgotTokenEmptyAndUnansweredPolicies) {
  store({makeUser("bob", true, true, true)});
  AuthFactorMap factors = {{"push", true}, {"qrcode", true}, {"otp", false}};
  EXPECT_EQ(0, business_.postUserPolicy(policyRequest("carol"), factors).getResultCode());
  EXPECT_EQ((AuthFactorMap{{"push", false}, {"qrcode", false}, {"otp", true}}), factors);
  EXPECT_GE(config_.getUserIndex("carol"), 0);
  EXPECT_EQ((std::vector<Logins>{{"carol", "bob"}}), configLogins(recordedTo("config")));
  for (const char* login : {"nobody", "alice"}) {
    config_.setLogonAppDisable(5108);
    factors = kAllOff;
    EXPECT_EQ(5103, business_.postUserPolicy(policyRequest(login), factors).getResultCode()) << login;
    EXPECT_EQ(kAllOff, factors);
    EXPECT_EQ(0, readBackConfig().getLogonAppDisable());
  }
}

TEST_F(BusinessSim, OfflinePolicyIsStoredForTheUser) {
  store({makeUser("erin", true, true, true), makeUser("bob", false, false, false)});
  const auto request = [](const std::string& login) {
    Korvath::Model::RequestGetUserPolicyOffline r;
    r.setUserLogin(login);
    return r;
  };
  config_.setLogonAppDisable(5108);
  for (const char* login : {"erin", "bob"})
    EXPECT_EQ(0, business_.postUserPolicyOffline(request(login)).getResultCode());
  const UserConfig erin = readBackConfig().getUsersConfig()[0];
  EXPECT_FALSE(erin.getHasPolicy());
  EXPECT_FALSE(erin.getPolicyAllowsAuthentication());
  EXPECT_FALSE(erin.isAuthTypeEnabled("push"));
  EXPECT_TRUE(stored("bob").isAuthTypeEnabled("push"));
  EXPECT_FALSE(stored("bob").isAuthTypeEnabled("qrcode"));
  EXPECT_EQ(0, readBackConfig().getLogonAppDisable());
  for (const char* login : {"nobody", "alice"})
    EXPECT_EQ(5103, business_.postUserPolicyOffline(request(login)).getResultCode()) << login;
}

// ---------------------------------------------------------------- push

// Polls at 0, 2, 4 ... s until an answer or the timeout; a denial is the service's code; a reply
// that is no transaction, or does not open, or names no transaction ends before any poll; a
// connectivity failure while polling is retried once after 200 ms with a fresh polling run.
TEST_F(BusinessSim, HowAPushEnds) {
  // Each row: name, prepare, timeout, code, cloud, polls, slept.
  const std::tuple<const char*, std::function<void()>, std::uint16_t, std::uint16_t, std::int32_t, std::size_t,
                   std::int64_t>
      rows[] = {
          {"approved at once", [&] { sim_->planPush("alice", "approve"); }, 60, 0, 0, 1, 0},
          // A token cancelled before the start: one poll, no sleep (a token cancelled during a step
          // ends the step early: the timer's tests).
          {"cancelled before the start", [] {}, 60, 5121, 0, 1, 0},
          {"approved after three waits", [&] { sim_->planPush("alice", "approve", 3); }, 60, 0, 0, 4, 6000},
          {"denied", [&] { sim_->planPush("alice", "deny", 1); }, 60, 5119, 201055008, 2, 2000},
          {"nobody answers in 10 s", [] {}, 10, 5118, 0, 6, 10000},
          {"no transaction identifier",
           [&] { reply("transaction", 200, R"({"transactionStatus":"PENDING","transactionId":"","command":""})", 1); },
           60, 5117, 0, 0, 0},
          {"no transaction reply", [&] { reply("transaction", 200, "[]", 1); }, 60, 5500, 0, 0, 0},
          {"a reply that does not open", [&] { fault(notSealed("transaction")); }, 60, 5007, 0, 0, 0},
          {"connectivity failures", [&] { fault(statusError("pushresult", 2)); }, 60, 5116, 0, 2, 200},
          {"one connectivity failure",
           [&] {
             fault(statusError("pushresult"));
             sim_->planPush("alice", "approve", 1);
           },
           60, 0, 0, 3, 2200},
      };
  for (const auto& [name, prepare, timeout, code, cloud, polls, slept] : rows) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(sim_->reset());
    Korvath::ServerConfig server = config_.getServerConfig();
    ASSERT_EQ(0, server.setPushTimeout(timeout));
    ASSERT_EQ(0, config_.setServerConfig(server));
    prepare();
    Korvath::Utils::AutoTokenCancellationRelease token;
    const bool cancelled = code == 5121;  // the row whose token is cancelled
    if (cancelled) token.cancel();
    const std::int64_t before = clock_.sleptMs();
    const KvResult result = push_.authenticatePush("alice", cancelled ? &token : nullptr);
    EXPECT_EQ(code, result.getResultCode());
    EXPECT_EQ(cloud, result.getCloudErrorCode());
    EXPECT_FALSE(result.getRequestId().empty());
    EXPECT_EQ(polls, recordedTo("pushresult").size());
    EXPECT_EQ(slept, clock_.sleptMs() - before);
    EXPECT_EQ(1, token.holders()) << "the token given back";
  }
}

// What a push request carries: the factor, the login type and login, the client address only at
// 7 to 15 characters, the remote flag, this machine;
// a refused transaction is the mapped code and leaves the disabled state to the caller; a
// request that cannot be sealed sends nothing.
TEST_F(BusinessSim, WhatAPushRequestCarries) {
  // Typed, client address, remote flag; the login type and the address sent.
  const std::tuple<const char*, const char*, int, const char*, const char*> cases[] = {
      {"ALICE@sim.example", "192.168.10.20", 1, "EMAIL", "192.168.10.20"},
      {"alice", "1.2.34", 0, "LOGIN", ""},
      {"alice", "192.168.100.2001", 0, "LOGIN", ""}};
  for (const auto& [typed, ip, remote, loginType, sentIp] : cases) {
    SCOPED_TRACE(ip);
    ASSERT_TRUE(sim_->reset());
    sim_->planPush("alice", "approve");
    Korvath::Utils::setRemoteLogonFlag(remote);
    business_.setClientIp(ip);
    EXPECT_EQ(0, push_.authenticatePush(typed, nullptr).getResultCode());
    const auto sent = lastSent<Korvath::Model::RequestTransaction>("transaction");
    EXPECT_EQ("PUSH", sent.getAuthenticationFactor());
    EXPECT_EQ(loginType, sent.getUserTransaction().getLoginType());
    EXPECT_EQ(typed, sent.getUserTransaction().getLogin());
    EXPECT_EQ(sentIp, sent.getClientIp());
    EXPECT_EQ(remote == 1, sent.getIsRdp());
    EXPECT_EQ(1, sent.getPlatform());
    EXPECT_EQ("", sent.getGeolocationData());
    EXPECT_EQ(Korvath::Utils::getComputerName(), sent.getMachineName());
    const Korvath::Model::TransactionData data = sent.getUserTransaction().getTransactionData();
    EXPECT_EQ(static_cast<std::uint32_t>(clock_.nowUnixMs() / 1000), data.getTimestamp());
    EXPECT_EQ(typed, data.getUser());
    if (*sentIp) {
      EXPECT_EQ(sentIp, data.getData().getClientIp());
    }
  }
  ASSERT_TRUE(sim_->reset());
  config_.setLogonAppDisable(5108);
  const KvResult refused = push_.authenticatePush("nobody", nullptr);
  EXPECT_EQ(5103, refused.getResultCode());
  EXPECT_EQ(201015008, refused.getCloudErrorCode());
  EXPECT_TRUE(recordedTo("pushresult").empty());
  EXPECT_EQ(5108, config_.getLogonAppDisable());
  ASSERT_TRUE(sim_->reset());
  setIntegrationKey("");
  EXPECT_EQ(5006, push_.authenticatePush("alice", nullptr).getResultCode());
  EXPECT_TRUE(recorded().empty());
}

// ---------------------------------------------------------------- online OTP

// Any answer of the service ends the logon-disabled state (saved); the resource gone starts it;
// a connectivity failure keeps it; a request that cannot be sealed sends nothing and, being no
// connectivity result, ends it too. The code goes out as typed when 4 to 10 characters long.
TEST_F(BusinessSim, OnlineOtpAndTheLogonDisabledState) {
  // Each row: name, lost, code, result, disabledAfter, sentCode.
  const std::tuple<const char*, std::string, std::string, std::uint16_t, std::uint16_t, std::string> rows[] = {
      {"accepted", "", hotp(kAliceSecretHex, 0), 0, 0, hotp(kAliceSecretHex, 0)},
      {"refused", "", "000000", 5113, 0, "000000"},
      {"overlong code", "", "12345678901", 5113, 0, ""},
      {"resource gone", resourceGone("authentication"), hotp(kAliceSecretHex, 0), 5108, 5108, hotp(kAliceSecretHex, 0)},
      {"no answer", statusError("authentication"), hotp(kAliceSecretHex, 0), 5116, 5108, hotp(kAliceSecretHex, 0)},
      {"not sealed", "", hotp(kAliceSecretHex, 0), 5006, 0, ""},
  };
  for (const auto& [name, lost, code, result, disabledAfter, sentCode] : rows) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(sim_->reset());
    config_.setLogonAppDisable(result == 5108 ? 0 : 5108);
    if (!lost.empty()) fault(lost);
    if (result == 5006) setIntegrationKey("");
    EXPECT_EQ(result, otp_.onlineAuthenticateOtp("ALICE@SIM.EXAMPLE", code).getResultCode());
    EXPECT_EQ(disabledAfter, config_.getLogonAppDisable());
    if (result == 5006) {
      EXPECT_TRUE(recorded().empty());
      continue;
    }
    if (result != 5116) {
      EXPECT_EQ(disabledAfter, readBackConfig().getLogonAppDisable());
    }
    const auto sent = lastSent<Korvath::Model::RequestAuthentication>("authentication");
    EXPECT_EQ("OTP", sent.getAuthenticationFactor());
    EXPECT_EQ("EMAIL", sent.getUserAuthentication().getLoginType());
    EXPECT_EQ(sentCode, sent.getUserAuthentication().getAuthenticationData());
    EXPECT_EQ("", sent.getUserAuthentication().getTransactionId());
  }
}

// ---------------------------------------------------------------- QR code

std::string answerFor(const std::string& command) { return qrAnswer(makeSecretBlob(10, kAliceSecretHex), command); }

// A login the configuration does not hold, or a stored user (typed by e-mail) while offline
// checks are not allowed, gets the command from the service (the stored login on the wire), and
// its answer is checked there.
TEST_F(BusinessSim, QrCommandFromTheServiceAndItsAnswer) {
  std::string transactionId, json, command;
  for (std::uint8_t offline : {1, 0}) {
    SCOPED_TRACE(offline);
    store({});
    if (!offline) store({userWith("alice", "alice@sim.example", {authenticatorOf(10, kAliceSecretHex, 1001)})});
    setServerFlags(offline, 1, 1);
    std::uint8_t online = 0;
    const KvResult generated =
        qr_.generateCommandQRCode(offline ? "alice" : "ALICE@SIM.EXAMPLE", transactionId, json, command, online);
    ASSERT_EQ(0, generated.getResultCode());
    EXPECT_EQ(1, online);
    EXPECT_EQ(36u, transactionId.size());
    AuthenticationSdk::QrCommand parsed;
    ASSERT_EQ(0, AuthenticationSdk::parseQrCommand(command, parsed)) << command;
    EXPECT_EQ(transactionId, parsed.transactionId);
    EXPECT_EQ(json, parsed.transactionJson);
    const auto sent = lastSent<Korvath::Model::RequestTransaction>("transaction");
    EXPECT_EQ("QRCODE", sent.getAuthenticationFactor());
    EXPECT_EQ("alice", sent.getUserTransaction().getLogin());
    EXPECT_EQ(json, sent.getUserTransaction().getTransactionData().toJson());
  }
  // The answer's check goes out with the transaction (the services' online QR test checks the
  // outcome); an identifier of 35 characters goes out empty.
  EXPECT_EQ(0, qr_.onlineAuthenticateQRCode("alice", transactionId, answerFor(command)).getResultCode());
  EXPECT_EQ(
      transactionId,
      lastSent<Korvath::Model::RequestAuthentication>("authentication").getUserAuthentication().getTransactionId());
  qr_.onlineAuthenticateQRCode("alice", std::string(35, 'a'), "123456");
  EXPECT_EQ(
      "", lastSent<Korvath::Model::RequestAuthentication>("authentication").getUserAuthentication().getTransactionId());
}

// A reply that does not open is a failure that leaves the outputs alone; the resource gone
// disables (saved); every authenticator inactive: the service decides, and without it 5135
// with the disabled state kept; an offline check with every authenticator inactive asks the
// service with the stored login and leaves the blobs alone.
TEST_F(BusinessSim, QrAnswersAndInactiveAuthenticators) {
  fault(notSealed("transaction"));
  std::string transactionId = "kept", json, command = "kept";
  EXPECT_EQ(5007, qr_.onlineGenerateCommandQRCode("alice", transactionId, json, command).getResultCode());
  EXPECT_EQ("kept", transactionId);
  EXPECT_EQ("kept", command);
  fault(resourceGone("transaction"));
  EXPECT_EQ(5108, qr_.onlineGenerateCommandQRCode("alice", transactionId, json, command).getResultCode());
  EXPECT_EQ(5108, readBackConfig().getLogonAppDisable());

  const Korvath::Model::AuthenticatorRecord inactive = authenticatorOf(10, kAliceSecretHex, 1001, false);
  UserConfig alice = userWith("alice", "", {inactive});
  store({alice});
  ASSERT_TRUE(sim_->reset());
  EXPECT_NE(0, qr_.offlineAuthenticateQRCode(alice, std::string(36, 'b'), "{}", "123456"));
  EXPECT_EQ("alice",
            lastSent<Korvath::Model::RequestAuthentication>("authentication").getUserAuthentication().getLogin());
  EXPECT_EQ(inactive, alice.getAuthenticators()[0]);
  config_.setLogonAppDisable(5108);
  pointAt(CloudTest::closedPort());
  std::uint8_t online = 0;
  EXPECT_EQ(5135, qr_.generateCommandQRCode("alice", transactionId, json, command, online).getResultCode());
  EXPECT_EQ(1, online);
  EXPECT_EQ(5108, config_.getLogonAppDisable());
}

// ---------------------------------------------------------------- forgot token

// The administrator's code names the stored login while the user may have typed the e-mail;
// once accepted, the synchronization brings the service's expiry, which is stored with the last
// factor and without the remembered password. A user the configuration does not hold: only the
// merged configuration is saved.
TEST_F(BusinessSim, OnlineActivationAndWhatItStores) {
  UserConfig alice = userWith("alice", "alice@sim.example", {authenticatorOf(10, kAliceSecretHex, 1001)});
  ASSERT_EQ(0, alice.setPassword("remembered"));
  store({alice});
  const KvResult accepted = forgot_.onlineAuthenticateActiveForgotAuthenticator("alice@sim.example", 8, "123456",
                                                                                adminCode("alice", 8, "123456"));
  ASSERT_EQ(0, accepted.getResultCode());
  const auto sent = lastSent<Korvath::Model::RequestForgotTokenAuthenticationCode>("authenticationcode");
  EXPECT_EQ("alice@sim.example", sent.getActivationData().getLogin());
  EXPECT_EQ("123456", sent.getActivationData().getChallenge());
  EXPECT_EQ("8", sent.getActivationData().getPeriod());
  const std::int64_t before = AuthenticationSdk::currentUnixTime() * 1000;
  ASSERT_EQ(0, forgot_.updateConfigUserForgotAuthenticator("alice@sim.example", 8, "otp").getResultCode());
  const UserConfig saved = readBackConfig().getUsersConfig().at(0);
  EXPECT_GE(saved.getAuthenticatorForgottenExpiryTimestamp(),
            static_cast<std::uint64_t>(before + 8 * 3600000LL - 1000));
  EXPECT_LE(saved.getAuthenticatorForgottenExpiryTimestamp(),
            static_cast<std::uint64_t>(before + 8 * 3600000LL + 60000));
  EXPECT_EQ("otp", saved.getLastAuthType());
  EXPECT_EQ("", saved.getPassword());
  EXPECT_EQ(0u, saved.getFallbackExpiration());
  ASSERT_EQ(0, forgot_.updateConfigUserForgotAuthenticator("carol", 2, "push").getResultCode());
  EXPECT_LT(config_.getUserIndex("carol"), 0);
  EXPECT_EQ(1u, readBackConfig().getUsersConfig().size());
  EXPECT_EQ("Simulated Account", readBackConfig().getAccountAlias());
}

// Lengths the service would refuse are never sent (and still end the disabled state; a challenge
// the request record refuses throws, which the services turn into their refusal: their refusal
// table); hours of four digits leave the period empty.
TEST_F(BusinessSim, ActivationRequestsThatAreNotSentWhole) {
  config_.setLogonAppDisable(5108);
  EXPECT_EQ(5030, forgot_.onlineAuthenticateActiveForgotAuthenticator("alice", 8, "123456", "12345").getResultCode());
  EXPECT_EQ(5037,
            forgot_.onlineAuthenticateActiveForgotAuthenticator("alice", 8, "12345678901", "123456").getResultCode());
  EXPECT_EQ(0, config_.getLogonAppDisable());
  EXPECT_TRUE(recorded().empty());
  forgot_.onlineAuthenticateActiveForgotAuthenticator("alice", 1000, "123456", "123456");
  EXPECT_EQ("", lastSent<Korvath::Model::RequestForgotTokenAuthenticationCode>("authenticationcode")
                    .getActivationData()
                    .getPeriod());
}

}  // namespace
