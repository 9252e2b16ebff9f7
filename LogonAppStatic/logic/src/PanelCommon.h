#pragma once

// What the panels' logic shares.

#include <string>

#include "Korvath/View/ErrorText.h"

namespace Korvath {
namespace View {

// A typed code (OTP, verification code) has 4 to 10 characters; otherwise false with `error`
// set to `emptyTextId` (nothing typed) or `wrongLengthTextId`.
bool isCodeLengthValid(const std::string& code, ErrorText& error, int emptyTextId, int wrongLengthTextId);

// A factor passed: the validated flag is set and the panel closes the dialog.
PanelOutcome signInOutcome(ErrorKind kind);

}  // namespace View
}  // namespace Korvath
