#include "Korvath/View/PushPanelLogic.h"

#include <chrono>
#include <exception>
#include <utility>

#include "Korvath/Logger.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/MfaAuthentication.h"
#include "PanelCommon.h"

namespace Korvath {
namespace View {

namespace {
const char* const kClass = "Korvath::View::PushPanel";
}  // namespace

PushPanelLogic::PushPanelLogic(Service::KvService* service, std::atomic<bool>* internetStatus, std::string userName)
    : service_(service), internetStatus_(internetStatus), userName_(std::move(userName)) {
  if (service_ != nullptr) {
    try {
      auto lock = service_->lockState();
      autoSendPush_ = service_->getKvBusiness().getAutoSendPushStatusByUsername(userName_);
    } catch (const std::exception& e) {
      KV_LOG_ERROR("%s::createPushPanel - exception - e.what(): %s", kClass, e.what());
    }
  }
}

PushPanelLogic::~PushPanelLogic() { safeCleanupAsyncTask(); }

void PushPanelLogic::storeResult(const Model::KvResult& result) {
  std::lock_guard<std::mutex> lock(resultMutex_);
  pushResult_ = result;
}

bool PushPanelLogic::sendPushButtonOnClick(bool autoSendPush, ResultReady onResult) {
  if (resultWaiter_.valid() && resultWaiter_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    return false;
  }
  processPushAuthentication(autoSendPush);

  // The waiter's own reference to the push, taken here on the dialog thread.
  std::shared_future<Model::KvResult> push;
  if (pushInProgress_ && service_ != nullptr && pushTaskIndex_ < service_->getFutures().size()) {
    push = service_->getFutures().at(pushTaskIndex_);
  }
  if (!push.valid()) {
    // Nothing was started (no service, or no task could be made): report it at once so that
    // the panel does not wait for ever with its button disabled.
    pushInProgress_ = false;
    storeResult(Model::KvResult(
        service_ == nullptr ? KV_ERROR_UNKNOWN_CLOUD_CODE : KV_ERROR_FAIL_SERVICE_SEND_PUSH_KORVATH, 0, std::string()));
    if (onResult) onResult();
    return true;
  }
  try {
    if (resultWaiter_.valid()) resultWaiter_.get();
    resultWaiter_ =
        std::async(std::launch::async, [this, push, onResult]() { processPushAuthenticationResult(push, onResult); });
  } catch (const std::exception& e) {
    // No thread for the waiter: the push is cancelled and reported as failed.
    KV_LOG_ERROR("%s::sendPushButtonOnClick - exception - e.what(): %s", kClass, e.what());
    safeCleanupAsyncTask();
    storeResult(Model::KvResult(KV_ERROR_FAIL_SERVICE_SEND_PUSH_KORVATH, 0, std::string()));
    if (onResult) onResult();
  }
  return true;
}

void PushPanelLogic::processPushAuthentication(bool autoSendPush) {
  KV_LOG_DEBUG("%s::processPushAuthentication - Processing push authentication (async).", kClass);
  Service::MfaAuthenticationRequest request;
  request.mode = Service::MFAAuthenticationPush;
  request.userLogin = userName_;
  request.checkRememberPassword = false;
  request.autoSendPush = autoSendPush;
  if (service_ == nullptr) {
    pushInProgress_ = false;
    return;
  }
  if (cancellationToken_) {
    cancellationToken_->cancel();
    cancellationToken_.reset();
  }
  if (pushTaskIndex_ != Service::kNoTaskIndex) service_->eraseFutureTaskByIndex(pushTaskIndex_);

  cancellationToken_.reset(new Utils::AutoTokenCancellationRelease());
  const std::uint32_t index = Service::MfaAuthentication(service_).authenticateAsync(request, *cancellationToken_);
  pushTaskIndex_ = static_cast<std::uint8_t>(index);
  pushInProgress_ = true;
}

// Up to kWaitStepMs for the push; false early once the panel has been left.
bool PushPanelLogic::waitForPush(const std::shared_future<Model::KvResult>& push) const {
  for (std::int64_t waited = 0; waited < kWaitStepMs && pushInProgress_.load(); waited += kStopCheckMs) {
    if (push.wait_for(std::chrono::milliseconds(kStopCheckMs)) == std::future_status::ready) return true;
  }
  return false;
}

void PushPanelLogic::processPushAuthenticationResult(std::shared_future<Model::KvResult> push,
                                                     const ResultReady& onResult) {
  for (int attempt = 1; pushInProgress_.load(); ++attempt) {
    KV_LOG_DEBUG("%s::processPushAuthenticationResult - Processing push result. Attempt: %d", kClass, attempt);
    if (!waitForPush(push)) continue;
    // Whoever clears the flag first owns the outcome: a clean-up that came first leaves no trace.
    if (!pushInProgress_.exchange(false)) return;
    Model::KvResult result(KV_ERROR_FAIL_SERVICE_SEND_PUSH_KORVATH, 0, std::string());
    try {
      result = push.get();
    } catch (const std::exception& e) {
      KV_LOG_ERROR("%s::processPushAuthenticationResult - exception - e.what(): %s", kClass, e.what());
    }
    storeResult(result);
    KV_LOG_DEBUG("%s::processPushAuthenticationResult - Updating internet status!", kClass);
    if (internetStatus_ != nullptr) *internetStatus_ = isServerReachable(result.getResultCode());
    if (onResult) onResult();
    return;
  }
}

PanelOutcome PushPanelLogic::handleAuthenticationResult() {
  Model::KvResult result;
  {
    std::lock_guard<std::mutex> lock(resultMutex_);
    result = pushResult_;
  }
  PanelOutcome outcome;
  outcome.error = ErrorText(ErrorKind::Push);
  if (result.getResultCode() == KV_SUCCESS) {
    KV_LOG_DEBUG("%s::handleAuthenticationResult - The push returned SUCCESS!", kClass);
    return signInOutcome(ErrorKind::Push);
  }
  KV_LOG_DEBUG("%s::updateErrorMessage - The push returned FAIL!", kClass);
  outcome.error = ErrorText::fromResult(ErrorKind::Push, result);
  return outcome;
}

PanelOutcome PushPanelLogic::updateAutoSendPushOptionByUserName(bool checked) {
  Model::KvResult result(KV_ERROR_UNKNOWN_CLOUD_CODE, 0, std::string());
  if (service_ != nullptr) {
    try {
      auto lock = service_->lockState();
      result = service_->getKvBusiness().updateAutoSendPushOptionByUserName(userName_, checked);
      autoSendPush_ = result.getResultCode() == KV_SUCCESS
                          ? checked
                          : service_->getKvBusiness().getAutoSendPushStatusByUsername(userName_);
    } catch (const std::exception& e) {
      KV_LOG_ERROR("%s::updateAutoSendPushOptionByUserName - exception - e.what(): %s", kClass, e.what());
    }
  }
  PanelOutcome outcome;
  outcome.error = ErrorText(ErrorKind::Push);
  if (result.getResultCode() != KV_SUCCESS) outcome.error = ErrorText::fromResult(ErrorKind::Push, result);
  return outcome;
}

void PushPanelLogic::safeCleanupAsyncTask() {
  KV_LOG_DEBUG("%s::safeCleanupAsyncTask - Destroying push panel.", kClass);
  if (cancellationToken_) {
    cancellationToken_->cancel();
    cancellationToken_.reset();
  }
  pushInProgress_ = false;
  if (resultWaiter_.valid()) {
    try {
      resultWaiter_.get();
    } catch (const std::exception& e) {
      KV_LOG_ERROR(
          "%s::safeCleanupAsyncTask - Error waiting for completion of thread of the push authentication process. "
          "Error description: %s",
          kClass, e.what());
    }
  }
  if (service_ != nullptr && pushTaskIndex_ != Service::kNoTaskIndex) {
    // Only a push that has ended is removed (removing waits for it). One still in an exchange
    // with the service stays queued behind this panel: waiting here would freeze the dialog for
    // as long as the exchange lasts.
    Service::KvService::FutureQueue& futures = service_->getFutures();
    if (pushTaskIndex_ < futures.size() &&
        futures[pushTaskIndex_].wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
      service_->eraseFutureTaskByIndex(pushTaskIndex_);
    }
  }
  pushTaskIndex_ = Service::kNoTaskIndex;
}

}  // namespace View
}  // namespace Korvath
