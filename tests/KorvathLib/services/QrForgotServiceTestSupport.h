#pragma once

// Support of the QR-code and forgot-token service tests: a dialog's KvService holding users
// with mobile authenticators of the simulator's default account, the answers a mobile
// authenticator and an administrator's console compute, and readers of the replies.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Korvath/Model/User.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/Service/ServiceMessages.h"
#include "ServicesTestSupport.h"

namespace QrForgotServiceTest {

// Secret of alice's mobile authenticator in the simulator's fixture (and of the local ones).
extern const char* const kAliceSecretHex;
// Text a test leaves in a response to show that an operation did not write it.
extern const char* const kUntouched;

// A mobile authenticator (model 10) of the default account with the given secret.
Korvath::Model::AuthenticatorRecord mobile(std::uint32_t deviceId, bool active = true,
                                           const std::string& secretHex = kAliceSecretHex);
// An OATH hardware token (model 11).
Korvath::Model::AuthenticatorRecord hardwareToken(bool active = true);
// A stored user (e-mail <login>@corp.example, policy allowing) with factors and authenticators.
Korvath::Model::UserConfig qrUser(const std::string& login, bool push, bool qrcode, bool otp,
                                  const std::vector<Korvath::Model::AuthenticatorRecord>& authenticators,
                                  const std::string& lastAuthType = std::string());

// What the mobile authenticator holding `blob` answers to `command` now.
std::string answerFor(const std::string& blob, const std::string& command);
// The verification code an administrator reads out for that user, hours and challenge.
std::string adminCode(const std::string& storedLogin, std::uint32_t hours, const std::string& challenge);

Korvath::Service::ServiceRequestBase baseRequest(const std::string& login);
Korvath::Service::ServiceRequestAuthQRCode qrRequest(const std::string& login, const std::string& code,
                                                     const Korvath::Service::ServiceResponseAuthQRCode& shown,
                                                     bool onLine);
Korvath::Service::ServiceRequestActiveForgotAuthenticator activationRequest(const std::string& login,
                                                                            std::uint32_t hours,
                                                                            const std::string& challenge,
                                                                            const std::string& code);

// Parses a response text that must be of the given record type.
Korvath::Service::ServiceResponseAuthQRCode qrResponse(const std::string& json);
Korvath::Service::ServiceResponseBase baseResponse(const std::string& json);
Korvath::Service::ServiceResponseActiveForgotAuthenticator activationResponse(const std::string& json);

// Fills a dialog's service (no start-up) with the simulator's account and `users`, saving to
// `configPath`, with offline authentication, remember-password and forgot-token mode on.
void fillQrForgotService(Korvath::Service::KvService& service, const std::string& configPath,
                         const std::vector<Korvath::Model::UserConfig>& users);
void setServerFlags(Korvath::Service::KvService& service, std::uint8_t offline, std::uint8_t enableRememberPassword,
                    std::uint8_t enableForgotAuthenticator);
// The user as the configuration file at `configPath` now holds it; fails the test when the
// file cannot be read or does not hold the user.
Korvath::Model::UserConfig savedUser(const std::string& configPath, const std::string& login);
bool fileExists(const std::string& path);

}  // namespace QrForgotServiceTest
