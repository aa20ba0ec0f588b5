#pragma once

// The site-wide [Access] section: how long an operator's log-in lasts without input.

#include <string_view>

#include "config/site_settings.h"

namespace orv {

// [Access] IdleMinutes: a whole number of minutes from 1 to kIdleMinutesMax; anything else
// (missing, zero, out of range, not a plain number) gives kIdleMinutesDefault.
inline constexpr int kIdleMinutesDefault = 10;
inline constexpr int kIdleMinutesMax = 1440;
int ParseIdleMinutes(std::string_view text);
int AccessIdleMinutes(const SiteSettings& site);

}  // namespace orv
