#include "BusinessSupport.h"

#include "Korvath/KvGeolocator.h"
#include "Korvath/Model/CloudRecords.h"

namespace Korvath {
namespace Business {
namespace Detail {

std::string geolocationJson() {
  float latitude = 0.0f;
  float longitude = 0.0f;
  float accuracy = -1.0f;
  Geolocation::KvGeolocator::instance().getGeolocation(latitude, longitude, accuracy);
  Model::GeolocationData geolocation;
  geolocation.latitude = latitude;
  geolocation.longitude = longitude;
  geolocation.accuracy = accuracy;
  return geolocation.toJson();
}

AuthenticationSdk::AuthenticationSettings offlineSettings(const Config& config) {
  AuthenticationSdk::AuthenticationSettings settings = config.getServerConfig().getAuthenticationSettings();
  if (settings.accountId.empty()) settings.accountId = config.getAccountId();
  return settings;
}

}  // namespace Detail
}  // namespace Business
}  // namespace Korvath
