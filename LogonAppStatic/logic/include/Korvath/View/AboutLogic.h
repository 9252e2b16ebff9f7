#pragma once

// The About window's texts, without the window.

#include <cstdint>
#include <string>

#include "Korvath/Service/KvService.h"
#include "Korvath/Service/ServiceMessages.h"
#include "Korvath/View/ErrorText.h"

namespace Korvath {
namespace View {

// What the About window shows (About button 214), filled by the About service and logged
// field by field: 0, or 5209 when it could not be filled (what was filled stays).
std::uint16_t fillAbout(Service::KvService* service, Service::ServiceResponseAbout& about);

// The version label: text 417 "Pellora Agent for Windows v" followed by the client version.
std::u16string aboutVersionText(const TextLookup& lookup);
// The notice label: text 418 with its four-digit year replaced by "2023" (every standalone
// run of exactly four ASCII digits; the translations carry one year).
std::u16string aboutNoticeText(const std::u16string& text418);
// The support label: text 419 "Resource:", a blank, the resource alias, a line break, text 420
// "Support:", a blank and the support message.
std::u16string aboutSupportText(const TextLookup& lookup, const Service::ServiceResponseAbout& about);

}  // namespace View
}  // namespace Korvath
