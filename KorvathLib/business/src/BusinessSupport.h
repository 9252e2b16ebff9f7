#pragma once

// What the factor business objects share inside this library (not a contract).

#include <exception>
#include <string>

#include "AuthenticationSdk/AuthenticationSettings.h"
#include "Korvath/Config.h"

namespace Korvath {
namespace Business {
namespace Detail {

// The text logged for a caught exception; "Unknown exception" for none or an empty one.
inline const char* exceptionText(const std::exception* e) {
  const char* text = e != nullptr ? e->what() : nullptr;
  return (text != nullptr && *text != '\0') ? text : "Unknown exception";
}

// The machine's position as the requests carry it (empty text when there is none).
std::string geolocationJson();

// The settings of the offline checks. The blobs are keyed by the account, and settings that
// the service delivered without one belong to this configuration's account.
AuthenticationSdk::AuthenticationSettings offlineSettings(const Config& config);

}  // namespace Detail
}  // namespace Business
}  // namespace Korvath
