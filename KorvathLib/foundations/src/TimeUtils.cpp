#include "Korvath/TimeUtils.h"

#include <cstdio>

#include "Korvath/Platform.h"

namespace Korvath {
namespace Utils {
namespace TimeUtils {

namespace {

// Days since 1970-01-01 to a proleptic Gregorian date (Howard Hinnant's civil_from_days).
void civilFromDays(std::int64_t z, std::int64_t& year, unsigned& month, unsigned& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = doy - (153 * mp + 2) / 5 + 1;
  month = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

std::string fileTimeToString(std::uint64_t fileTime) {
  // Seconds since 1601, then since 1970 (11644473600 s apart).
  const std::int64_t unixSeconds = static_cast<std::int64_t>(fileTime / 10000000ULL) - 11644473600LL;
  std::int64_t days = unixSeconds / 86400;
  std::int64_t secondsOfDay = unixSeconds % 86400;
  if (secondsOfDay < 0) {
    secondsOfDay += 86400;
    --days;
  }
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  civilFromDays(days, year, month, day);
  char text[40];
  std::snprintf(text, sizeof text, "%02u/%02u/%04lld %02u:%02u:%02u", day, month,
                static_cast<long long>(year), static_cast<unsigned>(secondsOfDay / 3600),
                static_cast<unsigned>((secondsOfDay / 60) % 60), static_cast<unsigned>(secondsOfDay % 60));
  return text;
}

std::string getCurrentTimeString() { return fileTimeToString(Platform::clock().nowFileTime()); }

}  // namespace TimeUtils
}  // namespace Utils
}  // namespace Korvath
