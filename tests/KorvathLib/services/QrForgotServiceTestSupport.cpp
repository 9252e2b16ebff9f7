#include "QrForgotServiceTestSupport.h"

#include <filesystem>

#include "AuthenticationSdk/AuthenticatorBlob.h"
#include "AuthenticationSdk/ChallengeData.h"
#include "AuthenticationSdk/OfflineAuthentication.h"
#include "BizCoreTestSupport.h"
#include "Commons/Encoding.h"

using Korvath::Model::AuthenticatorRecord;
using Korvath::Model::UserConfig;
using namespace Korvath::Service;

namespace QrForgotServiceTest {

const char* const kAliceSecretHex = "3132333435363738393031323334353637383930";
const char* const kUntouched = "untouched";

namespace {

std::string makeBlob(std::uint8_t model, const std::string& secretHex, bool active) {
  AuthenticationSdk::Blob::Definition definition;
  definition.model = model;
  Commons::Bytes secret;
  EXPECT_TRUE(Commons::Hex::decode(secretHex, secret));
  definition.secret = secret;
  definition.active = active;
  std::string blob;
  EXPECT_EQ(0,
            AuthenticationSdk::Blob::create(definition, BizCoreTest::kAccountId, BizCoreTest::kIntegrationKey, blob));
  return blob;
}

}  // namespace

AuthenticatorRecord mobile(std::uint32_t deviceId, bool active, const std::string& secretHex) {
  AuthenticatorRecord record;
  EXPECT_EQ(0, record.setModel(AuthenticatorRecord::kModelMobile));
  EXPECT_EQ(0, record.setSerialNumber("MOB-" + std::to_string(deviceId)));
  EXPECT_EQ(0, record.setBlob(makeBlob(AuthenticatorRecord::kModelMobile, secretHex, active)));
  record.setDeviceId(deviceId);
  return record;
}

AuthenticatorRecord hardwareToken(bool active) {
  AuthenticatorRecord record;
  EXPECT_EQ(0, record.setModel(AuthenticatorRecord::kModelOathFirst));
  EXPECT_EQ(0, record.setSerialNumber("HW-0001"));
  EXPECT_EQ(0, record.setBlob(makeBlob(AuthenticatorRecord::kModelOathFirst, kAliceSecretHex, active)));
  return record;
}

UserConfig qrUser(const std::string& login, bool push, bool qrcode, bool otp,
                  const std::vector<AuthenticatorRecord>& authenticators, const std::string& lastAuthType) {
  UserConfig u = ServicesTest::user(login, push, qrcode, otp, lastAuthType);
  EXPECT_EQ(0, u.setAuthenticators(authenticators));
  return u;
}

std::string answerFor(const std::string& blob, const std::string& command) {
  std::string answer;
  EXPECT_EQ(0, AuthenticationSdk::Issuer::computeQrAnswer(blob, BizCoreTest::kAccountId, BizCoreTest::kIntegrationKey,
                                                          command, AuthenticationSdk::currentUnixTime(), answer));
  return answer;
}

std::string adminCode(const std::string& storedLogin, std::uint32_t hours, const std::string& challenge) {
  AuthenticationSdk::ChallengeData data;
  data.setType(0);
  data.setAccountId(BizCoreTest::kAccountId);
  data.setUserLogin(storedLogin);
  data.setTime(hours);
  data.setChallenge(challenge);
  std::string code;
  EXPECT_EQ(0, AuthenticationSdk::Issuer::computeForgotTokenCode(data.toJson(), BizCoreTest::kAccountId,
                                                                 BizCoreTest::kIntegrationKey, code));
  return code;
}

ServiceRequestBase baseRequest(const std::string& login) {
  ServiceRequestBase request;
  EXPECT_EQ(0, request.setUserLogin(login));
  return request;
}

ServiceRequestAuthQRCode qrRequest(const std::string& login, const std::string& code,
                                   const ServiceResponseAuthQRCode& shown, bool onLine) {
  ServiceRequestAuthQRCode request;
  EXPECT_EQ(0, request.setUserLogin(login));
  request.setAuthData(code);
  request.setCommand(shown.getCommand());
  EXPECT_EQ(0, request.setTransactionId(shown.getTransactionId()));
  EXPECT_EQ(0, request.setTransactionData(shown.getTransactionData()));
  request.setOnLine(onLine);
  return request;
}

ServiceRequestActiveForgotAuthenticator activationRequest(const std::string& login, std::uint32_t hours,
                                                          const std::string& challenge, const std::string& code) {
  ServiceRequestActiveForgotAuthenticator request;
  EXPECT_EQ(0, request.setUserLogin(login));
  request.setTime(hours);
  request.setChallenge(challenge);
  request.setAuthData(code);
  return request;
}

ServiceResponseAuthQRCode qrResponse(const std::string& json) {
  ServiceResponseAuthQRCode response;
  EXPECT_EQ(0, response.fillFromJson(json)) << json;
  return response;
}

ServiceResponseBase baseResponse(const std::string& json) {
  ServiceResponseBase response;
  EXPECT_EQ(0, response.fillFromJson(json)) << json;
  return response;
}

ServiceResponseActiveForgotAuthenticator activationResponse(const std::string& json) {
  ServiceResponseActiveForgotAuthenticator response;
  EXPECT_EQ(0, response.fillFromJson(json)) << json;
  return response;
}

void fillQrForgotService(KvService& service, const std::string& configPath, const std::vector<UserConfig>& users) {
  Korvath::Config& config = service.getConfig();
  BizCoreTest::fillSimConfig(config, configPath);
  ASSERT_EQ(0, config.setUsersConfig(users));
  service.getKvBusiness() = Korvath::Business::KvBusiness(&config, &service.getKvCrypto());
  setServerFlags(service, 1, 1, 1);
}

void setServerFlags(KvService& service, std::uint8_t offline, std::uint8_t enableRememberPassword,
                    std::uint8_t enableForgotAuthenticator) {
  Korvath::ServerConfig server = service.getConfig().getServerConfig();
  server.setOffline(offline);
  server.setEnableRememberPassword(enableRememberPassword);
  server.setEnableForgotAuthenticator(enableForgotAuthenticator);
  ASSERT_EQ(0, service.getConfig().setServerConfig(server));
}

UserConfig savedUser(const std::string& configPath, const std::string& login) {
  Korvath::KvCrypto crypto;
  Korvath::Config back;
  EXPECT_EQ(0, BizCoreTest::readBack(configPath, crypto, back));
  const int index = back.getUserIndex(login);
  EXPECT_GE(index, 0) << login;
  if (index < 0) return UserConfig();
  return back.getUsersConfig().at(static_cast<std::size_t>(index));
}

bool fileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

}  // namespace QrForgotServiceTest
