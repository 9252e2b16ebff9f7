// The dispatcher, the push service and the OTP service against the simulator of the CTest
// fixture: what a push records for a new or a stored user after approval, denial, a failure
// to reach the service or a cancellation; online OTP and its fall-back to the offline check;
// and a push task running while the dialog thread uses the configuration.

#include <chrono>
#include <future>
#include <tuple>

#include "Korvath/HttpsExchange.h"
#include "Korvath/Model/CloudRecords.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvServiceOTP.h"
#include "Korvath/Service/KvServicePush.h"
#include "Korvath/Service/MfaAuthentication.h"
#include "ServicesTestSupport.h"

using Korvath::Model::AuthFactorMap;
using Korvath::Model::KvResult;
using Korvath::Model::UserConfig;
using Korvath::Service::MfaAuthentication;
using Korvath::Service::MfaAuthenticationRequest;
using namespace Korvath;
using namespace ServicesTest;

namespace {

// The service's own code for "unreachable" (201005003, mapped to 5116) and for "resource not found".
const char* const kUnreachable =
    R"({"route":"pushresult","status":400,"body":"{\"errors\":[{\"code\":\"201005003\",\"message\":\"x\"}]}"})";
const char* const kResourceGone =
    R"({"route":"config","status":404,"body":"{\"errors\":[{\"code\":\"201005012\",\"message\":\"x\"}]}"})";

class DispatchSim : public ServiceSimTestBase {
 protected:
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

  KvResult sendPush(const std::string& login, Utils::AutoTokenCancellationRelease* token = nullptr) {
    return Service::KvServicePush(service_).sendPush(baseRequest(login), &type_, response_, token);
  }

  std::size_t configRequests() { return recorded("/config").size(); }
};

// ------------------------------------------------------------------------- push

TEST_F(DispatchSim, WhatAPushRecords) {
  const char* const recordingFails = R"({"route":"config","status":500,"body":""})";
  // Login, every authenticator blocked, decision, fault, cancelled, code, type, recording (0 none,
  // 1 saved, 2 refused by the service), a forgot-token period ended. A failure answers the user's
  // push screen with their own factors. With every authenticator blocked an approval stands
  // whatever the recording says; otherwise a failed recording is the push's result.
  const std::tuple<const char*, bool, const char*, const char*, bool, int, int, int, bool> cases[] = {
      {"bob", false, "approve", "", false, 0, 10, 1, true},  // not stored yet: added
      {"alice", false, "approve", "", false, 0, 10, 1, true},
      {"alice", false, "deny", "", false, KV_ERROR_DENIED_BY_USER, 5, 1, false},
      {"alice", false, "pending", kUnreachable, false, KV_ERROR_SERVER_IS_UNREACHABLE, 5, 0, false},
      {"alice", false, "pending", "", true, KV_ERROR_WAITING_PUSH_RESULT, 5, 0, false},
      {"alice", true, "approve", recordingFails, false, 0, 10, 2, false},
      {"alice", false, "approve", recordingFails, false, 5114, 10, 2, false}};
  for (const auto& [login, blocked, decision, fault, cancel, code, type, recording, periodEnded] : cases) {
    SCOPED_TRACE(std::string(login) + (blocked ? " blocked " : " ") + decision + fault + (cancel ? " cancelled" : ""));
    ASSERT_TRUE(sim_->reset()) << sim_->lastError();
    UserConfig alice = user("alice", true, false, true, "otp", {mobile(1001, !blocked)});
    alice.setFallbackExpiration(BizCoreTest::FakeClock::kStart + kHour);
    serve({alice});
    ASSERT_EQ(0, service_.getConfig().writeFile());
    planPush(login, decision, 1);
    if (*fault) this->fault(fault);
    Utils::AutoTokenCancellationRelease token;
    if (cancel) token.cancel();
    EXPECT_EQ(code, sendPush(login, &token).getResultCode());
    EXPECT_EQ(type, type_);
    EXPECT_EQ(type_ == 10 ? "" : "otp push",
              type_ == 10 ? response_ : enabledFactors(parsed<Service::ServiceResponseBase>(response_).getAuthTypes()));
    EXPECT_EQ(recording ? 1u : 0u, configRequests());
    const UserConfig stored = saved(login);
    EXPECT_EQ(recording == 1 ? "push" : "otp", stored.getLastAuthType());
    EXPECT_EQ(periodEnded ? 0u : alice.getFallbackExpiration(), stored.getFallbackExpiration());
  }
}

TEST_F(DispatchSim, ResourceGoneLearntByAPushTaskDisablesTheDialogAndSurvivesItsSaves) {
  serve({user("alice", true, true, true, "", {mobile(1001)})});
  planPush("alice", "approve");
  // The exchange after the approval learns that the service no longer knows the resource.
  fault(kResourceGone);
  sendPush("alice");
  EXPECT_EQ(1u, configRequests());
  Config back;
  ASSERT_EQ(0, BizCoreTest::readBack(configPath_, crypto_, back));
  ASSERT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, back.getLogonAppDisable());

  // The dialog thread sees it at once, not after an exchange of its own.
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, service_.checkLogonAppDisabled().getResultCode());
  // A save by the dialog does not write the old value back.
  {
    auto lock = service_.lockState();
    UserConfig alice = service_.getConfig().getUsersConfig().at(0);
    ASSERT_EQ(0, service_.getKvBusiness().saveConfigUserByUserConfig(alice, 0, std::string(), false, "otp", false));
  }
  ASSERT_EQ(0, BizCoreTest::readBack(configPath_, crypto_, back));
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, back.getLogonAppDisable());
  // Every later factor is refused on the dialog thread too.
  EXPECT_EQ(KV_ERROR_KV_RESOURCE_NOT_FOUND, sendPush("alice").getResultCode());
  EXPECT_EQ(1u, configRequests());
}

// The dialog thread keeps reading and saving the configuration while a push task polls and
// then records its outcome: neither disturbs the other's memory, and both changes reach the
// file (run under the sanitizers; a ThreadSanitizer build shows no race).
TEST_F(DispatchSim, PushTaskAndDialogThreadUseTheConfigurationAtOnce) {
  UserConfig zed = user("zed", true, false, false);
  zed.setAutoSendPush(false);
  serve({user("alice", true, true, true, "", {mobile(1001)}), zed});
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

  EXPECT_EQ("push", saved("alice").getLastAuthType());
  EXPECT_TRUE(saved("zed").getAutoSendPush());
}

// ------------------------------------------------------------------------- OTP

TEST_F(DispatchSim, OnlineOtp) {
  // Typed, stored, right code, service lost, code, type, recorded (one configuration request).
  // A stored user is asked for by the stored login, whatever form was typed; a failure answers
  // the OTP screen with the user's own factors.
  const std::tuple<const char*, bool, bool, bool, int, int, bool> cases[] = {
      {"Alice@Sim.Example", true, true, false, 0, 10, true},
      {"alice", true, false, false, 5113, 2, true},
      {"alice", false, true, false, 0, 10, true},  // not stored yet: added
      {"alice", true, true, true, KV_ERROR_SERVER_IS_UNREACHABLE, 2, false}};
  for (const auto& [typed, stored, right, lost, expected, expectedType, recorded] : cases) {
    SCOPED_TRACE(std::string(typed) + (stored ? " stored" : "") + (right ? " right" : "") + (lost ? " lost" : ""));
    ASSERT_TRUE(sim_->reset()) << sim_->lastError();
    UserConfig alice = user("alice", false, true, true, "", {mobile(1001)});
    alice.setEmail("alice@sim.example");
    serve(stored ? std::vector<UserConfig>{alice} : std::vector<UserConfig>{});
    if (lost) fault(R"({"route":"authentication","status":200,"body":"not an envelope"})");
    const std::string code = right ? otpCode(0) : wrongCode(otpCode(0));
    const KvResult result = Service::KvServiceOTP(&service_).checkOTPOnline(otpRequest(typed, code), type_, response_);
    EXPECT_EQ(expected, result.getResultCode());
    EXPECT_EQ(expectedType, type_);
    EXPECT_EQ(
        type_ == 10 ? "" : "otp qrcode",
        type_ == 10 ? response_ : enabledFactors(parsed<Service::ServiceResponseAuthOTP>(response_).getAuthTypes()));
    EXPECT_EQ(recorded ? 1u : 0u, configRequests());
    EXPECT_EQ(recorded ? "otp" : "", saved("alice").getLastAuthType());
    const auto checks = this->recorded("/authentication");
    EXPECT_EQ("alice", parsed<Model::RequestAuthentication>(checks.at(0).opened).getUserAuthentication().getLogin());
    if (!lost) continue;
    // The dispatcher then checks the stored blobs: the same code passes here.
    MfaAuthenticationRequest request;
    request.mode = Service::MFAAuthenticationOTP;
    request.userLogin = "alice";
    request.authData = code;
    EXPECT_EQ(0, MfaAuthentication(&service_).authenticate(request).getResultCode());
    EXPECT_EQ(0u, configRequests());
    EXPECT_EQ("otp", saved("alice").getLastAuthType());
  }
}

}  // namespace
