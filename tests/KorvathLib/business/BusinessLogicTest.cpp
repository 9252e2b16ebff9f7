// The business objects without the cloud service: the user view, the authenticator states, the
// stored per-user options and records, the clock-rollback guard, every check that ends an
// operation before a request, the offline OTP and QR-code checks against stored blobs (made and
// answered by the SDK as the service, the authenticator app and the administrator would), the
// screens built for the dialog, and the forgot-token activation on this machine with what it
// stores. The deployment points at a closed loopback port, so a request that went out would
// show as a connectivity code.

#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "AuthenticationSdk/AuthenticatorBlob.h"
#include "AuthenticationSdk/OfflineAuthentication.h"
#include "BizCoreTestSupport.h"
#include "Korvath/ResultCodes.h"

using namespace BizCoreTest;
using Korvath::Business::KvBusinessForgotAuthenticator;
using namespace Korvath::Model;
using Korvath::Service::ServiceResponseBase;

namespace {

class BusinessLogic : public ::testing::Test, protected BizState {
 protected:
  void SetUp() override {
    pointAtClosedPort(registry_);
    attach();
    setServerFlags(1, 0, 1);
  }
  void TearDown() override {
    detach();
    Korvath::Platform::setAgentRegistry(nullptr);
  }
  CloudTest::MapRegistry registry_;
};

AuthenticationSdk::AuthenticatorInfo inspect(const AuthenticatorRecord& record) {
  AuthenticationSdk::AuthenticatorInfo info;
  EXPECT_EQ(0, AuthenticationSdk::Blob::inspect(record.getBlob(), info));
  return info;
}

std::string otherThan(std::string code) {
  code[5] = code[5] == '9' ? '0' : static_cast<char>(code[5] + 1);
  return code;
}

UserConfig withLast(UserConfig user, const std::string& last) {
  EXPECT_EQ(0, user.setLastAuthType(last));
  return user;
}

// The first factor is the last one used while it is still enabled (exact, lower case), else
// "password", never the next enabled one; with none used, the first of push, qrcode, otp.
TEST_F(BusinessLogic, FirstFactorOfTheDialog) {
  UserConfig qrOnly;
  qrOnly.setUserLogin("m");
  qrOnly.setAuthTypes({{"qrcode", true}});
  // Each row: user, initial.
  const std::tuple<UserConfig, const char*> rows[] = {
      {withLast(makeUser("a", false, false, true), "push"), "password"},
      {withLast(makeUser("a", false, false, true), ""), "otp"},
      {withLast(makeUser("a", true, true, true), "password"), "password"},
      {withLast(makeUser("a", true, true, true), "qrcode"), "qrcode"},
      {makeUser("a", true, true, true), "push"},
      {qrOnly, "qrcode"},
      {makeUser("a", false, false, false), "password"},
  };
  for (const auto& [user, initial] : rows) EXPECT_EQ(initial, business_.getInitialAuthFactor(user)) << user.toJson();
}

TEST_F(BusinessLogic, UserViewOfTheDialog) {
  UserConfig alice = withLast(makeUser("alice", false, true, true, "alice@sim.example"), "qrcode");
  ASSERT_EQ(0, alice.setPassword("pa ss\"word"));
  store({alice});
  // A password is given back only while the service allows remembering it.
  for (std::uint8_t remember : {0, 1}) {
    setServerFlags(1, remember, remember);
    ServiceResponseBase view;
    ASSERT_EQ(0, business_.loadUserConfig("ALICE@sim.example", view));
    EXPECT_EQ("ALICE@sim.example", view.getUserLogin());
    EXPECT_EQ(remember ? "pa ss\"word" : "", view.getUserPassword());
    EXPECT_EQ(remember == 1, view.getCheckRememberPassword());
    EXPECT_EQ(remember == 1, view.getEnableRememberPassword());
    EXPECT_EQ("qrcode", view.getLastAuthType());
  }
  ServiceResponseBase untouched;
  EXPECT_EQ(5103, business_.loadUserConfig("bob", untouched));
  EXPECT_EQ(ServiceResponseBase().toJson(), untouched.toJson());
}

// All blocked unless one authenticator reads as active through the reader of its own model;
// an unreadable blob, or a blob of another model than its record says, is not active.
TEST_F(BusinessLogic, AuthenticatorStatesDecideWhetherAllAreBlocked) {
  AuthenticatorRecord unreadable = authenticatorOf(10, kAliceSecretHex, 1);
  ASSERT_EQ(0, unreadable.setBlob(std::string(280, 'A')));
  AuthenticatorRecord mislabelled = authenticatorOf(9, kAliceSecretHex, 2);
  mislabelled.setModel(10);
  const auto of = [](std::uint8_t model, bool active) { return authenticatorOf(model, kAliceSecretHex, 3, active); };
  const struct {
    std::vector<AuthenticatorRecord> list;
    bool allBlocked;
  } rows[] = {
      {{}, true},
      {{unreadable, of(10, false)}, true},
      {{mislabelled}, true},
      {{of(13, false), of(9, false)}, true},
      {{of(10, false), of(12, true)}, false},
      {{of(9, true)}, false},
      {{of(10, true)}, false},
  };
  for (const auto& row : rows) {
    UserConfig user = makeUser("alice", true, true, true);
    ASSERT_EQ(0, user.setAuthenticators(row.list));
    EXPECT_EQ(row.allBlocked, business_.areAllAuthenticatorsBlocked(user)) << row.list.size();
  }
}

TEST_F(BusinessLogic, AutoSendPushOptionIsStoredAndSavedForAStoredUserOnly) {
  store({makeUser("alice", true, true, true, "alice@sim.example"), makeUser("bob", true, false, true)});
  EXPECT_EQ(6000, business_.updateAutoSendPushOptionByUserName("nobody", false).getResultCode());
  EXPECT_FALSE(fileExists());
  EXPECT_FALSE(business_.getAutoSendPushStatusByUsername("nobody"));
  EXPECT_TRUE(business_.getAutoSendPushStatusByUsername("alice"));
  EXPECT_EQ(0, business_.updateAutoSendPushOptionByUserName("Alice@Sim.Example", false).getResultCode());
  EXPECT_FALSE(business_.getAutoSendPushStatusByUsername("alice"));
  const Korvath::Config back = readBackConfig();
  EXPECT_FALSE(back.getUsersConfig()[0].getAutoSendPush());
  EXPECT_TRUE(back.getUsersConfig()[1].getAutoSendPush());
  // The resource identifier is stored signed and keys the requests as unsigned text.
  config_.setResourceId(-1);
  business_.setKvCryptoInputs();
  EXPECT_EQ("4294967295", crypto_.getResourceId());
  EXPECT_EQ(kIntegrationKey, crypto_.getIntegrationKey());
}

// Region, environment, integration key and logins are checked before any request: such a
// failure sends nothing, leaves the logon-disabled state alone and writes no file.
TEST_F(BusinessLogic, ChecksBeforeAnyRequest) {
  store({makeUser("bob", true, true, true)});
  config_.setLogonAppDisable(5108);
  // Each row: code, expected.
  const std::tuple<std::uint16_t, std::uint16_t> rows[] = {
      {registering_.iniConfig("eu", "prod", kAccountId, 4242, kIntegrationKey).getResultCode(), 5032},
      {registering_.iniConfig(std::string(26, 'r'), "prod", kAccountId, 4242, kIntegrationKey).getResultCode(), 5032},
      {registering_.iniConfig("localhost", "test", kAccountId, 4242, kIntegrationKey).getResultCode(), 5033},
      {registering_.iniConfig("localhost", "prod", kAccountId, 4242, "ab").getResultCode(), 5020},
      {business_.updateConfig(std::string(101, 'x')).getResultCode(), 5013},
  };
  for (const auto& [code, expected] : rows) EXPECT_EQ(expected, code);
  EXPECT_EQ(5108, config_.getLogonAppDisable());
  EXPECT_FALSE(fileExists());
  // Valid inputs do go out (to the closed port): an empty region is allowed.
  EXPECT_FALSE(Korvath::isServerReachable(
      registering_.iniConfig("", "prod", kAccountId, 4242, kIntegrationKey).getResultCode()));
}

TEST_F(BusinessLogic, SavingAUserRecordsTheAuthenticationOutcome) {
  UserConfig alice = makeUser("alice", true, true, true, "alice@sim.example");
  ASSERT_EQ(0, alice.setPassword("old secret"));
  alice.setFallbackExpiration(555);
  store({makeUser("bob", true, true, true), alice});
  clock_.set(FakeClock::kStart + 42);
  UserConfig record = stored("alice");
  EXPECT_EQ(0, business_.saveConfigUserByUserConfig(record, 1, "new secret", false, "OTP", false));
  UserConfig saved = stored("alice");
  EXPECT_EQ("", saved.getPassword()) << "not remembered";
  EXPECT_EQ("", record.getPassword()) << "changed in place too";
  EXPECT_EQ("otp", saved.getLastAuthType());
  EXPECT_EQ(FakeClock::kStart + 42, saved.getLastAuthTime());
  EXPECT_EQ(555u, saved.getFallbackExpiration());
  EXPECT_EQ(FakeClock::kStart + 42, config_.getLastAuth());
  record = stored("alice");
  EXPECT_EQ(0, business_.saveConfigUserByUserConfig(record, 1, "new secret", true, "sms", true));
  saved = readBackConfig().getUsersConfig()[1];
  EXPECT_EQ("new secret", saved.getPassword());
  EXPECT_EQ("otp", saved.getLastAuthType()) << "\"sms\" refused, the old one kept";
  EXPECT_EQ(0u, saved.getFallbackExpiration());
}

// A clock more than 5 minutes behind the last run, or before 2018 (also with no last run), ends
// every forgot-token pass, the local one and the service's (saved), and keeps the last run; a
// later clock becomes the last run, one within the 5 minutes leaves it; an unregistered agent is
// never checked.
TEST_F(BusinessLogic, ClockRollbackGuard) {
  const std::uint64_t floor = Korvath::Business::kTimeTamperFloorFileTime, start = FakeClock::kStart;
  const std::uint64_t tolerance = 5ull * 60 * 10000000;
  ASSERT_EQ(tolerance, Korvath::Business::kClockSetBackTolerance);
  // Each row: lastRun, now, resource, tamper, lastRunAfter.
  const std::tuple<std::uint64_t, std::uint64_t, std::int32_t, bool, std::uint64_t> rows[] = {
      {start, start - tolerance - 1, kResourceId, true, start},
      {start, start - tolerance, kResourceId, false, start},
      {start, start - 1, kResourceId, false, start},
      {start, start, kResourceId, false, start},
      {start, start + 5, kResourceId, false, start + 5},
      {start, floor - 1, 0, false, start},
      {0, floor - 1, kResourceId, true, 0},
      {0, floor, kResourceId, false, floor},
  };
  for (const auto& [lastRun, now, resource, tamper, lastRunAfter] : rows) {
    SCOPED_TRACE(std::to_string(now) + " after " + std::to_string(lastRun));
    for (const std::string& path : {configPath_, Korvath::Config::backupPathFor(configPath_)}) std::remove(path.c_str());
    UserConfig alice = makeUser("alice", true, true, true), carol = makeUser("carol", true, true, true);
    alice.setFallbackExpiration(999);
    alice.setForgotTokenGrantedAt(99);
    carol.setAuthenticatorForgottenExpiryTimestamp(1760000000000ull);
    store({alice, makeUser("bob", true, true, true), carol});
    config_.setLastRun(lastRun);
    config_.setResourceId(resource);
    clock_.set(now);
    for (const bool atStartUp : {true, false}) {
      if (!atStartUp) store({alice, makeUser("bob", true, true, true), carol});
      EXPECT_EQ(tamper, atStartUp ? business_.timeTamperDetect() : business_.endPassesIfClockSetBack());
      std::vector<std::vector<UserConfig>> memoryAndFile{config_.getUsersConfig()};
      if (resource != 0) memoryAndFile.push_back(readBackConfig().getUsersConfig());  // unregistered: no file
      for (const std::vector<UserConfig>& users : memoryAndFile) {
        EXPECT_EQ(tamper ? 0u : 999u, users[0].getFallbackExpiration());
        EXPECT_EQ(tamper ? 0u : 99u, users[0].getForgotTokenGrantedAt());
        EXPECT_EQ(tamper ? 0u : 1760000000000ull, users[2].getAuthenticatorForgottenExpiryTimestamp());
      }
      EXPECT_EQ(lastRunAfter, config_.getLastRun());
    }
  }
  // Within the 5 minutes but earlier than a pass's grant: that pass ends, at start-up and where a
  // pass is about to be honoured alike, and the others run on.
  for (const bool atStartUp : {true, false}) {
    for (const std::string& path : {configPath_, Korvath::Config::backupPathFor(configPath_)}) std::remove(path.c_str());
    UserConfig alice = makeUser("alice", true, true, true), carol = makeUser("carol", true, true, true);
    alice.setFallbackExpiration(start + 8 * 36000000000ull);
    alice.setForgotTokenGrantedAt(start + 10);
    carol.setAuthenticatorForgottenExpiryTimestamp(1760000000000ull);
    carol.setForgotTokenGrantedAt(start - 36000000000ull);
    store({alice, carol});
    config_.setResourceId(kResourceId);
    config_.setLastRun(start + 10);
    clock_.set(start + 5);
    EXPECT_FALSE(atStartUp ? business_.timeTamperDetect() : business_.endPassesIfClockSetBack());
    const std::vector<UserConfig> users = readBackConfig().getUsersConfig();
    EXPECT_EQ(0u, users[0].getFallbackExpiration());
    EXPECT_EQ(1760000000000ull, users[1].getAuthenticatorForgottenExpiryTimestamp());
  }
}

// Each authenticator in order: the first that accepts takes its new state alone (what earlier
// ones counted is dropped, later ones are not tried); when all refuse each keeps its new state
// and the last code is returned; no authenticator is 5218.
TEST_F(BusinessLogic, OfflineOtpKeepsOnlyTheStatesThatCount) {
  const AuthenticatorRecord other = authenticatorOf(10, kBobSecretHex, 1);
  const AuthenticatorRecord token = authenticatorOf(11, kAliceSecretHex, 2);
  const AuthenticatorRecord mobile = authenticatorOf(10, kAliceSecretHex, 3);
  UserConfig user = userWith("alice", "", {other, token, mobile});
  EXPECT_EQ(0, otp_.offlineAuthenticateOtp(user, hotp(kAliceSecretHex, 0)));
  EXPECT_EQ(other, user.getAuthenticators()[0]);
  EXPECT_EQ(1u, inspect(user.getAuthenticators()[1]).counter);
  EXPECT_EQ(mobile, user.getAuthenticators()[2]);

  const AuthenticatorRecord inactive = authenticatorOf(11, kAliceSecretHex, 2, false);
  UserConfig refused = userWith("alice", "", {other, inactive});
  EXPECT_EQ(3, otp_.offlineAuthenticateOtp(refused, hotp(kAliceSecretHex, 0)));  // 1 from the first, 3 inactive
  EXPECT_EQ(1, inspect(refused.getAuthenticators()[0]).failedAttempts);
  EXPECT_EQ(inactive, refused.getAuthenticators()[1]);
  UserConfig none = userWith("alice", "", {});
  EXPECT_EQ(5218, otp_.offlineAuthenticateOtp(none, hotp(kAliceSecretHex, 0)));
}

// The settings of the server configuration (its empty account the configuration's) decide:
// after their attempts the authenticator blocks and refuses even the right code.
TEST_F(BusinessLogic, OfflineChecksUseTheServerSettings) {
  Korvath::ServerConfig server = config_.getServerConfig();
  AuthenticationSdk::AuthenticationSettings settings = server.getAuthenticationSettings();
  settings.authenticationAttempts = 2;
  server.setAuthenticationSettings(settings);
  ASSERT_EQ(0, config_.setServerConfig(server));
  UserConfig user = userWith("alice", "", {authenticatorOf(10, kAliceSecretHex, 1)});
  EXPECT_EQ(1, otp_.offlineAuthenticateOtp(user, "000000"));
  EXPECT_EQ(1, otp_.offlineAuthenticateOtp(user, "000001"));
  EXPECT_EQ(2, otp_.offlineAuthenticateOtp(user, hotp(kAliceSecretHex, 0)));
  EXPECT_EQ(1, inspect(user.getAuthenticators()[0]).blocked);
}

// A command made here names the active mobile authenticators (what the app answers passes the
// check here: the services' offline QR-code test); hardware tokens only: 5107.
TEST_F(BusinessLogic, QrCommandMadeOnThisMachine) {
  store({userWith("alice", "alice@sim.example",
                  {authenticatorOf(10, kAliceSecretHex, 1001), authenticatorOf(10, kBobSecretHex, 1002, false)}),
         userWith("tom", "", {authenticatorOf(11, kAliceSecretHex, 0), authenticatorOf(12, kBobSecretHex, 0)})});
  std::string transactionId, json, command;
  std::uint8_t online = 7;
  ASSERT_EQ(0, qr_.generateCommandQRCode("ALICE", transactionId, json, command, online).getResultCode());
  EXPECT_EQ(0, online);
  EXPECT_EQ("", transactionId);
  AuthenticationSdk::QrCommand parsed;
  ASSERT_EQ(0, AuthenticationSdk::parseQrCommand(command, parsed)) << command;
  EXPECT_EQ(std::vector<std::uint32_t>({1001}), parsed.deviceIds);
  EXPECT_EQ(json, parsed.transactionJson);
  online = 7;
  EXPECT_EQ(5107, qr_.generateCommandQRCode("tom", transactionId, json, command, online).getResultCode());
  EXPECT_EQ(0, online);
}

// Mobile authenticators in order, hardware tokens passed over untouched; as for OTP the first
// that accepts takes its new state alone, refusals keep theirs; no mobile one is 5218.
TEST_F(BusinessLogic, OfflineQrKeepsOnlyTheStatesThatCount) {
  const AuthenticatorRecord token = authenticatorOf(11, kAliceSecretHex, 0);
  const AuthenticatorRecord first = authenticatorOf(10, kBobSecretHex, 1002);
  const AuthenticatorRecord second = authenticatorOf(10, kAliceSecretHex, 1001);
  UserConfig user = userWith("alice", "", {token, first, second});
  std::string json, command;
  ASSERT_EQ(0, qr_.offlineGenerateCommandQRCode(user, "", json, command));
  EXPECT_EQ(1, qr_.offlineAuthenticateQRCode(user, "", json, otherThan(qrAnswer(second.getBlob(), command))));
  EXPECT_EQ(token, user.getAuthenticators()[0]);
  EXPECT_EQ(1, inspect(user.getAuthenticators()[1]).failedAttempts);
  EXPECT_EQ(1, inspect(user.getAuthenticators()[2]).failedAttempts);
  UserConfig fresh = userWith("alice", "", {token, first, second});
  EXPECT_EQ(0, qr_.offlineAuthenticateQRCode(fresh, "", json, qrAnswer(second.getBlob(), command)));
  EXPECT_EQ(first, fresh.getAuthenticators()[1]);
  UserConfig tokensOnly = userWith("alice", "", {token});
  EXPECT_EQ(5218, qr_.offlineAuthenticateQRCode(tokensOnly, "", json, "123456"));
  EXPECT_EQ(token, tokensOnly.getAuthenticators()[0]);
}

// Every screen's reply: its type and last factor, the map with any of the three factors that
// is missing added as off (the forgot-token screens keep the map as given and switch the
// remember and forgot options off), and the server's switches.
TEST_F(BusinessLogic, EveryScreenReply) {
  const AuthFactorMap given = {{"push", true}};
  const AuthFactorMap filled = {{"otp", false}, {"push", true}, {"qrcode", false}};
  std::uint16_t type[6] = {};
  std::string text[6];
  ASSERT_EQ(0, otp_.genResponseAuthOTP("alice", "secret pw", 1, given, &type[0], text[0]));
  ASSERT_EQ(0, push_.genResponseSendPush("alice", "secret pw", 1, given, &type[1], text[1]));
  ASSERT_EQ(0, qr_.genResponseGenCmdQRCode("alice", "secret pw", 1, given, type[2], text[2]));
  ASSERT_EQ(0, qr_.genResponseAuthQRCode("alice", "secret pw", 1, given, "", "", "c", 1, type[3], text[3]));
  ASSERT_EQ(0, forgot_.genResponseActiveForgotAuthenticator("alice", "secret pw", 1, "otp", given, type[4], text[4]));
  ASSERT_EQ(0,
            forgot_.genResponseAuthForgotAuthenticator("alice", "secret pw", 1, "password", given, type[5], text[5]));
  const struct {
    std::uint16_t type;
    const char* last;
    bool forgot;
  } expected[] = {{2, "otp", false},    {5, "push", false}, {3, "qrcode", false},
                  {4, "qrcode", false}, {6, "otp", true},   {7, "push", true}};
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(expected[i].type);
    EXPECT_EQ(expected[i].type, type[i]);
    const auto reply = parsed<ServiceResponseBase>(text[i]);
    EXPECT_EQ(expected[i].last, reply.getLastAuthType());
    EXPECT_EQ(expected[i].forgot ? given : filled, reply.getAuthTypes());
    EXPECT_EQ(!expected[i].forgot, reply.getCheckRememberPassword());
    EXPECT_FALSE(reply.getEnableRememberPassword());
    EXPECT_EQ(!expected[i].forgot, reply.getEnableForgotAuthenticator());
  }
}

// The challenge: six digits, the first and fourth never 0, new for every activation screen.
TEST_F(BusinessLogic, ForgotTokenChallenge) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) seen.insert(KvBusinessForgotAuthenticator::generateChallenge());
  EXPECT_GT(seen.size(), 190u);
  for (const std::string& c : seen)
    EXPECT_TRUE(c.size() == 6 && c.find_first_not_of("0123456789") == std::string::npos && c[0] != '0' && c[3] != '0')
        << c;
}

// The administrator's code holds for the stored login, the hours and the challenge it was given
// for; lengths are checked first (code 6, challenge 1-10).
TEST_F(BusinessLogic, OfflineActivationAcceptsTheAdministratorsCodeForItsUserPeriodAndChallengeOnly) {
  store({userWith("alice", "alice@sim.example", {authenticatorOf(10, kAliceSecretHex, 1001)})});
  const UserConfig alice = stored("alice");
  const std::string code = adminCode("alice", 8, "123456");
  // Each row: user, hours, challenge, code, result.
  const std::tuple<UserConfig, std::uint32_t, std::string, std::string, std::uint16_t> rows[] = {
      {alice, 8, "123456", code, 0},
      {alice, 9, "123456", code, 1},
      {alice, 8, "123457", code, 1},
      {userWith("bob", "", {}), 8, "123456", code, 1},
      {alice, 8, "123456", "12345", 5030},
      {alice, 8, "123456", "1234567", 5030},
      {alice, 8, "12345678901", "123456", 5037},
      {alice, 8, "", "123456", 5037},
      {alice, 8, "12", adminCode("alice", 8, "12"), 0},
  };
  for (const auto& [user, hours, challenge, code, result] : rows)
    EXPECT_EQ(result, forgot_.offlineAuthenticateActiveForgotAuthenticator(user, hours, challenge, code))
        << user.getUserLogin() << " " << hours << " " << challenge << " " << code;
}

// An offline grant runs from now for the hours given, held within the FILETIME range (what it
// stores: the services' offline activation test).
TEST_F(BusinessLogic, OfflineGrantEnd) {
  const std::uint64_t now = 133000000000000000ull, max = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t hour = KvBusinessForgotAuthenticator::kFileTimeHour;
  EXPECT_EQ(now + 24 * hour, KvBusinessForgotAuthenticator::fallbackExpirationAfter(now, 24));
  EXPECT_EQ(now - hour, KvBusinessForgotAuthenticator::fallbackExpirationAfter(now, -1));
  EXPECT_EQ(max, KvBusinessForgotAuthenticator::fallbackExpirationAfter(now, std::numeric_limits<std::int32_t>::max()));
  EXPECT_EQ(max, KvBusinessForgotAuthenticator::fallbackExpirationAfter(max - 10, 1));
  EXPECT_EQ(0u, KvBusinessForgotAuthenticator::fallbackExpirationAfter(now, std::numeric_limits<std::int32_t>::min()));
}

// The normal screen: an unknown user gets the push screen with defaults, a stored one (found
// by e-mail too) its stored login and remembered password. Only the exact names "qrcode" and "otp" choose their
// screens; a command made here has no transaction, so the command screen.
TEST_F(BusinessLogic, NormalScreen) {
  UserConfig alice = userWith("alice", "alice@sim.example", {authenticatorOf(10, kAliceSecretHex, 1001)});
  ASSERT_EQ(0, alice.setPassword("remembered"));
  store({alice});
  setServerFlags(1, 1, 1);
  std::uint16_t type = 0;
  std::string text;
  for (const char* login : {"zoe", "ALICE@sim.example"}) {
    ASSERT_EQ(0, forgot_.loadUser(login, type, text));
    const auto reply = parsed<ServiceResponseBase>(text);
    EXPECT_EQ(5, type);  // every factor on, none used yet: the push screen
    EXPECT_EQ(login[0] == 'z' ? "" : "alice", reply.getUserLogin());
    EXPECT_EQ(login[0] == 'z' ? "" : "remembered", reply.getUserPassword());
  }
  const std::pair<const char*, std::uint16_t> screens[] = {{"QRCODE", 5}, {"password", 5}, {"otp", 2}, {"qrcode", 3}};
  for (const auto& screen : screens) {
    ASSERT_EQ(0, forgot_.genResponse("alice", "", false, screen.first, {{"qrcode", true}}, type, text));
    EXPECT_EQ(screen.second, type) << screen.first;
  }
}

}  // namespace
