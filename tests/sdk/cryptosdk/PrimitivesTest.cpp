// Known-answer tests of the platform wrappers: FIPS 180 (SHA), RFC 4231 (HMAC),
// SP 800-38A (AES), NIST CAVP counter-mode KDF with HMAC-SHA-512.
#include <gtest/gtest.h>

#include <set>

#include "Commons/Encoding.h"
#include "CryptoSdk/CryptoException.h"
#include "CryptoSdk/Primitives.h"

using namespace CryptoSdk;

namespace {

Bytes hex(const std::string& text) {
  Bytes out;
  EXPECT_TRUE(Commons::Hex::decode(text, out)) << text;
  return out;
}

std::string hashHex(HashAlgorithm algorithm, const std::string& message) {
  Bytes digest;
  EXPECT_EQ(0, Hash::compute(algorithm, message, digest));
  return Commons::Hex::encode(digest);
}

std::string hmacHex(HashAlgorithm algorithm, const Bytes& key, const Bytes& message) {
  Bytes mac;
  EXPECT_EQ(0, Hmac::compute(algorithm, key, message, mac));
  return Commons::Hex::encode(mac);
}

const char kAbc448[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const char kAbc896[] =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";

}  // namespace

TEST(Sha, Fips180Sha1) {
  EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", hashHex(HashAlgorithm::Sha1, "abc"));
  EXPECT_EQ("84983e441c3bd26ebaae4aa1f95129e5e54670f1", hashHex(HashAlgorithm::Sha1, kAbc448));
  EXPECT_EQ("34aa973cd4c4daa4f61eeb2bdbad27316534016f", hashHex(HashAlgorithm::Sha1, std::string(1000000, 'a')));
}

TEST(Sha, Fips180Sha256) {
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", hashHex(HashAlgorithm::Sha256, "abc"));
  EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
            hashHex(HashAlgorithm::Sha256, kAbc448));
  EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", hashHex(HashAlgorithm::Sha256, ""));
}

TEST(Sha, Fips180Sha512) {
  EXPECT_EQ(
      "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e"
      "2a9ac94fa54ca49f",
      hashHex(HashAlgorithm::Sha512, "abc"));
  EXPECT_EQ(
      "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd2654"
      "5e96e55b874be909",
      hashHex(HashAlgorithm::Sha512, kAbc896));
}

TEST(Sha, UnknownAlgorithmIsRefused) {
  Bytes digest{1, 2, 3};
  EXPECT_EQ(Exception::CRYPTO_ERROR_INVALID_ALGORITHM, Hash::compute(static_cast<HashAlgorithm>(9), "abc", digest));
  EXPECT_TRUE(digest.empty());
}

TEST(Hmac, Rfc4231Case1) {
  const Bytes key(20, 0x0b);
  const std::string data = "Hi There";
  const Bytes msg(data.begin(), data.end());
  EXPECT_EQ("b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7", hmacHex(HashAlgorithm::Sha256, key, msg));
  EXPECT_EQ(
      "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f170"
      "2e696c203a126854",
      hmacHex(HashAlgorithm::Sha512, key, msg));
}

TEST(Hmac, Rfc4231Case2) {
  const Bytes key{'J', 'e', 'f', 'e'};
  const std::string data = "what do ya want for nothing?";
  const Bytes msg(data.begin(), data.end());
  EXPECT_EQ("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843", hmacHex(HashAlgorithm::Sha256, key, msg));
  EXPECT_EQ(
      "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b4b"
      "636e070a38bce737",
      hmacHex(HashAlgorithm::Sha512, key, msg));
}

TEST(Hmac, Rfc4231Case3) {
  const Bytes key(20, 0xaa);
  const Bytes msg(50, 0xdd);
  EXPECT_EQ("773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe", hmacHex(HashAlgorithm::Sha256, key, msg));
  EXPECT_EQ(
      "fa73b0089d56a284efb0f0756c890be9b1b5dbdd8ee81a3655f83e33b2279d39bf3e848279a722c806b485a47e67c807b946a337bee89426"
      "74278859e13292fb",
      hmacHex(HashAlgorithm::Sha512, key, msg));
}

TEST(Hmac, Rfc4231Case6KeyLongerThanBlock) {
  const Bytes key(131, 0xaa);
  const std::string data = "Test Using Larger Than Block-Size Key - Hash Key First";
  const Bytes msg(data.begin(), data.end());
  EXPECT_EQ("60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54", hmacHex(HashAlgorithm::Sha256, key, msg));
  EXPECT_EQ(
      "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec"
      "8b915a985d786598",
      hmacHex(HashAlgorithm::Sha512, key, msg));
}

TEST(Hmac, EmptyKeyWorksAndDiffersFromZeroKey) {
  const Bytes msg{'x'};
  const std::string empty = hmacHex(HashAlgorithm::Sha256, Bytes(), msg);
  EXPECT_EQ(64u, empty.size());
  // An empty key is padded with zeros inside HMAC, so one zero byte gives the same tag.
  EXPECT_EQ(empty, hmacHex(HashAlgorithm::Sha256, Bytes{0}, msg));
  EXPECT_NE(empty, hmacHex(HashAlgorithm::Sha256, Bytes{1}, msg));
}

namespace {
const char kPlain38A[] =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad"
    "2b417be66c3710";
const char kKey256[] = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";
const char kIv38A[] = "000102030405060708090a0b0c0d0e0f";
}  // namespace

TEST(Aes, Sp80038aCbcAes256) {
  Bytes cipher;
  ASSERT_EQ(0, Aes::encrypt(Aes::Mode::Cbc, hex(kKey256), hex(kIv38A), hex(kPlain38A), cipher));
  EXPECT_EQ(
      "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fc"
      "da6c19078c6a9d1b",
      Commons::Hex::encode(cipher));
  Bytes plain;
  ASSERT_EQ(0, Aes::decrypt(Aes::Mode::Cbc, hex(kKey256), hex(kIv38A), cipher, plain));
  EXPECT_EQ(kPlain38A, Commons::Hex::encode(plain));
}

TEST(Aes, Sp80038aCbcAes128) {
  Bytes cipher;
  ASSERT_EQ(0, Aes::encrypt(Aes::Mode::Cbc, hex("2b7e151628aed2a6abf7158809cf4f3c"), hex(kIv38A), hex(kPlain38A),
                            cipher));
  EXPECT_EQ(
      "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b273bed6b8e3c1743b7116e69e222295163ff1caa1681fac09"
      "120eca307586e1a7",
      Commons::Hex::encode(cipher));
}

TEST(Aes, Sp80038aEcbAes256) {
  Bytes cipher;
  ASSERT_EQ(0, Aes::encrypt(Aes::Mode::Ecb, hex(kKey256), Bytes(), hex(kPlain38A), cipher));
  EXPECT_EQ(
      "f3eed1bdb5d2a03c064b5a7e3db181f8591ccb10d410ed26dc5ba74a31362870b6ed21b99ca6f4f9f153e7b1beafed1d23304b7a39f9f3ff"
      "067d8d8f9e24ecc7",
      Commons::Hex::encode(cipher));
  Bytes plain;
  ASSERT_EQ(0, Aes::decrypt(Aes::Mode::Ecb, hex(kKey256), Bytes(), cipher, plain));
  EXPECT_EQ(kPlain38A, Commons::Hex::encode(plain));
}

TEST(Aes, RejectsBadLengths) {
  Bytes out{1};
  EXPECT_EQ(Exception::CRYPTO_ERROR_INVALID_KEY, Aes::encrypt(Aes::Mode::Cbc, Bytes(31, 1), Bytes(16), Bytes(16), out));
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(Exception::CRYPTO_ERROR_INVALID_IV, Aes::encrypt(Aes::Mode::Cbc, Bytes(32, 1), Bytes(8), Bytes(16), out));
  EXPECT_EQ(Exception::CRYPTO_ERROR_INVALID_BLOCK_LENGTH,
            Aes::encrypt(Aes::Mode::Cbc, Bytes(32, 1), Bytes(16), Bytes(15), out));
}

TEST(Aes, Pkcs7RoundTripAndPaddingCheck) {
  const Bytes key(32, 7), iv(16, 9);
  for (std::size_t n : {0u, 1u, 15u, 16u, 17u, 40u}) {
    const Bytes plain(n, 0x5a);
    Bytes cipher, back;
    ASSERT_EQ(0, Aes::encryptCbcPkcs7(key, iv, plain, cipher));
    EXPECT_EQ((n / 16 + 1) * 16, cipher.size());
    ASSERT_EQ(0, Aes::decryptCbcPkcs7(key, iv, cipher, back));
    EXPECT_EQ(plain, back);
  }
  // A block whose last byte decrypts to an impossible padding value is refused.
  Bytes raw(16, 0), cipher, plain;
  raw[15] = 0;
  ASSERT_EQ(0, Aes::encrypt(Aes::Mode::Cbc, key, iv, raw, cipher));
  EXPECT_EQ(Exception::CRYPTO_ERROR_INVALID_PADDING, Aes::decryptCbcPkcs7(key, iv, cipher, plain));
  EXPECT_TRUE(plain.empty());
}

TEST(Kdf, CavpHmacSha512CounterBeforeFixed32BitCount0) {
  Bytes out;
  ASSERT_EQ(0, Kdf::counterHmacSha512(
                   hex("dd5dbd45593ee2ac139748e7645b450f223d2ff297b73fd71cbcebe71d41653c950b88500de5322d99ef18dfdd304282"
                       "94c4b3094f4c954334e593bd982ec614"),
                   hex("b50b0c963c6b3034b8cf19cd3f5c4ebe4f4985af0c03e575db62e6fdf1ecfe4f28b95d7ce16df85843246e1557ce95bb"
                       "26cc9a21974bbd2eb69e8355"),
                   16, out));
  EXPECT_EQ("e5993bf9bd2aa1c45746042e12598155", Commons::Hex::encode(out));
}

TEST(Kdf, CavpHmacSha512CounterBeforeFixed32BitCount30SpansBlocks) {
  Bytes out;
  ASSERT_EQ(0, Kdf::counterHmacSha512(
                   hex("a9f4a2c5af839867f5db5a1e520ab3cca72a166ca60de512fd7fe7e64cf94f92cf1d8b636175f293e003275e021018c3"
                       "f0ede495997a505ec9a2afeb0495be57"),
                   hex("8e9db3335779db688bcfe096668d9c3bc64e193e3529c430e68d09d56c837dd6c0f94678f121a68ee1feea4735da85a4"
                       "9d34a5290aa39f7b40de435f"),
                   40, out));
  EXPECT_EQ("6db880daac98b078ee389a2164252ded61322d661e2b49247ea921e544675d8f17af2bf66dd40d81",
            Commons::Hex::encode(out));
}

TEST(Kdf, LabelAndContextSeparateKeys) {
  const Bytes key(32, 1);
  Bytes a, b, c, d;
  ASSERT_EQ(0, Kdf::deriveKey(key, "label one", Bytes{1}, 64, a));
  ASSERT_EQ(0, Kdf::deriveKey(key, "label two", Bytes{1}, 64, b));
  ASSERT_EQ(0, Kdf::deriveKey(key, "label one", Bytes{2}, 64, c));
  ASSERT_EQ(0, Kdf::deriveKey(key, "label one", Bytes{1}, 64, d));
  EXPECT_EQ(64u, a.size());
  EXPECT_NE(a, b);
  EXPECT_NE(a, c);
  EXPECT_EQ(a, d);
  // The fixed input is label || 0x00 || context || [L]_32.
  Bytes manual;
  Bytes fixed{'x', 0x00, 0xab, 0, 0, 0x01, 0x00};
  ASSERT_EQ(0, Kdf::counterHmacSha512(key, fixed, 32, manual));
  Bytes viaLabel;
  ASSERT_EQ(0, Kdf::deriveKey(key, "x", Bytes{0xab}, 32, viaLabel));
  EXPECT_EQ(manual, viaLabel);
}

TEST(Kdf, RefusesEmptyKeyAndZeroLength) {
  Bytes out{1};
  EXPECT_EQ(Exception::CRYPTO_ERROR_KDF_INPUT, Kdf::counterHmacSha512(Bytes(), Bytes{1}, 32, out));
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(Exception::CRYPTO_ERROR_INVALID_LENGTH, Kdf::counterHmacSha512(Bytes{1}, Bytes{1}, 0, out));
}

TEST(Random, BytesAreFreshAndOfTheRequestedSize) {
  std::set<Bytes> seen;
  for (int i = 0; i < 32; ++i) {
    Bytes r;
    ASSERT_EQ(0, Random::bytes(16, r));
    ASSERT_EQ(16u, r.size());
    seen.insert(r);
  }
  EXPECT_EQ(32u, seen.size());
  Bytes none{1};
  EXPECT_EQ(0, Random::bytes(0, none));
  EXPECT_TRUE(none.empty());
}

TEST(ConstantTime, ComparesWholeBuffers) {
  EXPECT_TRUE(constantTimeEqual(Bytes{1, 2, 3}, Bytes{1, 2, 3}));
  EXPECT_FALSE(constantTimeEqual(Bytes{1, 2, 3}, Bytes{1, 2, 4}));
  EXPECT_FALSE(constantTimeEqual(Bytes{1, 2, 3}, Bytes{1, 2}));
}
