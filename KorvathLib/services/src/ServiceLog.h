#pragma once

// Log lines that every service class of this library writes the same way.

#include <exception>

namespace Korvath {
namespace Service {

// "<class> - BuildConfiguration: Release" and "<class> - BuildPlataform: x64".
void logBuild(const char* className);
// "<class>::<function> - exception - e.what(): <text>" at error level; "Unknown exception"
// when there is no exception or it has no text.
void logServiceException(const char* className, const char* function, const std::exception* e);

}  // namespace Service
}  // namespace Korvath
