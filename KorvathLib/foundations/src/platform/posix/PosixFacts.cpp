// Native machine facts: the plain answers of a machine that is not Windows.
#include <sys/utsname.h>
#include <unistd.h>

#include <string>

#include "Korvath/WindowsFacts.h"

namespace Korvath {
namespace Utils {

std::string getComputerName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return std::string();
  std::string host(name);
  const std::size_t dot = host.find('.');
  return dot == std::string::npos ? host : host.substr(0, dot);
}

std::string getDnsDomainName() { return std::string(); }

std::string getWindowsVersionName() {
  struct utsname u;
  if (::uname(&u) != 0) return std::string();
  return std::string(u.sysname) + " " + u.release;
}

std::uint16_t getSystemPrimaryLanguageId() { return 0x09; }

}  // namespace Utils
}  // namespace Korvath
