#include <gtest/gtest.h>

#include "Commons/Encoding.h"
#include "Korvath/PasswordHash.h"
#include "Korvath/Platform.h"
#include "TestSupport.h"

using namespace Korvath::Utils;

using Commons::Hex::encode;

TEST(Pbkdf2, KnownAnswers) {
  const std::vector<std::uint8_t> salt = {'s', 'a', 'l', 't'};
  std::vector<std::uint8_t> out;
  ASSERT_TRUE(pbkdf2HmacSha256("password", salt, 1, 32, out));
  EXPECT_EQ(encode(out), "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b");
  ASSERT_TRUE(pbkdf2HmacSha256("password", salt, 2, 32, out));
  EXPECT_EQ(encode(out), "ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43");
  ASSERT_TRUE(pbkdf2HmacSha256("password", salt, 4096, 32, out));
  EXPECT_EQ(encode(out), "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a");
  // More than one block.
  ASSERT_TRUE(pbkdf2HmacSha256("password", salt, 1, 40, out));
  EXPECT_EQ(out.size(), 40u);
  EXPECT_EQ(encode(out).substr(0, 64), "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b");
  EXPECT_FALSE(pbkdf2HmacSha256("password", salt, 0, 32, out));
}

TEST(PasswordHash, SaltedAndVerifiable) {
  const std::string a = makePasswordHash("Master#1", 1000);
  const std::string b = makePasswordHash("Master#1", 1000);
  ASSERT_FALSE(a.empty());
  EXPECT_NE(a, b);  // a fresh salt each time
  EXPECT_EQ(a.rfind("pbkdf2-sha256$1000$", 0), 0u);
  EXPECT_EQ(a.find("Master#1"), std::string::npos);
  EXPECT_TRUE(verifyPasswordHash("Master#1", a));
  EXPECT_TRUE(verifyPasswordHash("Master#1", b));
  EXPECT_FALSE(verifyPasswordHash("Master#2", a));
  EXPECT_FALSE(verifyPasswordHash("Master#1", ""));
  EXPECT_FALSE(verifyPasswordHash("Master#1", "pbkdf2-sha256$99999999$AAAA$AAAA"));
  EXPECT_FALSE(verifyPasswordHash("Master#1", "pbkdf2-sha256$1000$" + a.substr(a.rfind('$') + 1)));
  std::string tampered = a;
  tampered[tampered.size() - 3] = tampered[tampered.size() - 3] == 'A' ? 'B' : 'A';
  EXPECT_FALSE(verifyPasswordHash("Master#1", tampered));
}

// Through the flavour's own registry (Wine's registry under Windows), never in the clear.
TEST(PasswordHash, StoredInTheRegistryValue) {
  Korvath::Platform::IRegistry& registry = Korvath::Platform::agentRegistry();
  std::string before;
  const bool had = registry.getString("Password", before);
  ASSERT_TRUE(storePasswordHash("Master#1"));
  std::string stored;
  ASSERT_TRUE(registry.getString("Password", stored));
  EXPECT_EQ(stored.find("Master#1"), std::string::npos);
  EXPECT_EQ(stored.rfind("pbkdf2-sha256$100000$", 0), 0u);
  EXPECT_TRUE(verifyPasswordHash("Master#1", stored));
  if (had)
    registry.setString("Password", before);
  else
    registry.deleteValue("Password");
}
