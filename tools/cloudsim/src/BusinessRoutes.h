#pragma once

// What a route handler gets and the helpers it answers with. Each business area keeps its
// handlers in its own file; Routes.cpp binds them to the route table.
//
// A test-programmed reply (/_sim/reply) always wins over the business state. A request whose
// opened body is not that operation's request record gets the plain empty answer ({} sealed),
// so transport tests can send any body.

#include "Dispatch.h"

#include "AuthenticationSdk/AuthenticationSettings.h"
#include "Korvath/Model/CloudRecords.h"

#include <cstdint>

#include <string>

namespace CloudSim {

struct RouteContext {
  State& state;
  const Http::Request& request;
  const AccountState& account;
  const std::string& route;
  const std::string& openedJson;     // the plain request body (empty for GET)
  const std::string& transactionId;  // pushresult only
};

// The programmed reply of the route if there is one, else `json` (plain text, sealed under
// the account's request key) with `status`.
Response sealedReply(RouteContext& ctx, int status = 200, const std::string& json = "{}");
// True (with the reply in `out`) when a test programmed a reply for this route.
bool takeProgrammedReply(RouteContext& ctx, Response& out);
// `json` sealed under the account's request key and wrapped as {"data":...}.
Response sealedJson(RouteContext& ctx, int status, const std::string& json);

// Shared by the handlers of every business area (BusinessRoutes.cpp).
// An error answer of the service: `status` with {"errors":[{code, message}]}.
Response errorAnswer(int status, std::int32_t code, const std::string& message);
std::int64_t unixSecondsNow();
// A version-4 UUID in lower-case 8-4-4-4-12 form; empty when the random source fails.
std::string newTransactionId();
// The account's settings of the authenticator checks, its integration key included.
AuthenticationSdk::AuthenticationSettings settingsOf(const Account& account);
// Whether the user's factor map switches `factor` ("push", "otp", "qrcode") on.
bool factorAllowed(const SimUser& user, const std::string& factor);

Response handleConfig(RouteContext& ctx);
Response handlePolicy(RouteContext& ctx);
Response handlePolicyOffline(RouteContext& ctx);

// Push and OTP (PushOtpRoutes.cpp): a push transaction, the poll of its result, the online
// OTP check; and their control operations POST /_sim/push and GET /_sim/pushes.
Response handlePushTransaction(RouteContext& ctx, const Korvath::Model::RequestTransaction& request);
Response handlePushResult(RouteContext& ctx);
Response handleOtpAuthentication(RouteContext& ctx, const Korvath::Model::RequestAuthentication& request);
Response programPush(State& state, const std::string& body);
Response pushesJson(State& state);

// QR code and forgot token (QrForgotRoutes.cpp): the factor "QRCODE" of the transaction and
// authentication routes, and the authenticationcode route.
Response handleQrTransaction(RouteContext& ctx, const Korvath::Model::RequestTransaction& request);
Response handleQrAuthentication(RouteContext& ctx, const Korvath::Model::RequestAuthentication& request);
Response handleAuthenticationCode(RouteContext& ctx);

}  // namespace CloudSim
