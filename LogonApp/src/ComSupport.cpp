#include "ComSupport.h"

#include "Korvath/Utils.h"

namespace Korvath {
namespace Provider {

std::wstring guidWideText(REFGUID guid) {
  wchar_t text[40] = {};
  if (StringFromGUID2(guid, text, 40) == 0) return std::wstring();
  return text;
}

std::string guidText(REFGUID guid) { return Utils::toUtf8(guidWideText(guid)); }

}  // namespace Provider
}  // namespace Korvath
