// Sealing: right key opens; a changed byte, a truncated text, another key or another
// purpose fails with a code and leaves the output empty.
#include <gtest/gtest.h>

#include "Commons/Encoding.h"
#include "CryptoSdk/CryptoException.h"
#include "CryptoSdk/SecurityService.h"

using namespace CryptoSdk;

namespace {

SealKey requestKey(const std::string& integrationKey = "ik-0123456789", const std::string& account = "acc-1",
                   const std::string& resource = "42") {
  SealKey key;
  EXPECT_EQ(0, AgentSecurityService::deriveRequestKey(account, resource, integrationKey, key));
  return key;
}

const std::vector<std::uint8_t> kMachineSecret(32, 0x42);
const std::string kPlain = "{\"accountId\":\"acc-1\",\"resourceId\":\"42\",\"users\":[\"alice\",\"bob\"]}";

}  // namespace

TEST(Sealing, RoundTripsWithAFreshIvEachTime) {
  const SealKey key = requestKey();
  EXPECT_EQ(32u, key.encryptionKey.size());
  EXPECT_EQ(32u, key.macKey.size());
  EXPECT_NE(key.encryptionKey, key.macKey);
  for (const std::string& text : {kPlain, std::string()}) {
    std::string sealed, again, plain = "left over";
    ASSERT_EQ(0, AgentSecurityService::seal(key, text, sealed));
    ASSERT_EQ(0, AgentSecurityService::seal(key, text, again));
    EXPECT_NE(sealed, again);
    EXPECT_EQ(std::string::npos, sealed.find("alice"));
    ASSERT_EQ(0, AgentSecurityService::open(key, sealed, plain));
    EXPECT_EQ(text, plain);
  }
}

TEST(Sealing, EveryChangedByteAndEveryCutFails) {
  const SealKey key = requestKey();
  std::string sealed;
  ASSERT_EQ(0, AgentSecurityService::seal(key, kPlain, sealed));
  Commons::Bytes raw;
  ASSERT_TRUE(Commons::Base64::decode(sealed, raw));
  std::vector<std::string> broken = {sealed.substr(0, sealed.size() - 1), "not base64!"};
  for (std::size_t i = 0; i < raw.size(); ++i) {
    Commons::Bytes changed(raw);
    changed[i] ^= 0x01;
    broken.push_back(Commons::Base64::encode(changed));
  }
  for (std::size_t n : {std::size_t{0}, std::size_t{17}, raw.size() - 32, raw.size() - 16, raw.size() - 1})
    broken.push_back(
        Commons::Base64::encode(Commons::Bytes(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(n))));
  for (std::size_t i = 0; i < broken.size(); ++i) {
    std::string plain = "left over";
    EXPECT_GE(AgentSecurityService::open(key, broken[i], plain), 9000) << "case " << i;
    EXPECT_TRUE(plain.empty()) << "case " << i;
  }
}

// Only the same service with the same key opens: another integration key, account or
// resource, another machine key, or a text of another service fails.
TEST(Sealing, AnotherKeyOrAnotherPurposeFails) {
  std::string sealed, plain = "left over";
  ASSERT_EQ(0, AgentSecurityService::seal(requestKey(), kPlain, sealed));
  for (const SealKey& other : {requestKey("ik-other"), requestKey("ik-0123456789", "acc-1", "43")}) {
    EXPECT_EQ(Exception::CRYPTO_ERROR_SEALED_AUTHENTICATION, AgentSecurityService::open(other, sealed, plain));
    EXPECT_TRUE(plain.empty());
  }
  // The length prefixes keep ("ab","c") and ("a","bc") apart.
  EXPECT_NE(requestKey("ik-1", "ab", "c").encryptionKey, requestKey("ik-1", "a", "bc").encryptionKey);
  SealKey config, log;
  ASSERT_EQ(0, AgentSecurityService::deriveConfigKey(kMachineSecret, config));
  ASSERT_EQ(0, LogSecurityService::deriveLogKey(kMachineSecret, log));
  ASSERT_EQ(0, LogSecurityService::seal(log, "a log line", sealed));
  ASSERT_EQ(0, LogSecurityService::open(log, sealed, plain));
  EXPECT_EQ("a log line", plain);
  EXPECT_EQ(Exception::CRYPTO_ERROR_SEALED_AUTHENTICATION, LogSecurityService::open(config, sealed, plain));
  // The same key used by another service still does not open the text.
  EXPECT_EQ(Exception::CRYPTO_ERROR_SEALED_VERSION, AgentSecurityService::open(log, sealed, plain));
  EXPECT_EQ(Exception::CRYPTO_ERROR_SEALED_VERSION, TransactionSecurityService::open(log, sealed, plain));
  EXPECT_TRUE(plain.empty());
  ASSERT_EQ(0, TransactionSecurityService::seal(config, kPlain, sealed));
  ASSERT_EQ(0, TransactionSecurityService::open(config, sealed, plain));
  EXPECT_EQ(kPlain, plain);
}

TEST(Sealing, MissingOrShortKeyInputsAreRefused) {
  SealKey key;
  EXPECT_EQ(Exception::CRYPTO_ERROR_KDF_INPUT, AgentSecurityService::deriveRequestKey("a", "1", "", key));
  EXPECT_TRUE(key.empty());
  EXPECT_EQ(Exception::CRYPTO_ERROR_KDF_INPUT, AgentSecurityService::deriveConfigKey({1, 2, 3}, key));
  EXPECT_EQ(Exception::CRYPTO_ERROR_KDF_INPUT, LogSecurityService::deriveLogKey({}, key));
  std::string sealed = "x";
  EXPECT_EQ(Exception::CRYPTO_ERROR_SEAL_KEY_MISSING, AgentSecurityService::seal(key, kPlain, sealed));
  EXPECT_TRUE(sealed.empty());
}
