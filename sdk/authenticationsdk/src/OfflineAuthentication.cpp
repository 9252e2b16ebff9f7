#include "AuthenticationSdk/OfflineAuthentication.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <mutex>

#include "AuthenticationSdk/AuthenticationException.h"
#include "AuthenticationSdk/AuthenticatorBlob.h"
#include "AuthenticationSdk/ChallengeData.h"
#include "AuthenticationSdk/Hotp.h"
#include "AuthenticationSdk/Ocra.h"
#include "BlobCodec.h"
#include "Commons/Encoding.h"
#include "CryptoSdk/CryptoException.h"
#include "CryptoSdk/Primitives.h"

namespace AuthenticationSdk {

const char kQrCodeSuite[] = "OCRA-1:HOTP-SHA256-6:QH40-T1M";
const char kForgotTokenSuite[] = "OCRA-1:HOTP-SHA256-6:QH64";

using namespace Exception;
using CryptoSdk::Bytes;

namespace {

const char kCommandPrefix[] = "KVQR1";
const char kEmergencyLabel[] = "KvCredProv emergency authenticator v1";
constexpr std::size_t kQuestionDigits = 40;
constexpr std::size_t kMaxTransactionJson = 4096;
constexpr std::size_t kMaxTransactionId = 64;
constexpr std::uint32_t kMaxLookAhead = 1000;
constexpr std::uint32_t kMaxTimeWindow = 60;
constexpr std::size_t kMaxLogin = 100;
constexpr std::size_t kMaxChallenge = 10;

std::mutex gClockMutex;
std::function<std::int64_t()> gClock;

bool isDigits(const std::string& text, std::size_t length) {
  if (text.size() != length) return false;
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool codesEqual(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         CryptoSdk::constantTimeEqual(reinterpret_cast<const std::uint8_t*>(a.data()),
                                      reinterpret_cast<const std::uint8_t*>(b.data()), a.size());
}

std::uint64_t clampTime(std::int64_t now) { return now < 0 ? 0 : static_cast<std::uint64_t>(now); }

std::uint16_t checkTransaction(std::uint8_t type, const std::string& transactionId, const std::string& json) {
  if (type != kDesktopLogonTransaction) return AUTH_ERROR_INVALID_TRANSACTION_TYPE;
  if (json.empty() || json.size() > kMaxTransactionJson) return AUTH_ERROR_INVALID_TRANSACTION_DATA;
  if (transactionId.size() > kMaxTransactionId) return AUTH_ERROR_INVALID_TRANSACTION_ID;
  for (char c : transactionId)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_'))
      return AUTH_ERROR_INVALID_TRANSACTION_ID;
  return 0;
}

// Decodes a blob and checks that it belongs to the settings' account.
std::uint16_t openRecord(const std::string& blob, const AuthenticationSettings& settings, Detail::BlobRecord& record,
                         CryptoSdk::SealKey& key) {
  const std::uint16_t rc = Detail::decode(blob, record);
  return rc != 0 ? rc : Detail::authenticate(record, settings.accountId, settings.integrationKey, key);
}

// A block dated after now (made while the clock ran ahead, or the clock set back since) would
// last until the clock reached its date: it counts from now instead. True when it was re-dated.
bool redateFutureBlock(Detail::BlobRecord& record, std::uint64_t now) {
  if (!record.blocked() || record.blockedAt <= now) return false;
  record.setBlocked(true, now);
  return true;
}

// A block whose automatic release time has come is lifted; true when it was.
bool releaseBlock(Detail::BlobRecord& record, const AuthenticationSettings& settings, std::uint64_t now) {
  if (!record.blocked() || settings.autoUnblockTime == 0 || record.blockedAt > now) return false;
  const std::uint64_t release = record.blockedAt + static_cast<std::uint64_t>(settings.autoUnblockTime) * 60u;
  if (now < release) return false;
  record.setBlocked(false, 0);
  record.failedAttempts = 0;
  return true;
}

void countFailure(Detail::BlobRecord& record, const AuthenticationSettings& settings, std::uint64_t now) {
  if (record.failedAttempts < 0xFF) ++record.failedAttempts;
  // The blob counts up to 255; a larger limit blocks there rather than never.
  const std::uint32_t limit = std::min<std::uint32_t>(settings.authenticationAttempts, 0xFF);
  // A time held at 0 (a clock before 1970) dates the block ahead, so that the first check on a
  // sane clock dates it then, rather than at once lifting it.
  constexpr std::uint64_t kAhead = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (limit != 0 && record.failedAttempts >= limit) record.setBlocked(true, now != 0 ? now : kAhead);
}

// Stores the record's new state in the caller's blob; the blob is left as it was if
// the record cannot be written.
std::uint16_t store(Detail::BlobRecord& record, const CryptoSdk::SealKey& key, std::string& blob,
                    std::uint16_t result) {
  std::string text;
  const std::uint16_t rc = Detail::encode(record, key, text);
  if (rc != 0) return rc;
  blob.swap(text);
  return result;
}

bool readDeviceId(const char (&field)[10], std::uint32_t& id) {
  std::size_t n = 0;
  while (n < sizeof(field) && field[n] != '\0') ++n;
  for (std::size_t i = n; i < sizeof(field); ++i)
    if (field[i] != '\0') return false;
  if (n == 0) return false;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (field[i] < '0' || field[i] > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(field[i] - '0');
  }
  if (value > std::numeric_limits<std::uint32_t>::max()) return false;
  id = static_cast<std::uint32_t>(value);
  return true;
}

std::uint16_t emergencyKey(const std::string& accountId, const std::string& integrationKey, Bytes& key) {
  if (integrationKey.empty()) return AUTH_ERROR_ACCOUNT_KEY_MISSING;
  Bytes context;
  Commons::appendLengthPrefixed(context, accountId);
  Bytes input(integrationKey.begin(), integrationKey.end());
  const std::uint16_t rc = CryptoSdk::Kdf::deriveKey(input, kEmergencyLabel, context, 32, key);
  CryptoSdk::wipe(input);
  return rc;
}

std::uint16_t readChallenge(const std::string& json, ChallengeData& challenge) {
  if (challenge.fillFromJson(json) != 0) return AUTH_ERROR_INVALID_CHALLENGE;
  if (challenge.getAccountId().empty() || challenge.getUserLogin().empty() ||
      challenge.getUserLogin().size() > kMaxLogin || challenge.getChallenge().empty() ||
      challenge.getChallenge().size() > kMaxChallenge)
    return AUTH_ERROR_INVALID_CHALLENGE;
  return 0;
}

// Looks for `otp` among the codes of `count` counters from `first` on (none past the end of the
// counter range): `matched` is the first counter that shows it. With `everyOne` every candidate
// is computed, so the time taken does not tell which one matched.
std::uint16_t findCounter(const Detail::BlobRecord& record, const CryptoSdk::SealKey& key, const std::string& otp,
                          std::uint64_t first, std::uint64_t count, bool everyOne, bool& found,
                          std::uint64_t& matched) {
  found = false;
  Bytes secret;
  std::uint16_t rc = Detail::openSecret(record, key, secret);
  for (std::uint64_t i = 0; rc == 0 && i < count && (everyOne || !found); ++i) {
    if (first > std::numeric_limits<std::uint64_t>::max() - i - 1) break;
    std::string expected;
    rc = Hotp::generate(secret, first + i, record.otpDigits, record.otpAlgorithm, expected);
    if (rc == 0 && !found && codesEqual(expected, otp)) {
      found = true;
      matched = first + i;
    }
  }
  CryptoSdk::wipe(secret);
  if (rc != 0) found = false;
  return rc;
}

// The number of counters the look-ahead window covers: the stored one and syncTime after it.
std::uint64_t lookAhead(const AuthenticationSettings& settings) {
  return static_cast<std::uint64_t>(std::min(settings.syncTime, kMaxLookAhead)) + 1;
}

// What a check and the count made before it share: the opened blob, its key and the time.
struct Attempt {
  Detail::BlobRecord record;
  CryptoSdk::SealKey key;
  std::uint64_t time = 0;
};

// The answer to a code for a blocked authenticator: the blob as it was, but for a block from
// the future, which is dated now and stored so that its time runs from this check on.
std::uint16_t settleBlocked(std::string& blob, Attempt& attempt) {
  // A time that had to be held at 0 is no reading to date a block by.
  if (attempt.time == 0 || !redateFutureBlock(attempt.record, attempt.time)) return AUTH_ERROR_AUTHENTICATOR_BLOCKED;
  return store(attempt.record, attempt.key, blob, AUTH_ERROR_AUTHENTICATOR_BLOCKED);
}

// Everything a check does before it compares the code: 0 when the code is to be compared,
// otherwise the check's answer without comparing it (the blob then holds a lifted block, if
// the unblock time had come, and nothing else). The count and the check of one attempt take
// the same steps, so they agree on whether the code is compared at all.
std::uint16_t openOtpAttempt(std::string& blob, const std::string& otp, const AuthenticationSettings& settings,
                             std::int64_t now, Attempt& attempt) {
  Detail::BlobRecord& record = attempt.record;
  const std::uint16_t rc = openRecord(blob, settings, record, attempt.key);
  if (rc != 0) return rc;
  if (!record.active()) return AUTH_ERROR_AUTHENTICATOR_INACTIVE;
  attempt.time = clampTime(now);
  const bool released = releaseBlock(record, settings, attempt.time);
  if (record.blocked()) return settleBlocked(blob, attempt);
  if (!isDigits(otp, record.otpDigits))
    return released ? store(record, attempt.key, blob, AUTH_ERROR_INVALID_CODE_FORMAT)
                    : static_cast<std::uint16_t>(AUTH_ERROR_INVALID_CODE_FORMAT);
  return 0;
}

std::uint16_t openQrAttempt(std::string& blob, std::uint8_t transactionType, const std::string& transactionId,
                            const std::string& transactionJson, const std::string& code,
                            const AuthenticationSettings& settings, std::int64_t now, Attempt& attempt,
                            Ocra::Suite& suite) {
  std::uint16_t rc = checkTransaction(transactionType, transactionId, transactionJson);
  if (rc != 0) return rc;
  Detail::BlobRecord& record = attempt.record;
  rc = Detail::decode(blob, record);
  if (rc != 0) return rc;
  if (record.model != MODEL_MOBILE_AUTHENTICATOR) return AUTH_ERROR_UNSUPPORTED_MODEL;
  rc = Detail::authenticate(record, settings.accountId, settings.integrationKey, attempt.key);
  if (rc != 0) return rc;
  if (!record.active()) return AUTH_ERROR_AUTHENTICATOR_INACTIVE;
  attempt.time = clampTime(now);
  const bool released = releaseBlock(record, settings, attempt.time);
  if (record.blocked()) return settleBlocked(blob, attempt);
  rc = Ocra::parseSuite(kQrCodeSuite, suite);
  if (rc != 0) return rc;
  if (!isDigits(code, suite.digits))
    return released ? store(record, attempt.key, blob, AUTH_ERROR_INVALID_CODE_FORMAT)
                    : static_cast<std::uint16_t>(AUTH_ERROR_INVALID_CODE_FORMAT);
  return 0;
}

}  // namespace

bool makeMobileAuthenticatorEntry(const std::string& blob, std::uint32_t deviceId, MobileAuthenticatorEntry& entry) {
  std::memset(&entry, 0, sizeof(entry));
  if (blob.size() >= sizeof(entry.blob)) return false;
  std::memcpy(entry.blob, blob.data(), blob.size());
  const std::string id = std::to_string(deviceId);  // at most 10 digits, the whole field
  std::memcpy(entry.deviceId, id.data(), id.size());
  return true;
}

std::string makeQrQuestion(std::uint8_t transactionType, const std::string& transactionId,
                           const std::string& transactionJson) {
  Bytes message{transactionType};
  Commons::appendLengthPrefixed(message, transactionId);
  Commons::appendLengthPrefixed(message, transactionJson);
  Bytes digest;
  if (CryptoSdk::Hash::compute(CryptoSdk::HashAlgorithm::Sha256, message, digest) != 0) return std::string();
  return Commons::Hex::encode(digest).substr(0, kQuestionDigits);
}

std::uint16_t parseQrCommand(const std::string& text, QrCommand& command) {
  static const char* const kKeys[] = {"s", "q", "d", "tt", "ti", "td"};
  std::vector<std::string> values;
  std::size_t start = 0;
  std::size_t index = 0;
  bool first = true;
  for (;;) {
    const std::size_t end = text.find(';', start);
    const std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (first) {
      if (part != kCommandPrefix) return AUTH_ERROR_INVALID_QR_COMMAND;
      first = false;
    } else {
      const std::size_t eq = part.find('=');
      if (index >= 6 || eq == std::string::npos || part.substr(0, eq) != kKeys[index])
        return AUTH_ERROR_INVALID_QR_COMMAND;
      values.push_back(part.substr(eq + 1));
      ++index;
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (values.size() != 6) return AUTH_ERROR_INVALID_QR_COMMAND;
  QrCommand c;
  c.suite = values[0];
  c.question = values[1];
  std::size_t pos = 0;
  const std::string& ids = values[2];
  while (pos <= ids.size()) {
    const std::size_t comma = std::min(ids.find(',', pos), ids.size());
    const std::string id = ids.substr(pos, comma - pos);
    if (id.empty() || id.size() > 10 || !isDigits(id, id.size()) || std::stoull(id) > 0xFFFFFFFFull)
      return AUTH_ERROR_INVALID_QR_COMMAND;
    c.deviceIds.push_back(static_cast<std::uint32_t>(std::stoull(id)));
    pos = comma + 1;
  }
  if (values[3].empty() || values[3].size() > 3 || !isDigits(values[3], values[3].size()) ||
      std::stoul(values[3]) > 255)
    return AUTH_ERROR_INVALID_QR_COMMAND;
  c.transactionType = static_cast<std::uint8_t>(std::stoul(values[3]));
  c.transactionId = values[4];
  Bytes json;
  if (!Commons::Base64::decode(values[5], json)) return AUTH_ERROR_INVALID_QR_COMMAND;
  c.transactionJson.assign(json.begin(), json.end());
  if (c.suite != kQrCodeSuite || checkTransaction(c.transactionType, c.transactionId, c.transactionJson) != 0 ||
      c.question != makeQrQuestion(c.transactionType, c.transactionId, c.transactionJson))
    return AUTH_ERROR_INVALID_QR_COMMAND;
  command = c;
  return 0;
}

namespace Offline {

std::uint16_t checkOtp(std::string& blob, const std::string& otp, const AuthenticationSettings& settings,
                       std::int64_t now) {
  Attempt attempt;
  std::uint16_t rc = openOtpAttempt(blob, otp, settings, now, attempt);
  if (rc != 0) return rc;
  Detail::BlobRecord& record = attempt.record;
  bool found = false;
  std::uint64_t matched = 0;
  rc = findCounter(record, attempt.key, otp, record.counter, lookAhead(settings), false, found, matched);
  if (rc != 0) return rc;
  if (found) {
    record.counter = matched + 1;
    record.failedAttempts = 0;
    return store(record, attempt.key, blob, AUTH_OK);
  }
  countFailure(record, settings, attempt.time);
  return store(record, attempt.key, blob, AUTH_ERROR_CODE_REJECTED);
}

std::uint16_t countOtpAttempt(std::string& blob, const std::string& otp, const AuthenticationSettings& settings,
                              std::int64_t now) {
  Attempt attempt;
  const std::uint16_t rc = openOtpAttempt(blob, otp, settings, now, attempt);
  if (rc != 0) return rc;
  countFailure(attempt.record, settings, attempt.time);
  return store(attempt.record, attempt.key, blob, AUTH_OK);
}

std::uint16_t isOtpUsed(const std::string& blob, const std::string& otp, const AuthenticationSettings& settings,
                        std::uint64_t fromCounter, bool& used) {
  used = false;
  Detail::BlobRecord record;
  CryptoSdk::SealKey key;
  const std::uint16_t rc = openRecord(blob, settings, record, key);
  if (rc != 0 || !isDigits(otp, record.otpDigits) || fromCounter >= record.counter) return rc;
  const std::uint64_t first = std::max(fromCounter, record.counter > kMaxUsedLookBack ? record.counter - kMaxUsedLookBack : 0);
  std::uint64_t matched = 0;
  return findCounter(record, key, otp, first, record.counter - first, true, used, matched);
}

std::uint16_t moveCounterPast(std::string& blob, const std::string& otp, const AuthenticationSettings& settings,
                              bool& moved) {
  moved = false;
  Detail::BlobRecord record;
  CryptoSdk::SealKey key;
  std::uint16_t rc = openRecord(blob, settings, record, key);
  if (rc != 0 || !isDigits(otp, record.otpDigits)) return rc;
  bool found = false;
  std::uint64_t matched = 0;
  rc = findCounter(record, key, otp, record.counter, lookAhead(settings), false, found, matched);
  if (rc != 0 || !found) return rc;
  record.counter = matched + 1;
  rc = store(record, key, blob, 0);
  moved = rc == 0;
  return rc;
}

std::uint16_t keepLocalCounter(const std::string& localBlob, const AuthenticationSettings& localSettings,
                               std::string& serviceBlob, const AuthenticationSettings& serviceSettings, bool& kept,
                               std::uint64_t& serviceCounter) {
  kept = false;
  serviceCounter = 0;
  Detail::BlobRecord local, service;
  CryptoSdk::SealKey localKey, serviceKey;
  std::uint16_t rc = openRecord(serviceBlob, serviceSettings, service, serviceKey);
  if (rc != 0) return rc;
  serviceCounter = service.counter;
  rc = openRecord(localBlob, localSettings, local, localKey);
  if (rc != 0) return rc;
  if (local.counter <= service.counter || local.model != service.model || local.otpDigits != service.otpDigits ||
      local.otpAlgorithm != service.otpAlgorithm) {
    return 0;
  }
  // A new secret under the same serial number (the authenticator enrolled again) starts anew.
  Bytes localSecret, serviceSecret;
  rc = Detail::openSecret(local, localKey, localSecret);
  if (rc == 0) rc = Detail::openSecret(service, serviceKey, serviceSecret);
  const bool sameSecret = rc == 0 && localSecret.size() == serviceSecret.size() &&
                          CryptoSdk::constantTimeEqual(localSecret.data(), serviceSecret.data(), localSecret.size());
  CryptoSdk::wipe(localSecret);
  CryptoSdk::wipe(serviceSecret);
  if (rc != 0 || !sameSecret) return rc;
  service.counter = local.counter;
  rc = store(service, serviceKey, serviceBlob, 0);
  kept = rc == 0;
  return rc;
}

std::uint16_t checkQrAnswer(std::string& blob, std::uint8_t transactionType, const std::string& transactionId,
                            const std::string& transactionJson, const std::string& code,
                            const AuthenticationSettings& settings, std::int64_t now) {
  Attempt attempt;
  Ocra::Suite suite;
  std::uint16_t rc =
      openQrAttempt(blob, transactionType, transactionId, transactionJson, code, settings, now, attempt, suite);
  if (rc != 0) return rc;
  Detail::BlobRecord& record = attempt.record;

  Bytes secret;
  rc = Detail::openSecret(record, attempt.key, secret);
  if (rc != 0) return rc;
  Ocra::Inputs inputs;
  inputs.question = makeQrQuestion(transactionType, transactionId, transactionJson);
  const std::uint64_t step = attempt.time / suite.timeStepSeconds;
  const std::int64_t window = static_cast<std::int64_t>(std::min(settings.timeWindow, kMaxTimeWindow));
  bool found = false;
  for (std::int64_t d = -window; d <= window && !found; ++d) {
    if ((d < 0 && step < static_cast<std::uint64_t>(-d))) continue;
    inputs.timeSteps = step + static_cast<std::uint64_t>(d);
    std::string expected;
    rc = Ocra::compute(suite, secret, inputs, expected);
    if (rc != 0) {
      CryptoSdk::wipe(secret);
      return rc;
    }
    found = codesEqual(expected, code);
  }
  CryptoSdk::wipe(secret);
  if (found) {
    record.failedAttempts = 0;
    return store(record, attempt.key, blob, AUTH_OK);
  }
  countFailure(record, settings, attempt.time);
  return store(record, attempt.key, blob, AUTH_ERROR_CODE_REJECTED);
}

std::uint16_t countQrAttempt(std::string& blob, std::uint8_t transactionType, const std::string& transactionId,
                             const std::string& transactionJson, const std::string& code,
                             const AuthenticationSettings& settings, std::int64_t now) {
  Attempt attempt;
  Ocra::Suite suite;
  const std::uint16_t rc =
      openQrAttempt(blob, transactionType, transactionId, transactionJson, code, settings, now, attempt, suite);
  if (rc != 0) return rc;
  countFailure(attempt.record, settings, attempt.time);
  return store(attempt.record, attempt.key, blob, AUTH_OK);
}

std::uint16_t generateQrCommand(const std::vector<MobileAuthenticatorEntry>& entries, std::uint8_t transactionType,
                                const std::string& transactionId, const std::string& transactionJson,
                                std::string& command) {
  command.clear();
  const std::uint16_t rc = checkTransaction(transactionType, transactionId, transactionJson);
  if (rc != 0) return rc;
  std::string ids;
  bool malformed = false;
  for (const MobileAuthenticatorEntry& entry : entries) {
    const std::size_t length = std::find(entry.blob, entry.blob + sizeof(entry.blob), '\0') - entry.blob;
    std::uint32_t id = 0;
    if (length != Blob::kMobileLength || !readDeviceId(entry.deviceId, id)) {
      malformed = true;
      continue;
    }
    AuthenticatorInfo info;
    if (Blob::inspect(std::string(entry.blob, length), info) != 0 || info.model != MODEL_MOBILE_AUTHENTICATOR) {
      malformed = true;
      continue;
    }
    if (info.active != 1) continue;
    if (!ids.empty()) ids += ',';
    ids += std::to_string(id);
  }
  if (ids.empty())
    return static_cast<std::uint16_t>(malformed ? AUTH_ERROR_INVALID_AUTHENTICATOR_ENTRY
                                                : AUTH_ERROR_NO_ACTIVE_MOBILE_AUTHENTICATOR);
  // An empty question means the hash failed; a command without one is never handed out.
  const std::string question = makeQrQuestion(transactionType, transactionId, transactionJson);
  if (question.empty()) return CryptoSdk::Exception::CRYPTO_ERROR_HASH;
  command = std::string(kCommandPrefix) + ";s=" + kQrCodeSuite + ";q=" + question + ";d=" + ids +
            ";tt=" + std::to_string(transactionType) + ";ti=" + transactionId +
            ";td=" + Commons::Base64::encode(transactionJson);
  return 0;
}

std::uint16_t checkForgotTokenCode(const std::string& challengeJson, const std::string& code,
                                   const AuthenticationSettings& settings) {
  if (settings.integrationKey.empty()) return AUTH_ERROR_ACCOUNT_KEY_MISSING;
  ChallengeData challenge;
  std::uint16_t rc = readChallenge(challengeJson, challenge);
  if (rc != 0) return rc;
  const std::string account = settings.accountId.empty() ? challenge.getAccountId() : settings.accountId;
  if (!isDigits(code, 6)) return AUTH_ERROR_INVALID_CODE_FORMAT;
  std::string expected;
  rc = Issuer::computeForgotTokenCode(challengeJson, account, settings.integrationKey, expected);
  if (rc != 0) return rc;
  return codesEqual(expected, code) ? AUTH_OK : AUTH_ERROR_CODE_REJECTED;
}

}  // namespace Offline

namespace Issuer {

std::uint16_t computeOtp(const std::string& blob, const std::string& accountId, const std::string& integrationKey,
                         std::uint64_t counter, std::string& otp) {
  otp.clear();
  Detail::BlobRecord record;
  Bytes secret;
  std::uint16_t rc = Detail::openBlob(blob, accountId, integrationKey, record, secret);
  if (rc != 0) return rc;
  rc = Hotp::generate(secret, counter, record.otpDigits, record.otpAlgorithm, otp);
  CryptoSdk::wipe(secret);
  return rc;
}

std::uint16_t computeQrAnswer(const std::string& blob, const std::string& accountId, const std::string& integrationKey,
                              const std::string& command, std::int64_t unixTime, std::string& answer) {
  answer.clear();
  QrCommand parsed;
  std::uint16_t rc = parseQrCommand(command, parsed);
  if (rc != 0) return rc;
  Ocra::Suite suite;
  rc = Ocra::parseSuite(parsed.suite, suite);
  if (rc != 0) return rc;
  Bytes secret;
  rc = Blob::openSecret(blob, accountId, integrationKey, secret);
  if (rc != 0) return rc;
  Ocra::Inputs inputs;
  inputs.question = parsed.question;
  inputs.timeSteps = clampTime(unixTime) / suite.timeStepSeconds;
  rc = Ocra::compute(suite, secret, inputs, answer);
  CryptoSdk::wipe(secret);
  return rc;
}

std::uint16_t computeForgotTokenCode(const std::string& challengeJson, const std::string& accountId,
                                     const std::string& integrationKey, std::string& code) {
  code.clear();
  if (integrationKey.empty()) return AUTH_ERROR_ACCOUNT_KEY_MISSING;
  ChallengeData challenge;
  std::uint16_t rc = readChallenge(challengeJson, challenge);
  if (rc != 0) return rc;
  if (challenge.getAccountId() != accountId) return AUTH_ERROR_CHALLENGE_ACCOUNT_MISMATCH;
  // The record is written again so that the code does not depend on how the caller
  // spaced or ordered its JSON.
  Bytes digest;
  rc = CryptoSdk::Hash::compute(CryptoSdk::HashAlgorithm::Sha256, challenge.toJson(), digest);
  if (rc != 0) return rc;
  Ocra::Suite suite;
  rc = Ocra::parseSuite(kForgotTokenSuite, suite);
  if (rc != 0) return rc;
  Bytes key;
  rc = emergencyKey(accountId, integrationKey, key);
  if (rc != 0) return rc;
  Ocra::Inputs inputs;
  inputs.question = Commons::Hex::encode(digest);
  rc = Ocra::compute(suite, key, inputs, code);
  CryptoSdk::wipe(key);
  return rc;
}

}  // namespace Issuer

std::int64_t currentUnixTime() {
  std::function<std::int64_t()> source;
  {
    std::lock_guard<std::mutex> lock(gClockMutex);
    source = gClock;
  }
  if (source) return source();
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void setUnixTimeSource(std::function<std::int64_t()> source) {
  std::lock_guard<std::mutex> lock(gClockMutex);
  gClock = std::move(source);
}

}  // namespace AuthenticationSdk
