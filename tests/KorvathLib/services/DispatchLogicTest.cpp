// The dispatcher and the factors' services without a reachable service (the deployment values
// point at a closed loopback port): what the dispatcher checks before any service, the push
// task queue, what every service answers to a request it refuses before any check, the offline
// OTP and QR-code checks and what they save, the forgot-token expiry, offline activation, the
// screen and the sign-in up to the end of a forgot-token period.

#include <atomic>
#include <future>
#include <limits>
#include <thread>
#include <tuple>

#include "Korvath/Model/TransactionData.h"
#include "Korvath/ResultCodes.h"
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
  using Change = void (*)(MfaAuthenticationRequest&);
  const std::tuple<std::uint8_t, Change, std::uint16_t> cases[] = {
      {1, [](MfaAuthenticationRequest& r) { r.authData.clear(); }, 5113},
      {2, [](MfaAuthenticationRequest& r) { r.authData.clear(); }, 5113},
      {4, [](MfaAuthenticationRequest& r) { r.authData.clear(); }, 5113},
      {4, [](MfaAuthenticationRequest& r) { r.challenge.clear(); }, 5113},
      {2, [](MfaAuthenticationRequest& r) { r.transactionId.assign(35, 'x'); }, 5113},
      {2, [](MfaAuthenticationRequest& r) { r.transactionId = "123e4567-e89b-12d3-a456-426614174000"; }, 5108},
      {2, [](MfaAuthenticationRequest& r) { r.transactionData = "{not json"; },
       Korvath::Model::TransactionData().fillFromJson("{not json")}};
  for (const auto& [mode, change, code] : cases) {
    MfaAuthenticationRequest r = request(mode);
    change(r);
    EXPECT_EQ(code, dispatcher.authenticate(r).getResultCode()) << int(mode) << r.challenge << r.transactionId;
  }
  // Modes without an operation here, and 9: the agent's resource is gone, the password suffices.
  for (std::uint8_t mode : {0, 3, 6, 7, 10, 9}) {
    EXPECT_EQ(mode == 9 ? 0 : 5113, dispatcher.authenticate(request(mode)).getResultCode()) << int(mode);
  }
  Korvath::Utils::AutoTokenCancellationRelease token;
  EXPECT_EQ(5103,
            MfaAuthentication::checkPush(std::string(101, 'a'), "", false, true, service_, token).getResultCode());
}

TEST_F(DispatchLogic, PushTasksAreQueuedInOrderAndOutliveTheirDispatcher) {
  serve({user("alice", true, true, true)});
  service_.getConfig().setLogonAppDisable(5108);
  Korvath::Utils::AutoTokenCancellationRelease token;
  {
    MfaAuthentication dispatcher(&service_);
    EXPECT_EQ(255u, dispatcher.authenticateAsync(request(1), token));
    EXPECT_EQ(0u, dispatcher.authenticateAsync(request(3), token));
    EXPECT_EQ(1u, dispatcher.authenticateAsync(request(3), token));
  }
  for (auto& task : service_.getFutures()) EXPECT_EQ(5108, task.get().getResultCode());
  // Each task let go of its token reference when it ended.
  service_.getFutures().clear();
  EXPECT_EQ(1, token.holders());
}

// The push task works on its own copy: nothing it does reaches the dialog's objects in memory.
TEST_F(DispatchLogic, PushServiceWorksOnItsOwnCopyOfTheState) {
  serve({user("alice", true, true, true)});
  KvService copy(service_);  // as the push task receives it: pointing at the dialog's objects
  KvServicePush push(copy);
  KvService& own = push.getService();
  EXPECT_EQ(&own.getConfig(), own.getKvBusiness().getConfig());
  EXPECT_EQ(&own.getKvCrypto(), own.getKvBusiness().getKvCrypto());
  EXPECT_EQ(&own.getKvCrypto(), own.getConfig().getKvCrypto());
}

// ------------------------------------------------------------------------- refusals

class ServiceRefusals : public ServiceTestBase {
 protected:
  // Runs operation `op` of the services for `login`.
  std::uint16_t run(const std::string& op, const std::string& login) {
    std::atomic<bool> internet{op == "command online"};
    KvServiceOTP otp(&service_);
    KvServiceQRCode qr(&service_, &internet);
    KvServiceForgotAuthenticator forgot(&service_);
    const auto activation = activationRequest(login, 8, op == "short challenge" ? "123" : "123456", "654321");
    if (op == "push")
      return KvServicePush(service_).sendPush(baseRequest(login), &type_, response_, nullptr).getResultCode();
    if (op == "otp online") return otp.checkOTPOnline(otpRequest(login, "123456"), type_, response_).getResultCode();
    if (op == "otp") return otp.checkOTP(otpRequest(login, "123456"), type_, response_).getResultCode();
    if (op.rfind("command", 0) == 0) return qr.genCmdQRCode(baseRequest(login), type_, response_).getResultCode();
    if (op.rfind("qr check", 0) == 0) {
      const auto request = qrRequest(login, "123456", offlineCommand("alice"), op == "qr check online");
      type_ = 0;
      response_ = kUntouched;
      return qr.checkQRCode(request, type_, response_).getResultCode();
    }
    if (op == "screen") return forgot.getForgotAuthenticatorScreen(baseRequest(login), type_, response_, &internet);
    if (op == "activation") return forgot.checkActiveForgotAuthenticatorOffline(activation, type_, response_);
    if (op == "activation online" || op == "short challenge") {
      return forgot.checkActiveForgotAuthenticatorOnline(activation, type_, response_).getResultCode();
    }
    if (op == "sign-in") return forgot.checkForgotAuthenticator(baseRequest(login), type_, response_);
    return KvServicePassword(&service_).checkPassword(baseRequest(login));
  }
};

// What every service answers to a request it refuses before any check: its code, the screen
// (type, and the first factor of the reply, or the response left alone) and nothing saved.
TEST_F(ServiceRefusals, AnswerTheirCodeAndScreenAndSaveNothing) {
  // Operation, login, offline use allowed, forgot-token mode on; code, type, first factor of the
  // reply (nullptr: the response is left alone).
  const std::tuple<const char*, const char*, int, int, int, int, const char*> cases[] = {
      // An empty login: 5013 and the screen of every factor.
      {"push", "", 1, 1, 5013, 5, "push"},
      {"otp online", "", 1, 1, 5013, 2, "otp"},
      {"command", "", 1, 1, 5013, 3, "qrcode"},
      {"command online", "", 1, 1, 5013, 3, "qrcode"},
      {"qr check", "", 1, 1, 5013, 3, "qrcode"},
      {"qr check", "mallory", 1, 1, 5013, 3, "qrcode"},  // no blobs to check against
      {"qr check online", "", 1, 1, 5013, 3, "qrcode"},
      {"screen", "", 1, 1, 5013, 6, "push"},
      {"activation", "", 1, 1, 5013, 6, "push"},
      {"activation online", "", 1, 1, 5013, 6, "push"},
      {"sign-in", "", 1, 1, 5013, 7, "push"},
      {"password", "", 1, 1, 5013, 0, nullptr},
      // A factor the user may not use: 5115 and the screen of their predominant factor.
      {"otp", "quinn", 1, 1, 5115, 4, nullptr},
      {"command", "olive", 1, 1, 5115, 2, nullptr},
      {"qr check", "olive", 1, 1, 5115, 2, nullptr},
      {"password", "olive", 1, 1, 5115, 0, nullptr},
      {"password", "pete", 1, 1, 5115, 0, nullptr},
      {"screen", "olive", 1, 0, 5115, 2, "otp"},  // forgot-token mode off
      {"activation", "olive", 1, 0, 5115, 2, "otp"},
      {"activation online", "olive", 1, 0, 5115, 2, "otp"},
      {"sign-in", "quinn", 1, 0, 5115, 4, nullptr},
      {"activation", "olive", 0, 1, 5122, 2, "otp"},  // offline use not allowed
      // Not stored (and not to be added without the service): 5104.
      {"screen", "mallory", 1, 1, 5104, 5, "push"},
      {"activation", "mallory", 1, 1, 5104, 5, "push"},
      {"activation online", "mallory", 1, 1, 5104, 5, "push"},
      {"sign-in", "mallory", 1, 1, 5104, 7, nullptr},
      {"password", "mallory", 1, 1, 5104, 0, nullptr},
      // A challenge of 1-3 characters makes the request record throw: nothing is sent.
      {"short challenge", "olive", 1, 1, 5206, 6, nullptr},
  };
  for (const auto& [op, login, offline, forgotToken, code, type, first] : cases) {
    SCOPED_TRACE(std::string(op) + " '" + login + "'");
    serve({user("alice", true, true, true, "push", {mobile(1001)}),
           user("olive", false, false, true, "otp", {mobile(2)}),
           user("quinn", false, true, false, "qrcode", {mobile(3)}), user("pete", true, false, false)});
    setServerFlags(static_cast<std::uint8_t>(offline), 1, static_cast<std::uint8_t>(forgotToken));
    type_ = 0;
    response_ = kUntouched;
    EXPECT_EQ(code, run(op, login));
    EXPECT_EQ(type, type_);
    EXPECT_EQ(first ? first : kUntouched, first ? parsed<ServiceResponseBase>(response_).getLastAuthType() : response_);
    // (An unknown user's screen tries to add the user, which may save.)
    EXPECT_TRUE(std::string(op) == "screen" || !configWritten());
  }
}

// ------------------------------------------------------------------------- offline checks

// An offline OTP or QR-code check saves the authenticator's new state after a refusal (its
// attempts) and after an acceptance (its counter); only an acceptance ends a forgot-token period;
// a check whose new state cannot be saved fails; what only the service can check goes there.
TEST_F(DispatchLogic, OfflineOtpAndQrCodeChecks) {
  for (const bool qr : {false, true}) {
    SCOPED_TRACE(qr ? "QR code" : "OTP");
    UserConfig alice = user("alice", false, true, true, "push", {mobile(1001)});
    alice.setFallbackExpiration(BizCoreTest::FakeClock::kStart + kHour);
    serve({alice});
    const ServiceResponseAuthQRCode shown = offlineCommand("alice");
    const std::string right = qr ? answerFor(alice.getAuthenticators()[0].getBlob(), shown.getCommand()) : otpCode(0);
    auto check = [&](const char* login, const std::string& code) {
      return qr ? KvServiceQRCode(&service_).checkQRCode(qrRequest(login, code, shown, false), type_, response_)
                : KvServiceOTP(&service_).checkOTP(otpRequest(login, code), type_, response_);
    };
    const KvResult refused = check("alice", wrongCode(right));
    EXPECT_NE(0, refused.getResultCode());
    EXPECT_EQ(qr ? 5204 : refused.getResultCode(), refused.getResultCode());
    // The screen again with the user's factors (and the same command).
    EXPECT_EQ(qr ? 4 : 2, type_);
    EXPECT_EQ("otp qrcode", enabledFactors(parsed<ServiceResponseBase>(response_).getAuthTypes()));
    EXPECT_EQ(shown.getCommand(), qr ? parsed<ServiceResponseAuthQRCode>(response_).getCommand() : shown.getCommand());
    EXPECT_FALSE(qr && parsed<ServiceResponseAuthQRCode>(response_).getOnLine());  // still made here
    const UserConfig afterRefusal = saved("alice");
    EXPECT_NE(alice.getAuthenticators()[0].getBlob(), afterRefusal.getAuthenticators()[0].getBlob());
    EXPECT_EQ(alice.getFallbackExpiration(), afterRefusal.getFallbackExpiration());

    EXPECT_EQ(0, check("ALICE", right).getResultCode());
    EXPECT_EQ(10, type_);
    EXPECT_EQ("", response_);
    const UserConfig afterAcceptance = saved("alice");
    EXPECT_EQ(qr ? "qrcode" : "otp", afterAcceptance.getLastAuthType());
    EXPECT_EQ(0u, afterAcceptance.getFallbackExpiration());
    EXPECT_NE(afterRefusal.getAuthenticators()[0].getBlob(), afterAcceptance.getAuthenticators()[0].getBlob());
    // The same OTP again is a replay, refused by the saved counter.
    EXPECT_TRUE(qr || check("alice", right).getResultCode() != 0);
  }
  // An accepted QR answer whose new blob state cannot be saved fails with the save's code.
  const std::string blob = saved("alice").getAuthenticators()[0].getBlob();
  service_.getConfig().setFilePath(dir_.file("missing/dir/kvconfig.cfg"));
  const ServiceResponseAuthQRCode next = offlineCommand("alice");
  const auto request = qrRequest("alice", answerFor(blob, next.getCommand()), next, false);
  EXPECT_EQ(5102, KvServiceQRCode(&service_).checkQRCode(request, type_, response_).getResultCode());

  // Only the service can check an OTP when every authenticator is blocked (it cannot be reached:
  // nothing to show) or when offline use is not allowed.
  serve({user("bob", true, true, true, "", {mobile(2, false)}), user("alice", true, true, true, "", {mobile(1001)})});
  EXPECT_EQ(5135, KvServiceOTP(&service_).checkOTP(otpRequest("bob", otpCode(0)), type_, response_).getResultCode());
  EXPECT_EQ(10, type_);
  EXPECT_EQ("", response_);
  setServerFlags(0, 1, 1);
  const KvResult asked = KvServiceOTP(&service_).checkOTP(otpRequest("alice", otpCode(0)), type_, response_);
  EXPECT_FALSE(Korvath::isServerReachable(asked.getResultCode())) << asked.getResultCode();
}

TEST_F(DispatchLogic, OfflineCodeWhoseAdvancedCounterCannotBeSavedFailsAndStaysUsed) {
  serve({user("alice", true, true, true, "", {mobile(1001)})});
  KvServiceOTP otp(&service_);
  {
    // Another process holds the configuration lock for longer than a save waits for it.
    std::promise<void> held, release;
    std::thread holder([&] {
      Korvath::Platform::NamedMutexLock lock(Korvath::Config::kMutexName, 1000);
      held.set_value();
      release.get_future().wait();
    });
    held.get_future().wait();
    EXPECT_EQ(5102, otp.checkOTP(otpRequest("alice", otpCode(0)), type_, response_).getResultCode());
    release.set_value();
    holder.join();
  }
  EXPECT_NE(0, otp.checkOTP(otpRequest("alice", otpCode(0)), type_, response_).getResultCode());
  // The refusal saved the counter: the code is used up on this machine.
  const UserConfig stored = saved("alice");
  serve({stored});
  EXPECT_NE(0, KvServiceOTP(&service_).checkOTP(otpRequest("alice", otpCode(0)), type_, response_).getResultCode());
}

// ------------------------------------------------------------------------- forgot token

TEST(ForgotTokenExpiry, TheServicesExpiryWinsMovedToTheLocalClockAndHeldAtTheEndsOfTheRange) {
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t ms = 1760000000000ull;
  const std::uint64_t asFileTime = (ms + 11644473600000ull) * 10000ull;
  // The service's expiry (Unix ms, 0: none), the local period, the service's clock ahead by, the expiry here.
  const std::tuple<std::uint64_t, std::uint64_t, std::int64_t, std::uint64_t> cases[] = {
      {0, 500, 3600, 500},
      {ms, max, 0, asFileTime},
      {ms, 0, 3600, asFileTime - kHour},
      {ms, 0, -3600, asFileTime + kHour},
      {max - 5, 0, 0, max},
      {max - 5, 0, std::numeric_limits<std::int64_t>::min(), max},
      {1, 0, std::numeric_limits<std::int64_t>::max(), 0}};
  for (const auto& [serviceExpiryMs, fallback, timeDifference, expected] : cases) {
    UserConfig user;
    user.setAuthenticatorForgottenExpiryTimestamp(serviceExpiryMs);
    user.setFallbackExpiration(fallback);
    EXPECT_EQ(expected, KvServiceForgotAuthenticator::effectiveExpiry(user, timeDifference))
        << serviceExpiryMs << " " << timeDifference;
  }
}

TEST_F(DispatchLogic, OfflineForgotTokenActivationToTheEndOfItsPeriod) {
  auto now = [&] { return clock_.nowFileTime(); };
  UserConfig frank = user("frank", true, true, true, "qrcode", {mobile(1001)});
  ASSERT_EQ(0, frank.setPassword("remembered"));
  frank.setFallbackExpiration(now() + 5 * kHour);
  serve({frank});
  KvServiceForgotAuthenticator forgot(&service_);
  auto screen = [&](const char* login) {
    std::atomic<bool> offline{false};
    return forgot.getForgotAuthenticatorScreen(baseRequest(login), type_, response_, &offline);
  };
  // A code for other hours is the SDK's refusal: the running period ends and a new code is shown.
  const std::uint16_t refused = forgot.checkActiveForgotAuthenticatorOffline(
      activationRequest("frank", 8, "123456", adminCode("frank", 9, "123456")), type_, response_);
  EXPECT_NE(0, refused);
  EXPECT_EQ(6, type_);
  EXPECT_EQ("frank", saved("frank").getUserLogin());
  EXPECT_EQ(0u, saved("frank").getFallbackExpiration());

  EXPECT_EQ(
      0, forgot.checkActiveForgotAuthenticatorOffline(
             activationRequest("FRANK@corp.example", 8, "123456", adminCode("frank", 8, "123456")), type_, response_));
  EXPECT_EQ(10, type_);
  EXPECT_TRUE(response_.empty());
  UserConfig stored = saved("frank");
  EXPECT_EQ(now() + 8 * kHour, stored.getFallbackExpiration());
  EXPECT_EQ("qrcode", stored.getLastAuthType());
  EXPECT_TRUE(stored.getPassword().empty());

  // The sign-in up to the end of the period (an expiry equal to now still runs): recorded as any
  // sign-in, keeping no password.
  clock_.set(now() + 8 * kHour);
  EXPECT_EQ(0, screen("frank"));
  EXPECT_EQ(7, type_);
  ServiceRequestBase signIn = baseRequest("frank");
  signIn.setUserPassword("typed");
  signIn.setCheckRememberPassword(true);
  EXPECT_EQ(0, forgot.checkForgotAuthenticator(signIn, type_, response_));
  EXPECT_EQ(7, type_);
  stored = saved("frank");
  EXPECT_EQ(now(), stored.getLastAuthTime());
  EXPECT_TRUE(stored.getPassword().empty());
  EXPECT_EQ(now(), stored.getFallbackExpiration());

  clock_.set(now() + 1);
  EXPECT_EQ(0, screen("frank"));
  EXPECT_EQ(6, type_);
  EXPECT_EQ(5111, forgot.checkForgotAuthenticator(baseRequest("frank"), type_, response_));
  EXPECT_EQ(6, type_);
  EXPECT_EQ("qrcode", parsed<ServiceResponseActiveForgotAuthenticator>(response_).getLastAuthType());
}

}  // namespace
