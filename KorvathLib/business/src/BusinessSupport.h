#pragma once

// What the factor business objects share inside this library (not a contract).

#include <exception>
#include <string>
#include <vector>

#include "AuthenticationSdk/AuthenticationSettings.h"
#include "Korvath/Business/KvBusiness.h"
#include "Korvath/Config.h"
#include "Korvath/Model/CloudRecords.h"
#include "Korvath/Model/TransactionData.h"

namespace Korvath {
namespace Business {
namespace Detail {

// The text logged for a caught exception; "Unknown exception" for none or an empty one.
inline const char* exceptionText(const std::exception* e) {
  const char* text = e != nullptr ? e->what() : nullptr;
  return (text != nullptr && *text != '\0') ? text : "Unknown exception";
}

// The same for the exception being handled; only to be called inside a handler, which keeps
// the exception (and so the text) alive while it runs.
inline const char* currentExceptionText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return exceptionText(&e);
  } catch (...) {
    return exceptionText(nullptr);
  }
}

// The machine's position as the requests carry it (empty text when there is none).
std::string geolocationJson();

// The outer fields of a sign-in request (transaction or authentication): computer name (1 to
// 255 characters), platform 1, the factor, the client address (7 to 15 characters), the
// remote-logon flag and the position. A value a record refuses keeps its default: the
// request goes out all the same.
void fillSignInRequest(Model::RequestBaseFields& request, const KvBusiness& business, const char* factor);

// The user part of a push or QR-code transaction: login type ("EMAIL" for a stored e-mail,
// else the record's "LOGIN"), the login (1 to 100 characters, else empty) and the sign-in it
// describes (`transactionData`, as KvBusiness::getTransactionData makes it). `logName` names
// the operation in the log.
Model::UserTransaction userTransactionFor(const Config& config, KvBusiness& business, const std::string& userLogin,
                                          Model::TransactionData& transactionData, const char* logName);

// The user part of an online OTP or QR-code check: login type and login as above, the code
// typed (kept at 4 to 10 characters) and the transaction identifier (refused at 1 to 35).
Model::UserAuthentication userAuthenticationFor(const Config& config, const std::string& userLogin,
                                                const std::string& authenticationData,
                                                const std::string& transactionId);

// 0, or 5013 for the first login of a configuration request that is not 1 to 100 characters.
std::uint16_t checkLoginLengths(const std::vector<std::string>& userLogins);

// The settings of the offline checks. The blobs are keyed by the account, and settings that
// the service delivered without one belong to this configuration's account.
AuthenticationSdk::AuthenticationSettings offlineSettings(const Config& config);

}  // namespace Detail
}  // namespace Business
}  // namespace Korvath
