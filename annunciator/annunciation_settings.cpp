// The annunciator's settings from their text.
#include "annunciator/annunciation_settings.h"

namespace orv {
namespace {

int ParseReminderHours(std::string_view text) {
  // At most five digits: anything longer is out of range, and cannot overflow.
  if (text.empty() || text.size() > 5) return kReminderHoursDefault;
  int hours = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return kReminderHoursDefault;
    hours = hours * 10 + (c - '0');
  }
  return hours <= kReminderHoursMax ? hours : kReminderHoursDefault;
}

}  // namespace

AnnunciationSettings ReadAnnunciationSettings(
    const std::function<std::string(std::string_view key)>& read) {
  AnnunciationSettings settings;
  settings.annunciator.sound = read("Sound") != "0";
  settings.annunciator.reminder_hours = ParseReminderHours(read("ReminderHours"));
  settings.device = read("Device");
  return settings;
}

}  // namespace orv
