#pragma once

// What a panel's red error labels say: the sentence chosen by result code and panel kind, the
// service's error code, the request identifier, or one of the panels' own messages ("You must
// type your OTP.", ...). Pure data and pure functions: the Win32 ErrorMessage component keeps
// one ErrorText, and on `show` sets label 200 to messageText() and label 201 to
// requestIdText(), both composed with the string-table lookup it is given.

#include <cstdint>
#include <functional>
#include <string>

#include "Korvath/KvResult.h"

namespace Korvath {
namespace View {

// The localized text of a string-table id (GetWText in the Windows view; English fallback).
using TextLookup = std::function<std::u16string(int id)>;

// Which panel shows the message; it chooses the sentence of the "failed" codes.
enum class ErrorKind : std::uint8_t {
  ErrorPanel = 0,
  Otp = 1,
  QrCode = 2,
  Push = 3,
  ForgotTokenActivation = 4,
};

// Text ids the panels show as their own message (above any result sentence).
enum MessageTextId : int {
  kTextQrCodeNotGenerated = 403,       // "Could not generate QR code. Please try again."
  kTextTypeOtp = 405,                  // "You must type your OTP."
  kTextTypeVerificationCode = 406,     // "You must type a verification code."
  kTextTypeTimeDuration = 407,         // "You must type a time duration."
  kTextOtpFailed = 411,                // "OTP authentication failed.\nType your OTP again."
  kTextQrCodeFailed = 412,             // "QR code authentication failed.\n..."
  kTextTimeDurationInvalid = 422,      // "The Time Duration you typed is not valid. ..."
  kTextNotAuthorized = 425,            // "This authentication type is not authorized."
  kTextForgotTokenNotValidated = 429,  // "Could not validate the 'Forgot Token' mode."
  kTextVerificationCodeInvalid = 431,  // "The Verification Code is not valid. ..."
  kTextTryAgain = 450,                 // "Please try again."
  kTextErrorCode = 459,                // "Error Code:"
  kTextRequestId = 460,                // "Request ID:"
};

// The sentence's text id for a result code shown in a panel of `kind` (0 for code 0).
int errorTextId(std::uint16_t resultCode, ErrorKind kind);
// True for the sentences followed by " [<result code>]" (424 and 436).
bool errorTextShowsCode(int textId);

class ErrorText {
 public:
  explicit ErrorText(ErrorKind kind = ErrorKind::ErrorPanel) : kind_(kind) {}

  // A failed operation's result as every panel shows it: cleared, then the result code, the
  // cloud error code (through setErrorCode) and the request identifier.
  static ErrorText fromResult(ErrorKind kind, const Model::KvResult& result);
  // Cleared, then only the panel's own message `textId`.
  static ErrorText fromMessage(ErrorKind kind, int textId);

  // Empties the message, the error code and the request identifier; result code 0.
  void clear();
  // The service's error code as decimal text: taken only with nine or more characters and
  // then shown with a "." after its third and sixth character; shorter (a cloud code of 0)
  // leaves the error code empty.
  void setErrorCode(const std::u16string& text);
  void setCloudErrorCode(std::int32_t cloudErrorCode);
  void setRequestId(const std::string& utf8RequestId);
  void setResultCode(std::uint16_t code) { resultCode_ = code; }
  void setMessageTextId(int textId) { messageTextId_ = textId; }

  ErrorKind kind() const { return kind_; }
  int messageTextId() const { return messageTextId_; }
  const std::u16string& errorCode() const { return errorCode_; }
  const std::u16string& requestId() const { return requestId_; }
  std::uint16_t resultCode() const { return resultCode_; }
  // Nothing to show at all.
  bool empty() const;

  // Label 200: the message and a line break (when there is one); the result's sentence (with
  // " [code]" for 424 and 436) and a line break when the result code is not 0; "Error Code:",
  // a blank, the error code and a line break when there is an error code.
  std::u16string messageText(const TextLookup& lookup) const;
  // Label 201: "Request ID:" directly followed by the identifier, or empty without one.
  std::u16string requestIdText(const TextLookup& lookup) const;

 private:
  ErrorKind kind_;
  int messageTextId_ = 0;
  std::u16string errorCode_;
  std::u16string requestId_;
  std::uint16_t resultCode_ = 0;
};

// What a panel does after the user's action.
struct PanelOutcome {
  // The factor succeeded and the validated flag is set: the panel posts WM_CLOSE to the dialog.
  bool signedIn = false;
  // Otherwise shown through the panel's ErrorMessage (nothing to show when empty()).
  ErrorText error;
};

}  // namespace View
}  // namespace Korvath
