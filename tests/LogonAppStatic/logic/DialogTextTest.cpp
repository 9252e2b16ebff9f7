// What the dialog shows without asking a service: the error sentence by code and panel kind and
// the composed labels, the option buttons' geometry, the checks of typed codes and hours, the
// activation-code boxes, the About notice and the keyboard shortcuts.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Korvath/View/AboutLogic.h"
#include "Korvath/View/ErrorText.h"
#include "Korvath/View/ForgotTokenLogic.h"
#include "Korvath/View/MfaDialogLogic.h"
#include "Korvath/View/OptionButtons.h"
#include "Korvath/View/OtpPanelLogic.h"
#include "Korvath/View/QrCodePanelLogic.h"

using namespace Korvath::View;
using Korvath::Model::KvResult;

namespace {

std::u16string idText(int id) {
  const std::string text = "<" + std::to_string(id) + ">";
  return std::u16string(text.begin(), text.end());
}

TEST(ErrorText, SentenceByResultCodeAndPanelKind) {
  using K = ErrorKind;
  // clang-format off
  struct Row { std::uint16_t code; ErrorKind kind; int textId; } rows[] = {
      {0, K::Otp, 0}, {2, K::Otp, 416}, {5005, K::ErrorPanel, 464}, {5103, K::ErrorPanel, 409},
      {5100, K::ErrorPanel, 426}, {5108, K::ErrorPanel, 428}, {5155, K::Otp, 424}, {5119, K::Push, 415},
      {5134, K::ErrorPanel, 448}, {5136, K::QrCode, 451}, {5113, K::Otp, 411}, {5113, K::QrCode, 412},
      {5113, K::Push, 413}, {5113, K::ForgotTokenActivation, 430}, {5113, K::ErrorPanel, 437}, {5218, K::Push, 413},
      // A wrong code, or one not of the token's digits, checked on this machine.
      {1, K::Otp, 411}, {1, K::ForgotTokenActivation, 430}, {4, K::Otp, 411},
      {9999, K::Otp, 436}};
  // clang-format on
  for (const Row& row : rows)
    EXPECT_EQ(row.textId, errorTextId(row.code, row.kind)) << row.code << " kind " << static_cast<int>(row.kind);
}

TEST(ErrorText, LabelsComposeMessageSentenceErrorCodeAndRequestId) {
  // clang-format off
  struct Row { std::uint16_t code; std::int32_t cloudCode; std::string requestId; int messageId;
               std::u16string message, requestIdLabel; } rows[] = {
      // A denied push with cloud code 0: only the sentence and the request identifier.
      {5119, 0, "req-1", 0, u"<415>\n", u"<460>req-1"},
      {5116, 0, "", 0, u"<424> [5116]\n", u""},
      {9999, 0, "", 0, u"<436> [9999]\n", u""},
      // Eight digits are not shown; nine and ten are grouped after the third and sixth digit.
      {5204, 20100500, "", 0, u"<412>\n", u""},
      {5204, 201055008, "", 0, u"<412>\n<459> 201.055.008\n", u""},
      {5204, 2010550081, "", 0, u"<412>\n<459> 201.055.0081\n", u""},
      // A result code of 0 adds no sentence.
      {0, 0, "", 405, u"<405>\n", u""},
  };
  // clang-format on
  for (const Row& row : rows) {
    ErrorText text = ErrorText::fromResult(ErrorKind::QrCode, KvResult(row.code, row.cloudCode, row.requestId));
    if (row.messageId != 0) text.setMessageTextId(row.messageId);
    EXPECT_EQ(row.message, text.messageText(idText)) << row.code << " " << row.cloudCode;
    EXPECT_EQ(row.requestIdLabel, text.requestIdText(idText)) << row.code;
  }
  EXPECT_TRUE(ErrorText::fromResult(ErrorKind::Push, KvResult(0)).empty());
}

TEST(OptionButtons, OnePerEnabledOptionSideBySideAtEveryScale) {
  // clang-format off
  struct Row { double s; bool push, qr, otp, forgot; std::vector<std::uint32_t> ids; std::vector<int> xs;
               int y, w, h, labelHeight, labelFont, labelWidth; } rows[] = {
      {1.0, false, false, true, false, {212}, {425}, 400, 81, 58, 32, 15, 86},
      {1.0, true, true, true, true, {210, 211, 212, 213}, {425, 515, 605, 695}, 400, 81, 58, 32, 15, 86},
      // x + w + 0.12·w in double precision, then truncated: 637 + 121 + 14.52; the label the
      // button and that gap of 14 less 6.
      {1.5, true, false, true, false, {210, 212}, {637, 772}, 600, 121, 87, 48, 23, 129},
      {1.25, false, true, false, true, {211, 213}, {531, 644}, 500, 101, 72, 40, 19, 108},
  };
  // clang-format on
  for (const Row& row : rows) {
    const std::vector<OptionButton> buttons = optionButtons(row.s, row.push, row.qr, row.otp, row.forgot);
    ASSERT_EQ(row.ids.size(), buttons.size()) << row.s;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
      const OptionButton& b = buttons[i];
      // Push, QR Code, OTP, Forgot Token: methods 1-4, labels 455-458, images 110-113.
      EXPECT_EQ((std::vector<int>{static_cast<int>(row.ids[i]), static_cast<int>(row.ids[i]) - 209,
                                  static_cast<int>(row.ids[i]) + 245, static_cast<int>(row.ids[i]) - 100, row.xs[i],
                                  row.y, row.w, row.h, row.labelHeight, row.labelFont, row.labelWidth}),
                (std::vector<int>{static_cast<int>(b.id), static_cast<int>(b.method), b.labelTextId, b.imageId, b.x,
                                  b.y, b.width, b.height, b.labelHeight, b.labelFontSize, b.labelWidth}))
          << row.s << " button " << i;
    }
  }
  EXPECT_EQ(std::u16string(u"QR Code"), optionButtons(1, false, true, false, false).at(0).windowText);
}

TEST(TypedCodes, LengthsAndHoursAreCheckedBeforeAnythingIsSent) {
  // clang-format off
  // text, then the OTP, QR-code and forgot-token panels' messages (0 = accepted)
  struct Row { std::string text; int otp, qr, forgot; } codes[] = {
      {"", 405, 406, 406}, {"123", 411, 412, 431}, {"1234", 0, 0, 0}, {"1234567890", 0, 0, 0},
      {"12345678901", 411, 412, 431}};
  // Pasted texts reach the hours box unfiltered: they give the message, never an exception.
  struct Hours { std::string text; int message; std::uint16_t hours; } hours[] = {
      {"", 407, 0}, {"0", 0, 0}, {"8", 0, 8}, {"999", 0, 999}, {"1000", 422, 0}, {"12a", 422, 0}, {"-1", 422, 0},
      {" 12", 422, 0}, {"\xd9\xa1\xd9\xa2", 422, 0}, {"99999999999999999999", 422, 0}};
  // clang-format on
  for (const Row& row : codes) {
    ErrorText otp, qr, forgot;
    const std::vector<bool> valid = {OtpPanelLogic::isOtpValid(row.text, otp),
                                     QrCodePanelLogic::isVerificationCodeValid(row.text, qr),
                                     ForgotTokenActivationLogic::isVerificationCodeValid(row.text, forgot)};
    EXPECT_EQ((std::vector<bool>{row.otp == 0, row.qr == 0, row.forgot == 0}), valid) << row.text;
    EXPECT_EQ((std::vector<int>{row.otp, row.qr, row.forgot}),
              (std::vector<int>{otp.messageTextId(), qr.messageTextId(), forgot.messageTextId()}))
        << row.text;
  }
  for (const Hours& row : hours) {
    ErrorText error;
    std::uint16_t value = 0;
    EXPECT_EQ(row.message == 0, ForgotTokenActivationLogic::isTimeDurationValid(row.text, error, value)) << row.text;
    EXPECT_EQ(row.message, error.messageTextId()) << row.text;
    EXPECT_EQ(row.hours, value) << row.text;
  }
}

TEST(ActivationCode, OneCharacterPerBoxAndEmptyBoxesPastItsEnd) {
  using Boxes = std::array<std::u16string, 6>;
  EXPECT_EQ((Boxes{u"A", u"B", u"1", u"2", u"", u""}), ForgotTokenActivationLogic::activationCodeBoxes("AB12"));
  EXPECT_EQ((Boxes{u"Q", u"W", u"E", u"R", u"T", u"Y"}), ForgotTokenActivationLogic::activationCodeBoxes("QWERTYUI"));
}

TEST(About, NoticeYearAndVersionLabel) {
  EXPECT_EQ(u"Copyright \u00a9 2023 Pellora. All rights reserved.",
            aboutNoticeText(u"Copyright \u00a9 2021 Pellora. All rights reserved."));
  EXPECT_EQ(u"\u7248\u6743\u6240\u6709 \u00a9 2023 Pellora\u3002",
            aboutNoticeText(u"\u7248\u6743\u6240\u6709 \u00a9 2021 Pellora\u3002"));
  EXPECT_EQ(u"<417>3.0.1.643", aboutVersionText(idText));
}

TEST(Shortcuts, LettersSwitchOptionsAndDigitsGoToThePanel) {
  // clang-format off
  struct Row { std::uint32_t key, command, digit; } rows[] = {{'P', 210, 0}, {'Q', 211, 0}, {'O', 212, 0}, {'F', 213, 0}, {'7', 202, 7}, {0x69, 202, 9}, {'X', 0, 0}};
  // clang-format on
  for (const Row& row : rows) {
    const KeyShortcut shortcut = shortcutForKey(row.key);
    EXPECT_EQ(row.command, shortcut.command) << row.key;
    EXPECT_EQ(row.digit, shortcut.digit) << row.key;
  }
}

}  // namespace
