// Known-answer tests of the platform wrappers: FIPS 180 (SHA), RFC 4231 (HMAC),
// SP 800-38A (AES), NIST CAVP counter-mode KDF with HMAC-SHA-512.
#include <gtest/gtest.h>

#include <tuple>

#include "Commons/Encoding.h"
#include "CryptoSdk/CryptoException.h"
#include "CryptoSdk/Primitives.h"
#include "../authenticationsdk/Fixtures.h"

using namespace CryptoSdk;

namespace {

using Fixtures::hex;

Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

const char kAbc448[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const char kAbc896[] =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";
const HashAlgorithm kSha1 = HashAlgorithm::Sha1, kSha256 = HashAlgorithm::Sha256, kSha512 = HashAlgorithm::Sha512;

}  // namespace

TEST(Sha, Fips180Vectors) {
  const std::tuple<HashAlgorithm, std::string, const char*> rows[] = {
      {kSha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {kSha1, kAbc448, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {kSha1, std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      {kSha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {kSha256, kAbc448, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {kSha256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {kSha512, "abc",
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
       "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
      {kSha512, kAbc896,
       "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
       "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
  };
  for (const auto& [algorithm, message, expected] : rows) {
    Bytes digest;
    ASSERT_EQ(0, Hash::compute(algorithm, message, digest));
    EXPECT_EQ(expected, Commons::Hex::encode(digest)) << message.substr(0, 20);
  }
}

// RFC 4231 cases 1, 2, 3 and 6 (a key longer than the block), and the empty key (a master
// password may be empty), which HMAC pads with zeros as it pads a single zero byte.
TEST(Hmac, Rfc4231Vectors) {
  const std::tuple<Bytes, Bytes, const char*, const char*> rows[] = {
      {Bytes(20, 0x0b), bytes("Hi There"), "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7",
       "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cde"
       "daa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1702e696c203a126854"},
      {bytes("Jefe"), bytes("what do ya want for nothing?"),
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
       "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea250554"
       "9758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b4b636e070a38bce737"},
      {Bytes(20, 0xaa), Bytes(50, 0xdd), "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe",
       "fa73b0089d56a284efb0f0756c890be9b1b5dbdd8ee81a3655f83e33b2279d39"
       "bf3e848279a722c806b485a47e67c807b946a337bee8942674278859e13292fb"},
      {Bytes(131, 0xaa), bytes("Test Using Larger Than Block-Size Key - Hash Key First"),
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54",
       "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f352"
       "6b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec8b915a985d786598"},
  };
  for (const auto& [key, message, sha256, sha512] : rows) {
    Bytes mac256, mac512;
    ASSERT_EQ(0, Hmac::compute(kSha256, key, message, mac256));
    ASSERT_EQ(0, Hmac::compute(kSha512, key, message, mac512));
    EXPECT_EQ(sha256, Commons::Hex::encode(mac256));
    EXPECT_EQ(sha512, Commons::Hex::encode(mac512));
  }
  Bytes empty;
  ASSERT_EQ(0, Hmac::compute(kSha256, Bytes(), Bytes{'x'}, empty));
  EXPECT_EQ("4cbc96099a6467ce002461f10549b4898265ebe6188b45efacc44293516e62c4", Commons::Hex::encode(empty));
}

// SP 800-38A F.2.5 (CBC-AES256), F.2.1 (CBC-AES128), F.1.5 (ECB-AES256), both directions; the
// padded form round-trips at the block edges and refuses a padding byte that cannot be.
TEST(Aes, Sp80038aVectorsAndPadding) {
  const std::string plain38A =
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52ef"
      "f69f2445df4f9b17ad2b417be66c3710";
  const char* const key256 = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";
  const std::tuple<Aes::Mode, const char*, const char*> rows[] = {
      {Aes::Mode::Cbc, key256,
       "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
       "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
      {Aes::Mode::Cbc, "2b7e151628aed2a6abf7158809cf4f3c",
       "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
       "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
      {Aes::Mode::Ecb, key256,
       "f3eed1bdb5d2a03c064b5a7e3db181f8591ccb10d410ed26dc5ba74a31362870"
       "b6ed21b99ca6f4f9f153e7b1beafed1d23304b7a39f9f3ff067d8d8f9e24ecc7"},
  };
  for (const auto& [mode, key, expected] : rows) {
    const Bytes iv = mode == Aes::Mode::Cbc ? hex("000102030405060708090a0b0c0d0e0f") : Bytes();
    Bytes cipher, plain;
    ASSERT_EQ(0, Aes::encrypt(mode, hex(key), iv, hex(plain38A), cipher));
    EXPECT_EQ(expected, Commons::Hex::encode(cipher));
    ASSERT_EQ(0, Aes::decrypt(mode, hex(key), iv, cipher, plain));
    EXPECT_EQ(plain38A, Commons::Hex::encode(plain));
  }
  const Bytes key(32, 7), iv(16, 9);
  for (std::size_t n : {0u, 15u, 16u, 17u}) {
    Bytes cipher, back;
    ASSERT_EQ(0, Aes::encryptCbcPkcs7(key, iv, Bytes(n, 0x5a), cipher));
    EXPECT_EQ((n / 16 + 1) * 16, cipher.size());
    ASSERT_EQ(0, Aes::decryptCbcPkcs7(key, iv, cipher, back));
    EXPECT_EQ(Bytes(n, 0x5a), back);
  }
  Bytes cipher, plain;
  ASSERT_EQ(0, Aes::encrypt(Aes::Mode::Cbc, key, iv, Bytes(16, 0), cipher));
  EXPECT_EQ(Exception::CRYPTO_ERROR_INVALID_PADDING, Aes::decryptCbcPkcs7(key, iv, cipher, plain));
  EXPECT_TRUE(plain.empty());
}

// NIST CAVP KBKDF, counter before the fixed input, 32-bit counter, HMAC-SHA512 (COUNT 0
// and COUNT 30, which spans blocks); deriveKey's fixed input is label || 0x00 || context || [L]_32.
TEST(Kdf, CavpVectorsAndTheFixedInputOfDeriveKey) {
  const std::tuple<const char*, const char*, std::size_t, const char*> rows[] = {
      {"dd5dbd45593ee2ac139748e7645b450f223d2ff297b73fd71cbcebe71d41653c950b88500de5322d99ef18dfdd30428294c4b3094f4c95"
       "4334e593bd982ec614",
       "b50b0c963c6b3034b8cf19cd3f5c4ebe4f4985af0c03e575db62e6fdf1ecfe4f28b95d7ce16df85843246e1557ce95bb26cc9a21974bbd"
       "2eb69e8355",
       16, "e5993bf9bd2aa1c45746042e12598155"},
      {"a9f4a2c5af839867f5db5a1e520ab3cca72a166ca60de512fd7fe7e64cf94f92cf1d8b636175f293e003275e021018c3f0ede495997a50"
       "5ec9a2afeb0495be57",
       "8e9db3335779db688bcfe096668d9c3bc64e193e3529c430e68d09d56c837dd6c0f94678f121a68ee1feea4735da85a49d34a5290aa39f"
       "7b40de435f",
       40, "6db880daac98b078ee389a2164252ded61322d661e2b49247ea921e544675d8f17af2bf66dd40d81"},
  };
  for (const auto& [key, fixed, size, expected] : rows) {
    Bytes out;
    ASSERT_EQ(0, Kdf::counterHmacSha512(hex(key), hex(fixed), size, out));
    EXPECT_EQ(expected, Commons::Hex::encode(out));
  }
  Bytes manual, viaLabel, refused{1};
  ASSERT_EQ(0, Kdf::counterHmacSha512(Bytes(32, 1), Bytes{'x', 0x00, 0xab, 0, 0, 0x01, 0x00}, 32, manual));
  ASSERT_EQ(0, Kdf::deriveKey(Bytes(32, 1), "x", Bytes{0xab}, 32, viaLabel));
  EXPECT_EQ(manual, viaLabel);
  EXPECT_EQ(Exception::CRYPTO_ERROR_KDF_INPUT, Kdf::counterHmacSha512(Bytes(), Bytes{1}, 32, refused));
  EXPECT_TRUE(refused.empty());
}
