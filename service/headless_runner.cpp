#include "service/headless_runner.h"

#include <algorithm>

#include "annunciator/annunciator.h"
#include "journal/journal_query.h"

namespace orv {
namespace {

constexpr const char* kRetrying = "Trying again in 5 s, then less often, up to every 60 s.";

}  // namespace

HeadlessRunner::HeadlessRunner(PanelCore& panel, SerialPort& port, PrintFn print)
    : panel_(panel), port_(port), print_(std::move(print)) {
  connections_.push_back(
      panel_.recorded().Connect([this](const JournalEntry& entry) { Print(entry); }));
  // Handled at the next tick, not inside the port's own call.
  connections_.push_back(port_.failed().Connect([this](const PortError&) { lost_ = true; }));
}

void HeadlessRunner::Print(const JournalEntry& entry) {
  // Operator records come only from the connect's supervision pair here: not worth a line. A
  // silence (from an attached window) is.
  if (entry.kind == JournalKind::kOperator && !entry.text.starts_with(kAnnunciationRecordPrefix)) {
    return;
  }
  if (entry.kind == JournalKind::kLink) {
    // The same failure on every retry is said once.
    if (entry.text == last_link_text_) return;
    last_link_text_ = entry.text;
  }
  // The event in words after its line, which stays as the events log shows it.
  print_(FormatJournalIsoTime(entry.time, false) + " " + std::string(JournalKindName(entry.kind)) +
         " " + entry.text + (entry.detail.empty() ? "" : " (" + entry.detail + ")"));
}

void HeadlessRunner::Start() {
  TryConnect();
}

void HeadlessRunner::TryConnect(const Actor& by) {
  lost_ = false;
  panel_.ToggleConnection(by);
  if (connected()) {
    failures_ = 0;
    return;
  }
  ++failures_;
  ticks_to_retry_ = std::min(kFirstRetryTicks << std::min(failures_ - 1, 4), kLongestRetryTicks);
  if (failures_ == 1) {
    print_(FormatJournalIsoTime(panel_.Now(), false) + " link " + kRetrying);
  }
}

void HeadlessRunner::Tick() {
  panel_.Tick();
  if (connected()) {
    if (!lost_) return;
    // A lost device: close it as a disconnect would, and open it again after the first wait.
    panel_.ToggleConnection();
    if (connected()) {
      panel_.CloseLine();
    }
    lost_ = false;
    failures_ = 1;
    ticks_to_retry_ = kFirstRetryTicks;
    print_(FormatJournalIsoTime(panel_.Now(), false) + " link " + kRetrying);
    return;
  }
  if (!held_ && --ticks_to_retry_ <= 0) TryConnect();
}

void HeadlessRunner::Disconnect(const Actor& by) {
  held_ = true;
  if (connected()) panel_.ToggleConnection(by);
}

void HeadlessRunner::Connect(const Actor& by) {
  held_ = false;
  if (!connected()) TryConnect(by);
}

void HeadlessRunner::Stop() {
  if (connected()) panel_.ToggleConnection();
  if (port_.IsOpen()) port_.Close();
  panel_.Unload();
}

}  // namespace orv
