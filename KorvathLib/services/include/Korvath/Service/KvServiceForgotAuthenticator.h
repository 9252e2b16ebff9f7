#pragma once

// "Forgot token" mode at the service level: which screen the dialog shows for a user (the
// activation screen, the forgot-token authentication screen while an accepted activation is
// running, or the user's normal factor screen when the mode is switched off), an activation
// attempt online or offline, and the sign-in of a user whose forgot-token period is running.
//
// Built for one call on the dialog's KvService (borrowed); the business object it creates is
// its own. Every operation runs synchronously on the dialog thread, catches the standard
// exceptions and returns its own failure code; nothing is thrown.
//
// The shared Config and KvCrypto are touched only under the KvService's state mutex, which
// is released around every business operation that may talk to the service.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "Korvath/Business/KvBusinessForgotAuthenticator.h"
#include "Korvath/KvResult.h"
#include "Korvath/Model/User.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/Service/ServiceMessages.h"

namespace Korvath {
namespace Service {

class KvServiceForgotAuthenticator {
 public:
  explicit KvServiceForgotAuthenticator(KvService* service);
  ~KvServiceForgotAuthenticator();
  KvServiceForgotAuthenticator(const KvServiceForgotAuthenticator&) = delete;
  KvServiceForgotAuthenticator& operator=(const KvServiceForgotAuthenticator&) = delete;

  // The screen for the request's login: response type 6 (activation, with a new challenge),
  // 7 (forgot-token authentication: the period is running) or the normal screen's type.
  // 0 for the two forgot-token screens; 5115 when the mode is switched off, 5013 for an
  // empty login, 5104 for a user the configuration does not hold even after adding it.
  // `internetStatus` is the dialog's flag: a stored user's configuration is synchronized when
  // the sync interval has passed and the flag is set, and the flag then tells whether the
  // service was reachable. A null pointer reads as not set.
  std::uint16_t getForgotAuthenticatorScreen(ServiceRequestBase request, std::uint16_t& responseType,
                                             std::string& response, std::atomic<bool>* internetStatus);
  // The service checks the activation. Code 0: response type 10, empty text, the service's
  // expiry merged into the configuration. A refusal keeps the whole KvResult of the check and
  // answers the activation screen again with a new challenge.
  Model::KvResult checkActiveForgotAuthenticatorOnline(ServiceRequestActiveForgotAuthenticator request,
                                                       std::uint16_t& responseType, std::string& response);
  // The SDK checks the activation. Code 0 (or the save's failure): response type 10, empty
  // text, the user's local period now + time hours. A refusal (the SDK's code) clears any
  // running local period and answers the activation screen again with a new challenge.
  std::uint16_t checkActiveForgotAuthenticatorOffline(ServiceRequestActiveForgotAuthenticator request,
                                                      std::uint16_t& responseType, std::string& response);
  // The sign-in in forgot-token mode: 0 lets the user in (period running); 5111 when it has
  // ended (activation screen), 5104 for a user not stored, 5115 when the mode is switched off.
  std::uint16_t checkForgotAuthenticator(ServiceRequestBase request, std::uint16_t& responseType,
                                         std::string& response);

  // The end of a user's forgot-token period as a FILETIME: the service's expiry (Unix ms,
  // moved to the local clock by the server time difference in seconds) when it has set one,
  // else the local fallback expiration. Held within the unsigned 64-bit range. The period is
  // running while the current time is not greater than this value.
  static std::uint64_t effectiveExpiry(const Model::UserConfig& user, std::int64_t timeDifferenceSeconds);
  // The end of the period as honoured at `nowFileTime`: the effective expiry, or 0 (ended)
  // while the clock reads earlier than the moment the pass was granted.
  static std::uint64_t honouredExpiry(const Model::UserConfig& user, std::int64_t timeDifferenceSeconds,
                                      std::uint64_t nowFileTime);

 private:
  KvService* service_;
  std::unique_ptr<Business::KvBusinessForgotAuthenticator> businessForgot_;
};

}  // namespace Service
}  // namespace Korvath
