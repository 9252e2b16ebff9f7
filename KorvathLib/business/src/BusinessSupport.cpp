#include "BusinessSupport.h"

#include "Korvath/ConnectionUtils.h"
#include "Korvath/KvGeolocator.h"
#include "Korvath/Logger.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/WindowsFacts.h"

namespace Korvath {
namespace Business {
namespace Detail {

std::string geolocationJson() {
  float latitude = 0.0f;
  float longitude = 0.0f;
  float accuracy = -1.0f;
  Geolocation::KvGeolocator::instance().getGeolocation(latitude, longitude, accuracy);
  Model::GeolocationData geolocation;
  geolocation.latitude = latitude;
  geolocation.longitude = longitude;
  geolocation.accuracy = accuracy;
  return geolocation.toJson();
}

void fillSignInRequest(Model::RequestBaseFields& request, const KvBusiness& business, const char* factor) {
  const std::string machineName = Utils::getComputerName();
  if (!machineName.empty() && machineName.size() <= 255) request.setMachineName(machineName);
  request.setPlatform(1);
  request.setAuthenticationFactor(factor);
  const std::string& clientIp = business.getClientIp();
  if (clientIp.size() >= 7 && clientIp.size() <= 15) request.setClientIp(clientIp);
  request.setIsRdp(Utils::getRemoteLogonFlag() == 1);
  request.setGeolocationData(geolocationJson());
}

Model::UserTransaction userTransactionFor(const Config& config, KvBusiness& business, const std::string& userLogin,
                                          Model::TransactionData& transactionData, const char* logName) {
  Model::UserTransaction userTransaction;
  // Any other type than "EMAIL" is refused by the record, which then keeps "LOGIN".
  userTransaction.setLoginType(config.getLoginType(userLogin));
  if (userTransaction.setLogin(userLogin) != KV_SUCCESS) {
    KV_LOG_ERROR("%s - the login is not 1 to 100 characters; it is sent empty", logName);
  }
  transactionData = business.getTransactionData(userLogin);
  const std::uint16_t dataCode = userTransaction.setTransactionData(transactionData);
  if (dataCode != KV_SUCCESS) KV_LOG_ERROR("%s - transaction data refused: %d", logName, dataCode);
  return userTransaction;
}

Model::UserAuthentication userAuthenticationFor(const Config& config, const std::string& userLogin,
                                                const std::string& authenticationData,
                                                const std::string& transactionId) {
  Model::UserAuthentication userAuthentication;
  userAuthentication.setLoginType(config.getLoginType(userLogin));
  userAuthentication.setLogin(userLogin);
  userAuthentication.setAuthenticationData(authenticationData);
  userAuthentication.setTransactionId(transactionId);
  return userAuthentication;
}

std::uint16_t checkLoginLengths(const std::vector<std::string>& userLogins) {
  for (const std::string& login : userLogins) {
    if (login.empty() || login.size() > Model::User::kLoginMaxLength) {
      KV_LOG_ERROR("Korvath::Business - user login of %u characters refused", static_cast<unsigned>(login.size()));
      return KV_ERROR_INVALID_USER_LOGIN_LENGTH;
    }
  }
  return KV_SUCCESS;
}

AuthenticationSdk::AuthenticationSettings offlineSettings(const Config& config) {
  AuthenticationSdk::AuthenticationSettings settings = config.getServerConfig().getAuthenticationSettings();
  if (settings.accountId.empty()) settings.accountId = config.getAccountId();
  return settings;
}

}  // namespace Detail
}  // namespace Business
}  // namespace Korvath
