// The QR-code and forgot-token services where no answer of the cloud is needed (the
// deployment values point at a closed loopback port): offline commands and checks and what
// they save, the forgot-token expiry and screen, offline activation and the sign-in while a
// forgot-token period runs.

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <string>

#include "AuthenticationSdk/OfflineAuthentication.h"
#include "Korvath/Service/KvServiceForgotAuthenticator.h"
#include "Korvath/Service/KvServiceQRCode.h"
#include "ServicesTestSupport.h"

using Korvath::Model::KvResult;
using Korvath::Model::UserConfig;
using namespace Korvath::Service;
using namespace ServicesTest;

namespace {

class QrForgotLogic : public ServiceTestBase {
 protected:
  std::uint64_t now() { return clock_.nowFileTime(); }
  // A command made on this machine for `login`, as the panel would show it.
  ServiceResponseAuthQRCode offlineCommand(const std::string& login) {
    std::uint16_t type = 0;
    std::string response;
    EXPECT_EQ(0, KvServiceQRCode(&service_, &internet_).genCmdQRCode(baseRequest(login), type, response).getResultCode());
    EXPECT_EQ(4, type);
    return parsed<ServiceResponseAuthQRCode>(response);
  }
  std::uint16_t screen(const std::string& login) {
    return KvServiceForgotAuthenticator(&service_).getForgotAuthenticatorScreen(baseRequest(login), type_, response_,
                                                                               &internet_);
  }

  std::atomic<bool> internet_{false};
  std::uint16_t type_ = 0;
  std::string response_ = kUntouched;
};

// ================================================================== QR code

TEST_F(QrForgotLogic, OfflineCommandIsMadeFromTheActiveMobileAuthenticators) {
  serve({user("alice", true, true, true, "", {hardwareToken(), mobile(1001), mobile(1002, false)})});
  const ServiceResponseAuthQRCode shown = offlineCommand("alice");
  EXPECT_FALSE(shown.getOnLine());
  EXPECT_TRUE(shown.getTransactionId().empty());
  EXPECT_EQ("qrcode", shown.getLastAuthType());
  EXPECT_EQ("alice", shown.getTransactionData().getUser());
  AuthenticationSdk::QrCommand command;
  ASSERT_EQ(0, AuthenticationSdk::parseQrCommand(shown.getCommand(), command)) << shown.getCommand();
  EXPECT_EQ(shown.getTransactionData().toJson(), command.transactionJson);
  EXPECT_EQ(std::vector<std::uint32_t>({1001}), command.deviceIds);
}

TEST_F(QrForgotLogic, OfflineCheckSavesTheBlobsAfterARefusalAndAnAcceptance) {
  UserConfig alice = user("alice", true, true, true, "push", {mobile(1001)});
  alice.setFallbackExpiration(now() + kHour);
  serve({alice});
  const ServiceResponseAuthQRCode shown = offlineCommand("alice");
  const std::string answer = answerFor(alice.getAuthenticators()[0].getBlob(), shown.getCommand());
  KvServiceQRCode qr(&service_);

  // A wrong answer: the command again, and the failed attempt saved.
  EXPECT_EQ(5204, qr.checkQRCode(qrRequest("alice", wrongCode(answer), shown, false), type_, response_).getResultCode());
  EXPECT_EQ(4, type_);
  const ServiceResponseAuthQRCode again = parsed<ServiceResponseAuthQRCode>(response_);
  EXPECT_EQ(shown.getCommand(), again.getCommand());
  EXPECT_EQ(shown.getTransactionData().toJson(), again.getTransactionData().toJson());
  EXPECT_FALSE(again.getOnLine());
  const UserConfig afterRefusal = saved("alice");
  EXPECT_NE(alice.getAuthenticators()[0].getBlob(), afterRefusal.getAuthenticators()[0].getBlob());
  EXPECT_EQ(now() + kHour, afterRefusal.getFallbackExpiration());  // not ended by a refusal

  EXPECT_EQ(0, qr.checkQRCode(qrRequest("ALICE", answer, shown, false), type_, response_).getResultCode());
  EXPECT_EQ(10, type_);
  EXPECT_TRUE(response_.empty());
  const UserConfig afterAcceptance = saved("alice");
  EXPECT_EQ("qrcode", afterAcceptance.getLastAuthType());
  EXPECT_EQ(now(), afterAcceptance.getLastAuthTime());
  EXPECT_EQ(0u, afterAcceptance.getFallbackExpiration());
  // The success cleared the failed attempt, and that state was saved.
  EXPECT_NE(afterRefusal.getAuthenticators()[0].getBlob(), afterAcceptance.getAuthenticators()[0].getBlob());

  // An accepted answer whose new blob state cannot be saved fails with the save's code.
  service_.getConfig().setFilePath(dir_.file("missing/dir/kvconfig.cfg"));
  const ServiceResponseAuthQRCode next = offlineCommand("alice");
  const std::string nextAnswer = answerFor(afterAcceptance.getAuthenticators()[0].getBlob(), next.getCommand());
  EXPECT_EQ(5102, qr.checkQRCode(qrRequest("alice", nextAnswer, next, false), type_, response_).getResultCode());
}

// ================================================================== forgot token

TEST(ForgotTokenExpiry, TheServicesExpiryWinsMovedToTheLocalClockAndHeldAtTheEndsOfTheRange) {
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t ms = 1760000000000ull;
  const std::uint64_t asFileTime = (ms + 11644473600000ull) * 10000ull;
  const struct {
    std::uint64_t serviceExpiryMs, fallback;
    std::int64_t timeDifference;
    std::uint64_t expected;
  } cases[] = {
      {0, 500, 3600, 500},  // no expiry from the service: the local period
      {ms, max, 0, asFileTime},
      {ms, 0, 3600, asFileTime - kHour},  // the service's clock one hour ahead: one hour earlier here
      {ms, 0, -3600, asFileTime + kHour},
      {max - 5, 0, 0, max},
      {max - 5, 0, std::numeric_limits<std::int64_t>::min(), max},
      {1, 0, std::numeric_limits<std::int64_t>::max(), 0},
  };
  for (const auto& c : cases) {
    UserConfig user;
    user.setAuthenticatorForgottenExpiryTimestamp(c.serviceExpiryMs);
    user.setFallbackExpiration(c.fallback);
    EXPECT_EQ(c.expected, KvServiceForgotAuthenticator::effectiveExpiry(user, c.timeDifference))
        << c.serviceExpiryMs << " " << c.timeDifference;
  }
}

TEST_F(QrForgotLogic, ScreenIsTheAuthenticationScreenWhileAPeriodRunsHere) {
  const std::int64_t nowMs = clock_.nowUnixMs();
  const struct {
    std::uint64_t fallback;
    std::int64_t serviceExpiryMs;  // 0: none
    std::int64_t timeDifference;
    std::uint16_t type;
  } cases[] = {
      {0, 0, 0, 6},
      {BizCoreTest::FakeClock::kStart, 0, 0, 7},  // an expiry equal to now is still running
      {BizCoreTest::FakeClock::kStart - 1, 0, 0, 6},
      {BizCoreTest::FakeClock::kStart + 10 * kHour, nowMs - 1000, 0, 6},  // the service's past expiry wins
      {0, nowMs + 1800 * 1000, 0, 7},
      {0, nowMs + 1800 * 1000, 3600, 6},  // 30 minutes ahead on a clock one hour ahead: past here
  };
  for (const auto& c : cases) {
    UserConfig frank = user("frank", true, true, true, "otp", {mobile(1001)});
    frank.setFallbackExpiration(c.fallback);
    frank.setAuthenticatorForgottenExpiryTimestamp(static_cast<std::uint64_t>(c.serviceExpiryMs));
    serve({frank});
    Korvath::ServerConfig server = service_.getConfig().getServerConfig();
    server.setTimeDifference(c.timeDifference);
    ASSERT_EQ(0, service_.getConfig().setServerConfig(server));
    EXPECT_EQ(0, screen("Frank"));
    EXPECT_EQ(c.type, type_) << c.fallback << " " << c.serviceExpiryMs << " " << c.timeDifference;
    const ServiceResponseBase reply = parsed<ServiceResponseBase>(response_);
    EXPECT_EQ("Frank", reply.getUserLogin());
    EXPECT_EQ("otp", reply.getLastAuthType());
  }
}

TEST_F(QrForgotLogic, ScreenSynchronizesOnlyWhenDueAndOnlineAndThenRecordsReachability) {
  serve({user("frank", true, true, true, "", {mobile(1001)})});
  service_.getConfig().setLastSync(now() - 24 * kHour);
  internet_ = true;  // exactly 24 hours: not due
  EXPECT_EQ(0, screen("frank"));
  EXPECT_TRUE(internet_.load());

  service_.getConfig().setLastSync(now() - 24 * kHour - 1);
  internet_ = false;  // due, but the dialog is offline: nothing is tried
  EXPECT_EQ(0, screen("frank"));
  EXPECT_FALSE(internet_.load());

  internet_ = true;  // due and online: the closed port shows that the service cannot be reached
  EXPECT_EQ(0, screen("frank"));
  EXPECT_FALSE(internet_.load());
  EXPECT_EQ(6, type_);
}

TEST_F(QrForgotLogic, OfflineActivationToTheEndOfItsPeriod) {
  UserConfig frank = user("frank", true, true, true, "qrcode", {mobile(1001)});
  ASSERT_EQ(0, frank.setPassword("remembered"));
  frank.setFallbackExpiration(now() + 5 * kHour);
  serve({frank});
  KvServiceForgotAuthenticator forgot(&service_);
  // A code for other hours is the SDK's refusal: the running period ends and a new code is shown.
  const std::uint16_t refused = forgot.checkActiveForgotAuthenticatorOffline(
      activationRequest("frank", 8, "123456", adminCode("frank", 9, "123456")), type_, response_);
  EXPECT_NE(0, refused);
  EXPECT_LT(refused, 1000);
  EXPECT_EQ(6, type_);
  EXPECT_EQ(6u, parsed<ServiceResponseActiveForgotAuthenticator>(response_).getChallenge().size());
  EXPECT_EQ(0u, saved("frank").getFallbackExpiration());

  EXPECT_EQ(0, forgot.checkActiveForgotAuthenticatorOffline(
                   activationRequest("FRANK@corp.example", 8, "123456", adminCode("frank", 8, "123456")), type_,
                   response_));
  EXPECT_EQ(10, type_);
  EXPECT_TRUE(response_.empty());
  UserConfig stored = saved("frank");
  EXPECT_EQ(now() + 8 * kHour, stored.getFallbackExpiration());
  EXPECT_EQ("qrcode", stored.getLastAuthType());
  EXPECT_TRUE(stored.getPassword().empty());
  EXPECT_EQ(0, screen("frank"));
  EXPECT_EQ(7, type_);

  // The sign-in up to the end of the period: recorded as any sign-in, keeping no password.
  clock_.set(now() + 8 * kHour);
  ServiceRequestBase signIn = baseRequest("frank");
  signIn.setUserPassword("typed");
  signIn.setCheckRememberPassword(true);
  response_ = kUntouched;
  EXPECT_EQ(0, forgot.checkForgotAuthenticator(signIn, type_, response_));
  EXPECT_EQ(7, type_);
  EXPECT_EQ(kUntouched, response_);
  stored = saved("frank");
  EXPECT_EQ(now(), stored.getLastAuthTime());
  EXPECT_TRUE(stored.getPassword().empty());
  EXPECT_EQ(now(), stored.getFallbackExpiration());

  clock_.set(now() + 1);
  EXPECT_EQ(5111, forgot.checkForgotAuthenticator(baseRequest("frank"), type_, response_));
  EXPECT_EQ(6, type_);
  EXPECT_EQ("qrcode", parsed<ServiceResponseActiveForgotAuthenticator>(response_).getLastAuthType());
}

}  // namespace
