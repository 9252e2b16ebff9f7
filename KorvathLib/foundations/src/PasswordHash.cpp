#include "Korvath/PasswordHash.h"

#include <cstdlib>

#include "Commons/Encoding.h"
#include "CryptoSdk/Primitives.h"
#include "Korvath/Platform.h"

namespace Korvath {
namespace Utils {

namespace {
const char* const kScheme = "pbkdf2-sha256";
constexpr std::size_t kSaltSize = 16;
constexpr std::size_t kDigestSize = 32;
// Guards verification against a stored text that asks for absurd work.
constexpr std::uint32_t kMaxIterations = 10000000;
}  // namespace

bool pbkdf2HmacSha256(const std::string& password, const std::vector<std::uint8_t>& salt,
                      std::uint32_t iterations, std::size_t outSize, std::vector<std::uint8_t>& out) {
  out.clear();
  if (iterations == 0 || outSize == 0) return false;
  const CryptoSdk::Bytes key(password.begin(), password.end());
  std::vector<std::uint8_t> result;
  for (std::uint32_t block = 1; result.size() < outSize; ++block) {
    CryptoSdk::Bytes input(salt);
    input.push_back(static_cast<std::uint8_t>(block >> 24));
    input.push_back(static_cast<std::uint8_t>(block >> 16));
    input.push_back(static_cast<std::uint8_t>(block >> 8));
    input.push_back(static_cast<std::uint8_t>(block));
    CryptoSdk::Bytes u;
    if (CryptoSdk::Hmac::compute(CryptoSdk::HashAlgorithm::Sha256, key, input, u) != 0) return false;
    CryptoSdk::Bytes t(u);
    for (std::uint32_t i = 1; i < iterations; ++i) {
      CryptoSdk::Bytes next;
      if (CryptoSdk::Hmac::compute(CryptoSdk::HashAlgorithm::Sha256, key, u, next) != 0) return false;
      u.swap(next);
      for (std::size_t k = 0; k < t.size(); ++k) t[k] ^= u[k];
    }
    result.insert(result.end(), t.begin(), t.end());
  }
  result.resize(outSize);
  out.swap(result);
  return true;
}

std::string makePasswordHash(const std::string& password, std::uint32_t iterations) {
  if (iterations == 0 || iterations > kMaxIterations) return std::string();
  std::vector<std::uint8_t> salt(kSaltSize);
  if (!Platform::randomBytes(salt.data(), salt.size())) return std::string();
  std::vector<std::uint8_t> digest;
  if (!pbkdf2HmacSha256(password, salt, iterations, kDigestSize, digest)) return std::string();
  return std::string(kScheme) + "$" + std::to_string(iterations) + "$" + Commons::Base64::encode(salt) + "$" +
         Commons::Base64::encode(digest);
}

bool verifyPasswordHash(const std::string& password, const std::string& stored) {
  // scheme $ iterations $ salt $ digest
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t sep = stored.find('$', start);
    parts.push_back(stored.substr(start, sep == std::string::npos ? std::string::npos : sep - start));
    if (sep == std::string::npos) break;
    start = sep + 1;
  }
  if (parts.size() != 4 || parts[0] != kScheme || parts[1].empty() || parts[1].size() > 8) return false;
  for (char c : parts[1]) {
    if (c < '0' || c > '9') return false;
  }
  const unsigned long iterations = std::strtoul(parts[1].c_str(), nullptr, 10);
  if (iterations == 0 || iterations > kMaxIterations) return false;
  Commons::Bytes salt, expected;
  if (!Commons::Base64::decode(parts[2], salt) || !Commons::Base64::decode(parts[3], expected) ||
      salt.size() != kSaltSize || expected.size() != kDigestSize) {
    return false;
  }
  std::vector<std::uint8_t> digest;
  if (!pbkdf2HmacSha256(password, salt, static_cast<std::uint32_t>(iterations), kDigestSize, digest)) return false;
  return CryptoSdk::constantTimeEqual(digest, expected);
}

bool storePasswordHash(const std::string& masterPassword) {
  const std::string digest = makePasswordHash(masterPassword);
  return !digest.empty() && Platform::agentRegistry().setString("Password", digest);
}

}  // namespace Utils
}  // namespace Korvath
