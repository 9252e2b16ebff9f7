// The QR-code business object without a network: replies, the decision for a command made
// on this machine, and the OCRA check against the stored mobile authenticators.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "AuthenticationSdk/AuthenticatorBlob.h"
#include "AuthenticationSdk/OfflineAuthentication.h"
#include "Korvath/Business/KvBusinessQRCode.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/ServiceMessages.h"
#include "QrForgotTestSupport.h"

using Korvath::Business::KvBusinessQRCode;
using Korvath::Model::AuthenticatorRecord;
using Korvath::Model::UserConfig;
using namespace QrForgotTest;

namespace {

const std::string kTransactionId = "0f8fad5b-d9cb-469f-a165-70867728950e";

std::string answerFor(const std::string& blob, const std::string& command) {
  std::string answer;
  EXPECT_EQ(AuthenticationSdk::Issuer::computeQrAnswer(blob, kAccountId, kIntegrationKey, command,
                                                       AuthenticationSdk::currentUnixTime(), answer),
            0);
  return answer;
}

// A six-digit code that is not `answer`.
std::string otherThan(const std::string& answer) {
  std::string wrong = answer;
  wrong[5] = wrong[5] == '9' ? '0' : static_cast<char>(wrong[5] + 1);
  return wrong;
}

std::string validTransactionJson(const std::string& user) {
  Korvath::Model::TransactionData data;
  EXPECT_EQ(data.setTimestamp(1760000000), 0);
  EXPECT_EQ(data.setUser(user), 0);
  return data.toJson();
}

class QrCodeBusiness : public BusinessTest {
 protected:
  void SetUp() override {
    BusinessTest::SetUp();
    qr_.reset(new KvBusinessQRCode(config_.get(), &crypto_, business_.get()));
  }

  // A command made on this machine for `user` (as the QR-code service asks for one).
  std::string offlineCommand(const UserConfig& user, std::string& json) {
    std::string command;
    EXPECT_EQ(qr_->offlineGenerateCommandQRCode(user, "", json, command), 0);
    return command;
  }

  std::unique_ptr<KvBusinessQRCode> qr_;
};

TEST_F(QrCodeBusiness, CommandScreenCarriesTheQrFactorAndEveryFactorOfTheMap) {
  setServerFlags(1, 0, 1);
  std::uint16_t type = 0;
  std::string text;
  ASSERT_EQ(qr_->genResponseGenCmdQRCode("alice", "secret-pw", 1, {{"push", true}}, type, text), 0);
  EXPECT_EQ(type, 3);
  Korvath::Service::ServiceResponseBase reply;
  ASSERT_EQ(reply.fillFromJson(text), 0) << text;
  EXPECT_EQ(reply.getUserLogin(), "alice");
  EXPECT_EQ(reply.getUserPassword(), "secret-pw");
  EXPECT_TRUE(reply.getCheckRememberPassword());
  EXPECT_FALSE(reply.getEnableRememberPassword());
  EXPECT_TRUE(reply.getEnableForgotAuthenticator());
  EXPECT_EQ(reply.getLastAuthType(), "qrcode");
  EXPECT_FALSE(reply.getPolicyAllowsAuthentication());
  EXPECT_TRUE(reply.getAutoSendPush());
  const Korvath::Model::AuthFactorMap expected = {{"otp", false}, {"push", true}, {"qrcode", false}};
  EXPECT_EQ(reply.getAuthTypes(), expected);
}

TEST_F(QrCodeBusiness, RepliesLeaveAnOverlongLoginOrPasswordEmpty) {
  std::uint16_t type = 0;
  std::string text;
  ASSERT_EQ(qr_->genResponseGenCmdQRCode(std::string(101, 'a'), std::string(301, 'p'), 0, {}, type, text), 0);
  Korvath::Service::ServiceResponseBase reply;
  ASSERT_EQ(reply.fillFromJson(text), 0) << text;
  EXPECT_EQ(reply.getUserLogin(), "");
  EXPECT_EQ(reply.getUserPassword(), "");
  EXPECT_FALSE(reply.getCheckRememberPassword());
}

TEST_F(QrCodeBusiness, QrScreenCarriesCommandTransactionAndOnlineFlag) {
  const std::string json = validTransactionJson("alice");
  std::uint16_t type = 0;
  std::string text;
  ASSERT_EQ(qr_->genResponseAuthQRCode("alice", "", 0, {{"qrcode", true}}, kTransactionId, json, "KVQR1;command", 1,
                                       type, text),
            0);
  EXPECT_EQ(type, 4);
  Korvath::Service::ServiceResponseAuthQRCode reply;
  ASSERT_EQ(reply.fillFromJson(text), 0) << text;
  EXPECT_EQ(reply.getCommand(), "KVQR1;command");
  EXPECT_EQ(reply.getTransactionId(), kTransactionId);
  EXPECT_TRUE(reply.getOnLine());
  EXPECT_EQ(reply.getAuthDataSize(), 6);
  EXPECT_EQ(reply.getTransactionData().toJson(), json);
  EXPECT_EQ(reply.getLastAuthType(), "qrcode");
}

TEST_F(QrCodeBusiness, QrScreenDropsATransactionIdOf37AndUnreadableTransactionData) {
  std::uint16_t type = 0;
  std::string text;
  ASSERT_EQ(qr_->genResponseAuthQRCode("alice", "", 0, {}, kTransactionId + "0", "not json", "cmd", 0, type, text), 0);
  Korvath::Service::ServiceResponseAuthQRCode reply;
  ASSERT_EQ(reply.fillFromJson(text), 0) << text;
  EXPECT_EQ(reply.getTransactionId(), "");
  EXPECT_EQ(reply.getTransactionData().getTimestamp(), 0u);
  EXPECT_FALSE(reply.getOnLine());
}

TEST_F(QrCodeBusiness, EmptyLoginGivesNoCommand) {
  std::string transactionId = "left over";
  std::string json;
  std::string command = "left over";
  std::uint8_t online = 7;
  const Korvath::Model::KvResult result = qr_->generateCommandQRCode("", transactionId, json, command, online);
  EXPECT_EQ(result.getResultCode(), Korvath::KV_ERROR_FAIL_SERVICE_GEN_CMD_QRCODE_KORVATH);
  EXPECT_EQ(result.getCloudErrorCode(), 0);
  EXPECT_EQ(transactionId, "");
  EXPECT_EQ(command, "");
  EXPECT_EQ(online, 0);
}

TEST_F(QrCodeBusiness, CommandIsMadeOnThisMachineFromTheMobileAuthenticators) {
  storeUsers({storedUser("alice", "alice@sim.example",
                         {authenticator(10, kAliceSecretHex, 1001), authenticator(10, kOtherSecretHex, 1002, false)})});
  std::string transactionId;
  std::string json;
  std::string command;
  std::uint8_t online = 7;
  const Korvath::Model::KvResult result = qr_->generateCommandQRCode("ALICE", transactionId, json, command, online);
  ASSERT_EQ(result.getResultCode(), 0);
  EXPECT_EQ(online, 0);
  EXPECT_EQ(transactionId, "");
  AuthenticationSdk::QrCommand parsed;
  ASSERT_EQ(AuthenticationSdk::parseQrCommand(command, parsed), 0) << command;
  // Both mobile authenticators were handed over; the SDK names only the one that can answer.
  EXPECT_EQ(parsed.deviceIds, std::vector<std::uint32_t>({1001}));
  EXPECT_EQ(parsed.transactionJson, json);
  Korvath::Model::TransactionData data;
  ASSERT_EQ(data.fillFromJson(json), 0);
  EXPECT_EQ(data.getUser(), "alice");
  EXPECT_EQ(data.getType(), 3);

  // The answer the authenticator shows for it passes the check on this machine.
  UserConfig alice = stored("alice");
  const std::string answer = answerFor(alice.getAuthenticators()[0].getBlob(), command);
  EXPECT_EQ(qr_->offlineAuthenticateQRCode(alice, transactionId, json, answer), 0);
}

TEST_F(QrCodeBusiness, OnlyHardwareTokensGiveAuthenticatorNotFound) {
  storeUsers({storedUser("alice", "", {authenticator(11, kAliceSecretHex, 0), authenticator(12, kOtherSecretHex, 0)})});
  std::string transactionId;
  std::string json;
  std::string command;
  std::uint8_t online = 7;
  const Korvath::Model::KvResult result = qr_->generateCommandQRCode("alice", transactionId, json, command, online);
  EXPECT_EQ(result.getResultCode(), Korvath::KV_ERROR_AUTHENTICATOR_NOT_FOUND);
  EXPECT_EQ(online, 0);
  EXPECT_EQ(command, "");
}

TEST_F(QrCodeBusiness, OfflineCheckPassesOverHardwareTokensAndUpdatesOnlyTheMobileBlob) {
  const AuthenticatorRecord token = authenticator(11, kAliceSecretHex, 0);
  const AuthenticatorRecord mobile = authenticator(10, kAliceSecretHex, 1001);
  UserConfig user = storedUser("alice", "", {token, mobile});
  std::string json;
  const std::string command = offlineCommand(user, json);

  const std::uint16_t code =
      qr_->offlineAuthenticateQRCode(user, "", json, otherThan(answerFor(mobile.getBlob(), command)));
  EXPECT_EQ(code, 1);  // the SDK's "wrong code", passed on unchanged
  ASSERT_EQ(user.getAuthenticators().size(), 2u);
  EXPECT_EQ(user.getAuthenticators()[0], token);
  EXPECT_NE(user.getAuthenticators()[1].getBlob(), mobile.getBlob());  // one failed attempt recorded
  AuthenticationSdk::MobileInfo info;
  ASSERT_EQ(AuthenticationSdk::Blob::inspect(user.getAuthenticators()[1].getBlob(), info), 0);
  EXPECT_EQ(info.failedAttempts, 1);
}

TEST_F(QrCodeBusiness, FirstAcceptingMobileWinsAndEarlierRefusalsAreDropped) {
  const AuthenticatorRecord first = authenticator(10, kOtherSecretHex, 1002);
  const AuthenticatorRecord second = authenticator(10, kAliceSecretHex, 1001);
  UserConfig user = storedUser("alice", "", {first, second});
  std::string json;
  const std::string command = offlineCommand(user, json);

  EXPECT_EQ(qr_->offlineAuthenticateQRCode(user, "", json, answerFor(second.getBlob(), command)), 0);
  // The first authenticator refused the code, but what the SDK made of it is not kept.
  EXPECT_EQ(user.getAuthenticators()[0], first);
}

TEST_F(QrCodeBusiness, EveryRefusingMobileKeepsItsNewStateAndTheLastCodeIsReturned) {
  const AuthenticatorRecord first = authenticator(10, kOtherSecretHex, 1002);
  const AuthenticatorRecord second = authenticator(10, kAliceSecretHex, 1001);
  UserConfig user = storedUser("alice", "", {first, second});
  std::string json;
  const std::string command = offlineCommand(user, json);

  EXPECT_EQ(qr_->offlineAuthenticateQRCode(user, "", json, otherThan(answerFor(second.getBlob(), command))), 1);
  for (const AuthenticatorRecord& record : user.getAuthenticators()) {
    AuthenticationSdk::MobileInfo info;
    ASSERT_EQ(AuthenticationSdk::Blob::inspect(record.getBlob(), info), 0);
    EXPECT_EQ(info.failedAttempts, 1);
  }
}

TEST_F(QrCodeBusiness, SettingsWithoutAnAccountAreReadForThisConfigurationsAccount) {
  Korvath::ServerConfig serverConfig = config_->getServerConfig();
  serverConfig.setAuthenticationSettings(AuthenticationSdk::AuthenticationSettings());
  ASSERT_EQ(config_->setServerConfig(serverConfig), 0);
  const AuthenticatorRecord mobile = authenticator(10, kAliceSecretHex, 1001);
  UserConfig user = storedUser("alice", "", {mobile});
  std::string json;
  const std::string command = offlineCommand(user, json);
  EXPECT_EQ(qr_->offlineAuthenticateQRCode(user, "", json, answerFor(mobile.getBlob(), command)), 0);
}

TEST_F(QrCodeBusiness, OfflineCheckWithoutMobileAuthenticatorGivesFailRequestAuthentication) {
  const AuthenticatorRecord token = authenticator(11, kAliceSecretHex, 0);
  UserConfig user = storedUser("alice", "", {token});
  EXPECT_EQ(qr_->offlineAuthenticateQRCode(user, "", validTransactionJson("alice"), "123456"),
            Korvath::KV_ERROR_FAIL_REQUEST_AUTHENTICATION);
  EXPECT_EQ(user.getAuthenticators()[0], token);
}

TEST_F(QrCodeBusiness, OfflineCommandIsBoundToTheGivenTransactionIdentifier) {
  UserConfig user = storedUser("alice", "", {authenticator(10, kAliceSecretHex, 1001)});
  std::string json;
  std::string command;
  ASSERT_EQ(qr_->offlineGenerateCommandQRCode(user, kTransactionId, json, command), 0);
  AuthenticationSdk::QrCommand parsed;
  ASSERT_EQ(AuthenticationSdk::parseQrCommand(command, parsed), 0);
  EXPECT_EQ(parsed.transactionId, kTransactionId);
  EXPECT_EQ(parsed.transactionJson, json);
}

}  // namespace
