// The [Annunciation] section of the site-wide settings: whether the sounder sounds, after how
// long a silenced fault is reminded, and the headless service's ALSA device.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "annunciator/annunciator.h"

namespace orv {

inline constexpr std::string_view kAnnunciationSection = "Annunciation";
inline constexpr int kReminderHoursDefault = 24;
inline constexpr int kReminderHoursMax = 8760;  // a year

struct AnnunciationSettings {
  AnnunciatorSettings annunciator;
  std::string device;  // empty: the headless service has no sounder
};

// Sound=0 turns the sound off, anything else (1, missing) leaves it on: a typo never silences
// an alarm. ReminderHours is a whole number from 0 (never) to kReminderHoursMax, else the
// default. read gives a key's value in the section, "" when it is not set.
AnnunciationSettings ReadAnnunciationSettings(
    const std::function<std::string(std::string_view key)>& read);

}  // namespace orv
