#include "Korvath/View/AboutLogic.h"

#include "Korvath/Logger.h"
#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvServiceAbout.h"
#include "TextConvert.h"

namespace Korvath {
namespace View {

namespace {

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

void logAbout(const Service::ServiceResponseAbout& about) {
  KV_LOG_DEBUG("AboutWindow - initialize this->about.getRegion %s \r\n", about.region.c_str());
  KV_LOG_DEBUG("AboutWindow - initialize this->about.getEnvironment %s \r\n", about.environment.c_str());
  KV_LOG_DEBUG("AboutWindow - initialize this->about.getAccountAlias %s \r\n", about.accountAlias.c_str());
  KV_LOG_DEBUG("AboutWindow - initialize this->about.getResourceAlias %s \r\n", about.resourceAlias.c_str());
  KV_LOG_DEBUG("AboutWindow - initialize this->about.getMachineName %s \r\n", about.machineName.c_str());
  KV_LOG_DEBUG("AboutWindow - initialize this->about.getLatestVersionKorvath %s \r\n",
               about.latestVersionKorvath.c_str());
  KV_LOG_DEBUG("AboutWindow - initialize this->about.getSupportMessage %s \r\n", about.supportMessage.c_str());
  KV_LOG_DEBUG("AboutWindow - initialize this->about.getPushTimeout %d \r\n", about.pushTimeout);
  KV_LOG_DEBUG("AboutWindow - initialize this->about.getSyncInterval %lld \r\n",
               static_cast<long long>(about.syncInterval));
  KV_LOG_DEBUG("AboutWindow - initialize this->about.getOfflineAuthentication %d \r\n",
               about.offlineAuthentication ? 1 : 0);
  KV_LOG_DEBUG("AboutWindow - initialize this->about.getEnableRememberPassword %d \r\n",
               about.enableRememberPassword ? 1 : 0);
  KV_LOG_DEBUG("AboutWindow - initialize this->about.getEnableForgotAuthenticator %d \r\n",
               about.enableForgotAuthenticator ? 1 : 0);
}

}  // namespace

std::uint16_t fillAbout(Service::KvService* service, Service::ServiceResponseAbout& about) {
  const std::uint16_t code = Service::KvServiceAbout(service).about(about);
  logAbout(about);
  return code;
}

std::u16string aboutVersionText(const TextLookup& lookup) { return lookup(417) + Text::ascii(Service::kClientVersion); }

std::u16string aboutNoticeText(const std::u16string& text418) {
  std::u16string out;
  std::size_t i = 0;
  while (i < text418.size()) {
    if (!isDigit(text418[i])) {
      out.push_back(text418[i++]);
      continue;
    }
    std::size_t end = i;
    while (end < text418.size() && isDigit(text418[end])) ++end;
    out += (end - i == 4) ? std::u16string(u"2023") : text418.substr(i, end - i);
    i = end;
  }
  return out;
}

std::u16string aboutSupportText(const TextLookup& lookup, const Service::ServiceResponseAbout& about) {
  return lookup(419) + u" " + Text::toUtf16(about.resourceAlias) + u"\n" + lookup(420) + u" " +
         Text::toUtf16(about.supportMessage);
}

}  // namespace View
}  // namespace Korvath
