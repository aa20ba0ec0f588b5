// The panel's state as values, for every view and report: taken from the link, the link watch,
// the configuration, the annunciator and the gate, never from a control of this window.
#include <algorithm>

#include "panel/main_form.h"

namespace orv {
namespace {

LinkCondition ConditionOf(const LinkWatch& watch) {
  switch (watch.state()) {
    case LinkWatch::State::kDisconnected:
      return LinkCondition::kDisconnected;
    case LinkWatch::State::kLost:
      return LinkCondition::kNoReply;
    case LinkWatch::State::kWaiting:  // the time without a reply is not up yet
    case LinkWatch::State::kAnswering:
      break;
  }
  return LinkCondition::kAnswering;
}

// The box's text cut at its line breaks: joined again, it is the same text.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t from = 0;;) {
    const std::size_t end = text.find("\r\n", from);
    lines.push_back(text.substr(from, end == std::string::npos ? end : end - from));
    if (end == std::string::npos) break;
    from = end + 2;
  }
  return lines;
}

}  // namespace

PanelState MainForm::StateNow() const {
  PanelState state;
  // A line that is gone says nothing of the lamps: dark, as after a disconnect.
  for (int i = 0; i < kSystemLamps && link_.port_connected(); ++i)
    state.lamps[static_cast<std::size_t>(i)] = controller_lamps_[static_cast<std::size_t>(i)];
  for (int p = 0; p < PanelState::kPages; ++p) {
    const auto size = static_cast<std::size_t>(PageSize(p));
    TriggerPageState& page = state.pages[static_cast<std::size_t>(p)];
    const TriggerStateTable& states = link_.trigger_states().States(p);
    page.states.resize(size);
    for (std::size_t n = 1; n <= size; ++n)
      page.states[n - 1] = states.Get(static_cast<int>(n)) != 0 ? 1 : 0;
    page.names = config_.Names(p);
    page.names.resize(size);
  }
  state.events = Lines(events_text_);
  state.line = line_watcher_.status();
  state.link = ConditionOf(link_.watch());
  state.connected = link_.port_connected();
  state.port = std::clamp<int>(config_.SerialComPort, 1, 10);
  state.baud = config_.SerialBaudRate;
  state.supervision = commands_.supervision_enabled();
  state.supervision_time = supervision_time_;
  state.access_levels = env_.gate != nullptr && env_.gate->mode() != AccessMode::kOff;
  if (env_.gate != nullptr) {
    for (const Actor& actor : env_.gate->LoggedIn()) {
      if (state.logged_in.size() == kMostLoggedIn) break;
      state.logged_in.push_back(
          LoggedIn{actor.operator_name, LevelNumber(*actor.level), OriginText(actor.origin)});
    }
  }
  const AnnunciationView now = annunciation_.view();
  state.sounding = now.state.tone == Tone::kAlarm   ? "alarm"
                   : now.state.tone == Tone::kFault ? "fault"
                                                    : "none";
  state.sounding_condition = now.state.condition;
  state.sounding_since = now.since;
  state.silenced = annunciation_.silenced_standing();
  state.lamp_test = annunciation_.lamp_test_active();
  return state;
}

void MainForm::PublishState() {
  PanelState state = StateNow();
  TickConditions(state);
  state_store_.Publish(std::move(state));
}

}  // namespace orv
