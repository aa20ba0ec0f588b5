#include "window/events_log_view.h"

namespace orv {

void EventsLogView::Show(const EventRecord& record) {
  if (no_display_.value() != 0) return;
  box_.SetText(Prepend(box_.text(), record.text));
  box_.SetSelStart(0);
}

std::string EventsLogView::Prepend(const std::string& text, const std::string& line) {
  std::string joined = line + "\r\n" + text;
  if (joined.size() > static_cast<std::size_t>(kLogBoxMaxLength)) joined.resize(kLogBoxMaxLength);
  return joined;
}

}  // namespace orv
