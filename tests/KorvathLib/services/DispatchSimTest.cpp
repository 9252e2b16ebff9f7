// The dispatcher, the push service and the OTP service against the simulator of the CTest
// fixture: what a push records for a new or a stored user after approval, denial, a failure
// to reach the service or a cancellation; online OTP and its fall-back to the offline check;
// and a push task running while the dialog thread uses the configuration.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

#include "CloudTestSupport.h"
#include "DispatchTestSupport.h"
#include "Korvath/HttpsExchange.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/Service/KvServiceOTP.h"
#include "Korvath/Service/KvServicePush.h"
#include "Korvath/Service/MfaAuthentication.h"
#include "Korvath/Service/ServiceMessages.h"
#include "ServicesTestSupport.h"

using Korvath::Model::AuthFactorMap;
using Korvath::Model::KvResult;
using Korvath::Model::UserConfig;
using Korvath::Service::KvService;
using Korvath::Service::MfaAuthentication;
using Korvath::Service::MfaAuthenticationRequest;
using namespace DispatchTest;
using namespace Korvath;
using namespace ServicesTest;

namespace {

class DispatchSim : public ServiceSimTestBase {
 protected:
  void SetUp() override {
    ServiceSimTestBase::SetUp();
    configPath_ = dir_.file("kvconfig.cfg");
  }
  void serve(const std::vector<UserConfig>& users) { fillService(service_, users); }

  // Decides every push made afterwards for `login` after `afterPolls` waiting answers.
  void planPush(const std::string& login, const std::string& decision, unsigned afterPolls = 0) {
    Cloud::HttpsExchange exchange;
    ASSERT_EQ(0u, exchange.open("localhost", port_, "POST", "/_sim/push",
                                {"Content-Type: application/json", "Accept: application/json"}));
    const Cloud::HttpsResult answer = exchange.sendAndReceive("{\"login\":" + CloudTest::quote(login) +
                                                              ",\"decision\":" + CloudTest::quote(decision) +
                                                              ",\"afterPolls\":" + std::to_string(afterPolls) + "}");
    ASSERT_TRUE(answer.answered());
    ASSERT_EQ(200u, answer.httpStatus) << answer.body;
  }
  void fault(const std::string& json) { ASSERT_TRUE(sim_->fault(json)) << sim_->lastError(); }

  KvResult sendPush(const std::string& login, std::uint16_t& type, std::string& response,
                    Utils::AutoTokenCancellationRelease* token = nullptr, bool autoSendPush = true) {
    Service::KvServicePush push(service_);
    Service::ServiceRequestBase message;
    message.setUserLogin(login);
    message.setAutoSendPush(autoSendPush);
    return push.sendPush(message, &type, response, token);
  }

  std::size_t configRequests() { return recorded("/config").size(); }

  KvService service_;
  std::string configPath_;
};

// ------------------------------------------------------------------------- push

TEST_F(DispatchSim, ApprovedPushOfAUserNotYetStoredAddsTheUser) {
  serve({userWithToken("alice", true, true, true)});
  planPush("bob", "approve", 2);
  std::uint16_t type = 0;
  std::string response = "old";
  const KvResult result = sendPush("bob", type, response, nullptr, false);
  EXPECT_EQ(0, result.getResultCode());
  EXPECT_EQ(10, type);
  EXPECT_EQ("", response);
  const UserConfig bob = storedUser(configPath_, "bob");
  EXPECT_EQ("bob", bob.getUserLogin());
  EXPECT_EQ("push", bob.getLastAuthType());
  // The dialog's configuration in memory is not the one the push task worked on.
  EXPECT_LT(service_.getConfig().getUserIndex("bob"), 0);
}

TEST_F(DispatchSim, ApprovedPushOfAStoredUserIsRecorded) {
  UserConfig alice = userWithToken("alice", true, true, true);
  alice.setFallbackExpiration(BizCoreTest::FakeClock::kStart + kHour);
  serve({alice});
  planPush("alice", "approve");
  std::uint16_t type = 0;
  std::string response;
  EXPECT_EQ(0, sendPush("alice", type, response).getResultCode());
  EXPECT_EQ(10, type);
  EXPECT_EQ(1u, configRequests());
  const UserConfig saved = storedUser(configPath_, "alice");
  EXPECT_EQ("push", saved.getLastAuthType());
  EXPECT_EQ(0u, saved.getFallbackExpiration());
}

TEST_F(DispatchSim, DeniedPushOfAStoredUserIsRecordedAndAnswersTheirPushScreen) {
  UserConfig alice = userWithToken("alice", true, false, true);
  alice.setFallbackExpiration(BizCoreTest::FakeClock::kStart + kHour);
  serve({alice});
  planPush("alice", "deny", 1);
  std::uint16_t type = 0;
  std::string response;
  EXPECT_EQ(KV_ERROR_DENIED_BY_USER, sendPush("alice", type, response).getResultCode());
  EXPECT_EQ(5, type);
  Service::ServiceResponseBase screen;
  ASSERT_EQ(0, screen.fillFromJson(response)) << response;
  EXPECT_EQ((AuthFactorMap{{"otp", true}, {"push", true}, {"qrcode", false}}), screen.getAuthTypes());
  EXPECT_EQ(1u, configRequests());
  // Recorded without ending a forgot-token period.
  const UserConfig saved = storedUser(configPath_, "alice");
  EXPECT_EQ("push", saved.getLastAuthType());
  EXPECT_EQ(alice.getFallbackExpiration(), saved.getFallbackExpiration());
}

TEST_F(DispatchSim, PushThatLosesTheServiceWith5116LeavesAStoredUserAlone) {
  serve({userWithToken("alice", true, true, true)});
  planPush("alice", "pending");
  // The service's own code for "unreachable" (201005003) maps to 5116.
  fault(
      "{\"route\":\"pushresult\",\"status\":400,"
      "\"body\":\"{\\\"errors\\\":[{\\\"code\\\":\\\"201005003\\\",\\\"message\\\":\\\"x\\\"}]}\"}");
  std::uint16_t type = 0;
  std::string response;
  EXPECT_EQ(KV_ERROR_SERVER_IS_UNREACHABLE, sendPush("alice", type, response).getResultCode());
  EXPECT_EQ(5, type);
  EXPECT_EQ(0u, configRequests());
}

TEST_F(DispatchSim, CancelledPushLeavesAStoredUserAlone) {
  serve({userWithToken("alice", true, true, true)});
  planPush("alice", "pending");
  Utils::AutoTokenCancellationRelease token;
  token.cancel();
  std::uint16_t type = 0;
  std::string response;
  EXPECT_EQ(KV_ERROR_WAITING_PUSH_RESULT, sendPush("alice", type, response, &token).getResultCode());
  EXPECT_EQ(5, type);
  EXPECT_EQ(0u, configRequests());
}

TEST_F(DispatchSim, ApprovalStandsForAUserWithEveryAuthenticatorBlockedWhateverTheRecordingSays) {
  serve({userWithToken("alice", true, true, true, false)});
  planPush("alice", "approve");
  fault("{\"route\":\"config\",\"status\":500,\"body\":\"\"}");
  std::uint16_t type = 0;
  std::string response;
  EXPECT_EQ(0, sendPush("alice", type, response).getResultCode());
  EXPECT_EQ(10, type);
  EXPECT_EQ(1u, configRequests());

  // With an active authenticator the failed recording is the push's result.
  service_.getConfig().setUsersConfig({userWithToken("alice", true, true, true, true)});
  const KvResult second = sendPush("alice", type, response);
  EXPECT_NE(0, second.getResultCode());
  EXPECT_EQ(10, type);
}

TEST_F(DispatchSim, ResourceGoneLearntByAPushTaskDisablesTheDialogAndSurvivesItsSaves) {
  serve({userWithToken("alice", true, true, true)});
  planPush("alice", "approve");
  // The exchange after the approval learns that the service no longer knows the resource.
  fault(
      "{\"route\":\"config\",\"status\":404,"
      "\"body\":\"{\\\"errors\\\":[{\\\"code\\\":\\\"201005012\\\",\\\"message\\\":\\\"x\\\"}]}\"}");
  std::uint16_t type = 0;
  std::string response;
  sendPush("alice", type, response);
  EXPECT_EQ(1u, configRequests());
  KvCrypto crypto;
  Config back;
  ASSERT_EQ(0, BizCoreTest::readBack(configPath_, crypto, back));
  ASSERT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, back.getLogonAppDisable());

  // The dialog thread sees it at once, not after an exchange of its own.
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, service_.checkLogonAppDisabled().getResultCode());
  // A save by the dialog does not write the old value back.
  {
    auto lock = service_.lockState();
    UserConfig alice = service_.getConfig().getUsersConfig().at(0);
    ASSERT_EQ(0, service_.getKvBusiness().saveConfigUserByUserConfig(alice, 0, std::string(), false, "otp", false));
  }
  ASSERT_EQ(0, BizCoreTest::readBack(configPath_, crypto, back));
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, back.getLogonAppDisable());
  // Every later factor is refused on the dialog thread too.
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, sendPush("alice", type, response).getResultCode());
  EXPECT_EQ(1u, configRequests());
}

TEST_F(DispatchSim, PushThroughTheDispatcherEndsInTheQueuedFuture) {
  serve({userWithToken("alice", true, true, true)});
  planPush("alice", "approve", 3);
  MfaAuthentication dispatcher(&service_);
  MfaAuthenticationRequest request;
  request.mode = Service::MFAAuthenticationPush;
  request.userLogin = "alice";
  Utils::AutoTokenCancellationRelease token;
  const std::uint32_t index = dispatcher.authenticateAsync(request, token);
  ASSERT_EQ(0u, index);
  EXPECT_EQ(0, service_.getFutures().at(index).get().getResultCode());
  std::uint8_t taskIndex = static_cast<std::uint8_t>(index);
  service_.eraseFutureTaskByIndex(taskIndex);
  EXPECT_TRUE(service_.getFutures().empty());
  EXPECT_EQ("push", storedUser(configPath_, "alice").getLastAuthType());
}

// The dialog thread keeps reading and saving the configuration while a push task polls and
// then records its outcome: neither disturbs the other's memory, and both changes reach the
// file (run under the sanitizers; a ThreadSanitizer build shows no race).
TEST_F(DispatchSim, PushTaskAndDialogThreadUseTheConfigurationAtOnce) {
  UserConfig zed = user("zed", true, false, false);
  zed.setAutoSendPush(false);
  serve({userWithToken("alice", true, true, true), zed});
  ASSERT_EQ(0, service_.getConfig().writeFile());
  planPush("alice", "approve", 12);

  MfaAuthentication dispatcher(&service_);
  MfaAuthenticationRequest request;
  request.mode = Service::MFAAuthenticationPush;
  request.userLogin = "alice";
  Utils::AutoTokenCancellationRelease token;
  const std::uint32_t index = dispatcher.authenticateAsync(request, token);
  ASSERT_EQ(0u, index);
  std::shared_future<KvResult>& push = service_.getFutures().at(index);

  unsigned rounds = 0;
  do {
    Service::ServiceResponseBase view;
    EXPECT_EQ(0, service_.loadUserConfig("alice", view));
    AuthFactorMap factors;
    std::string lastAuthType;
    service_.getUserAuthFactors("zed", factors, lastAuthType, false);
    EXPECT_EQ("push", lastAuthType);
    {
      auto lock = service_.lockState();
      EXPECT_EQ(0, service_.getKvBusiness().updateAutoSendPushOptionByUserName("zed", rounds % 2 == 0).getResultCode());
    }
    ++rounds;
  } while (push.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready);
  EXPECT_EQ(0, push.get().getResultCode());
  {
    auto lock = service_.lockState();
    EXPECT_EQ(0, service_.getKvBusiness().updateAutoSendPushOptionByUserName("zed", true).getResultCode());
  }

  EXPECT_EQ("push", storedUser(configPath_, "alice").getLastAuthType());
  EXPECT_TRUE(storedUser(configPath_, "zed").getAutoSendPush());
}

// ------------------------------------------------------------------------- OTP

TEST_F(DispatchSim, OnlineOtpAcceptedForAStoredUserIsRecorded) {
  serve({userWithToken("alice", true, true, true)});
  Service::KvServiceOTP otp(&service_);
  Service::ServiceRequestAuthOTP message;
  message.setUserLogin("Alice@Sim.Example");
  message.setAuthData(codeOfSimAlice(0));
  std::uint16_t type = 0;
  std::string response = "old";
  // A login the configuration knows only by a different case is still that user.
  service_.getConfig().setUsersConfig({[] {
    UserConfig u = userWithToken("alice", true, true, true);
    u.setEmail("alice@sim.example");
    return u;
  }()});
  EXPECT_EQ(0, otp.checkOTPOnline(message, type, response).getResultCode());
  EXPECT_EQ(10, type);
  EXPECT_EQ("", response);
  EXPECT_EQ("otp", storedUser(configPath_, "alice").getLastAuthType());
}

TEST_F(DispatchSim, OnlineOtpRefusedAnswersTheOtpScreenAndIsRecorded) {
  serve({userWithToken("alice", false, true, true)});
  Service::KvServiceOTP otp(&service_);
  Service::ServiceRequestAuthOTP message;
  message.setUserLogin("alice");
  message.setAuthData(codeOfSimAlice(0) == "000000" ? "111111" : "000000");
  std::uint16_t type = 0;
  std::string response;
  const KvResult result = otp.checkOTPOnline(message, type, response);
  EXPECT_NE(0, result.getResultCode());
  EXPECT_NE(0, result.getCloudErrorCode());
  EXPECT_EQ(2, type);
  Service::ServiceResponseAuthOTP screen;
  ASSERT_EQ(0, screen.fillFromJson(response)) << response;
  EXPECT_EQ((AuthFactorMap{{"otp", true}, {"push", false}, {"qrcode", true}}), screen.getAuthTypes());
  EXPECT_EQ(1u, configRequests());
}

TEST_F(DispatchSim, OnlineOtpOfAUserNotYetStoredAddsTheUser) {
  serve({userWithToken("alice", true, true, true)});
  MfaAuthentication dispatcher(&service_);
  MfaAuthenticationRequest request;
  request.mode = Service::MFAAuthenticationOTP;
  request.userLogin = "alice";
  request.authData = codeOfSimAlice(0);
  service_.getConfig().setUsersConfig({});
  EXPECT_EQ(0, dispatcher.authenticate(request).getResultCode());
  EXPECT_EQ("otp", storedUser(configPath_, "alice").getLastAuthType());
}

TEST_F(DispatchSim, Online5116SparesTheRecordAndTheDispatcherChecksOffline) {
  serve({userWithToken("alice", true, true, true)});
  setOffline(service_, 1);
  fault("{\"route\":\"authentication\",\"status\":200,\"body\":\"not an envelope\"}");

  Service::KvServiceOTP otp(&service_);
  Service::ServiceRequestAuthOTP message;
  message.setUserLogin("alice");
  message.setAuthData(codeOfTestBlob(0));
  std::uint16_t type = 0;
  std::string response;
  EXPECT_EQ(KV_ERROR_SERVER_IS_UNREACHABLE, otp.checkOTPOnline(message, type, response).getResultCode());
  EXPECT_EQ(0u, configRequests());

  MfaAuthentication dispatcher(&service_);
  MfaAuthenticationRequest request;
  request.mode = Service::MFAAuthenticationOTP;
  request.userLogin = "alice";
  request.authData = codeOfTestBlob(0);
  EXPECT_EQ(0, dispatcher.authenticate(request).getResultCode());
  EXPECT_EQ(0u, configRequests());
  EXPECT_EQ("otp", storedUser(configPath_, "alice").getLastAuthType());
}

}  // namespace
