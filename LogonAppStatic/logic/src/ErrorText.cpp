#include "Korvath/View/ErrorText.h"

#include <string>

#include "TextConvert.h"

namespace Korvath {
namespace View {

namespace {

// Text ids of the sentences that depend on the panel rather than on the code.
int failedSentence(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::Otp:
      return 411;
    case ErrorKind::QrCode:
      return 412;
    case ErrorKind::Push:
      return 413;
    case ErrorKind::ForgotTokenActivation:
      return 430;
    default:
      return 437;
  }
}

constexpr int kUnexpectedError = 436;
constexpr int kServerTimedOut = 424;
// The error code is grouped as ddd.ddd.ddd... and shown only from this length on.
constexpr std::size_t kMinErrorCodeLength = 9;

}  // namespace

int errorTextId(std::uint16_t resultCode, ErrorKind kind) {
  switch (resultCode) {
    case 0:
      return 0;
    case 2:
    case 3:
    case 5107:
    case 5126:
      return 416;
    case 5005:
      return 464;
    case 5013:
    case 5103:
      return 409;
    case 5039:
      return 408;
    case 5100:
    case 5102:
    case 5138:
      return 426;
    case 5104:
      return 432;
    case 5105:
    case 5131:
      return 423;
    case 5106:
    case 5132:
      return 439;
    case 5108:
      return 428;
    case 5112:
      return 410;
    case 5114:
      return 427;
    case 5115:
      return 425;
    case 5116:
    case 5152:
    case 5153:
    case 5154:
    case 5155:
      return kServerTimedOut;
    case 5118:
    case 5121:
      return 414;
    case 5119:
      return 415;
    case 5124:
    case 5137:
      return 441;
    case 5127:
      return 447;
    case 5128:
    case 5143:
      return 463;
    case 5129:
      return 446;
    case 5133:
      return 440;
    case 5134:
      return 448;
    case 5135:
      return 449;
    case 5136:
      return 451;
    // The offline checks' own "wrong code" (1) and "not a code of the token's digits" (4): the
    // user typed a code that is not the right one, as with the service's refusals below.
    case 1:
    case 4:
    case 6:
    case 7:
    case 9:
    case 47:
    case 5030:
    case 5111:
    case 5113:
    case 5123:
    case 5202:
    case 5204:
    case 5205:
    case 5210:
    case 5218:
    case 5219:
    case 5220:
      return failedSentence(kind);
    default:
      return kUnexpectedError;
  }
}

bool errorTextShowsCode(int textId) { return textId == kServerTimedOut || textId == kUnexpectedError; }

ErrorText ErrorText::fromResult(ErrorKind kind, const Model::KvResult& result) {
  ErrorText text(kind);
  text.setCloudErrorCode(result.getCloudErrorCode());
  text.setRequestId(result.getRequestId());
  text.setResultCode(result.getResultCode());
  return text;
}

ErrorText ErrorText::fromMessage(ErrorKind kind, int textId) {
  ErrorText text(kind);
  text.setMessageTextId(textId);
  return text;
}

void ErrorText::clear() {
  messageTextId_ = 0;
  errorCode_.clear();
  requestId_.clear();
  resultCode_ = 0;
}

void ErrorText::setErrorCode(const std::u16string& text) {
  errorCode_.clear();
  if (text.size() < kMinErrorCodeLength) return;
  errorCode_ = text;
  errorCode_.insert(6, 1, u'.');
  errorCode_.insert(3, 1, u'.');
}

void ErrorText::setCloudErrorCode(std::int32_t cloudErrorCode) {
  setErrorCode(Text::ascii(std::to_string(cloudErrorCode)));
}

void ErrorText::setRequestId(const std::string& utf8RequestId) { requestId_ = Text::toUtf16(utf8RequestId); }

bool ErrorText::empty() const {
  return messageTextId_ == 0 && resultCode_ == 0 && errorCode_.empty() && requestId_.empty();
}

std::u16string ErrorText::messageText(const TextLookup& lookup) const {
  std::u16string text;
  if (messageTextId_ != 0) {
    text += lookup(messageTextId_);
    text += u'\n';
  }
  if (resultCode_ != 0) {
    const int sentence = errorTextId(resultCode_, kind_);
    text += lookup(sentence);
    if (errorTextShowsCode(sentence)) text += u" [" + Text::ascii(std::to_string(resultCode_)) + u"]";
    text += u'\n';
  }
  if (!errorCode_.empty()) {
    text += lookup(kTextErrorCode);
    text += u' ';
    text += errorCode_;
    text += u'\n';
  }
  return text;
}

std::u16string ErrorText::requestIdText(const TextLookup& lookup) const {
  if (requestId_.empty()) return std::u16string();
  return lookup(kTextRequestId) + requestId_;
}

}  // namespace View
}  // namespace Korvath
