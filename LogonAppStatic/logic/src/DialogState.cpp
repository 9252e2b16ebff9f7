#include "Korvath/View/DialogState.h"

#include <exception>

#include "Korvath/Business/KvBusiness.h"
#include "Korvath/Logger.h"
#include "Korvath/RequestId.h"
#include "Korvath/Service/KvServiceForgotAuthenticator.h"
#include "Korvath/Service/ServiceMessages.h"

namespace Korvath {
namespace View {

DialogState& dialogState() {
  static DialogState state;
  return state;
}

bool isInForgotTokenMode() {
  DialogState& state = dialogState();
  if (!state.service) return false;
  try {
    Service::ServiceRequestBase request;
    if (state.currentUserName.size() <= Service::ServiceRequestBase::kLoginMaxLength) {
      request.setUserLogin(state.currentUserName);
    }
    Service::KvServiceForgotAuthenticator forgot(state.service.get());
    std::uint16_t responseType = Business::RESPONSE_TYPE_NONE;
    std::string response;
    forgot.getForgotAuthenticatorScreen(request, responseType, response, &state.internetStatus);
    return responseType == Business::RESPONSE_TYPE_FORGOT_AUTHENTICATION;
  } catch (const std::exception& e) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", "Korvath::View::MfaDialog::isInForgotTokenMode", e.what());
  }
  return false;
}

void tearDownDialogState() {
  DialogState& state = dialogState();
  state.validated = false;
  // Its destructor waits for the push tasks that work on copies of it.
  state.service.reset();
  state.result = Model::KvResult();
  state.clickTimer.reset();
  state.internetStatus = false;
  clearRequestId();
}

}  // namespace View
}  // namespace Korvath
