#include "DispatchTestSupport.h"

#include "AuthenticationSdk/Hotp.h"
#include "BizCoreTestSupport.h"
#include "Commons/Encoding.h"

namespace DispatchTest {

namespace {
std::string hotp(const CryptoSdk::Bytes& secret, std::uint64_t counter) {
  std::string code;
  AuthenticationSdk::Hotp::generate(secret, counter, 6, CryptoSdk::HashAlgorithm::Sha1, code);
  return code;
}
}  // namespace

std::string codeOfTestBlob(std::uint64_t counter) { return hotp(CryptoSdk::Bytes(20, 0x31), counter); }

std::string codeOfSimAlice(std::uint64_t counter) {
  CryptoSdk::Bytes secret;
  Commons::Hex::decode("3132333435363738393031323334353637383930", secret);
  return hotp(secret, counter);
}

Korvath::Model::UserConfig userWithToken(const std::string& login, bool push, bool qrcode, bool otp, bool active,
                                         std::uint8_t model) {
  Korvath::Model::UserConfig u = BizCoreTest::makeUser(login, push, qrcode, otp, login + "@corp.example");
  u.setHasPolicy(true);
  u.setPolicyAllowsAuthentication(true);
  u.setAuthenticators({BizCoreTest::makeAuthenticator(model, active, "SER-" + login)});
  return u;
}

void setOffline(Korvath::Service::KvService& service, std::uint8_t offline) {
  Korvath::ServerConfig server = service.getConfig().getServerConfig();
  server.setOffline(offline);
  service.getConfig().setServerConfig(server);
}

Korvath::Model::UserConfig storedUser(const std::string& path, const std::string& login) {
  Korvath::KvCrypto crypto;
  Korvath::Config back;
  if (BizCoreTest::readBack(path, crypto, back) != 0) return Korvath::Model::UserConfig();
  const int index = back.getUserIndex(login);
  if (index < 0) return Korvath::Model::UserConfig();
  return back.getUsersConfig().at(static_cast<std::size_t>(index));
}

}  // namespace DispatchTest
