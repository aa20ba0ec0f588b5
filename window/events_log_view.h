#pragma once

#include <string>

#include "events/event_record.h"
#include "platform/controls.h"

namespace orv {

// The events log box: each record's line at the top, newest first, the box holding at most its
// last 1000 characters. "Without Display" ticked: nothing is shown (the file still gets it).
class EventsLogView {
 public:
  static constexpr int kLogBoxMaxLength = 1000;

  EventsLogView(TextBox& box, CheckBox& no_display) : box_(box), no_display_(no_display) {}

  void Show(const EventRecord& record);
  // The box's text with line added on top, cut to the box's length.
  static std::string Prepend(const std::string& text, const std::string& line);

 private:
  TextBox& box_;
  CheckBox& no_display_;
};

}  // namespace orv
