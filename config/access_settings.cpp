#include "config/access_settings.h"

namespace orv {

int ParseIdleMinutes(std::string_view text) {
  // At most four digits: anything longer is out of range, and cannot overflow.
  if (text.empty() || text.size() > 4) return kIdleMinutesDefault;
  int minutes = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return kIdleMinutesDefault;
    minutes = minutes * 10 + (c - '0');
  }
  return minutes >= 1 && minutes <= kIdleMinutesMax ? minutes : kIdleMinutesDefault;
}

int AccessIdleMinutes(const SiteSettings& site) {
  constexpr std::size_t kNumberCapacity = 16;
  return ParseIdleMinutes(site.Read("Access", "IdleMinutes", kNumberCapacity));
}

}  // namespace orv
