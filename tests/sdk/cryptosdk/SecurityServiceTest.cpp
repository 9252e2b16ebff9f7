// Sealing: right key opens; a changed byte, a truncated text, another key or another
// purpose fails with a code and leaves the output empty.
#include <gtest/gtest.h>

#include "Commons/Encoding.h"
#include "CryptoSdk/CryptoException.h"
#include "CryptoSdk/SecurityService.h"

using namespace CryptoSdk;

namespace {

SealKey requestKey(const std::string& integrationKey = "ik-0123456789") {
  SealKey key;
  EXPECT_EQ(0, AgentSecurityService::deriveRequestKey("acc-1", "42", integrationKey, key));
  return key;
}

const std::vector<std::uint8_t> kMachineSecret(32, 0x42);
const std::string kPlain = "{\"accountId\":\"acc-1\",\"resourceId\":\"42\",\"users\":[\"alice\",\"bob\"]}";

}  // namespace

TEST(Sealing, RightKeyOpens) {
  const SealKey key = requestKey();
  EXPECT_EQ(32u, key.encryptionKey.size());
  EXPECT_EQ(32u, key.macKey.size());
  std::string sealed, plain;
  ASSERT_EQ(0, AgentSecurityService::seal(key, kPlain, sealed));
  EXPECT_EQ(std::string::npos, sealed.find("alice"));
  ASSERT_EQ(0, AgentSecurityService::open(key, sealed, plain));
  EXPECT_EQ(kPlain, plain);
}

TEST(Sealing, EmptyTextRoundTrips) {
  const SealKey key = requestKey();
  std::string sealed, plain = "x";
  ASSERT_EQ(0, AgentSecurityService::seal(key, "", sealed));
  ASSERT_EQ(0, AgentSecurityService::open(key, sealed, plain));
  EXPECT_EQ("", plain);
}

TEST(Sealing, RandomIvMakesEverySealDifferent) {
  const SealKey key = requestKey();
  std::string a, b;
  ASSERT_EQ(0, AgentSecurityService::seal(key, kPlain, a));
  ASSERT_EQ(0, AgentSecurityService::seal(key, kPlain, b));
  EXPECT_NE(a, b);
}

TEST(Sealing, EveryChangedByteFails) {
  const SealKey key = requestKey();
  std::string sealed;
  ASSERT_EQ(0, AgentSecurityService::seal(key, kPlain, sealed));
  Commons::Bytes raw;
  ASSERT_TRUE(Commons::Base64::decode(sealed, raw));
  for (std::size_t i = 0; i < raw.size(); ++i) {
    Commons::Bytes changed(raw);
    changed[i] ^= 0x01;
    std::string plain = "left over";
    const std::uint16_t rc = AgentSecurityService::open(key, Commons::Base64::encode(changed), plain);
    EXPECT_NE(0, rc) << "byte " << i;
    EXPECT_GE(rc, 9000) << "byte " << i;
    EXPECT_TRUE(plain.empty()) << "byte " << i;
  }
}

TEST(Sealing, TruncatedTextFails) {
  const SealKey key = requestKey();
  std::string sealed;
  ASSERT_EQ(0, AgentSecurityService::seal(key, kPlain, sealed));
  Commons::Bytes raw;
  ASSERT_TRUE(Commons::Base64::decode(sealed, raw));
  for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{17}, raw.size() - 32, raw.size() - 16,
                        raw.size() - 1}) {
    std::string plain = "left over";
    const Commons::Bytes cut(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_NE(0, AgentSecurityService::open(key, Commons::Base64::encode(cut), plain)) << n;
    EXPECT_TRUE(plain.empty());
  }
  std::string plain = "left over";
  EXPECT_EQ(Exception::CRYPTO_ERROR_SEALED_MALFORMED,
            AgentSecurityService::open(key, sealed.substr(0, sealed.size() - 1), plain));
  EXPECT_TRUE(plain.empty());
  EXPECT_EQ(Exception::CRYPTO_ERROR_SEALED_MALFORMED, AgentSecurityService::open(key, "not base64!", plain));
}

TEST(Sealing, AnotherKeyFails) {
  std::string sealed, plain = "left over";
  ASSERT_EQ(0, AgentSecurityService::seal(requestKey(), kPlain, sealed));
  EXPECT_EQ(Exception::CRYPTO_ERROR_SEALED_AUTHENTICATION,
            AgentSecurityService::open(requestKey("ik-other"), sealed, plain));
  EXPECT_TRUE(plain.empty());
  SealKey other;
  ASSERT_EQ(0, AgentSecurityService::deriveRequestKey("acc-1", "43", "ik-0123456789", other));
  EXPECT_EQ(Exception::CRYPTO_ERROR_SEALED_AUTHENTICATION, AgentSecurityService::open(other, sealed, plain));
  EXPECT_TRUE(plain.empty());
}

TEST(Sealing, RequestKeyInputsAreNotAmbiguous) {
  SealKey a, b;
  ASSERT_EQ(0, AgentSecurityService::deriveRequestKey("ab", "c", "ik-1", a));
  ASSERT_EQ(0, AgentSecurityService::deriveRequestKey("a", "bc", "ik-1", b));
  EXPECT_NE(a.encryptionKey, b.encryptionKey);
}

TEST(Sealing, MissingOrEmptyKeysAreRefused) {
  SealKey key;
  EXPECT_EQ(Exception::CRYPTO_ERROR_KDF_INPUT, AgentSecurityService::deriveRequestKey("a", "1", "", key));
  EXPECT_TRUE(key.empty());
  EXPECT_EQ(Exception::CRYPTO_ERROR_KDF_INPUT, AgentSecurityService::deriveConfigKey({1, 2, 3}, key));
  EXPECT_EQ(Exception::CRYPTO_ERROR_KDF_INPUT, LogSecurityService::deriveLogKey({}, key));
  std::string sealed = "x";
  EXPECT_EQ(Exception::CRYPTO_ERROR_SEAL_KEY_MISSING, AgentSecurityService::seal(key, kPlain, sealed));
  EXPECT_TRUE(sealed.empty());
}

TEST(Sealing, ConfigAndLogKeysDifferAndPurposesDoNotMix) {
  SealKey config, log;
  ASSERT_EQ(0, AgentSecurityService::deriveConfigKey(kMachineSecret, config));
  ASSERT_EQ(0, LogSecurityService::deriveLogKey(kMachineSecret, log));
  EXPECT_NE(config.encryptionKey, log.encryptionKey);
  EXPECT_NE(config.macKey, log.macKey);

  std::string sealed, plain;
  ASSERT_EQ(0, LogSecurityService::seal(log, "a log line", sealed));
  ASSERT_EQ(0, LogSecurityService::open(log, sealed, plain));
  EXPECT_EQ("a log line", plain);
  EXPECT_EQ(Exception::CRYPTO_ERROR_SEALED_AUTHENTICATION, LogSecurityService::open(config, sealed, plain));
  EXPECT_TRUE(plain.empty());
  // The same key used by another service still does not open the text.
  EXPECT_EQ(Exception::CRYPTO_ERROR_SEALED_VERSION, AgentSecurityService::open(log, sealed, plain));
  EXPECT_EQ(Exception::CRYPTO_ERROR_SEALED_VERSION, TransactionSecurityService::open(log, sealed, plain));
  EXPECT_TRUE(plain.empty());

  ASSERT_EQ(0, TransactionSecurityService::seal(config, kPlain, sealed));
  ASSERT_EQ(0, TransactionSecurityService::open(config, sealed, plain));
  EXPECT_EQ(kPlain, plain);
}

TEST(Sealing, DerivationIsDeterministic) {
  SealKey a, b;
  ASSERT_EQ(0, AgentSecurityService::deriveConfigKey(kMachineSecret, a));
  ASSERT_EQ(0, AgentSecurityService::deriveConfigKey(kMachineSecret, b));
  EXPECT_EQ(a.encryptionKey, b.encryptionKey);
  EXPECT_EQ(a.macKey, b.macKey);
  EXPECT_NE(a.encryptionKey, a.macKey);
}
