// The QR-code and forgot-token services against the cloud simulator (its default fixture,
// docs/cloudsim.md): commands from the service and the fall-back to offline, online checks
// and the configuration updates after them, online activation and what it records, and the
// synchronization of the forgot-token screen.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "AuthenticationSdk/OfflineAuthentication.h"
#include "Korvath/Model/CloudRecords.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvServiceForgotAuthenticator.h"
#include "Korvath/Service/KvServiceQRCode.h"
#include "QrForgotServiceTestSupport.h"

using Korvath::Model::KvResult;
using Korvath::Model::UserConfig;
using Korvath::Service::KvService;
using Korvath::Service::KvServiceForgotAuthenticator;
using Korvath::Service::KvServiceQRCode;
using namespace Korvath;
using namespace Korvath::Service;
using namespace QrForgotServiceTest;
using ServicesTest::kHour;

namespace {

// The simulator's alice, stored here with her mobile authenticator (same secret as there).
UserConfig storedAlice(bool qrcode = true, bool active = true) {
  UserConfig alice = qrUser("alice", true, qrcode, true, {mobile(1001, active)});
  alice.setEmail("alice@sim.example");
  return alice;
}

class QrForgotSim : public ServicesTest::ServiceSimTestBase {
 protected:
  void makeService(const std::vector<UserConfig>& users) {
    service_.reset(new KvService());
    fillQrForgotService(*service_, dir_.file("kvconfig.cfg"), users);
    service_->getConfig().setLastSync(clock_.nowFileTime());
    internet_ = true;
  }
  void fault(const std::string& json) { ASSERT_TRUE(sim_->fault(json)) << sim_->lastError(); }

  // A command from the service for `login`.
  ServiceResponseAuthQRCode onlineCommand(const std::string& login) {
    KvServiceQRCode qr(service_.get(), &internet_);
    EXPECT_EQ(0, qr.genCmdQRCode(baseRequest(login), responseType_, response_).getResultCode());
    EXPECT_EQ(4, responseType_);
    const ServiceResponseAuthQRCode shown = qrResponse(response_);
    EXPECT_TRUE(shown.getOnLine());
    EXPECT_EQ(36u, shown.getTransactionId().size());
    return shown;
  }
  // The login of every authentication request the simulator received.
  std::vector<std::string> authenticationLogins() {
    std::vector<std::string> logins;
    for (const CloudTest::Recorded& r : recorded("/authentication")) {
      Model::RequestAuthentication request;
      EXPECT_EQ(0, request.fillFromJson(r.opened)) << r.opened;
      logins.push_back(request.getUserAuthentication().getLogin());
    }
    return logins;
  }

  std::unique_ptr<KvService> service_;
  std::atomic<bool> internet_{true};
  std::uint16_t responseType_ = 0;
  std::string response_ = kUntouched;
};

// ================================================================== QR code: commands

TEST_F(QrForgotSim, OnlineCommandIsAnsweredAndCheckedAtTheServiceWithTheStoredLogin) {
  makeService({storedAlice()});
  const ServiceResponseAuthQRCode shown = onlineCommand("ALICE@sim.example");
  ASSERT_EQ(1u, recorded("/transaction").size());
  const std::string answer = answerFor(mobile(1001).getBlob(), shown.getCommand());

  KvServiceQRCode qr(service_.get());
  const KvResult result = qr.checkQRCode(qrRequest("ALICE@sim.example", answer, shown, true), responseType_, response_);
  EXPECT_EQ(0, result.getResultCode());
  EXPECT_EQ(10, responseType_);
  EXPECT_TRUE(response_.empty());
  // The service was asked for the login it knows; the update found the user by the typed e-mail.
  EXPECT_EQ(std::vector<std::string>({"alice"}), authenticationLogins());
  EXPECT_EQ(1u, recorded("/config").size());
  EXPECT_EQ("qrcode", savedUser(dir_.file("kvconfig.cfg"), "alice").getLastAuthType());
}

TEST_F(QrForgotSim, OfflineDialogMakesTheCommandHereAndAsksTheServiceOnlyForAnUnknownLogin) {
  makeService({storedAlice()});
  internet_ = false;
  KvServiceQRCode qr(service_.get(), &internet_);
  EXPECT_EQ(0, qr.genCmdQRCode(baseRequest("alice"), responseType_, response_).getResultCode());
  EXPECT_FALSE(qrResponse(response_).getOnLine());
  EXPECT_TRUE(recorded().empty());

  // No blobs here for a login the configuration does not hold: its command comes from the service.
  ASSERT_EQ(0, service_->getConfig().setUsersConfig({}));
  EXPECT_EQ(0, qr.genCmdQRCode(baseRequest("alice"), responseType_, response_).getResultCode());
  const ServiceResponseAuthQRCode shown = qrResponse(response_);
  EXPECT_TRUE(shown.getOnLine());
  EXPECT_EQ(36u, shown.getTransactionId().size());
  EXPECT_EQ(1u, recorded("/transaction").size());
}

TEST_F(QrForgotSim, OnlineCommandIsAskedForEvenWhenTheStoredQrCodeSwitchIsOff) {
  makeService({storedAlice(false)});
  onlineCommand("alice");
  EXPECT_EQ(1u, recorded("/transaction").size());
}

TEST_F(QrForgotSim, OverAllocatedUserGetsNoOfflineCommand) {
  makeService({storedAlice()});
  fault(
      R"({"route":"transaction","status":403,"body":"{\"errors\":[{\"code\":\"201015011\",\"message\":\"over\"}]}"})");
  KvServiceQRCode qr(service_.get(), &internet_);
  const KvResult result = qr.genCmdQRCode(baseRequest("alice"), responseType_, response_);
  EXPECT_EQ(KV_ERROR_USER_IS_OVER_ALLOCATED, result.getResultCode());
  EXPECT_EQ(3, responseType_);
  EXPECT_EQ("alice", baseResponse(response_).getUserLogin());
}

TEST_F(QrForgotSim, UnreadableServiceAnswerFallsBackToAnOfflineCommand) {
  makeService({storedAlice()});
  fault(R"({"route":"transaction","status":200,"body":"not an envelope"})");
  KvServiceQRCode qr(service_.get(), &internet_);
  const KvResult result = qr.genCmdQRCode(baseRequest("alice"), responseType_, response_);
  EXPECT_EQ(0, result.getResultCode());
  EXPECT_EQ(4, responseType_);
  const ServiceResponseAuthQRCode shown = qrResponse(response_);
  EXPECT_FALSE(shown.getOnLine());
  EXPECT_TRUE(shown.getTransactionId().empty());
  EXPECT_EQ(1u, recorded("/transaction").size());
}

TEST_F(QrForgotSim, OnlineCommandWithoutATransactionIdentifierIsTheCommandScreenWithResult0) {
  makeService({storedAlice()});
  reply("transaction", 200, R"({"transactionStatus":"PENDING","transactionId":"","command":"KVQR1;x"})");
  KvServiceQRCode qr(service_.get(), &internet_);
  EXPECT_EQ(0, qr.genCmdQRCode(baseRequest("alice"), responseType_, response_).getResultCode());
  EXPECT_EQ(3, responseType_);
  EXPECT_EQ("alice", baseResponse(response_).getUserLogin());
}

// ================================================================== QR code: checks

TEST_F(QrForgotSim, WrongAnswerOnlineUpdatesTheUserAndShowsTheCommandAgain) {
  makeService({storedAlice()});
  const ServiceResponseAuthQRCode shown = onlineCommand("alice");
  KvServiceQRCode qr(service_.get());
  const KvResult result = qr.checkQRCode(qrRequest("alice", "000000", shown, true), responseType_, response_);
  EXPECT_EQ(KV_ERROR_FAIL_AUTHENTICATION, result.getResultCode());
  EXPECT_EQ(202002012, result.getCloudErrorCode());
  EXPECT_FALSE(result.getRequestId().empty());
  EXPECT_EQ(4, responseType_);
  const ServiceResponseAuthQRCode again = qrResponse(response_);
  EXPECT_EQ(shown.getCommand(), again.getCommand());
  EXPECT_EQ(shown.getTransactionId(), again.getTransactionId());
  EXPECT_TRUE(again.getOnLine());
  EXPECT_EQ(1u, recorded("/config").size());
}

TEST_F(QrForgotSim, UnreachableServiceDuringTheCheckUpdatesNothing) {
  makeService({storedAlice()});
  const ServiceResponseAuthQRCode shown = onlineCommand("alice");
  fault(R"({"route":"authentication","status":200,"body":"not an envelope"})");
  KvServiceQRCode qr(service_.get());
  const std::string answer = answerFor(mobile(1001).getBlob(), shown.getCommand());
  const KvResult result = qr.checkQRCode(qrRequest("alice", answer, shown, true), responseType_, response_);
  EXPECT_EQ(KV_ERROR_SERVER_IS_UNREACHABLE, result.getResultCode());
  EXPECT_EQ(4, responseType_);
  EXPECT_EQ(shown.getCommand(), qrResponse(response_).getCommand());
  EXPECT_TRUE(recorded("/config").empty());
}

TEST_F(QrForgotSim, UserWithEveryAuthenticatorBlockedIsCheckedWithTheTypedLoginAndNotUpdatedOnFailure) {
  makeService({storedAlice(true, false)});
  const ServiceResponseAuthQRCode shown = onlineCommand("Alice");
  KvServiceQRCode qr(service_.get());
  const KvResult result = qr.checkQRCode(qrRequest("Alice", "000000", shown, true), responseType_, response_);
  EXPECT_EQ(KV_ERROR_FAIL_AUTHENTICATION, result.getResultCode());
  EXPECT_EQ(4, responseType_);
  EXPECT_EQ(std::vector<std::string>({"Alice"}), authenticationLogins());
  EXPECT_TRUE(recorded("/config").empty());
}

TEST_F(QrForgotSim, LoginUnknownHereIsAddedAfterAnAcceptedOnlineCheck) {
  makeService({});
  const ServiceResponseAuthQRCode shown = onlineCommand("alice");
  KvServiceQRCode qr(service_.get());
  const std::string answer = answerFor(mobile(1001).getBlob(), shown.getCommand());
  EXPECT_EQ(0, qr.checkQRCode(qrRequest("alice", answer, shown, true), responseType_, response_).getResultCode());
  EXPECT_EQ(10, responseType_);
  EXPECT_GE(service_->getConfig().getUserIndex("alice"), 0);
  EXPECT_EQ("qrcode", savedUser(dir_.file("kvconfig.cfg"), "alice").getLastAuthType());
}

// ================================================================== forgot token

TEST_F(QrForgotSim, AcceptedOnlineActivationRecordsTheServicesExpiryAndOpensTheSignIn) {
  makeService({storedAlice()});
  KvServiceForgotAuthenticator forgot(service_.get());
  ASSERT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("alice"), responseType_, response_, &internet_));
  ASSERT_EQ(6, responseType_);
  const std::string challenge = activationResponse(response_).getChallenge();

  const KvResult result = forgot.checkActiveForgotAuthenticatorOnline(
      activationRequest("alice", 8, challenge, adminCode("alice", 8, challenge)), responseType_, response_);
  EXPECT_EQ(0, result.getResultCode());
  EXPECT_EQ(10, responseType_);
  EXPECT_TRUE(response_.empty());
  EXPECT_EQ(1u, recorded("/authenticationcode").size());
  const UserConfig saved = savedUser(dir_.file("kvconfig.cfg"), "alice");
  EXPECT_NE(0u, saved.getAuthenticatorForgottenExpiryTimestamp());
  // About eight hours from now on the local clock, whatever the simulator's clock says.
  const std::uint64_t expiry =
      KvServiceForgotAuthenticator::effectiveExpiry(saved, service_->getConfig().getServerConfig().getTimeDifference());
  EXPECT_GT(expiry, clock_.nowFileTime() + 8 * kHour - 120 * 10000000ull);
  EXPECT_LT(expiry, clock_.nowFileTime() + 8 * kHour + 120 * 10000000ull);

  EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("alice"), responseType_, response_, &internet_));
  EXPECT_EQ(7, responseType_);
  EXPECT_EQ(0, forgot.checkForgotAuthenticator(baseRequest("alice"), responseType_, response_));
}

TEST_F(QrForgotSim, RefusedOnlineActivationKeepsTheServicesErrorAndShowsANewCode) {
  makeService({storedAlice()});
  KvServiceForgotAuthenticator forgot(service_.get());
  const KvResult result = forgot.checkActiveForgotAuthenticatorOnline(
      activationRequest("alice", 8, "123456", adminCode("alice", 9, "123456")), responseType_, response_);
  EXPECT_EQ(KV_ERROR_FAIL_AUTHENTICATION, result.getResultCode());
  EXPECT_EQ(202006001, result.getCloudErrorCode());
  EXPECT_FALSE(result.getRequestId().empty());
  EXPECT_EQ(6, responseType_);
  EXPECT_EQ(6u, activationResponse(response_).getChallenge().size());
  EXPECT_TRUE(recorded("/config").empty());
}

TEST_F(QrForgotSim, ScreenSynchronizesWhenDueAndAddsAUserNotStoredYet) {
  makeService({storedAlice()});
  service_->getConfig().setLastSync(clock_.nowFileTime() - 25 * kHour);
  KvServiceForgotAuthenticator forgot(service_.get());
  EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("alice"), responseType_, response_, &internet_));
  EXPECT_EQ(6, responseType_);
  EXPECT_EQ(1u, recorded("/config").size());
  EXPECT_TRUE(internet_.load());

  // bob is not stored: he is added from the service's answer, then shown the activation screen.
  EXPECT_EQ(0, forgot.getForgotAuthenticatorScreen(baseRequest("bob"), responseType_, response_, &internet_));
  EXPECT_EQ(6, responseType_);
  EXPECT_EQ(2u, recorded("/config").size());
  EXPECT_GE(service_->getConfig().getUserIndex("bob"), 0);
}

}  // namespace
