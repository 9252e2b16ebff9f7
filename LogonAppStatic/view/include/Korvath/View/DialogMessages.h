#pragma once

// Window classes, control ids, commands and private messages of the MFA dialog and its
// panels. The two private messages live in the application range (WM_APP and above): the
// system's own range below WM_USER belongs to Windows, whose controls and hooks may use the
// same numbers.

#include <windows.h>

namespace Korvath {
namespace View {

// Window classes and title.
constexpr const wchar_t* kMfaDialogClass = L"MFA_Dialog";
constexpr const wchar_t* kAboutDialogClass = L"About_Dialog";
constexpr const wchar_t* kHowToDialogClass = L"How_To_Use_Forgot_Token";
constexpr const wchar_t* kPushPanelClass = L"Push Panel";
constexpr const wchar_t* kQrCodePanelClass = L"QR Code Panel";
constexpr const wchar_t* kOtpPanelClass = L"OTP Panel";
constexpr const wchar_t* kForgotTokenActivationPanelClass = L"Forgot Token Activation Panel";
constexpr const wchar_t* kForgotTokenAuthenticationPanelClass = L"Forgot Token Authentication Panel";
constexpr const wchar_t* kErrorMessagePanelClass = L"Error Message Panel";
constexpr const wchar_t* kDialogTitle = L"Pellora Agent for Windows";

// WM_COMMAND ids handled by the dialog.
constexpr UINT kCmdDigitTyped = 202;  // lParam = the digit 0-9
constexpr UINT kCmdPush = 210;
constexpr UINT kCmdQrCode = 211;
constexpr UINT kCmdOtp = 212;
constexpr UINT kCmdForgotToken = 213;
constexpr UINT kCmdAbout = 214;
constexpr UINT kIdSignInOptionsLabel = 215;
constexpr UINT kCmdBack = 216;
// The first and last command the dialog's window procedure looks at.
constexpr UINT kFirstDialogCommand = 202;
constexpr UINT kLastDialogCommand = 216;

// Private messages.
constexpr UINT kMsgDigitToPanel = WM_APP + 203;  // to the current panel, wParam = the digit
// The bypass's number. The bypass itself needs no window (it is decided before one exists),
// so whoever sends this is not the dialog: the dialog closes as a refusal.
constexpr UINT kMsgBypass = WM_APP + 616;

// Panels (window id = panel id).
constexpr UINT kPushPanelId = 220;
constexpr UINT kQrCodePanelId = 230;
constexpr UINT kOtpPanelId = 240;
constexpr UINT kForgotTokenActivationPanelId = 250;
constexpr UINT kForgotTokenAuthenticationPanelId = 270;
constexpr UINT kErrorMessagePanelId = 290;

// Controls of the panels.
constexpr UINT kErrorMessageLabelId = 200;
constexpr UINT kRequestIdLabelId = 201;
constexpr UINT kSendPushButtonId = 221;  // also the command the dialog sends for auto-send
constexpr UINT kWaitingTextId = 222;
constexpr UINT kAutoSendCheckboxId = 225;
constexpr UINT kPushResultCommand = 226;
constexpr UINT kQrEnterButtonId = 231;
constexpr UINT kQrCodeBoxId = 232;
constexpr UINT kOtpEnterButtonId = 241;
constexpr UINT kOtpBoxId = 242;
constexpr UINT kActivationEnterButtonId = 251;
constexpr UINT kActivationCodeLabelId = 252;
constexpr UINT kActivationVerificationBoxId = 253;
constexpr UINT kTimeDurationBoxId = 254;
constexpr UINT kFirstActivationCodeBoxId = 257;  // 257..262, one character each
constexpr UINT kHowToLinkId = 263;
constexpr UINT kForgotTokenEnterButtonId = 271;
constexpr UINT kActivatedLabelId = 272;
constexpr UINT kExpiresInLabelId = 273;
constexpr UINT kHoursBoxId = 274;
constexpr UINT kMinutesBoxId = 275;
constexpr UINT kHoursLabelId = 276;
constexpr UINT kMinutesLabelId = 277;
constexpr UINT kExpiryTimerId = 278;
constexpr UINT kAboutBackButtonId = 280;
constexpr UINT kErrorPanelOkButtonId = 291;
constexpr UINT kHowToBackButtonId = 300;

// Colours (COLORREF, 0x00BBGGRR).
constexpr COLORREF kBackgroundColour = 0xF0F0F0;
constexpr COLORREF kErrorTextColour = 0x0000FF;
constexpr COLORREF kLinkColour = 0x887B36;
constexpr COLORREF kSecondaryTextColour = 0x404040;

}  // namespace View
}  // namespace Korvath
