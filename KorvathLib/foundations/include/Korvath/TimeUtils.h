#pragma once

#include <cstdint>
#include <string>

namespace Korvath {
namespace Utils {
namespace TimeUtils {

// The current UTC time (from Platform::clock()) as "dd/mm/yyyy hh:mm:ss".
std::string getCurrentTimeString();

// A FILETIME (100-ns units since 1601-01-01 UTC) in the same form.
std::string fileTimeToString(std::uint64_t fileTime);

}  // namespace TimeUtils
}  // namespace Utils
}  // namespace Korvath
