#pragma once

// The push panel without its windows: sends the push as a task of the services and waits
// for its answer on a task of its own (the result waiter), which hands the outcome back to
// the dialog thread through a callback (the panel posts WM_COMMAND 226 to itself).
//
// Threads. Everything but the waiter runs on the dialog thread. The waiter works on its own
// copy of the push task's future, taken on the dialog thread when the push starts; it never
// reads the service's task queue. It stores the outcome before it calls the callback, and the
// dialog thread reads it in handleAuthenticationResult after the posted command arrives.
// Leaving the panel (safeCleanupAsyncTask, also run by the destructor) cancels the push and
// ends the waiter (it looks every 10 ms whether the panel was left) and returns once the
// waiter has ended: the callback is never called once it has returned, and a push answered
// afterwards leaves no trace. It does not wait for the push itself: a push in the middle of
// an exchange with the service notices the cancellation only when the exchange returns, and
// the dialog must go on answering meanwhile. Such a push stays in the service's queue, whose
// owner waits for it (the dialog thread at its end, the service when it goes).

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>

#include "Korvath/KvResult.h"
#include "Korvath/Service/KvService.h"
#include "Korvath/Timer.h"
#include "Korvath/View/ErrorText.h"

namespace Korvath {
namespace View {

class PushPanelLogic {
 public:
  // Called once per push when its outcome is stored, on the waiter's thread (or, when no push
  // could be started, at once on the dialog thread). It must only post to the panel.
  using ResultReady = std::function<void()>;

  // How long the waiter waits for the push task per attempt it logs, and how often it looks
  // meanwhile whether the panel was left.
  static constexpr std::int64_t kWaitStepMs = 100;
  static constexpr std::int64_t kStopCheckMs = 10;

  // `service` and `internetStatus` are the dialog's (borrowed); `userName` the current user,
  // whose stored auto-send option is read here (off for a user the configuration lacks).
  PushPanelLogic(Service::KvService* service, std::atomic<bool>* internetStatus, std::string userName);
  // safeCleanupAsyncTask.
  ~PushPanelLogic();
  PushPanelLogic(const PushPanelLogic&) = delete;
  PushPanelLogic& operator=(const PushPanelLogic&) = delete;

  // The user's auto-send option: the state of the check box when the panel is created.
  bool autoSendPush() const { return autoSendPush_; }
  // True when the Send Push button starts disabled: the push panel is the dialog's first panel
  // and the auto-send option is on, so the dialog sends command 221 itself.
  bool sendPushStartsDisabled(bool isInitialPanel) const { return isInitialPanel && autoSendPush_; }

  // Send Push (button, Enter, command 221). False, doing nothing, while the previous push's
  // waiter still runs. Otherwise (the panel disables the button, hides its error labels, shows
  // the waiting text and starts the click timer) the previous push is cancelled and removed,
  // a new push starts with the check box's state `autoSendPush`, and its waiter calls
  // `onResult` once the outcome is stored. True.
  bool sendPushButtonOnClick(bool autoSendPush, ResultReady onResult);

  // Command 226 (dialog thread): the stored outcome. Success sets the validated flag
  // (signedIn: post WM_CLOSE to the dialog); otherwise the error to show (the panel then
  // enables the button, its label and the check box again).
  PanelOutcome handleAuthenticationResult();

  // The check box (command 225): stores the user's auto-send option in the configuration
  // file. Nothing to show when it was stored. Otherwise (the user is not stored, or the file
  // cannot be saved) the error to show, and autoSendPush() is again the stored option, which
  // the panel puts back in the box.
  PanelOutcome updateAutoSendPushOptionByUserName(bool checked);

  // Leaving the panel (WM_DESTROY and the destructor; harmless when run again): cancels the
  // push and releases its token, stops the waiter and waits for it (at most one 10 ms look),
  // and removes the push task from the service's queue when it has ended. A push still in an
  // exchange is left in the queue, cancelled, and is not waited for here.
  void safeCleanupAsyncTask();

  // A push was started and its outcome has not been handed over yet.
  bool isPushInProgress() const { return pushInProgress_.load(); }

 private:
  void processPushAuthentication(bool autoSendPush);
  void processPushAuthenticationResult(std::shared_future<Model::KvResult> push, const ResultReady& onResult);
  bool waitForPush(const std::shared_future<Model::KvResult>& push) const;
  void storeResult(const Model::KvResult& result);

  Service::KvService* service_;
  std::atomic<bool>* internetStatus_;
  std::string userName_;
  bool autoSendPush_ = false;

  std::atomic<bool> pushInProgress_{false};
  std::unique_ptr<Utils::AutoTokenCancellationRelease> cancellationToken_;
  std::uint8_t pushTaskIndex_ = Service::kNoTaskIndex;
  std::mutex resultMutex_;
  Model::KvResult pushResult_;
  std::future<void> resultWaiter_;
};

}  // namespace View
}  // namespace Korvath
