#pragma once

#include <functional>

namespace orv {

struct LocalDateTime {
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;   // 0..23
  int minute = 0;
  int second = 0;  // 0..59; event lines do not show it
};

// Where the event lines get their date and time; tests give their own.
using ClockFn = std::function<LocalDateTime()>;

LocalDateTime SystemLocalTime();

}  // namespace orv
