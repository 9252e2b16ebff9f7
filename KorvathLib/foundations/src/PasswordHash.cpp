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
// Separates the registry mark's HMAC from any other use of the password as a key.
const char* const kMarkLabel = "kv-master-password-digest-mark";
}  // namespace

bool pbkdf2HmacSha256(const std::string& password, const std::vector<std::uint8_t>& salt,
                      std::uint32_t iterations, std::size_t outSize, std::vector<std::uint8_t>& out) {
  out.clear();
  if (iterations == 0 || outSize == 0) return false;
  CryptoSdk::Bytes key(password.begin(), password.end());
  CryptoSdk::Bytes result;
  const bool ok = CryptoSdk::Kdf::pbkdf2HmacSha256(key, salt, iterations, outSize, result) == 0;
  CryptoSdk::wipe(key);
  if (ok) out.swap(result);
  return ok;
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

namespace {
// Mark of "this registry value was written for this password": HMAC-SHA-256 keyed by the
// password over a label and the value, Base64. Empty on failure.
std::string markOf(const std::string& masterPassword, const std::string& registryValue) {
  CryptoSdk::Bytes key(masterPassword.begin(), masterPassword.end());
  CryptoSdk::Bytes mac;
  const std::uint16_t code =
      CryptoSdk::Hmac::compute(CryptoSdk::HashAlgorithm::Sha256, key, std::string(kMarkLabel) + '\0' + registryValue, mac);
  CryptoSdk::wipe(key);
  return code == 0 ? Commons::Base64::encode(mac) : std::string();
}
}  // namespace

bool storePasswordHashIfChanged(const std::string& masterPassword, std::string& check, bool& written) {
  written = false;
  std::string stored;
  if (!check.empty() && Platform::agentRegistry().getString("Password", stored) && !stored.empty()) {
    const std::string expected = markOf(masterPassword, stored);
    if (!expected.empty() && expected.size() == check.size() &&
        CryptoSdk::constantTimeEqual(reinterpret_cast<const std::uint8_t*>(expected.data()),
                                     reinterpret_cast<const std::uint8_t*>(check.data()), check.size())) {
      return true;
    }
  }
  const std::string digest = makePasswordHash(masterPassword);
  if (digest.empty() || !Platform::agentRegistry().setString("Password", digest)) return false;
  written = true;
  check = markOf(masterPassword, digest);
  return true;
}

}  // namespace Utils
}  // namespace Korvath
