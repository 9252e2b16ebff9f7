// What the services write to the agent's log while the panels' requests run through the
// dispatcher: every factor, accepted and refused, with a password and codes that must never be
// readable in any record, not even in the response texts and request messages that are logged;
// and the log file itself is its owner's alone. The requests carry what the panels hand over,
// so the answers also show that the dispatcher passes it on whole.

#include <rapidjson/document.h>

#include <fstream>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "CryptoSdk/SecurityService.h"
#include "Korvath/Logger.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/MfaAuthentication.h"
#include "ServicesTestSupport.h"

using namespace Korvath;
using namespace ServicesTest;
using Model::UserConfig;
using Service::MfaAuthentication;
using Service::MfaAuthenticationRequest;

namespace {

// A password with blanks, quotes and separators, the shapes a careless format string cuts.
const char* const kPassword = "pw \"zq7\": hide, me=now";

// The plain messages of the sealed log at `path`.
std::vector<std::string> logMessages(const std::string& path) {
  std::vector<std::uint8_t> secret;
  CryptoSdk::SealKey key;
  EXPECT_TRUE(Platform::machineSecret(secret));
  EXPECT_EQ(0, CryptoSdk::LogSecurityService::deriveLogKey(secret, key));
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> messages;
  for (std::string record; std::getline(in, record);) {
    if (!record.empty() && record.back() == '\r') record.pop_back();
    if (record.empty()) continue;
    rapidjson::Document doc;
    doc.Parse(record.c_str(), record.size());
    if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("message") || !doc["message"].IsString()) {
      ADD_FAILURE() << "unreadable record: " << record;
      continue;
    }
    std::string plain;
    EXPECT_EQ(0, CryptoSdk::LogSecurityService::open(key, doc["message"].GetString(), plain));
    messages.push_back(plain);
  }
  return messages;
}

class ServiceLogSecrets : public ServiceTestBase {
 protected:
  void SetUp() override {
    ServiceTestBase::SetUp();
    logPath_ = dir_.file("agent.log");
    UserConfig plain = user("plain", false, false, false);  // no factor: the password suffices
    plain.setPassword("remembered");
    plain.setFallbackExpiration(BizCoreTest::FakeClock::kStart + kHour);
    serve({user("alice", true, true, true, "", {alice_}), plain});
    Logger::close();
    ASSERT_TRUE(Logger::open(logPath_));
  }
  void TearDown() override {
    Logger::close();
    ServiceTestBase::TearDown();
  }
  static MfaAuthenticationRequest request(std::uint8_t mode) {
    MfaAuthenticationRequest r;
    r.mode = mode;
    r.userLogin = "alice";
    r.userPassword = kPassword;
    r.checkRememberPassword = true;
    return r;
  }

  std::string logPath_;
  const Model::AuthenticatorRecord alice_ = mobile(1001);
};

TEST_F(ServiceLogSecrets, NoRecordHoldsThePasswordOrACodeOfAnyFactor) {
  MfaAuthentication dispatcher(&service_);
  // The password whole and its distinctive middle, which a cut value would still show.
  std::vector<std::string> secrets = {kPassword, "zq7"};

  // QR code made here, answered wrongly, then rightly.
  const auto shown = offlineCommand("alice");
  MfaAuthenticationRequest qrCheck = request(Service::MFAAuthenticationQRCode);
  qrCheck.command = shown.getCommand();
  qrCheck.transactionData = shown.getTransactionData().toJson();
  qrCheck.transactionId = shown.getTransactionId();
  qrCheck.onLine = false;
  const std::string rightQr = answerFor(alice_.getBlob(), qrCheck.command);
  qrCheck.authData = rightQr == "804617" ? "804618" : "804617";
  secrets.push_back(qrCheck.authData);
  // The service's own code stands once its response was read as the QR-code screen.
  EXPECT_EQ(5204, dispatcher.authenticate(qrCheck).getResultCode());
  qrCheck.authData = rightQr;
  secrets.push_back(rightQr);
  EXPECT_EQ(0, dispatcher.authenticate(qrCheck).getResultCode());
  EXPECT_EQ("qrcode", saved("alice").getLastAuthType());

  // OTP online (the service cannot be reached: the offline check follows) and offline; the SDK's
  // refusal (1) stands once the response was read as the OTP screen.
  MfaAuthenticationRequest otp = request(Service::MFAAuthenticationOTP);
  otp.authData = "739146";
  secrets.push_back(otp.authData);
  EXPECT_EQ(1, dispatcher.authenticate(otp).getResultCode());
  otp.onLine = false;
  EXPECT_EQ(1, dispatcher.authenticate(otp).getResultCode());

  // Forgot-token activation with a code for other hours and the administrator's code, then the sign-in.
  MfaAuthenticationRequest activation = request(Service::MFAAuthenticationForgotTokenActivate);
  activation.time = 8;
  activation.challenge = "482913";
  activation.onLine = false;
  activation.authData = adminCode("alice", 4, activation.challenge);
  secrets.push_back(activation.authData);
  EXPECT_EQ(1, dispatcher.authenticate(activation).getResultCode());
  activation.authData = adminCode("alice", 8, activation.challenge);
  secrets.push_back(activation.authData);
  activation.onLine = true;  // only the service may check it then
  EXPECT_FALSE(isServerReachable(dispatcher.authenticate(activation).getResultCode()));
  activation.onLine = false;
  EXPECT_EQ(0, dispatcher.authenticate(activation).getResultCode());
  EXPECT_EQ(0, dispatcher.authenticate(request(Service::MFAAuthenticationForgotTokenAuthentication)).getResultCode());

  // Push (the service cannot be reached) and the password alone.
  Utils::AutoTokenCancellationRelease token;
  const std::uint32_t index = dispatcher.authenticateAsync(request(Service::MFAAuthenticationPush), token);
  ASSERT_EQ(0u, index);
  EXPECT_NE(0, service_.getFutures().at(index).get().getResultCode());
  MfaAuthenticationRequest password = request(Service::MFAAuthenticationPassword);
  password.userLogin = "plain@corp.example";
  EXPECT_EQ(0, dispatcher.authenticate(password).getResultCode());
  const Model::UserConfig signedIn = saved("plain");
  EXPECT_EQ("password", signedIn.getLastAuthType());
  EXPECT_EQ("", signedIn.getPassword());  // neither the remembered nor the typed one is kept
  EXPECT_EQ(BizCoreTest::FakeClock::kStart, signedIn.getLastAuthTime());
  EXPECT_EQ(0u, signedIn.getFallbackExpiration());

  Logger::close();
#if !defined(_WIN32)
  // Like the configuration, the log is readable by its owner only.
  struct stat st {};
  ASSERT_EQ(0, ::stat(logPath_.c_str(), &st));
  EXPECT_EQ(0u, st.st_mode & 077u);
#endif
  const std::vector<std::string> messages = logMessages(logPath_);
  // The services did write: their request and response lines are among the records.
  ASSERT_GT(messages.size(), 100u);
  for (const std::string& message : messages) {
    for (const std::string& secret : secrets) {
      EXPECT_EQ(std::string::npos, message.find(secret)) << "\"" << secret << "\" in: " << message;
    }
  }
}

}  // namespace
