#pragma once

// OCRA (RFC 6287): challenge-response on HMAC with the data input
//   OCRASuite || 0x00 || [C] || Q || [P] || [S] || [T]
// The suite text decides which fields take part. All suites of the RFC's
// DataInput grammar are understood: C, QAxx/QNxx/QHxx (xx 04..64), PSHA1/PSHA256/
// PSHA512, Snnn, TnS/TnM/TnH; CryptoFunction HOTP-SHA1/SHA256/SHA512 with 4 to 10
// digits.

#include <cstdint>
#include <string>

#include "CryptoSdk/Primitives.h"

namespace AuthenticationSdk {
namespace Ocra {

struct Suite {
  std::string text;
  CryptoSdk::HashAlgorithm algorithm = CryptoSdk::HashAlgorithm::Sha1;
  unsigned digits = 0;
  bool counter = false;
  char questionFormat = 'N';  // 'A' alphanumeric, 'N' numeric, 'H' hexadecimal
  unsigned questionLength = 0;
  bool password = false;
  CryptoSdk::HashAlgorithm passwordAlgorithm = CryptoSdk::HashAlgorithm::Sha1;
  unsigned sessionLength = 0;  // 0 = no session information
  std::uint64_t timeStepSeconds = 0;  // 0 = no timestamp
};

// 0 or AUTH_ERROR_INVALID_OCRA_SUITE.
std::uint16_t parseSuite(const std::string& text, Suite& suite);

struct Inputs {
  std::uint64_t counter = 0;
  std::string question;             // as typed: digits (N), characters (A) or hex digits (H)
  CryptoSdk::Bytes passwordHash;    // the hash of the PIN, when the suite has P
  CryptoSdk::Bytes session;         // session information, when the suite has S
  std::uint64_t timeSteps = 0;      // number of time steps since the epoch, when the suite has T
};

// Computes the response. 0, an AuthenticationSdk code for a bad suite or question,
// or a CryptoSdk code.
std::uint16_t compute(const Suite& suite, const CryptoSdk::Bytes& key, const Inputs& inputs, std::string& response);

}  // namespace Ocra
}  // namespace AuthenticationSdk
