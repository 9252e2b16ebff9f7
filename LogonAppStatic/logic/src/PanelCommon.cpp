#include "PanelCommon.h"

#include "Korvath/View/DialogState.h"
#include "TextConvert.h"

namespace Korvath {
namespace View {

namespace {
constexpr std::size_t kMinCodeLength = 4;
constexpr std::size_t kMaxCodeLength = 10;
}  // namespace

bool isCodeLengthValid(const std::string& code, ErrorText& error, int emptyTextId, int wrongLengthTextId) {
  const std::size_t length = Text::length(code);
  if (length >= kMinCodeLength && length <= kMaxCodeLength) return true;
  error.setMessageTextId(length == 0 ? emptyTextId : wrongLengthTextId);
  return false;
}

PanelOutcome signInOutcome(ErrorKind kind) {
  dialogState().validated = true;
  PanelOutcome outcome;
  outcome.signedIn = true;
  outcome.error = ErrorText(kind);
  return outcome;
}

}  // namespace View
}  // namespace Korvath
