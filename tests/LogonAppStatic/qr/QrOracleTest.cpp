// Native only: our encoder against the reference encoder (qrcodegen at level LOW, versions 1 to
// 40, automatic mask, boost on) over random texts of every kind and length, the QR command
// texts the SDK writes, and the largest text of every version, level and mode plus one.
#include <gtest/gtest.h>

#include <qrcodegen.hpp>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "AuthenticationSdk/AuthenticatorBlob.h"
#include "AuthenticationSdk/OstraSdkService.h"
#include "Korvath/Model/TransactionData.h"
#include "Korvath/View/QrCode.h"

using qrcodegen::QrSegment;
using Reference = qrcodegen::QrCode;

namespace {

// The reference's segments; its makeSegments reads up to a NUL, and a text with one is bytes.
std::vector<QrSegment> referenceSegments(const std::string& text) {
  if (text.find('\0') == std::string::npos) return QrSegment::makeSegments(text.c_str());
  return {QrSegment::makeBytes(std::vector<std::uint8_t>(text.begin(), text.end()))};
}

// "refused", or the version, level, mask and modules (row by row) of a symbol.
template <typename Code>
std::string describe(const Code& code, int version, int level, int mask, int size) {
  std::string out = std::to_string(version) + "/" + std::to_string(level) + "/" + std::to_string(mask) + ":";
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) out += code(x, y) ? '1' : '0';
  return out;
}

std::string ours(const std::string& text) {
  Korvath::View::Qr::QrCode c;
  if (!Korvath::View::Qr::encodeText(text, c)) return "refused";
  return describe([&c](int x, int y) { return c.isDark(x, y); }, c.version(), static_cast<int>(c.ecc()), c.mask(),
                  c.size());
}

std::string reference(const std::string& text) {
  try {
    const Reference r = Reference::encodeSegments(referenceSegments(text), Reference::Ecc::LOW, 1, 40, -1, true);
    return describe([&r](int x, int y) { return r.getModule(x, y); }, r.getVersion(),
                    static_cast<int>(r.getErrorCorrectionLevel()), r.getMask(), r.getSize());
  } catch (const qrcodegen::data_too_long&) {
    return "refused";
  }
}

enum class Kind { Digits, Alphanumeric, Ascii, Utf8, Binary };

// `length` characters of that kind; UTF-8 characters of 1 to 4 bytes.
std::string randomText(Kind kind, std::size_t length, std::mt19937& random) {
  static const char* const kUtf8[] = {"a", "\xC3\xA9", "\xD0\x96", "\xE6\x9D\xB1", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned r = random();
    text += kind == Kind::Utf8     ? std::string(kUtf8[r % 6])
            : kind == Kind::Digits ? std::string(1, static_cast<char>('0' + r % 10))
            : kind == Kind::Alphanumeric
                ? std::string(1, "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ $%*+-./:"[r % 45])
                : std::string(1, static_cast<char>(kind == Kind::Ascii ? 32 + r % 95 : r & 0xFF));
  }
  return text;
}

void expectAllSame(const std::vector<std::string>& texts) {
  int mismatches = 0;
  for (const std::string& text : texts) {
    const std::string expected = reference(text), actual = ours(text);
    if (actual != expected && ++mismatches <= 5) {
      ADD_FAILURE() << "text of " << text.size() << " bytes \"" << text.substr(0, 40) << "\": " << actual.substr(0, 12)
                    << " against the reference's " << expected.substr(0, 12);
    }
  }
  EXPECT_EQ(0, mismatches) << "of " << texts.size() << " texts";
}

// 2,000 texts: every length from 0 to 399, then lengths spread (mostly short, as commands are)
// up to past what version 40 holds.
void compareRandomTexts(Kind kind, std::size_t pastCapacity, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < 2000; ++i) {
    const std::size_t length = i < 400 ? i : i % 8 == 0 ? random() % pastCapacity : random() % (random() % 1200 + 1);
    texts.push_back(randomText(kind, length, random));
  }
  expectAllSame(texts);
}

}  // namespace

TEST(QrOracle, RandomDigits) { compareRandomTexts(Kind::Digits, 7200, 1); }
TEST(QrOracle, RandomAlphanumeric) { compareRandomTexts(Kind::Alphanumeric, 4400, 2); }
TEST(QrOracle, RandomAscii) { compareRandomTexts(Kind::Ascii, 3050, 3); }
TEST(QrOracle, RandomUtf8) { compareRandomTexts(Kind::Utf8, 1100, 4); }
TEST(QrOracle, RandomBinary) { compareRandomTexts(Kind::Binary, 3050, 5); }

// The commands the SDK writes for the QR-code panel: 1 to 4 devices, transaction identifiers
// and the JSON of varied transactions (non-ASCII users too).
TEST(QrOracle, SdkCommandTexts) {
  std::mt19937 random(6);
  AuthenticationSdk::Blob::Definition definition;
  definition.secret = CryptoSdk::Bytes(20, 0x5A);
  std::string blob;
  ASSERT_EQ(0, AuthenticationSdk::Blob::create(definition, "acc-100", "ik-7f3c1e9a55", blob));
  const char* const users[] = {"alice", "bob.smith@corp.example", "CORP\\j\xC3\xBCrgen", "\xE7\x94\xB0\xE4\xB8\xAD"};
  std::vector<std::string> commands;
  for (int i = 0; i < 300; ++i) {
    std::vector<AuthenticationSdk::MobileAuthenticatorEntry> entries(1 + random() % 4);
    for (auto& entry : entries) ASSERT_TRUE(AuthenticationSdk::makeMobileAuthenticatorEntry(blob, random(), entry));
    const std::string transactionId = std::to_string(random()) + "-" + std::to_string(random() % 65536) + "-4f0e";
    Korvath::Model::TransactionDataData data;
    data.setOsVersion(random() % 2 ? "Windows 11 Pro" : "Windows Server 2022 Datacenter");
    data.setComputer("PC-" + std::to_string(random() % 100000));
    data.setClientIp("10.1." + std::to_string(random() % 256) + "." + std::to_string(random() % 256));
    Korvath::Model::TransactionData transaction;
    transaction.setTimestamp(1767225600u + random() % 100000000u);
    transaction.setUser(users[random() % 4]);
    transaction.setData(data);
    std::string command;
    ASSERT_EQ(0, OstraSdkService::generateQRCodeCommand(entries, 3, transactionId, transaction.toJson(), command));
    commands.push_back(command);
  }
  expectAllSame(commands);
}

// For every version, level and mode: the largest text that the reference fits into exactly that
// version at that level (found by bisection), and one character more.
TEST(QrOracle, VersionCapacityBoundaries) {
  std::mt19937 random(7);
  std::vector<std::string> texts;
  for (const Kind kind : {Kind::Digits, Kind::Alphanumeric, Kind::Binary}) {
    std::string text = randomText(kind, 7090, random);  // its prefixes keep its mode
    if (kind != Kind::Digits) text[0] = kind == Kind::Binary ? 'q' : 'Q';
    for (const auto ecc :
         {Reference::Ecc::LOW, Reference::Ecc::MEDIUM, Reference::Ecc::QUARTILE, Reference::Ecc::HIGH}) {
      for (int version = 1; version <= 40; ++version) {
        std::size_t fits = 1, tooLong = text.size();
        while (tooLong - fits > 1) {
          const std::size_t middle = (fits + tooLong) / 2;
          try {
            Reference::encodeSegments(referenceSegments(text.substr(0, middle)), ecc, version, version, 0, false);
            fits = middle;
          } catch (const qrcodegen::data_too_long&) {
            tooLong = middle;
          }
        }
        texts.push_back(text.substr(0, fits));
        texts.push_back(text.substr(0, fits + 1));
      }
    }
  }
  expectAllSame(texts);
}
