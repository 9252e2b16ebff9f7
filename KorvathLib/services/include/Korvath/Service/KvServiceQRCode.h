#pragma once

// The QR-code factor at the service level: the command that the QR-code panel turns into
// the image the user scans (with the transaction that belongs to it), and the check of the
// verification code the mobile authenticator then shows. Each runs online (the cloud service
// makes the transaction and checks the code) or offline (from the user's stored blobs). This
// class decides which way a request goes, when command generation falls back from online to
// offline, what is saved afterwards and which response type and text go back.
//
// Built for one call on the dialog's KvService (borrowed); the business object it creates
// is its own. Every operation runs synchronously on the dialog thread, catches the standard
// exceptions and returns its preset failure code; nothing is thrown.
//
// The shared Config and KvCrypto are touched only under the KvService's state mutex, which
// is released around every business operation that may talk to the service.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "Korvath/Business/KvBusinessQRCode.h"
#include "Korvath/KvResult.h"
#include "Korvath/Model/User.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/Service/ServiceMessages.h"

namespace Korvath {
namespace Service {

class KvServiceQRCode {
 public:
  // `internetStatus` is the dialog's internet-status flag (true = the service was reachable);
  // only genCmdQRCode reads it, and a null pointer reads as "not reachable". The checks take
  // their online flag from the request instead.
  explicit KvServiceQRCode(KvService* service, const std::atomic<bool>* internetStatus = nullptr);
  ~KvServiceQRCode();
  KvServiceQRCode(const KvServiceQRCode&) = delete;
  KvServiceQRCode& operator=(const KvServiceQRCode&) = delete;

  // A command for the request's login: online first while the dialog is online; offline when
  // it is not, or when the online attempt failed for any reason other than the user being
  // locked (5105), over-allocated (5106) or without an authenticator (5107).
  // Code 0: response type 4 with the command, transaction identifier, transaction data and
  // online flag (type 3 without a command when the service gave no transaction identifier).
  Model::KvResult genCmdQRCode(ServiceRequestBase request, std::uint16_t& responseType, std::string& response);
  // From the service only (the user's QR-code switch is not consulted). 5013 for an empty login.
  Model::KvResult genCmdQRCodeOnline(ServiceRequestBase request, std::uint16_t& responseType, std::string& response);
  // From the stored blobs (a login the configuration does not hold still asks the service).
  // A stored user whose QR-code factor is off: 5115 and the response type of the user's
  // predominant factor, no response text.
  Model::KvResult genCmdQRCodeOffline(ServiceRequestBase request, std::uint16_t& responseType, std::string& response);

  // Checks the request's verification code against its command and transaction, online or
  // offline as the request's onLine says. 0 = the user passed the QR-code factor (response
  // type 10, empty text). A disabled agent (logonAppDisable not 0) answers that code at once
  // with response type 4 and the response text untouched.
  Model::KvResult checkQRCode(ServiceRequestAuthQRCode request, std::uint16_t& responseType, std::string& response);
  Model::KvResult checkQRCodeOnline(ServiceRequestAuthQRCode request, std::uint16_t& responseType,
                                    std::string& response);
  // A refused code answers 5204 (the SDK's own code is logged only) and the command again;
  // the blobs the check changed are saved in both cases.
  Model::KvResult checkQRCodeOffline(ServiceRequestAuthQRCode request, std::uint16_t& responseType,
                                     std::string& response);

 private:
  bool readInternetStatus() const;

  KvService* service_;
  const std::atomic<bool>* internetStatus_;
  std::unique_ptr<Business::KvBusinessQRCode> businessQRCode_;
};

}  // namespace Service
}  // namespace Korvath
