#include "AuthenticationSdk/Ocra.h"

#include <vector>

#include "AuthenticationSdk/AuthenticationException.h"
#include "Commons/Encoding.h"
#include "TruncatedCode.h"

namespace AuthenticationSdk {
namespace Ocra {

using Exception::AUTH_ERROR_INVALID_OCRA_SUITE;
using Exception::AUTH_ERROR_INVALID_PARAMETER;

namespace {

constexpr std::size_t kQuestionBytes = 128;

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

bool parseNumber(const std::string& text, unsigned low, unsigned high, unsigned& value) {
  if (text.empty() || text.size() > 3) return false;
  unsigned v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v < low || v > high) return false;
  value = v;
  return true;
}

bool parseHash(const std::string& text, CryptoSdk::HashAlgorithm& algorithm) {
  if (text == "SHA1") algorithm = CryptoSdk::HashAlgorithm::Sha1;
  else if (text == "SHA256") algorithm = CryptoSdk::HashAlgorithm::Sha256;
  else if (text == "SHA512") algorithm = CryptoSdk::HashAlgorithm::Sha512;
  else return false;
  return true;
}

// Decimal text to lower-case hexadecimal without leading zeros ("0" for zero), as the
// RFC's reference code does before padding the question.
std::string decimalToHex(const std::string& decimal) {
  std::vector<std::uint8_t> value;  // big-endian base 256
  for (char c : decimal) {
    unsigned carry = static_cast<unsigned>(c - '0');
    for (auto it = value.rbegin(); it != value.rend(); ++it) {
      const unsigned v = *it * 10u + carry;
      *it = static_cast<std::uint8_t>(v & 0xFF);
      carry = v >> 8;
    }
    while (carry != 0) {
      value.insert(value.begin(), static_cast<std::uint8_t>(carry & 0xFF));
      carry >>= 8;
    }
  }
  std::string hex = Commons::Hex::encode(value);
  const std::size_t first = hex.find_first_not_of('0');
  return first == std::string::npos ? std::string("0") : hex.substr(first);
}

void appendBigEndian(CryptoSdk::Bytes& out, std::uint64_t value) {
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

bool questionBytes(const Suite& suite, const std::string& question, CryptoSdk::Bytes& out) {
  if (question.size() < 4 || question.size() > suite.questionLength) return false;
  std::string hex;
  switch (suite.questionFormat) {
    case 'N':
      for (char c : question)
        if (c < '0' || c > '9') return false;
      hex = decimalToHex(question);
      break;
    case 'H':
      for (char c : question)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
      hex = question;
      break;
    case 'A':
      out.assign(question.begin(), question.end());
      out.resize(kQuestionBytes, 0);
      return true;
    default:
      return false;
  }
  if (hex.size() > 2 * kQuestionBytes) return false;
  hex.append(2 * kQuestionBytes - hex.size(), '0');
  return Commons::Hex::decode(hex, out);
}

}  // namespace

std::uint16_t parseSuite(const std::string& text, Suite& suite) {
  Suite s;
  s.text = text;
  const std::vector<std::string> parts = split(text, ':');
  if (parts.size() != 3 || parts[0] != "OCRA-1") return AUTH_ERROR_INVALID_OCRA_SUITE;

  const std::vector<std::string> function = split(parts[1], '-');
  if (function.size() != 3 || function[0] != "HOTP" || !parseHash(function[1], s.algorithm) ||
      !parseNumber(function[2], 4, 10, s.digits))
    return AUTH_ERROR_INVALID_OCRA_SUITE;

  const std::vector<std::string> fields = split(parts[2], '-');
  std::size_t i = 0;
  if (i < fields.size() && fields[i] == "C") {
    s.counter = true;
    ++i;
  }
  if (i >= fields.size() || fields[i].size() != 4 || fields[i][0] != 'Q') return AUTH_ERROR_INVALID_OCRA_SUITE;
  s.questionFormat = fields[i][1];
  if ((s.questionFormat != 'A' && s.questionFormat != 'N' && s.questionFormat != 'H') ||
      !parseNumber(fields[i].substr(2), 4, 64, s.questionLength))
    return AUTH_ERROR_INVALID_OCRA_SUITE;
  ++i;
  if (i < fields.size() && fields[i].size() > 1 && fields[i][0] == 'P') {
    if (!parseHash(fields[i].substr(1), s.passwordAlgorithm)) return AUTH_ERROR_INVALID_OCRA_SUITE;
    s.password = true;
    ++i;
  }
  if (i < fields.size() && fields[i].size() == 4 && fields[i][0] == 'S') {
    if (!parseNumber(fields[i].substr(1), 1, 512, s.sessionLength)) return AUTH_ERROR_INVALID_OCRA_SUITE;
    ++i;
  }
  if (i < fields.size() && fields[i].size() >= 3 && fields[i][0] == 'T') {
    const std::string& t = fields[i];
    const char unit = t.back();
    unsigned n = 0;
    std::uint64_t scale = 0;
    if (unit == 'S' && parseNumber(t.substr(1, t.size() - 2), 1, 59, n)) scale = 1;
    else if (unit == 'M' && parseNumber(t.substr(1, t.size() - 2), 1, 59, n)) scale = 60;
    else if (unit == 'H' && parseNumber(t.substr(1, t.size() - 2), 1, 48, n)) scale = 3600;
    else return AUTH_ERROR_INVALID_OCRA_SUITE;
    s.timeStepSeconds = scale * n;
    ++i;
  }
  if (i != fields.size()) return AUTH_ERROR_INVALID_OCRA_SUITE;
  suite = s;
  return 0;
}

std::uint16_t compute(const Suite& suite, const CryptoSdk::Bytes& key, const Inputs& inputs, std::string& response) {
  response.clear();
  if (key.empty()) return Exception::AUTH_ERROR_INVALID_SECRET;
  CryptoSdk::Bytes message(suite.text.begin(), suite.text.end());
  message.push_back(0x00);
  if (suite.counter) appendBigEndian(message, inputs.counter);
  CryptoSdk::Bytes question;
  if (!questionBytes(suite, inputs.question, question)) return AUTH_ERROR_INVALID_PARAMETER;
  message.insert(message.end(), question.begin(), question.end());
  if (suite.password) {
    const std::size_t size = CryptoSdk::digestSize(suite.passwordAlgorithm);
    if (inputs.passwordHash.empty() || inputs.passwordHash.size() > size) return AUTH_ERROR_INVALID_PARAMETER;
    message.insert(message.end(), size - inputs.passwordHash.size(), 0);
    message.insert(message.end(), inputs.passwordHash.begin(), inputs.passwordHash.end());
  }
  if (suite.sessionLength != 0) {
    if (inputs.session.size() > suite.sessionLength) return AUTH_ERROR_INVALID_PARAMETER;
    message.insert(message.end(), suite.sessionLength - inputs.session.size(), 0);
    message.insert(message.end(), inputs.session.begin(), inputs.session.end());
  }
  if (suite.timeStepSeconds != 0) appendBigEndian(message, inputs.timeSteps);
  CryptoSdk::Bytes mac;
  const std::uint16_t rc = CryptoSdk::Hmac::compute(suite.algorithm, key, message, mac);
  if (rc != 0) return rc;
  response = Detail::truncate(mac, suite.digits);
  CryptoSdk::wipe(mac);
  return 0;
}

}  // namespace Ocra
}  // namespace AuthenticationSdk
