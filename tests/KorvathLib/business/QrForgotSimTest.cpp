// The QR-code and forgot-token business objects against the simulated service over TLS:
// what they send, how they read the answers, and what the logon-disabled state and the
// configuration keep afterwards.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../cloud/CloudTestSupport.h"
#include "AuthenticationSdk/ChallengeData.h"
#include "AuthenticationSdk/OfflineAuthentication.h"
#include "Korvath/Business/KvBusinessForgotAuthenticator.h"
#include "Korvath/Business/KvBusinessQRCode.h"
#include "Korvath/HttpsExchange.h"
#include "Korvath/KvException.h"
#include "Korvath/Model/CloudRecords.h"
#include "Korvath/RequestId.h"
#include "Korvath/ResultCodes.h"
#include "QrForgotTestSupport.h"

using Korvath::Business::KvBusinessForgotAuthenticator;
using Korvath::Business::KvBusinessQRCode;
using Korvath::Model::KvResult;
using Korvath::Model::UserConfig;
using namespace QrForgotTest;

namespace {

const std::string kPath = "/desktoplogon/accounts/AC1000000001/resources/4242/";

std::string answerFor(const std::string& command) {
  std::string answer;
  EXPECT_EQ(AuthenticationSdk::Issuer::computeQrAnswer(makeBlob(10, kAliceSecretHex), kAccountId, kIntegrationKey,
                                                       command, AuthenticationSdk::currentUnixTime(), answer),
            0);
  return answer;
}

std::string adminCode(const std::string& login, std::uint32_t hours, const std::string& challenge) {
  AuthenticationSdk::ChallengeData data;
  data.setType(0);
  data.setAccountId(kAccountId);
  data.setUserLogin(login);
  data.setTime(hours);
  data.setChallenge(challenge);
  std::string code;
  EXPECT_EQ(AuthenticationSdk::Issuer::computeForgotTokenCode(data.toJson(), kAccountId, kIntegrationKey, code), 0);
  return code;
}

class QrForgotSim : public BusinessTest {
 protected:
  void SetUp() override {
    BusinessTest::SetUp();
    const std::uint16_t port = CloudTest::portFromFileNamedBy("KV_CLOUDSIM_PORT_FILE");
    ASSERT_NE(port, 0) << "KV_CLOUDSIM_PORT_FILE does not name the simulator's port file";
    const std::string ca = CloudTest::environmentValue("KV_TEST_CA_FILE");
    ASSERT_FALSE(ca.empty()) << "KV_TEST_CA_FILE is not set";
    Korvath::Cloud::HttpsExchange::addTrustAnchorFile(ca);
    pointAt(port);
    Korvath::clearRequestId();
    sim_.reset(new CloudTest::SimControl(port));
    ASSERT_TRUE(sim_->reset()) << sim_->lastError();
    qr_.reset(new KvBusinessQRCode(config_.get(), &crypto_, business_.get()));
    forgot_.reset(new KvBusinessForgotAuthenticator(config_.get(), &crypto_, business_.get()));
  }

  void pointAt(std::uint16_t port) {
    registry_.values = {
        {"DesktopLogonHostPrefix", ""}, {"PolicyHostPrefix", ""}, {"DomainSuffix", ""}, {"Port", std::to_string(port)}};
  }

  std::vector<CloudTest::Recorded> recorded() {
    std::vector<CloudTest::Recorded> records;
    EXPECT_TRUE(sim_->requests(records)) << sim_->lastError();
    return records;
  }

  // The opened body of the only request sent, which must have gone to `operation`.
  std::string onlyRequestTo(const std::string& operation) {
    const std::vector<CloudTest::Recorded> records = recorded();
    EXPECT_EQ(records.size(), 1u);
    if (records.size() != 1) return std::string();
    EXPECT_EQ(records[0].path, kPath + operation);
    EXPECT_TRUE(records[0].hasOpened);
    return records[0].opened;
  }

  void fault(const std::string& json) { ASSERT_TRUE(sim_->fault(json)) << sim_->lastError(); }

  std::unique_ptr<CloudTest::SimControl> sim_;
  std::unique_ptr<KvBusinessQRCode> qr_;
  std::unique_ptr<KvBusinessForgotAuthenticator> forgot_;
};

// ---------------------------------------------------------------- QR code

TEST_F(QrForgotSim, LoginUnknownToTheConfigurationGetsItsCommandFromTheServiceAndIsCheckedThere) {
  std::string transactionId;
  std::string json;
  std::string command;
  std::uint8_t online = 0;
  const KvResult generated = qr_->generateCommandQRCode("alice", transactionId, json, command, online);
  ASSERT_EQ(generated.getResultCode(), 0);
  EXPECT_EQ(online, 1);
  EXPECT_EQ(transactionId.size(), 36u);
  EXPECT_FALSE(generated.getRequestId().empty());
  AuthenticationSdk::QrCommand parsed;
  ASSERT_EQ(AuthenticationSdk::parseQrCommand(command, parsed), 0) << command;
  EXPECT_EQ(parsed.transactionId, transactionId);
  EXPECT_EQ(parsed.transactionJson, json);
  EXPECT_EQ(parsed.deviceIds, std::vector<std::uint32_t>({1001}));

  Korvath::Model::RequestTransaction sent;
  ASSERT_EQ(sent.fillFromJson(onlyRequestTo("transaction")), 0);
  EXPECT_EQ(sent.getAuthenticationFactor(), "QRCODE");
  EXPECT_EQ(sent.getPlatform(), 1);
  EXPECT_FALSE(sent.getIsRdp());
  EXPECT_EQ(sent.getUserTransaction().getLoginType(), "LOGIN");
  EXPECT_EQ(sent.getUserTransaction().getLogin(), "alice");
  EXPECT_EQ(sent.getUserTransaction().getTransactionData().toJson(), json);

  const std::string answer = answerFor(command);
  const KvResult checked = qr_->onlineAuthenticateQRCode("alice", transactionId, answer);
  EXPECT_EQ(checked.getResultCode(), 0);
  const std::vector<CloudTest::Recorded> records = recorded();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].path, kPath + "authentication");
  Korvath::Model::RequestAuthentication sentCheck;
  ASSERT_EQ(sentCheck.fillFromJson(records[1].opened), 0);
  EXPECT_EQ(sentCheck.getAuthenticationFactor(), "QRCODE");
  EXPECT_EQ(sentCheck.getUserAuthentication().getTransactionId(), transactionId);
  EXPECT_EQ(sentCheck.getUserAuthentication().getAuthenticationData(), answer);
}

TEST_F(QrForgotSim, WrongAnswerIsRefusedByTheService) {
  std::string transactionId;
  std::string json;
  std::string command;
  std::uint8_t online = 0;
  ASSERT_EQ(qr_->generateCommandQRCode("alice", transactionId, json, command, online).getResultCode(), 0);
  std::string wrong = answerFor(command);
  wrong[0] = wrong[0] == '9' ? '0' : static_cast<char>(wrong[0] + 1);
  const KvResult checked = qr_->onlineAuthenticateQRCode("alice", transactionId, wrong);
  EXPECT_EQ(checked.getResultCode(), Korvath::KV_ERROR_FAIL_AUTHENTICATION);
  EXPECT_EQ(checked.getCloudErrorCode(), 202002012);
  EXPECT_EQ(config_->getLogonAppDisable(), 0);
}

TEST_F(QrForgotSim, AnAnswerIsCheckedOncePerTransactionAndAResetEndsOpenTransactions) {
  std::string transactionId;
  std::string json;
  std::string command;
  std::uint8_t online = 0;
  ASSERT_EQ(qr_->generateCommandQRCode("alice", transactionId, json, command, online).getResultCode(), 0);
  const std::string answer = answerFor(command);
  ASSERT_EQ(qr_->onlineAuthenticateQRCode("alice", transactionId, answer).getResultCode(), 0);
  const KvResult replayed = qr_->onlineAuthenticateQRCode("alice", transactionId, answer);
  EXPECT_NE(replayed.getResultCode(), 0);
  EXPECT_EQ(replayed.getCloudErrorCode(), 202002010);

  ASSERT_EQ(qr_->generateCommandQRCode("alice", transactionId, json, command, online).getResultCode(), 0);
  ASSERT_TRUE(sim_->reset()) << sim_->lastError();
  EXPECT_EQ(qr_->onlineAuthenticateQRCode("alice", transactionId, answerFor(command)).getCloudErrorCode(), 202002010);
}

TEST_F(QrForgotSim, ReplyThatCannotBeOpenedIsAFailureAndLeavesTheOutputsAlone) {
  fault("{\"route\":\"transaction\",\"status\":200,\"body\":\"{\\\"data\\\":\\\"bm90IHNlYWxlZA==\\\"}\",\"count\":1}");
  std::string transactionId = "kept";
  std::string json;
  std::string command = "kept";
  const KvResult result = qr_->onlineGenerateCommandQRCode("alice", transactionId, json, command);
  EXPECT_EQ(result.getResultCode(), Korvath::KV_ERROR_DECRYPT_RESPONSE);
  EXPECT_EQ(transactionId, "kept");
  EXPECT_EQ(command, "kept");
}

TEST_F(QrForgotSim, StoredUserAsksTheServiceWhenOfflineAuthenticationIsNotAllowed) {
  setServerFlags(0);
  storeUsers({storedUser("alice", "alice@sim.example", {authenticator(10, kAliceSecretHex, 1001)})});
  std::string transactionId;
  std::string json;
  std::string command;
  std::uint8_t online = 0;
  ASSERT_EQ(qr_->generateCommandQRCode("ALICE@SIM.EXAMPLE", transactionId, json, command, online).getResultCode(), 0);
  EXPECT_EQ(online, 1);
  EXPECT_EQ(transactionId.size(), 36u);
  Korvath::Model::RequestTransaction sent;
  ASSERT_EQ(sent.fillFromJson(onlyRequestTo("transaction")), 0);
  EXPECT_EQ(sent.getUserTransaction().getLogin(), "alice");  // the stored login
}

TEST_F(QrForgotSim, AnEmailLoginGoesOutAsEmail) {
  storeUsers({storedUser("alice", "alice@sim.example", {authenticator(10, kAliceSecretHex, 1001)})});
  qr_->onlineAuthenticateQRCode("Alice@Sim.Example", std::string(35, 'a'), "123456");
  Korvath::Model::RequestAuthentication sent;
  ASSERT_EQ(sent.fillFromJson(onlyRequestTo("authentication")), 0);
  EXPECT_EQ(sent.getUserAuthentication().getLoginType(), "EMAIL");
  // An identifier of 35 characters is refused by the record and goes out empty.
  EXPECT_EQ(sent.getUserAuthentication().getTransactionId(), "");
}

TEST_F(QrForgotSim, EveryAuthenticatorBlockedAndNoServiceGivesTokensBlockedAndNoInternet) {
  storeUsers({storedUser("alice", "", {authenticator(10, kAliceSecretHex, 1001, false)})});
  config_->setLogonAppDisable(Korvath::KV_ERROR_KV_RESOURCE_NOT_FOUND);
  pointAt(CloudTest::closedPort());
  std::string transactionId;
  std::string json;
  std::string command;
  std::uint8_t online = 0;
  const KvResult result = qr_->generateCommandQRCode("alice", transactionId, json, command, online);
  EXPECT_EQ(result.getResultCode(), Korvath::KV_ERROR_ALL_TOKENS_BLOCKED_AND_NO_INTERNET_ACCESS);
  EXPECT_EQ(online, 1);
  // A connectivity failure says nothing about the resource: the disabled state stays.
  EXPECT_EQ(config_->getLogonAppDisable(), Korvath::KV_ERROR_KV_RESOURCE_NOT_FOUND);
}

TEST_F(QrForgotSim, OfflineCheckWithEveryAuthenticatorBlockedAsksTheServiceAndKeepsTheBlobs) {
  const Korvath::Model::AuthenticatorRecord blocked = authenticator(10, kAliceSecretHex, 1001, false);
  UserConfig alice = storedUser("alice", "", {blocked});
  const std::uint16_t code = qr_->offlineAuthenticateQRCode(alice, std::string(36, 'b'), "{}", "123456");
  EXPECT_NE(code, 0);
  Korvath::Model::RequestAuthentication sent;
  ASSERT_EQ(sent.fillFromJson(onlyRequestTo("authentication")), 0);
  EXPECT_EQ(sent.getUserAuthentication().getLogin(), "alice");
  EXPECT_EQ(alice.getAuthenticators()[0], blocked);
}

TEST_F(QrForgotSim, ServiceSayingTheResourceIsGoneDisablesTheLogonApp) {
  fault(
      "{\"route\":\"transaction\",\"status\":404,\"body\":\"{\\\"errors\\\":[{\\\"code\\\":\\\"201005012\\\","
      "\\\"message\\\":\\\"gone\\\"}]}\",\"count\":1}");
  std::string transactionId;
  std::string json;
  std::string command;
  const KvResult result = qr_->onlineGenerateCommandQRCode("alice", transactionId, json, command);
  EXPECT_EQ(result.getResultCode(), Korvath::KV_ERROR_KV_RESOURCE_NOT_FOUND);
  EXPECT_EQ(config_->getLogonAppDisable(), Korvath::KV_ERROR_KV_RESOURCE_NOT_FOUND);
  Korvath::Config reread(&crypto_);
  ASSERT_EQ(reread.readFile(config_->getFilePath()), 0);
  EXPECT_EQ(reread.getLogonAppDisable(), Korvath::KV_ERROR_KV_RESOURCE_NOT_FOUND);
}

// ---------------------------------------------------------------- forgot token

TEST_F(QrForgotSim, OnlineActivationIsAcceptedAndTheServicesExpiryIsStored) {
  UserConfig alice = storedUser("alice", "alice@sim.example", {authenticator(10, kAliceSecretHex, 1001)});
  ASSERT_EQ(alice.setPassword("remembered"), 0);
  storeUsers({alice});
  // The administrator's code names the stored login; the user may have typed the e-mail.
  const KvResult result = forgot_->onlineAuthenticateActiveForgotAuthenticator("alice@sim.example", 8, "123456",
                                                                               adminCode("alice", 8, "123456"));
  ASSERT_EQ(result.getResultCode(), 0);
  Korvath::Model::RequestForgotTokenAuthenticationCode sent;
  ASSERT_EQ(sent.fillFromJson(onlyRequestTo("authenticationcode")), 0);
  EXPECT_EQ(sent.getActivationData().getLogin(), "alice@sim.example");
  EXPECT_EQ(sent.getActivationData().getChallenge(), "123456");
  EXPECT_EQ(sent.getActivationData().getPeriod(), "8");
  EXPECT_EQ(sent.getPlatform(), 1);

  const std::int64_t before = AuthenticationSdk::currentUnixTime() * 1000;
  ASSERT_EQ(forgot_->updateConfigUserForgotAuthenticator("alice@sim.example", 8, "otp").getResultCode(), 0);
  const UserConfig saved = stored("alice");
  EXPECT_GE(saved.getAuthenticatorForgottenExpiryTimestamp(),
            static_cast<std::uint64_t>(before + 8 * 3600000LL - 1000));
  EXPECT_LE(saved.getAuthenticatorForgottenExpiryTimestamp(),
            static_cast<std::uint64_t>(before + 8 * 3600000LL + 60000));
  EXPECT_EQ(saved.getLastAuthType(), "otp");
  EXPECT_EQ(saved.getPassword(), "");
  EXPECT_EQ(saved.getFallbackExpiration(), 0u);
}

TEST_F(QrForgotSim, WrongActivationCodeIsRefusedByTheService) {
  storeUsers({storedUser("alice", "", {})});
  const KvResult result =
      forgot_->onlineAuthenticateActiveForgotAuthenticator("alice", 9, "123456", adminCode("alice", 8, "123456"));
  EXPECT_EQ(result.getResultCode(), Korvath::KV_ERROR_FAIL_AUTHENTICATION);
  EXPECT_EQ(result.getCloudErrorCode(), 202006001);
  EXPECT_FALSE(result.getRequestId().empty());
}

TEST_F(QrForgotSim, CodeOfTheWrongLengthIsNeverSentButStillEndsTheDisabledState) {
  config_->setLogonAppDisable(Korvath::KV_ERROR_KV_RESOURCE_NOT_FOUND);
  EXPECT_EQ(forgot_->onlineAuthenticateActiveForgotAuthenticator("alice", 8, "123456", "12345").getResultCode(),
            Korvath::KV_ERROR_INVALID_AUTHENTICATION_DATA_LENGTH);
  EXPECT_EQ(forgot_->onlineAuthenticateActiveForgotAuthenticator("alice", 8, "12345678901", "123456").getResultCode(),
            Korvath::KV_ERROR_INVALID_CHALLENGE_LENGTH);
  EXPECT_TRUE(recorded().empty());
  EXPECT_EQ(config_->getLogonAppDisable(), 0);
}

TEST_F(QrForgotSim, ChallengeTooShortForTheRequestIsRefusedByItsRecordAndNothingIsSent) {
  try {
    forgot_->onlineAuthenticateActiveForgotAuthenticator("alice", 8, "12", "123456");
    FAIL() << "the request record accepted a challenge of 2 characters";
  } catch (const Korvath::Exception::KvException& e) {
    EXPECT_EQ(e.code(), Korvath::KV_ERROR_INVALID_CHALLENGE_LENGTH);
  }
  EXPECT_TRUE(recorded().empty());
}

TEST_F(QrForgotSim, HoursOfFourDigitsLeaveThePeriodEmpty) {
  forgot_->onlineAuthenticateActiveForgotAuthenticator("alice", 1000, "123456", "123456");
  Korvath::Model::RequestForgotTokenAuthenticationCode sent;
  ASSERT_EQ(sent.fillFromJson(onlyRequestTo("authenticationcode")), 0);
  EXPECT_EQ(sent.getActivationData().getPeriod(), "");
}

TEST_F(QrForgotSim, ActivationOfAUserTheConfigurationDoesNotHoldSavesOnlyTheMergedConfiguration) {
  ASSERT_EQ(forgot_->onlineAuthenticateActiveForgotAuthenticator("alice", 2, "654321", adminCode("alice", 2, "654321"))
                .getResultCode(),
            0);
  ASSERT_EQ(forgot_->updateConfigUserForgotAuthenticator("alice", 2, "push").getResultCode(), 0);
  Korvath::Config reread(&crypto_);
  ASSERT_EQ(reread.readFile(config_->getFilePath()), 0);
  EXPECT_TRUE(reread.getUsersConfig().empty());
  EXPECT_EQ(reread.getAccountAlias(), "Simulated Account");
}

}  // namespace
