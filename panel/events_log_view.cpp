#include "panel/events_log_view.h"

namespace orv {

void EventsLogView::Show(const EventRecord& record) {
  if (no_display_.value() != 0) return;
  std::string text = record.text + "\r\n" + box_.text();
  if (text.size() > static_cast<std::size_t>(kLogBoxMaxLength)) text.resize(kLogBoxMaxLength);
  box_.SetText(text);
  box_.SetSelStart(0);
}

}  // namespace orv
