#pragma once

// The MFA dialog's decisions, without its windows. The Windows MfaDialog calls them in this
// order:
//   constructor      startAttempt(isRdpSession, names, clientIp)   (gate's thread)
//   createMfaDialog  prepareDialog()       Bypass: send the bypass message, create nothing else;
//                                          SignInOptions: icon, label and optionButtons();
//                                          ErrorPanelOnly: no icon, label or option button
//                    About, Back (not over Remote Desktop), panels manager
//                    chooseInitialPanel()  the panel to show first
//   message loop     shortcutForKey(), optionForCommand()
// All of them work on dialogState() and never throw.

#include <cstdint>
#include <string>
#include <vector>

#include "Korvath/Service/ServiceMessages.h"
#include "Korvath/View/DialogState.h"

namespace Korvath {
namespace View {

// The start of an attempt (the dialog's constructor): sets the remote-logon flag, creates the
// service with the client IP, initializes it, decides the current user name among `userNames`
// (UTF-8, in order), the internet-status flag and the start-up result (dialogState().result):
//   - initialize failed without a connectivity problem: that code, the first name, offline;
//   - initialize failed for connectivity: the stored status of the first stored name (5103
//     when none), offline;
//   - otherwise the policy refresh of the first name the service knows (5103 when none; the
//     first name then stays current); when that result is a connectivity code the dialog is
//     offline and the stored status decides, an unknown user becoming 7000 when the unknown-
//     user rule lets them through and 5134 otherwise.
// Network requests run here, on the caller's thread. The previous attempt's switches and
// current method are reset; the validated flag is left as the gate set it.
void startAttempt(bool isRdpSession, const std::vector<std::string>& userNames, const std::string& clientIp);

// The start-up result 5103 turned by the unknown-user rule into 7000 (let through) or 5134
// (first sign-in must be online); any other code is left alone.
void checkIfUserIsInTheWhitelist(std::uint16_t code, bool internetStatus);

// True when the user passes without a second factor and without a message: 7000 (unknown
// user let through) or 5129 (safe network), a user whose policy enables no factor, or a
// user's view that could not be loaded. Never while the agent is disabled (5108 stored).
// May change the start-up result to 5127 (no policy) or 5134 (unknown user offline).
bool isBypassingMfaWithoutErrorMsg();

// True when the start-up result is neither 0 nor a connectivity code: the error message panel
// is shown instead of the sign-in options. For 5108, 5005 and 5100 the validated flag is also
// set (fail open: OK on the error panel lets the user in; Back clears the flag).
bool shouldShowMfaErrorPanel();

// Sets the four option switches (from the online policy when online, else from `response`,
// the user's stored view) and the auto-send push switch.
void checkUserCredentials(const Service::ServiceResponseBase& response);

// The user's last authentication type as a method: "push" 1, "qrcode" 2, "otp" 3,
// "forgot_authenticator" 4, anything else 0.
std::uint32_t getDefaultMethod(const Service::ServiceResponseBase& response);

enum class DialogContent {
  Bypass,          // validated flag set: send the dialog its bypass message, create nothing else
  ErrorPanelOnly,  // the error message panel, without icon, label or option buttons
  SignInOptions,   // icon, "Sign-in Options" label and optionButtons() of the switches
};
// createMfaDialog's decisions: current method 0; bypass; error panel; otherwise the user's
// stored view sets the switches and the current method becomes the default method (the
// button to show in bold).
DialogContent prepareDialog();

enum class InitialPanel { ErrorPanel, Push, QrCode, Otp, ForgotToken };
// showInitialPanel's choice: the error panel when shouldShowMfaErrorPanel; otherwise the
// forgot-token panel while the forgot-token period runs (isInForgotTokenMode), else the
// current method's panel, or the error panel for method 0. Records the current method.
InitialPanel chooseInitialPanel();

// The option command 210 (Push), 211 (QR Code), 212 (OTP) or 213 (Forgot Token) as a method,
// 0 when it is another command or the user's switch for it is off. The window procedure then
// selects that method's button and shows its panel.
std::uint32_t optionForCommand(std::uint32_t commandId);

// What a WM_KEYDOWN turns into after it has been dispatched: 'P' 210, 'Q' 211, 'O' 212,
// 'F' 213, '0'-'9' and VK_NUMPAD0-9 202 with `digit` 0-9; command 0 for any other key.
struct KeyShortcut {
  std::uint32_t command = 0;
  std::uint32_t digit = 0;
};
KeyShortcut shortcutForKey(std::uint32_t virtualKey);

}  // namespace View
}  // namespace Korvath
