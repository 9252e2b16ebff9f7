#pragma once

// The Windows Location API behind ILocationSource. The ILocation object is obtained
// through a creator so that a machine without the API (or a test) can supply its own.

#include <windows.h>
#include <locationapi.h>

#include <memory>

#include "Korvath/KvGeolocator.h"

namespace Korvath {
namespace Geolocation {

using LocationCreator = HRESULT (*)(ILocation** location);

// CoCreateInstance of the system's location object.
HRESULT createSystemLocation(ILocation** location);

// A source that registers for latitude/longitude reports and also reads the last known
// report. The COM apartment is entered on the calling (task) thread in open().
std::unique_ptr<ILocationSource> createLocationApiSource(LocationCreator creator);

}  // namespace Geolocation
}  // namespace Korvath
