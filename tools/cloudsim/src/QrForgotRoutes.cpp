// QR-code and forgot-token behaviour of the simulated service: a QR-code transaction whose
// command the SDK makes from the user's mobile authenticators, the check of the answer the
// authenticator shows (OCRA on the service's own copy of the blobs, one use per
// transaction), and the check of a forgot-token verification code against the account's
// emergency authenticator, which starts the user's forgot-token period.

#include "BusinessRoutes.h"
#include "Json.h"

#include <AuthenticationSdk/ChallengeData.h>
#include <AuthenticationSdk/OfflineAuthentication.h>

#include "Korvath/Model/CloudRecords.h"

#include <list>
#include <mutex>

namespace CloudSim {
namespace {

// Cloud error codes the service answers with (the client maps them, docs/cloud.md).
constexpr std::int32_t kCodeUnauthorizedFactor = 201005004;
constexpr std::int32_t kCodeUserNotFound = 201015008;
constexpr std::int32_t kCodeUserLocked = 201015009;
constexpr std::int32_t kCodeUserOverAllocated = 201015011;
constexpr std::int32_t kCodeAuthenticatorNotFound = 202002001;
constexpr std::int32_t kCodeTransactionNotFound = 202002010;
constexpr std::int32_t kCodeWrongQrAnswer = 202002012;
constexpr std::int32_t kCodeWrongForgotTokenCode = 202006001;

constexpr std::uint8_t kModelMobile = 10;
constexpr std::size_t kMaxOpenTransactions = 1000;

struct QrTransaction {
  const AccountState* account = nullptr;
  unsigned generation = 0;  // State::generation() when it was made: a reset ends it
  std::string transactionId;
  std::string login;            // as stored for the user
  std::string transactionJson;  // what the command's question was made from
};

// Open QR-code transactions of every simulator in the process, oldest first.
struct QrBook {
  std::mutex mutex;
  std::list<QrTransaction> open;
};

QrBook& qrBook() {
  static QrBook book;
  return book;
}

// Takes the open transaction out of the book: an answer is checked once, right or wrong.
bool takeTransaction(const State& state, const AccountState& account, const std::string& transactionId,
                     QrTransaction& out) {
  QrBook& book = qrBook();
  std::lock_guard<std::mutex> lock(book.mutex);
  for (auto it = book.open.begin(); it != book.open.end(); ++it) {
    if (it->account == &account && it->transactionId == transactionId && it->generation == state.generation()) {
      out = *it;
      book.open.erase(it);
      return true;
    }
  }
  return false;
}

}  // namespace

Response handleQrTransaction(RouteContext& ctx, const Korvath::Model::RequestTransaction& request) {
  const Korvath::Model::UserTransaction& userTransaction = request.getUserTransaction();
  SimUser user;
  if (!ctx.state.findUser(ctx.account, userTransaction.getLogin(), user)) {
    return errorAnswer(404, kCodeUserNotFound, "User not found");
  }
  if (user.blocked) return errorAnswer(403, kCodeUserLocked, "User is locked");
  if (user.overAllocated) return errorAnswer(403, kCodeUserOverAllocated, "User is over-allocated");
  if (!factorAllowed(user, "qrcode")) return errorAnswer(403, kCodeUnauthorizedFactor, "QR code is not allowed");

  std::vector<AuthenticationSdk::MobileAuthenticatorEntry> entries;
  for (const SimAuthenticator& a : user.authenticators) {
    if (a.model != kModelMobile || !a.active) continue;
    AuthenticationSdk::MobileAuthenticatorEntry entry{};
    if (AuthenticationSdk::makeMobileAuthenticatorEntry(a.blob, a.deviceId, entry)) entries.push_back(entry);
  }
  if (entries.empty()) return errorAnswer(404, kCodeAuthenticatorNotFound, "No active mobile authenticator");

  QrTransaction transaction;
  transaction.account = &ctx.account;
  transaction.generation = ctx.state.generation();
  transaction.transactionId = newTransactionId();
  if (transaction.transactionId.empty()) return errorAnswer(500, kCodeTransactionNotFound, "No transaction identifier");
  transaction.login = user.login;
  transaction.transactionJson = userTransaction.getTransactionData().toJson();

  std::string command;
  const std::uint16_t code =
      AuthenticationSdk::Offline::generateQrCommand(entries, userTransaction.getTransactionData().getType(),
                                                    transaction.transactionId, transaction.transactionJson, command);
  if (code != 0) return errorAnswer(404, kCodeAuthenticatorNotFound, "No command for these authenticators");

  {
    QrBook& book = qrBook();
    std::lock_guard<std::mutex> lock(book.mutex);
    book.open.push_back(transaction);
    while (book.open.size() > kMaxOpenTransactions) book.open.pop_front();
  }
  Korvath::Model::ResponseTransaction reply;
  reply.setTransactionStatus("PENDING");
  reply.setTransactionId(transaction.transactionId);
  reply.setCommand(command);
  return sealedJson(ctx, 200, reply.toJson());
}

Response handleQrAuthentication(RouteContext& ctx, const Korvath::Model::RequestAuthentication& request) {
  const Korvath::Model::UserAuthentication& authentication = request.getUserAuthentication();
  SimUser user;
  if (!ctx.state.findUser(ctx.account, authentication.getLogin(), user)) {
    return errorAnswer(404, kCodeUserNotFound, "User not found");
  }
  QrTransaction transaction;
  if (!takeTransaction(ctx.state, ctx.account, authentication.getTransactionId(), transaction) ||
      transaction.login != user.login) {
    return errorAnswer(404, kCodeTransactionNotFound, "Transaction not found");
  }
  if (user.blocked) return errorAnswer(403, kCodeUserLocked, "User is locked");

  const AuthenticationSdk::AuthenticationSettings settings = settingsOf(ctx.account.account);
  const std::int64_t now = unixSecondsNow();
  bool accepted = false;
  for (SimAuthenticator& a : user.authenticators) {
    if (a.model != kModelMobile || a.blob.empty()) continue;
    std::string blob = a.blob;
    const std::uint16_t code = AuthenticationSdk::Offline::checkQrAnswer(
        blob, Korvath::Model::TransactionData::kTypeDesktopLogon, transaction.transactionId,
        transaction.transactionJson, authentication.getAuthenticationData(), settings, now);
    if (!blob.empty()) a.blob = blob;  // the service keeps the attempts and the block
    if (code == 0) {
      accepted = true;
      break;
    }
  }
  ctx.state.updateUser(ctx.account, user);
  if (!accepted) return errorAnswer(400, kCodeWrongQrAnswer, "The QR-code answer was not accepted");
  return sealedJson(ctx, 200, "{}");
}

Response handleAuthenticationCode(RouteContext& ctx) {
  Response programmed;
  if (takeProgrammedReply(ctx, programmed)) return programmed;
  Korvath::Model::RequestForgotTokenAuthenticationCode request;
  if (request.fillFromJson(ctx.openedJson) != 0) return sealedJson(ctx, 200, "{}");

  const Korvath::Model::ActivationData& activation = request.getActivationData();
  SimUser user;
  if (!ctx.state.findUser(ctx.account, activation.getLogin(), user)) {
    return errorAnswer(404, kCodeUserNotFound, "User not found");
  }
  std::uint32_t hours = 0;
  for (char c : activation.getPeriod()) {
    if (c < '0' || c > '9') return errorAnswer(400, kCodeWrongForgotTokenCode, "The period is not a number");
    hours = hours * 10 + static_cast<std::uint32_t>(c - '0');  // at most 3 digits
  }
  // The administrator's code was computed for the user's own login, whatever the agent typed.
  AuthenticationSdk::ChallengeData challenge;
  challenge.setType(0);
  challenge.setAccountId(ctx.account.account.accountId);
  challenge.setUserLogin(user.login);
  challenge.setTime(hours);
  challenge.setChallenge(activation.getChallenge());
  const std::uint16_t code = AuthenticationSdk::Offline::checkForgotTokenCode(
      challenge.toJson(), activation.getAuthenticationCode(), settingsOf(ctx.account.account));
  if (code != 0) return errorAnswer(400, kCodeWrongForgotTokenCode, "The verification code was not accepted");

  user.isInForgotToken = true;
  user.authenticatorForgottenExpiryTimestamp =
      static_cast<std::uint64_t>(unixSecondsNow()) * 1000u + static_cast<std::uint64_t>(hours) * 3600000u;
  ctx.state.updateUser(ctx.account, user);
  return sealedJson(ctx, 200, "{}");
}

}  // namespace CloudSim
