// The dispatcher's QR-code and forgot-token modes carried through to their services on this
// machine (the deployment values point at a closed loopback port): what a panel hands over
// reaches the service intact, and the service's response is read back as the message it names.

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/Service/KvServiceQRCode.h"
#include "Korvath/Service/MfaAuthentication.h"
#include "QrForgotServiceTestSupport.h"
#include "ServicesTestSupport.h"

using Korvath::Model::KvResult;
using Korvath::Service::KvService;
using Korvath::Service::MfaAuthentication;
using Korvath::Service::MfaAuthenticationRequest;
using namespace Korvath;
using namespace QrForgotServiceTest;

namespace {

class DispatchQrForgot : public ServicesTest::ServiceTestBase {
 protected:
  void SetUp() override {
    ServicesTest::ServiceTestBase::SetUp();
    configPath_ = dir_.file("kvconfig.cfg");
    alice_ = mobile(1001);
    fillQrForgotService(service_, configPath_, {qrUser("alice", true, true, true, {alice_})});
  }

  // The request the QR-code panel sends for a command made on this machine.
  MfaAuthenticationRequest qrRequestFromPanel() {
    std::atomic<bool> internet{false};
    Service::KvServiceQRCode qr(&service_, &internet);
    std::uint16_t type = 0;
    std::string response;
    EXPECT_EQ(0, qr.genCmdQRCode(baseRequest("alice"), type, response).getResultCode());
    const Service::ServiceResponseAuthQRCode shown = qrResponse(response);
    MfaAuthenticationRequest request;
    request.mode = Service::MFAAuthenticationQRCode;
    request.userLogin = "alice";
    request.command = shown.getCommand();
    request.transactionData = shown.getTransactionData().toJson();
    request.transactionId = shown.getTransactionId();
    request.onLine = shown.getOnLine();
    return request;
  }

  KvService service_;
  std::string configPath_;
  Model::AuthenticatorRecord alice_;
};

TEST_F(DispatchQrForgot, QrAnswerOfTheShownCommandPasses) {
  MfaAuthenticationRequest request = qrRequestFromPanel();
  ASSERT_FALSE(request.command.empty());
  request.authData = answerFor(alice_.getBlob(), request.command);
  MfaAuthentication dispatcher(&service_);
  EXPECT_EQ(0, dispatcher.authenticate(request).getResultCode());
  EXPECT_EQ("qrcode", savedUser(configPath_, "alice").getLastAuthType());
}

TEST_F(DispatchQrForgot, WrongQrAnswerKeepsTheServicesCodeAfterItsResponseIsRead) {
  MfaAuthenticationRequest request = qrRequestFromPanel();
  const std::string right = answerFor(alice_.getBlob(), request.command);
  request.authData = right == "000000" ? "111111" : "000000";
  MfaAuthentication dispatcher(&service_);
  EXPECT_EQ(KV_ERROR_FAIL_SERVICE_AUTH_QRCODE_KORVATH, dispatcher.authenticate(request).getResultCode());
}

TEST_F(DispatchQrForgot, QrAnswerForAnotherTransactionDataIsRefused) {
  MfaAuthenticationRequest request = qrRequestFromPanel();
  request.authData = answerFor(alice_.getBlob(), request.command);
  Model::TransactionData other;
  ASSERT_EQ(0, other.fillFromJson(request.transactionData));
  ASSERT_EQ(0, other.setTimestamp(other.getTimestamp() + 1));
  request.transactionData = other.toJson();
  MfaAuthentication dispatcher(&service_);
  EXPECT_NE(0, dispatcher.authenticate(request).getResultCode());
}

TEST_F(DispatchQrForgot, OfflineActivationWithTheAdministratorsCodeThenSignInInForgotTokenMode) {
  MfaAuthentication dispatcher(&service_);
  MfaAuthenticationRequest signIn;
  signIn.mode = Service::MFAAuthenticationForgotTokenAuthentication;
  signIn.userLogin = "alice";
  EXPECT_NE(0, dispatcher.authenticate(signIn).getResultCode());

  MfaAuthenticationRequest activation;
  activation.mode = Service::MFAAuthenticationForgotTokenActivate;
  activation.userLogin = "alice";
  activation.time = 8;
  activation.challenge = "482913";
  activation.onLine = false;
  activation.authData = adminCode("alice", 4, activation.challenge);  // granted for other hours
  EXPECT_NE(0, dispatcher.authenticate(activation).getResultCode());
  activation.authData = adminCode("alice", 8, activation.challenge);
  EXPECT_EQ(0, dispatcher.authenticate(activation).getResultCode());
  EXPECT_NE(0u, savedUser(configPath_, "alice").getFallbackExpiration());

  EXPECT_EQ(0, dispatcher.authenticate(signIn).getResultCode());
}

}  // namespace
