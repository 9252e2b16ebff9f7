// Native only: our encoder against the reference encoder (qrcodegen, level LOW, versions 1 to
// 40, automatic mask, boost on) over random texts of every kind and length, the QR command
// texts the SDK writes, and the largest text of every version, level and mode plus one.
#include <gtest/gtest.h>

#include <qrcodegen.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "AuthenticationSdk/AuthenticatorBlob.h"
#include "AuthenticationSdk/OstraSdkService.h"
#include "Korvath/Model/TransactionData.h"
#include "Korvath/View/QrCode.h"
#include "QrTestSupport.h"

namespace Qr = Korvath::View::Qr;
using qrcodegen::QrSegment;
using Reference = qrcodegen::QrCode;

namespace {

const char kAlphanumeric[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ $%*+-./:";

// The segments the reference chooses for a text; makeSegments reads up to a NUL, and a text
// holding one is bytes anyway.
std::vector<QrSegment> referenceSegments(const std::string& text) {
  if (text.find('\0') != std::string::npos)
    return {QrSegment::makeBytes(std::vector<std::uint8_t>(text.begin(), text.end()))};
  return QrSegment::makeSegments(text.c_str());
}

std::optional<Reference> referenceSymbol(const std::string& text) {
  try {
    return Reference::encodeSegments(referenceSegments(text), Reference::Ecc::LOW, 1, 40, -1, true);
  } catch (const qrcodegen::data_too_long&) {
    return std::nullopt;
  }
}

testing::AssertionResult sameSymbol(const std::string& text) {
  const std::optional<Reference> expected = referenceSymbol(text);
  Qr::QrCode actual;
  const bool encoded = Qr::encodeText(text, actual);
  const std::string about = " (text of " + std::to_string(text.size()) + " bytes: \"" + text.substr(0, 40) + "\")";
  if (!expected || !encoded) {
    if (expected.has_value() == encoded) return testing::AssertionSuccess();
    return testing::AssertionFailure() << (encoded ? "encoded a text the reference refuses"
                                                   : "refused a text the reference encodes")
                                       << about;
  }
  if (expected->getVersion() != actual.version() ||
      static_cast<int>(expected->getErrorCorrectionLevel()) != static_cast<int>(actual.ecc()) ||
      expected->getMask() != actual.mask()) {
    return testing::AssertionFailure() << "version/level/mask " << actual.version() << "/"
                                       << static_cast<int>(actual.ecc()) << "/" << actual.mask() << ", reference "
                                       << expected->getVersion() << "/"
                                       << static_cast<int>(expected->getErrorCorrectionLevel()) << "/"
                                       << expected->getMask() << about;
  }
  for (int y = 0; y < actual.size(); ++y) {
    for (int x = 0; x < actual.size(); ++x) {
      if (expected->getModule(x, y) != actual.isDark(x, y)) {
        return testing::AssertionFailure() << "module (" << x << ", " << y << ") differs" << about;
      }
    }
  }
  return testing::AssertionSuccess();
}

// UTF-8 of one code point.
void appendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

enum class Kind { Digits, Alphanumeric, Ascii, Utf8, Binary };

// A text of that kind with `length` characters (code points for UTF-8, bytes otherwise).
std::string randomText(Kind kind, std::size_t length, std::mt19937& random) {
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    switch (kind) {
      case Kind::Digits:
        text += static_cast<char>('0' + random() % 10);
        break;
      case Kind::Alphanumeric:
        text += kAlphanumeric[random() % 45];
        break;
      case Kind::Ascii:
        text += static_cast<char>(32 + random() % 95);
        break;
      case Kind::Utf8: {
        static const std::uint32_t kRanges[][2] = {
            {0x20, 0x7E}, {0xA0, 0x24F}, {0x400, 0x4FF}, {0x4E00, 0x9FFF}, {0x1F300, 0x1F64F}};
        const auto& range = kRanges[random() % 5];
        appendUtf8(text, range[0] + random() % (range[1] - range[0] + 1));
        break;
      }
      case Kind::Binary:
        text += static_cast<char>(random() & 0xFF);
        break;
    }
  }
  return text;
}

// Every length from 0 to 399 once, then lengths spread (mostly short, as commands are) up to
// past what version 40 holds.
void compareRandomTexts(Kind kind, std::size_t pastCapacity, std::uint32_t seed) {
  std::mt19937 random(seed);
  int mismatches = 0;
  for (std::size_t i = 0; i < 2000; ++i) {
    std::size_t length = i;
    if (i >= 400) length = i % 8 == 0 ? random() % pastCapacity : random() % (random() % 1200 + 1);
    const testing::AssertionResult same = sameSymbol(randomText(kind, length, random));
    if (!same && ++mismatches <= 5) ADD_FAILURE() << same.message();
  }
  EXPECT_EQ(0, mismatches);
}

}  // namespace

TEST(QrOracle, RandomDigits) { compareRandomTexts(Kind::Digits, 7200, 1); }
TEST(QrOracle, RandomAlphanumeric) { compareRandomTexts(Kind::Alphanumeric, 4400, 2); }
TEST(QrOracle, RandomAscii) { compareRandomTexts(Kind::Ascii, 3050, 3); }
TEST(QrOracle, RandomUtf8) { compareRandomTexts(Kind::Utf8, 1100, 4); }
TEST(QrOracle, RandomBinary) { compareRandomTexts(Kind::Binary, 3050, 5); }

// The commands the SDK writes for the QR-code panel: 1 to 4 devices, transaction identifiers
// and transaction JSON with varied users (non-ASCII too), machines and addresses.
TEST(QrOracle, SdkCommandTexts) {
  std::mt19937 random(6);
  std::vector<std::string> blobs;
  for (int i = 0; i < 4; ++i) {
    AuthenticationSdk::Blob::Definition definition;
    definition.secret = CryptoSdk::Bytes(20, static_cast<std::uint8_t>(0x30 + i));
    std::string blob;
    ASSERT_EQ(0, AuthenticationSdk::Blob::create(definition, "acc-100", "ik-7f3c1e9a55", blob));
    blobs.push_back(blob);
  }
  const char* const users[] = {"alice", "bob.smith@corp.example", "CORP\\j\xC3\xBCrgen.m\xC3\xBCller",
                               "\xE7\x94\xB0\xE4\xB8\xAD",
                               "administrator-with-a-rather-long-name-for-testing-purposes-0123456789"};
  const char* const systems[] = {"Windows 11 Pro", "Windows 10 Enterprise", "Windows Server 2022 Datacenter"};
  const char* const idChars = "0123456789abcdef";
  int mismatches = 0;
  for (int i = 0; i < 300; ++i) {
    std::vector<AuthenticationSdk::MobileAuthenticatorEntry> entries(1 + random() % 4);
    for (auto& entry : entries) {
      ASSERT_TRUE(AuthenticationSdk::makeMobileAuthenticatorEntry(blobs[random() % blobs.size()], random(), entry));
    }
    std::string transactionId;
    for (int k = 0; k < 36; ++k)
      transactionId += (k == 8 || k == 13 || k == 18 || k == 23) ? '-' : idChars[random() % 16];

    Korvath::Model::TransactionDataData data;
    data.setPlatform(1);
    data.setOsVersion(systems[random() % 3]);
    data.setComputer("PC-" + std::to_string(random() % 100000));
    data.setDomain(random() % 2 ? "CORP" : "");
    data.setClientIp(std::to_string(random() % 256) + "." + std::to_string(random() % 256) + ".1." +
                     std::to_string(random() % 256));
    data.setResourceName(random() % 2 ? "desktop-logon" : "");
    Korvath::Model::TransactionData transaction;
    transaction.setTimestamp(1767225600u + static_cast<std::uint32_t>(random() % 100000000));
    transaction.setUser(users[random() % 5]);
    transaction.setData(data);

    std::string command;
    ASSERT_EQ(0, OstraSdkService::generateQRCodeCommand(entries, 3, transactionId, transaction.toJson(), command));
    const testing::AssertionResult same = sameSymbol(command);
    if (!same && ++mismatches <= 5) ADD_FAILURE() << same.message();
  }
  EXPECT_EQ(0, mismatches);
}

// For every version, level and mode: the largest text that the reference fits into exactly
// that version at that level, and one character more.
TEST(QrOracle, VersionCapacityBoundaries) {
  std::mt19937 random(7);
  const struct {
    Kind kind;
    std::size_t most;
  } modes[] = {{Kind::Digits, 7089}, {Kind::Alphanumeric, 4296}, {Kind::Binary, 2953}};
  const Reference::Ecc levels[] = {Reference::Ecc::LOW, Reference::Ecc::MEDIUM, Reference::Ecc::QUARTILE,
                                   Reference::Ecc::HIGH};
  int mismatches = 0;
  for (const auto& mode : modes) {
    // One text per mode; prefixes of it are texts of the same mode.
    std::string text = randomText(mode.kind, mode.most + 1, random);
    if (mode.kind == Kind::Alphanumeric) text[0] = 'Q';
    if (mode.kind == Kind::Binary) text[0] = 'q';
    const auto fits = [&](std::size_t length, int version, Reference::Ecc ecc) {
      try {
        Reference::encodeSegments(referenceSegments(text.substr(0, length)), ecc, version, version, 0, false);
        return true;
      } catch (const qrcodegen::data_too_long&) {
        return false;
      }
    };
    for (const Reference::Ecc ecc : levels) {
      for (int version = 1; version <= 40; ++version) {
        std::size_t low = 1, high = mode.most + 1;  // fits(low), !fits(high)
        while (high - low > 1) {
          const std::size_t middle = (low + high) / 2;
          (fits(middle, version, ecc) ? low : high) = middle;
        }
        for (const std::size_t length : {low, low + 1}) {
          const testing::AssertionResult same = sameSymbol(text.substr(0, length));
          if (!same && ++mismatches <= 5) ADD_FAILURE() << same.message() << " at version " << version;
        }
      }
    }
  }
  EXPECT_EQ(0, mismatches);
}
