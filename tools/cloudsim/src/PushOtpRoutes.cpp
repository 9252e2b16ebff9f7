// Push and OTP behaviour of the simulated service: a push transaction for a user of the
// fixture, its result as the agent polls it (decided by the test through /_sim/push:
// approved, denied, or never answered), and the online check of an OTP against the user's
// authenticators with the SDK, on the service's own copy of their blobs.

#include "BusinessRoutes.h"
#include "Json.h"

#include <AuthenticationSdk/OfflineAuthentication.h>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "Korvath/Model/CloudRecords.h"

#include <cctype>
#include <list>
#include <mutex>

namespace CloudSim {

// Cloud error codes the service answers with (the client maps them, docs/cloud.md).
namespace {
constexpr std::int32_t kCodeUnauthorizedFactor = 201005004;  // factor not allowed for the user
constexpr std::int32_t kCodeUserNotFound = 201015008;
constexpr std::int32_t kCodeUserLocked = 201015009;
constexpr std::int32_t kCodeWrongOtp = 201045001;
constexpr std::int32_t kCodeDeniedByUser = 201055008;
constexpr std::int32_t kCodeAuthenticatorNotFound = 202002001;
constexpr std::int32_t kCodeNoTransaction = 202002011;  // the push could not be made
}  // namespace

enum class PushStatus { Pending, Approved, Denied };

struct SimPush {
  std::string transactionId;
  const AccountState* account = nullptr;
  std::string login;  // as stored for the user
  PushStatus status = PushStatus::Pending;
  unsigned polls = 0;
  // A decision the test gave before the push was made, applied once `afterPolls` polls
  // have been answered "still waiting".
  bool hasPlannedDecision = false;
  PushStatus planned = PushStatus::Pending;
  unsigned afterPolls = 0;
};

struct PlannedDecision {
  std::string login;  // lower-cased
  PushStatus decision = PushStatus::Pending;
  unsigned afterPolls = 0;
};

struct PushBook {
  std::mutex mutex;
  std::list<SimPush> pushes;  // oldest first
  std::list<PlannedDecision> plans;
};

std::shared_ptr<PushBook> State::pushBook() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!pushBook_) pushBook_ = std::make_shared<PushBook>();
  return pushBook_;
}

namespace {

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

const char* statusText(PushStatus status) {
  switch (status) {
    case PushStatus::Approved:
      return "approved";
    case PushStatus::Denied:
      return "denied";
    default:
      return "pending";
  }
}

bool parseDecision(const std::string& text, PushStatus& out) {
  if (text == "approve") {
    out = PushStatus::Approved;
  } else if (text == "deny") {
    out = PushStatus::Denied;
  } else if (text == "pending") {
    out = PushStatus::Pending;
  } else {
    return false;
  }
  return true;
}

std::string transactionJson(const std::string& status, const std::string& transactionId) {
  Korvath::Model::ResponseTransaction reply;
  reply.setTransactionStatus(status);
  reply.setTransactionId(transactionId);
  return reply.toJson();
}

bool hasActiveMobileAuthenticator(const SimUser& user) {
  for (const SimAuthenticator& a : user.authenticators) {
    if (a.model == 10 && a.active) return true;
  }
  return false;
}

}  // namespace

Response handlePushTransaction(RouteContext& ctx, const Korvath::Model::RequestTransaction& request) {
  const std::string login = request.getUserTransaction().getLogin();
  SimUser user;
  if (!ctx.state.findUser(ctx.account, login, user)) {
    return errorAnswer(404, kCodeUserNotFound, "User not found");
  }
  if (user.blocked) return errorAnswer(403, kCodeUserLocked, "User is locked");
  if (!factorAllowed(user, "push")) return errorAnswer(403, kCodeUnauthorizedFactor, "Push is not allowed");
  if (!hasActiveMobileAuthenticator(user)) {
    return errorAnswer(404, kCodeAuthenticatorNotFound, "No active mobile authenticator");
  }

  SimPush push;
  push.transactionId = newTransactionId();
  if (push.transactionId.empty()) return errorAnswer(500, kCodeNoTransaction, "No transaction identifier");
  push.account = &ctx.account;
  push.login = user.login;
  std::shared_ptr<PushBook> book = ctx.state.pushBook();
  {
    std::lock_guard<std::mutex> lock(book->mutex);
    const std::string key = lower(user.login);
    for (const PlannedDecision& plan : book->plans) {
      if (plan.login == key) {
        push.hasPlannedDecision = true;
        push.planned = plan.decision;
        push.afterPolls = plan.afterPolls;
      }
    }
    book->pushes.push_back(push);
  }
  return sealedJson(ctx, 200, transactionJson("PENDING", push.transactionId));
}

Response handlePushResult(RouteContext& ctx) {
  Response programmed;
  if (takeProgrammedReply(ctx, programmed)) return programmed;

  std::shared_ptr<PushBook> book = ctx.state.pushBook();
  PushStatus status = PushStatus::Pending;
  bool found = false;
  {
    std::lock_guard<std::mutex> lock(book->mutex);
    for (SimPush& push : book->pushes) {
      if (push.transactionId != ctx.transactionId || push.account != &ctx.account) continue;
      found = true;
      if (push.status == PushStatus::Pending && push.hasPlannedDecision && push.polls >= push.afterPolls) {
        push.status = push.planned;
      }
      ++push.polls;
      status = push.status;
      break;
    }
  }
  // Not a push of this simulator (a transport test's identifier): the plain answer.
  if (!found) return sealedJson(ctx, 200, "{}");
  switch (status) {
    case PushStatus::Approved:
      return sealedJson(ctx, 200, transactionJson("APPROVED", ctx.transactionId));
    case PushStatus::Denied:
      return errorAnswer(400, kCodeDeniedByUser, "Denied by the user");
    default:
      return sealedJson(ctx, 202, transactionJson("PENDING", ctx.transactionId));
  }
}

Response handleOtpAuthentication(RouteContext& ctx, const Korvath::Model::RequestAuthentication& request) {
  const Korvath::Model::UserAuthentication& authentication = request.getUserAuthentication();
  SimUser user;
  if (!ctx.state.findUser(ctx.account, authentication.getLogin(), user)) {
    return errorAnswer(404, kCodeUserNotFound, "User not found");
  }
  if (user.blocked) return errorAnswer(403, kCodeUserLocked, "User is locked");
  if (!factorAllowed(user, "otp")) return errorAnswer(403, kCodeUnauthorizedFactor, "OTP is not allowed");
  if (user.authenticators.empty()) {
    return errorAnswer(404, kCodeAuthenticatorNotFound, "No authenticator");
  }

  const Account& account = ctx.account.account;
  const AuthenticationSdk::AuthenticationSettings settings = settingsOf(account);
  const std::int64_t now = unixSecondsNow();

  bool accepted = false;
  for (SimAuthenticator& a : user.authenticators) {
    if (a.blob.empty()) continue;
    std::string blob = a.blob;
    const std::uint16_t code =
        AuthenticationSdk::Offline::checkOtp(blob, authentication.getAuthenticationData(), settings, now);
    if (!blob.empty()) a.blob = blob;  // the service keeps the counter and attempts
    if (code == 0) {
      accepted = true;
      break;
    }
  }
  ctx.state.updateUser(ctx.account, user);
  if (!accepted) return errorAnswer(400, kCodeWrongOtp, "The OTP was not accepted");
  return sealedJson(ctx, 200, "{}");
}

// ---------------------------------------------------------------- control API

Response programPush(State& state, const std::string& body) {
  rapidjson::Document doc;
  if (!Json::parseObject(body, doc)) return {false, 400, Json::controlError("the body must be a JSON object")};
  auto decisionIt = doc.FindMember("decision");
  PushStatus decision = PushStatus::Pending;
  if (decisionIt == doc.MemberEnd() || !decisionIt->value.IsString() ||
      !parseDecision(decisionIt->value.GetString(), decision)) {
    return {false, 400, Json::controlError("\"decision\" must be \"approve\", \"deny\" or \"pending\"")};
  }
  unsigned afterPolls = 0;
  auto after = doc.FindMember("afterPolls");
  if (after != doc.MemberEnd()) {
    if (!after->value.IsUint() || after->value.GetUint() > 1000000) {
      return {false, 400, Json::controlError("\"afterPolls\" must be a number from 0 to 1000000")};
    }
    afterPolls = after->value.GetUint();
  }
  auto id = doc.FindMember("transactionId");
  auto login = doc.FindMember("login");
  const bool hasId = id != doc.MemberEnd() && id->value.IsString();
  const bool hasLogin = login != doc.MemberEnd() && login->value.IsString() && login->value.GetStringLength() > 0;
  if (hasId == hasLogin) {
    return {false, 400, Json::controlError("give either \"transactionId\" or \"login\" (a string)")};
  }

  std::shared_ptr<PushBook> book = state.pushBook();
  std::lock_guard<std::mutex> lock(book->mutex);
  if (hasId) {
    const std::string transactionId(id->value.GetString(), id->value.GetStringLength());
    for (SimPush& push : book->pushes) {
      if (push.transactionId != transactionId) continue;
      push.status = decision;
      push.hasPlannedDecision = false;
      return {false, 200, "{\"ok\":true}"};
    }
    return {false, 400, Json::controlError("no push with that transaction identifier")};
  }
  PlannedDecision plan;
  plan.login = lower(std::string(login->value.GetString(), login->value.GetStringLength()));
  plan.decision = decision;
  plan.afterPolls = afterPolls;
  book->plans.remove_if([&](const PlannedDecision& p) { return p.login == plan.login; });
  book->plans.push_back(plan);
  return {false, 200, "{\"ok\":true}"};
}

Response pushesJson(State& state) {
  std::shared_ptr<PushBook> book = state.pushBook();
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartArray();
  {
    std::lock_guard<std::mutex> lock(book->mutex);
    for (const SimPush& push : book->pushes) {
      writer.StartObject();
      writer.Key("transactionId");
      writer.String(push.transactionId.c_str(), static_cast<rapidjson::SizeType>(push.transactionId.size()));
      writer.Key("login");
      writer.String(push.login.c_str(), static_cast<rapidjson::SizeType>(push.login.size()));
      writer.Key("status");
      writer.String(statusText(push.status));
      writer.Key("polls");
      writer.Uint(push.polls);
      writer.EndObject();
    }
  }
  writer.EndArray();
  return {false, 200, std::string(buffer.GetString(), buffer.GetSize())};
}

}  // namespace CloudSim
