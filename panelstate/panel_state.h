#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "journal/journal.h"
#include "link/fault_lamps.h"
#include "link/trigger_states.h"
#include "linkwatch/line_status.h"
#include "panelstate/condition.h"

namespace orv {

// One listed trigger page as a window shows it: the states and names of triggers 1..size, at
// index n - 1.
struct TriggerPageState {
  std::vector<std::uint8_t> states;
  std::vector<std::string> names;

  bool operator==(const TriggerPageState&) const = default;
};

// What the link watch says of the controller: no port, answering (or not yet late), or silent
// past its time.
enum class LinkCondition { kDisconnected, kAnswering, kNoReply };

// An operator logged in where the line is held, as its gate has it.
struct LoggedIn {
  std::string name;
  int level = 2;
  std::string where;  // "window", "web 192.0.2.7", "local user alice", "orvandelctl as root"

  bool operator==(const LoggedIn&) const = default;
};
// More than a site has at once; a list from outside with more is refused.
inline constexpr std::size_t kMostLoggedIn = 64;

// The panel's state as plain values: what the controller and the program that holds the line
// say now, the same for every view (the window, a window attached to the service, a web page,
// the broker, a report). The BGM channels are never listed, so never sent.
struct PanelState {
  static constexpr int kPages = 3;  // EMG, business, soft

  // The controller's fault lamps, dark while disconnected; never a window's lamp test.
  std::array<bool, kSystemLamps> lamps{};
  std::array<TriggerPageState, kPages> pages;
  // The events log's lines, newest first, as the service's box holds them.
  std::vector<std::string> events;
  // The serial line beside the notices, with the title's addition while the link is lost.
  LineStatus line;
  LinkCondition link = LinkCondition::kDisconnected;
  bool connected = false;
  int port = 1;  // COM1..COM10
  std::string baud = "9600";
  // The supervision box and its time, as the service's window holds them.
  bool supervision = false;
  std::string supervision_time = "10";
  // Access levels are on where the line is held: a window offers its operator a log in.
  bool access_levels = false;
  // The annunciator of the program that holds the line: "alarm", "fault" or "none", and why.
  std::string sounding = "none";
  std::string sounding_condition;
  // When what sounds began to sound (or the sound stopped).
  JournalTime sounding_since;
  // Conditions still standing whose sound an operator silenced.
  int silenced = 0;
  // The annunciator's lamp test runs: a window that asked for it lights its own lamps.
  bool lamp_test = false;
  // What an operator must see first, in the order a view lists it (conditions/).
  std::vector<Condition> conditions;
  // Who is logged in, at most kMostLoggedIn, in the gate's order.
  std::vector<LoggedIn> logged_in;

  bool operator==(const PanelState&) const = default;
};

// The parts of the state a change carries whole; a page is a part of its own.
enum PanelSection : unsigned {
  kSectionLamps = 1U << 0,
  kSectionPage0 = 1U << 1,  // page p is kSectionPage0 << p
  kSectionEvents = 1U << 4,
  kSectionLine = 1U << 5,          // the line's status and the link's condition
  kSectionConnection = 1U << 6,    // connected, port, baud, supervision, access levels
  kSectionAnnunciation = 1U << 7,  // what sounds, since when, and the lamp test
  kSectionConditions = 1U << 8,
  kSectionOperators = 1U << 9,  // who is logged in
  kAllSections = (1U << 10) - 1,
};
constexpr unsigned PageSection(int page) {
  return kSectionPage0 << page;
}

// The sections in which two states differ.
unsigned ChangedSections(const PanelState& before, const PanelState& after);

// "disconnected", "answering", "no reply".
std::string_view LinkConditionName(LinkCondition condition);
bool ParseLinkCondition(std::string_view name, LinkCondition& condition);

// A state whose pages have their full sizes (60, 60, 120), every trigger off and unnamed.
PanelState EmptyPanelState();
// The number of triggers on a listed page.
int PageSize(int page);

}  // namespace orv
