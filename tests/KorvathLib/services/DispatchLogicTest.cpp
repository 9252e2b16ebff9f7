// The dispatcher and the factors' services without a reachable service (the deployment values
// point at a closed loopback port): what the dispatcher checks before any service, the push
// task queue, what every service answers to a request it refuses before any check, the offline
// OTP rules and what they save, and the password-only sign-in.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "Korvath/Config.h"
#include "Korvath/Model/TransactionData.h"
#include "Korvath/Platform.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/Service/KvServiceForgotAuthenticator.h"
#include "Korvath/Service/KvServiceOTP.h"
#include "Korvath/Service/KvServicePassword.h"
#include "Korvath/Service/KvServicePush.h"
#include "Korvath/Service/KvServiceQRCode.h"
#include "Korvath/Service/MfaAuthentication.h"
#include "ServicesTestSupport.h"

using Korvath::Model::KvResult;
using Korvath::Model::UserConfig;
using namespace Korvath::Service;
using namespace ServicesTest;

namespace {

class DispatchLogic : public ServiceTestBase {
 protected:
  // What a panel hands over for `mode`: alice, a code, a challenge and valid transaction data.
  static MfaAuthenticationRequest request(std::uint8_t mode) {
    MfaAuthenticationRequest r;
    r.mode = mode;
    r.userLogin = "alice";
    r.authData = "123456";
    r.challenge = "123456";
    r.time = 4;
    Korvath::Model::TransactionData data;
    EXPECT_EQ(0, data.setTimestamp(1760000000));
    EXPECT_EQ(0, data.setUser("alice"));
    r.transactionData = data.toJson();
    return r;
  }
};

// ------------------------------------------------------------------------- dispatcher

// The gate's 5108 shows that a request reached its service.
TEST_F(DispatchLogic, ChecksBeforeAnyService) {
  serve({user("alice", true, true, true, "", {mobile(1001)})});
  service_.getConfig().setLogonAppDisable(5108);
  MfaAuthentication dispatcher(&service_);
  for (std::uint8_t mode : {1, 2, 4, 5, 8}) {
    SCOPED_TRACE(int(mode));
    MfaAuthenticationRequest r = request(mode);
    for (bool onLine : {true, false}) {
      r.onLine = onLine;
      EXPECT_EQ(5108, dispatcher.authenticate(r).getResultCode());
    }
    r.userLogin.assign(101, 'a');
    EXPECT_EQ(5103, dispatcher.authenticate(r).getResultCode());
    r.userLogin.assign(100, 'a');
    r.userPassword.assign(301, 'p');
    EXPECT_EQ(5112, dispatcher.authenticate(r).getResultCode());
    r.userPassword.assign(300, 'p');
    EXPECT_EQ(5108, dispatcher.authenticate(r).getResultCode());
  }
  Korvath::Model::TransactionData probe;
  const struct {
    std::uint8_t mode;
    std::function<void(MfaAuthenticationRequest&)> change;
    std::uint16_t code;
  } cases[] = {
      {1, [](MfaAuthenticationRequest& r) { r.authData.clear(); }, 5113},
      {2, [](MfaAuthenticationRequest& r) { r.authData.clear(); }, 5113},
      {4, [](MfaAuthenticationRequest& r) { r.authData.clear(); }, 5113},
      {4, [](MfaAuthenticationRequest& r) { r.challenge.clear(); }, 5113},
      {2, [](MfaAuthenticationRequest& r) { r.transactionId.assign(35, 'x'); }, 5113},
      {2, [](MfaAuthenticationRequest& r) { r.transactionId = "123e4567-e89b-12d3-a456-426614174000"; }, 5108},
      {2, [](MfaAuthenticationRequest& r) { r.transactionData = "{not json"; }, probe.fillFromJson("{not json")},
      {0, nullptr, 5113}, {3, nullptr, 5113}, {6, nullptr, 5113}, {7, nullptr, 5113}, {10, nullptr, 5113},
      {9, nullptr, 0},  // the agent's resource is gone: the password suffices
  };
  for (const auto& c : cases) {
    MfaAuthenticationRequest r = request(c.mode);
    if (c.change) c.change(r);
    EXPECT_EQ(c.code, dispatcher.authenticate(r).getResultCode()) << int(c.mode);
  }
  Korvath::Utils::AutoTokenCancellationRelease token;
  EXPECT_EQ(5103, MfaAuthentication::checkPush(std::string(101, 'a'), "", false, true, service_, token).getResultCode());
  // Without a service state every mode but 9 is refused and no push starts.
  MfaAuthentication stateless(nullptr);
  for (std::uint8_t mode : {1, 2, 4, 5, 8, 9}) {
    EXPECT_EQ(mode == 9 ? 0 : 5113, stateless.authenticate(request(mode)).getResultCode()) << int(mode);
  }
  EXPECT_EQ(255u, stateless.authenticateAsync(request(3), token));
  EXPECT_TRUE(service_.getFutures().empty());
  EXPECT_FALSE(configWritten());
}

TEST_F(DispatchLogic, PushTasksAreQueuedInOrderAndOutliveTheirDispatcher) {
  serve({user("alice", true, true, true)});
  service_.getConfig().setLogonAppDisable(5108);
  Korvath::Utils::AutoTokenCancellationRelease token;
  {
    MfaAuthentication dispatcher(&service_);
    EXPECT_EQ(255u, dispatcher.authenticateAsync(request(1), token));
    EXPECT_TRUE(service_.getFutures().empty());
    EXPECT_EQ(0u, dispatcher.authenticateAsync(request(3), token));
    EXPECT_EQ(1u, dispatcher.authenticateAsync(request(3), token));
  }
  std::uint8_t index = 0;
  service_.eraseFutureTaskByIndex(index);
  ASSERT_EQ(1u, service_.getFutures().size());
  EXPECT_EQ(5108, service_.getFutures().front().get().getResultCode());
  // Each task let go of its token reference when it ended.
  service_.getFutures().clear();
  EXPECT_EQ(1, token.holders());
}

// ------------------------------------------------------------------------- refusals

enum class Op {
  Push,
  OtpOnline,
  OtpOffline,
  QrCommand,
  QrCommandOnline,
  QrCheck,
  QrCheckOnline,
  Screen,
  Activation,
  ActivationOnline,
  ActivationShortChallenge,
  SignIn,
  Password
};

class ServiceRefusals : public ServiceTestBase {
 protected:
  std::uint16_t run(Op op, const std::string& login, std::uint16_t& type, std::string& response) {
    std::atomic<bool> internet{op == Op::QrCommandOnline};
    KvServiceOTP otp(&service_);
    KvServiceQRCode qr(&service_, &internet);
    KvServiceForgotAuthenticator forgot(&service_);
    switch (op) {
      case Op::Push:
        return KvServicePush(service_).sendPush(baseRequest(login), &type, response, nullptr).getResultCode();
      case Op::OtpOnline:
        return otp.checkOTPOnline(otpRequest(login, "123456"), type, response).getResultCode();
      case Op::OtpOffline:
        return otp.checkOTP(otpRequest(login, "123456"), type, response).getResultCode();
      case Op::QrCommand:
      case Op::QrCommandOnline:
        return qr.genCmdQRCode(baseRequest(login), type, response).getResultCode();
      case Op::QrCheck:
      case Op::QrCheckOnline:
        return qr.checkQRCode(qrRequest(login, "123456", shown_, op == Op::QrCheckOnline), type, response)
            .getResultCode();
      case Op::Screen:
        return forgot.getForgotAuthenticatorScreen(baseRequest(login), type, response, &internet);
      case Op::Activation:
        return forgot.checkActiveForgotAuthenticatorOffline(activationRequest(login, 8, "123456", "654321"), type,
                                                            response);
      case Op::ActivationOnline:
      case Op::ActivationShortChallenge:
        return forgot
            .checkActiveForgotAuthenticatorOnline(
                activationRequest(login, 8, op == Op::ActivationOnline ? "123456" : "123", "654321"), type, response)
            .getResultCode();
      case Op::SignIn:
        return forgot.checkForgotAuthenticator(baseRequest(login), type, response);
      case Op::Password:
        return KvServicePassword(&service_).checkPassword(baseRequest(login));
    }
    return 0;
  }
  ServiceResponseAuthQRCode shown_;
};

// What every service answers to a request it refuses before any check: its code, the screen
// (type, and the first factor of the reply, or the response left alone) and nothing saved.
TEST_F(ServiceRefusals, AnswerTheirCodeAndScreenAndSaveNothing) {
  const struct {
    Op op;
    const char* login;
    std::uint8_t offline, forgotToken;
    std::uint16_t code, type;
    const char* first;  // nullptr: the response is left alone
  } cases[] = {
      // An empty login: 5013 and the screen of every factor.
      {Op::Push, "", 1, 1, 5013, 5, "push"},
      {Op::OtpOnline, "", 1, 1, 5013, 2, "otp"},
      {Op::OtpOffline, "", 1, 1, 5013, 2, "otp"},
      {Op::QrCommand, "", 1, 1, 5013, 3, "qrcode"},
      {Op::QrCommandOnline, "", 1, 1, 5013, 3, "qrcode"},
      {Op::QrCheck, "", 1, 1, 5013, 3, "qrcode"},
      {Op::QrCheck, "mallory", 1, 1, 5013, 3, "qrcode"},  // no blobs to check against
      {Op::QrCheckOnline, "", 1, 1, 5013, 3, "qrcode"},
      {Op::Screen, "", 1, 1, 5013, 6, "push"},
      {Op::Activation, "", 1, 1, 5013, 6, "push"},
      {Op::ActivationOnline, "", 1, 1, 5013, 6, "push"},
      {Op::SignIn, "", 1, 1, 5013, 7, "push"},
      {Op::Password, "", 1, 1, 5013, 0, nullptr},
      // A factor the user may not use: 5115 and the screen of their predominant factor.
      {Op::OtpOffline, "quinn", 1, 1, 5115, 4, nullptr},
      {Op::OtpOffline, "plain", 1, 1, 5115, 5, nullptr},
      {Op::QrCommand, "olive", 1, 1, 5115, 2, nullptr},
      {Op::QrCommand, "plain", 1, 1, 5115, 5, nullptr},
      {Op::QrCheck, "olive", 1, 1, 5115, 2, nullptr},
      {Op::Password, "olive", 1, 1, 5115, 0, nullptr},
      {Op::Screen, "olive", 1, 0, 5115, 2, "otp"},  // forgot-token mode off
      {Op::Activation, "olive", 1, 0, 5115, 2, "otp"},
      {Op::ActivationOnline, "olive", 1, 0, 5115, 2, "otp"},
      {Op::SignIn, "quinn", 1, 0, 5115, 4, nullptr},
      {Op::Activation, "olive", 0, 1, 5122, 2, "otp"},  // offline use not allowed
      // Not stored (and not to be added without the service): 5104.
      {Op::Screen, "mallory", 1, 1, 5104, 5, "push"},
      {Op::Activation, "mallory", 1, 1, 5104, 5, "push"},
      {Op::ActivationOnline, "mallory", 1, 1, 5104, 5, "push"},
      {Op::SignIn, "mallory", 1, 1, 5104, 7, nullptr},
      {Op::Password, "mallory", 1, 1, 5104, 0, nullptr},
      // A challenge of 1-3 characters makes the request record throw: nothing is sent.
      {Op::ActivationShortChallenge, "olive", 1, 1, 5206, 6, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("op ") + std::to_string(static_cast<int>(c.op)) + " login '" + c.login + "'");
    serve({user("alice", true, true, true, "push", {mobile(1001)}), user("olive", false, false, true, "otp", {mobile(2)}),
           user("quinn", false, true, false, "qrcode", {mobile(3)}), user("plain", false, false, false)});
    if (c.op == Op::QrCheck || c.op == Op::QrCheckOnline) {
      std::uint16_t type = 0;
      std::string response;
      ASSERT_EQ(0, KvServiceQRCode(&service_).genCmdQRCode(baseRequest("alice"), type, response).getResultCode());
      shown_ = parsed<ServiceResponseAuthQRCode>(response);
    }
    setServerFlags(c.offline, 1, c.forgotToken);
    std::uint16_t type = 0;
    std::string response = kUntouched;
    EXPECT_EQ(c.code, run(c.op, c.login, type, response));
    EXPECT_EQ(c.type, type);
    if (c.first == nullptr) {
      EXPECT_EQ(kUntouched, response);
    } else {
      EXPECT_EQ(c.first, parsed<ServiceResponseBase>(response).getLastAuthType());
    }
    // (An unknown user's screen tries to add the user, which may save.)
    EXPECT_TRUE(c.op == Op::Screen || !configWritten());
  }
}

// ------------------------------------------------------------------------- OTP

TEST_F(DispatchLogic, OfflineOtpSavesTheRecordAfterARefusalAndAnAcceptance) {
  UserConfig alice = user("alice", true, false, true, "", {mobile(1001)});
  alice.setFallbackExpiration(BizCoreTest::FakeClock::kStart + kHour);
  serve({alice});
  KvServiceOTP otp(&service_);
  std::uint16_t type = 0;
  std::string response;
  const KvResult refused = otp.checkOTP(otpRequest("alice", wrongCode(otpCode(0))), type, response);
  EXPECT_NE(0, refused.getResultCode());
  EXPECT_EQ(0, refused.getCloudErrorCode());
  EXPECT_EQ(2, type);
  EXPECT_EQ((Korvath::Model::AuthFactorMap{{"otp", true}, {"push", true}, {"qrcode", false}}),
            parsed<ServiceResponseAuthOTP>(response).getAuthTypes());
  const UserConfig afterRefusal = saved("alice");
  EXPECT_NE(alice.getAuthenticators().at(0).getBlob(), afterRefusal.getAuthenticators().at(0).getBlob());
  EXPECT_EQ(alice.getFallbackExpiration(), afterRefusal.getFallbackExpiration());

  EXPECT_EQ(0, otp.checkOTP(otpRequest("ALICE", otpCode(0)), type, response).getResultCode());
  EXPECT_EQ(10, type);
  EXPECT_EQ("", response);
  const UserConfig afterAcceptance = saved("alice");
  EXPECT_EQ("otp", afterAcceptance.getLastAuthType());
  EXPECT_EQ(0u, afterAcceptance.getFallbackExpiration());
  EXPECT_NE(afterRefusal.getAuthenticators().at(0).getBlob(), afterAcceptance.getAuthenticators().at(0).getBlob());
  // The same code again is a replay, refused by the saved counter.
  EXPECT_NE(0, otp.checkOTP(otpRequest("alice", otpCode(0)), type, response).getResultCode());
}

TEST_F(DispatchLogic, OfflineCodeWhoseAdvancedCounterCannotBeSavedFailsAndStaysUsed) {
  serve({user("alice", true, true, true, "", {mobile(1001)})});
  KvServiceOTP otp(&service_);
  std::uint16_t type = 0;
  std::string response;
  {
    // Another process holds the configuration lock for longer than a save waits for it.
    std::promise<void> held, release;
    std::thread holder([&] {
      Korvath::Platform::NamedMutexLock lock(Korvath::Config::kMutexName, 1000);
      held.set_value();
      release.get_future().wait();
    });
    held.get_future().wait();
    EXPECT_EQ(5102, otp.checkOTP(otpRequest("alice", otpCode(0)), type, response).getResultCode());
    release.set_value();
    holder.join();
  }
  EXPECT_NE(0, otp.checkOTP(otpRequest("alice", otpCode(0)), type, response).getResultCode());
  // The refusal saved the counter: the code is used up on this machine.
  const UserConfig stored = saved("alice");
  serve({stored});
  EXPECT_NE(0, KvServiceOTP(&service_).checkOTP(otpRequest("alice", otpCode(0)), type, response).getResultCode());
}

TEST_F(DispatchLogic, OtpWithoutTheServiceChecksTheStoredBlobsOnlyWhenOfflineUseIsAllowed) {
  serve({user("alice", true, true, true, "", {mobile(1001)}), user("bob", true, true, true, "", {mobile(2, false)})});
  MfaAuthentication dispatcher(&service_);
  MfaAuthenticationRequest r = request(1);
  r.authData = otpCode(0);
  EXPECT_EQ(0, dispatcher.authenticate(r).getResultCode());  // online first, then the fall-back
  EXPECT_EQ("otp", saved("alice").getLastAuthType());
  // Every authenticator blocked: only the service could check; nothing to show.
  std::uint16_t type = 0;
  std::string response = kUntouched;
  EXPECT_EQ(5135, KvServiceOTP(&service_).checkOTP(otpRequest("bob", otpCode(0)), type, response).getResultCode());
  EXPECT_EQ(10, type);
  EXPECT_EQ("", response);
  // Offline use not allowed: the service is asked, and cannot be reached.
  setServerFlags(0, 1, 1);
  r.onLine = false;
  r.authData = otpCode(1);
  EXPECT_FALSE(Korvath::isServerReachable(dispatcher.authenticate(r).getResultCode()));
}

// ------------------------------------------------------------------------- password

TEST_F(DispatchLogic, PasswordAloneSignsInAStoredUserWithoutFactorsAndKeepsNoPassword) {
  UserConfig plain = user("plain", false, false, false);
  plain.setPassword("remembered");
  serve({plain});
  ServiceRequestBase message = baseRequest("plain@corp.example");
  message.setUserPassword("typed");
  message.setCheckRememberPassword(true);
  EXPECT_EQ(0, KvServicePassword(&service_).checkPassword(message));
  const UserConfig stored = saved("plain");
  EXPECT_EQ("password", stored.getLastAuthType());
  EXPECT_EQ("", stored.getPassword());
  EXPECT_EQ(BizCoreTest::FakeClock::kStart, stored.getLastAuthTime());
  // The dispatcher gives it the dialog's state, so mode 8 finds the stored user.
  MfaAuthenticationRequest r = request(8);
  r.userLogin = "plain";
  EXPECT_EQ(0, MfaAuthentication(&service_).authenticate(r).getResultCode());
}

}  // namespace
