#pragma once

// The process-wide state of one sign-in attempt that the dialog, its panels and the gate share
// (the part that needs no window; the Windows view keeps its handles, the panels manager and
// the option-button records beside it).
//
// Threads: one thread at a time uses it (the gate's thread before the dialog thread starts,
// the dialog thread while it runs, the gate's thread after the join). The two exceptions are
// atomic: the validated flag, and the internet-status flag, which the push panel's result
// waiter writes from its own thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "Korvath/KvResult.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/Timer.h"

namespace Korvath {
namespace View {

// The dialog's sign-in methods (current method, option buttons, initial panel).
enum DialogMethod : std::uint32_t {
  kMethodNone = 0,
  kMethodPush = 1,
  kMethodQrCode = 2,
  kMethodOtp = 3,
  kMethodForgotToken = 4,
};

// Waiting time of the click timer: commands within this time after an action are dropped.
constexpr std::int64_t kClickTimerMs = 100;

struct DialogState {
  // True = let the user in. Cleared by the gate before the dialog and by the tear-down; set by
  // the bypass paths and by a panel whose factor succeeded.
  std::atomic<bool> validated{false};
  // 0 none, 1 push, 2 QR code, 3 OTP, 4 forgot token.
  std::uint32_t currentMethod = kMethodNone;
  // The name of the attempt that the service knows (UTF-8); the panels authenticate it.
  std::string currentUserName;
  // Which sign-in options the user has, and the user's auto-send push option.
  bool pushEnabled = false;
  bool qrCodeEnabled = false;
  bool otpEnabled = false;
  bool forgotTokenEnabled = false;
  bool autoSendPush = false;
  // True when the start-up said the service was reachable; the panels pass its address on.
  std::atomic<bool> internetStatus{false};
  // Shared with the panels; a fresh timer counts as run out. Null outside an attempt.
  std::unique_ptr<Utils::Timer> clickTimer;
  // The agent state of the attempt. Null outside an attempt.
  std::unique_ptr<Service::KvService> service;
  // The start-up outcome: read by the bypass and error-panel decisions and shown by the error
  // message panel.
  Model::KvResult result;
};

// The one record of this process.
DialogState& dialogState();

// True when the current user's forgot-token period is running: the service answers the
// forgot-token authentication screen (type 7) for the current user name (sent empty when it
// is longer than 100 bytes), with the internet-status flag. False without a service.
bool isInForgotTokenMode();

// The end of an attempt, once the dialog thread has ended and every panel is gone (the push
// panel's clean-up has run): clears the validated flag, frees the service (which waits for
// its push tasks), the result, the click timer and the internet-status flag, and empties the
// process-wide request identifier so that the next attempt gets a new one. The switches,
// current method and user name are reset by the next start-up.
void tearDownDialogState();

}  // namespace View
}  // namespace Korvath
