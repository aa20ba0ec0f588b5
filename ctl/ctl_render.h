#pragma once

// The service's state, its changes and the journal's records as orvandelctl prints them: text for
// a person, one JSON object a line for a script; and what the state or an action's answer comes
// to as an exit status.
#include <cstdint>
#include <string>
#include <string_view>

#include "journal/journal.h"
#include "panelstate/panel_state.h"

namespace orv {

// kCtlAlarm when an alarm stands, kCtlFaults when any other condition does, else kCtlQuiet. A
// shelved condition is set aside on purpose, and a cleared one no longer stands: neither counts.
int StateExitCode(const PanelState& state);
// kCtlQuiet for what the service did ("done", a log-in or log-out), kCtlRefused for the rest.
int ResultExitCode(std::string_view result);

// Lines of "what: value", lamps numbered 1-12 with their captions as the window shows them.
std::string StatusText(const PanelState& state);
// One line: the state's link, connection, sounder, conditions as the socket carries them, the
// lamps numbered with their captions, and what stands ("alarm", "faults", "quiet").
std::string StatusJson(const PanelState& state);

// One line (without its end) saying what a change did to what a person sees, "" when nothing
// (a change of the line's counters alone).
std::string ChangeText(std::int64_t seq, const PanelState& before, const PanelState& after,
                       unsigned sections);
// One line: the sections the change carried, as the socket has them, lamps as StatusJson's.
std::string ChangeJson(std::int64_t seq, const PanelState& after, unsigned sections);

// A word of the service's outside any action of this run ("logged out": the log-in ended), as a
// watch prints it with --json.
std::string ResultJson(std::string_view result);

std::string EventText(const JournalRow& row);
std::string EventJson(const JournalRow& row);

}  // namespace orv
