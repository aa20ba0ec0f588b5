#include "journal/iso_time.h"

#include <cstdio>
#include <ctime>

namespace orv {

std::string IsoLocalTime(const JournalTime& time) {
  // Floor division: a moment before 1970 still lands in the right second.
  std::int64_t seconds = time.utc_ms / 1000;
  if (time.utc_ms % 1000 < 0) --seconds;
  const std::time_t local = static_cast<std::time_t>(seconds + time.utc_offset_s);
  std::tm tm{};
  gmtime_r(&local, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &tm);
  const std::int32_t offset = time.utc_offset_s;
  const std::int32_t magnitude = offset < 0 ? -offset : offset;
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', magnitude / 3600,
                magnitude / 60 % 60);
  return std::string(stamp) + zone;
}

}  // namespace orv
