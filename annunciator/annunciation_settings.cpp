// The annunciator's settings from their text.
#include "annunciator/annunciation_settings.h"

#include "platform/leading_number.h"

namespace orv {
namespace {

int ParseReminderHours(std::string_view text) {
  return static_cast<int>(
      WholeNumberIn(text, 0, kReminderHoursMax).value_or(kReminderHoursDefault));
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
