#include "config/access_settings.h"

#include "platform/leading_number.h"

namespace orv {

int ParseIdleMinutes(std::string_view text) {
  return static_cast<int>(WholeNumberIn(text, 1, kIdleMinutesMax).value_or(kIdleMinutesDefault));
}

int AccessIdleMinutes(const SiteSettings& site) {
  constexpr std::size_t kNumberCapacity = 16;
  return ParseIdleMinutes(site.Read("Access", "IdleMinutes", kNumberCapacity));
}

}  // namespace orv
