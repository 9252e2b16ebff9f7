// The QR-code and forgot-token services against the cloud simulator (its default fixture,
// docs/cloudsim.md): commands from the service and the fall-back to offline, online checks
// and the configuration updates after them, online activation and what it records, and the
// synchronization of the forgot-token screen.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "Korvath/Model/CloudRecords.h"
#include "Korvath/Service/KvServiceForgotAuthenticator.h"
#include "Korvath/Service/KvServiceQRCode.h"
#include "ServicesTestSupport.h"

using Korvath::Model::KvResult;
using Korvath::Model::UserConfig;
using namespace Korvath::Service;
using namespace ServicesTest;

namespace {

// The simulator's alice, stored here with her mobile authenticator (same secret as there).
UserConfig storedAlice(bool qrcode = true, bool active = true) {
  UserConfig alice = user("alice", true, qrcode, true, "", {mobile(1001, active)});
  alice.setEmail("alice@sim.example");
  return alice;
}

class QrForgotSim : public ServiceSimTestBase {
 protected:
  std::uint16_t command(const std::string& login) {
    return KvServiceQRCode(&service_, &internet_).genCmdQRCode(baseRequest(login), type_, response_).getResultCode();
  }
  // The login of every authentication request the simulator received.
  std::vector<std::string> authenticationLogins() {
    std::vector<std::string> logins;
    for (const CloudTest::Recorded& r : recorded("/authentication")) {
      logins.push_back(parsed<Korvath::Model::RequestAuthentication>(r.opened).getUserAuthentication().getLogin());
    }
    return logins;
  }

  std::atomic<bool> internet_{true};
  std::uint16_t type_ = 0;
  std::string response_ = kUntouched;
};

// ================================================================== QR code

TEST_F(QrForgotSim, WhereTheCommandComesFrom) {
  const struct {
    const char* what;
    std::vector<UserConfig> users;
    bool internet;
    const char* fault;
    const char* reply;
    std::uint16_t code, type;
    bool online;  // the command came from the service (type 4 only)
    std::size_t asked;
  } cases[] = {
      {"online, stored", {storedAlice()}, true, "", "", 0, 4, true, 1},
      {"online, QR code switched off here", {storedAlice(false)}, true, "", "", 0, 4, true, 1},
      {"offline, stored", {storedAlice()}, false, "", "", 0, 4, false, 0},
      {"offline, no blobs here", {}, false, "", "", 0, 4, true, 1},
      {"the service's answer unreadable", {storedAlice()}, true,
       R"({"route":"transaction","status":200,"body":"not an envelope"})", "", 0, 4, false, 1},
      // Over-allocated: no offline command either.
      {"over-allocated", {storedAlice()}, true,
       R"({"route":"transaction","status":403,"body":"{\"errors\":[{\"code\":\"201015011\",\"message\":\"x\"}]}"})",
       "", 5106, 3, false, 1},
      {"no transaction identifier", {storedAlice()}, true, "",
       R"({"transactionStatus":"PENDING","transactionId":"","command":"KVQR1;x"})", 0, 3, false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(sim_->reset()) << sim_->lastError();
    serve(c.users);
    if (*c.fault) fault(c.fault);
    if (*c.reply) reply("transaction", 200, c.reply);
    internet_ = c.internet;
    EXPECT_EQ(c.code, command("alice"));
    EXPECT_EQ(c.type, type_);
    if (c.type == 4) {
      const ServiceResponseAuthQRCode shown = parsed<ServiceResponseAuthQRCode>(response_);
      EXPECT_EQ(c.online, shown.getOnLine());
      EXPECT_EQ(c.online ? 36u : 0u, shown.getTransactionId().size());
    } else {
      EXPECT_EQ("alice", parsed<ServiceResponseBase>(response_).getUserLogin());
    }
    EXPECT_EQ(c.asked, recorded("/transaction").size());
  }
}

TEST_F(QrForgotSim, OnlineChecksAndWhatTheyRecord) {
  const struct {
    const char* what;
    std::vector<UserConfig> users;
    const char* typed;
    bool right, unreachable;
    std::uint16_t code, type;
    const char* asked;  // the login the service was asked for
    std::size_t recordings;
  } cases[] = {
      {"right, typed by e-mail", {storedAlice()}, "ALICE@sim.example", true, false, 0, 10, "alice", 1},
      {"wrong", {storedAlice()}, "alice", false, false, 5113, 4, "alice", 1},
      {"service lost", {storedAlice()}, "alice", true, true, 5116, 4, "alice", 0},
      {"wrong, every authenticator blocked", {storedAlice(true, false)}, "Alice", false, false, 5113, 4, "Alice", 0},
      {"right, not stored yet", {}, "alice", true, false, 0, 10, "alice", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(sim_->reset()) << sim_->lastError();
    serve(c.users);
    ASSERT_EQ(0, command(c.typed));
    const ServiceResponseAuthQRCode shown = parsed<ServiceResponseAuthQRCode>(response_);
    ASSERT_TRUE(shown.getOnLine());
    if (c.unreachable) fault(R"({"route":"authentication","status":200,"body":"not an envelope"})");
    const std::string right = answerFor(mobile(1001).getBlob(), shown.getCommand());
    const KvResult result =
        KvServiceQRCode(&service_).checkQRCode(qrRequest(c.typed, c.right ? right : wrongCode(right), shown, true), type_,
                                               response_);
    EXPECT_EQ(c.code, result.getResultCode());
    EXPECT_EQ(c.right ? 0 : 202002012, result.getCloudErrorCode());
    EXPECT_EQ(c.type, type_);
    if (c.type == 4) {
      // The command again, for a new attempt.
      const ServiceResponseAuthQRCode again = parsed<ServiceResponseAuthQRCode>(response_);
      EXPECT_EQ(shown.getCommand(), again.getCommand());
      EXPECT_EQ(shown.getTransactionId(), again.getTransactionId());
      EXPECT_TRUE(again.getOnLine());
    }
    EXPECT_EQ(std::vector<std::string>({c.asked}), authenticationLogins());
    EXPECT_EQ(c.recordings, recorded("/config").size());
    if (c.right && !c.unreachable) {
      EXPECT_EQ("qrcode", saved("alice").getLastAuthType());
    }
  }
}

// ================================================================== forgot token

TEST_F(QrForgotSim, OnlineActivationRefusedThenAcceptedRecordsTheServicesExpiry) {
  serve({storedAlice()});
  KvServiceForgotAuthenticator forgot(&service_);
  const KvResult refused = forgot.checkActiveForgotAuthenticatorOnline(
      activationRequest("alice", 8, "123456", adminCode("alice", 9, "123456")), type_, response_);
  EXPECT_EQ(5113, refused.getResultCode());
  EXPECT_EQ(202006001, refused.getCloudErrorCode());
  EXPECT_FALSE(refused.getRequestId().empty());
  EXPECT_EQ(6, type_);
  EXPECT_EQ(6u, parsed<ServiceResponseActiveForgotAuthenticator>(response_).getChallenge().size());
  EXPECT_TRUE(recorded("/config").empty());

  ASSERT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("alice"), type_, response_, &internet_));
  ASSERT_EQ(6, type_);
  const std::string challenge = parsed<ServiceResponseActiveForgotAuthenticator>(response_).getChallenge();
  const KvResult accepted = forgot.checkActiveForgotAuthenticatorOnline(
      activationRequest("alice", 8, challenge, adminCode("alice", 8, challenge)), type_, response_);
  EXPECT_EQ(0, accepted.getResultCode());
  EXPECT_EQ(10, type_);
  EXPECT_TRUE(response_.empty());
  EXPECT_EQ(2u, recorded("/authenticationcode").size());
  // About eight hours from now on the local clock, whatever the simulator's clock says.
  const UserConfig stored = saved("alice");
  const std::uint64_t expiry = KvServiceForgotAuthenticator::effectiveExpiry(
      stored, service_.getConfig().getServerConfig().getTimeDifference());
  EXPECT_GT(expiry, clock_.nowFileTime() + 8 * kHour - 120 * 10000000ull);
  EXPECT_LT(expiry, clock_.nowFileTime() + 8 * kHour + 120 * 10000000ull);

  EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("alice"), type_, response_, &internet_));
  EXPECT_EQ(7, type_);
  EXPECT_EQ(0, forgot.checkForgotAuthenticator(baseRequest("alice"), type_, response_));
}

TEST_F(QrForgotSim, ScreenSynchronizesWhenDueAndAddsAUserNotStoredYet) {
  serve({storedAlice()});
  service_.getConfig().setLastSync(clock_.nowFileTime() - 25 * kHour);
  KvServiceForgotAuthenticator forgot(&service_);
  EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("alice"), type_, response_, &internet_));
  EXPECT_EQ(6, type_);
  EXPECT_EQ(1u, recorded("/config").size());
  EXPECT_TRUE(internet_.load());

  // bob is not stored: he is added from the service's answer, then shown the activation screen.
  EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("bob"), type_, response_, &internet_));
  EXPECT_EQ(6, type_);
  EXPECT_EQ(2u, recorded("/config").size());
  EXPECT_GE(service_.getConfig().getUserIndex("bob"), 0);
}

}  // namespace
