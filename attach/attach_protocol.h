#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "access/operator_actions.h"
#include "panelstate/panel_state.h"
#include "journal/journal_page.h"

namespace orv {

// Windows attach to the service over a local socket and speak JSON, one message a line: the
// service sends a snapshot on attach, then numbered changes (only the sections that changed) and
// a heartbeat every second; a window sends actions, each answered by a result. A window may also
// ask for a page of the service's journal, one at a time; the service says when records were
// committed, so that an open history window takes them.
inline constexpr const char* kDefaultPanelSocket = "/run/orvandel/panel.sock";
inline constexpr const char* kOperatorsGroup = "orvandel-operators";

struct AttachLimits {
  std::size_t max_message_bytes = 1 << 20;  // one line from the service (a snapshot)
  std::size_t max_request_bytes = 4096;     // one line from a window
  std::size_t max_clients = 32;
  // Of them one user's at most, so that one user cannot keep every other operator out.
  std::size_t max_clients_per_user = 8;
  // Unsent bytes to one window; a window that lets more pile up has stopped reading.
  std::size_t max_queue_bytes = 1 << 20;
  // One page of the journal: at most this many rows and bytes, well inside a message's bound.
  std::size_t max_history_rows = JournalPageQuery::kRows;
  std::size_t max_history_bytes = 256 << 10;
};

// A page of the journal holds at most this many rows, whatever a window asks.
inline constexpr std::size_t kMaxHistoryRows = JournalPageQuery::kRows;
// A record's text, detail, user, host and frame are cut to this in a page, so that any one
// record fits one.
inline constexpr std::size_t kMaxHistoryFieldBytes = 4096;
inline constexpr const char* kResultHistoryBusy = "refused: one history request at a time";

// A PIN's bound on the socket; the gate says whether it is right.
inline constexpr std::size_t kMaxPinBytes = 64;

// A window's request for a page of the service's journal.
struct HistoryRequest {
  std::int64_t id = 0;  // the window's own number, given back with the page
  JournalPageQuery query;

  bool operator==(const HistoryRequest&) const = default;
};

enum class ServerMessageType {
  kSnapshot,
  kChange,
  kHeartbeat,
  kResult,
  kRefused,
  kHistory,  // a page of the journal, or why there is none
  kJournal,  // records were committed up to seq
};

// A message from the service, once read.
struct ServerMessage {
  ServerMessageType type = ServerMessageType::kHeartbeat;
  std::int64_t seq = 0;   // snapshot, change, heartbeat: the state's number; journal: the record's
  unsigned sections = 0;  // snapshot, change: what it wrote into the state
  std::int64_t id = 0;    // result: the action's number; history: the request's
  std::string text;       // result: what it came to; refused, history: why (none for a page)
  JournalPage page;       // history
};

// The state as one JSON object, only the sections asked for: the attach messages carry it, and
// it is what a web panel serves as its state.
std::string PanelStateJson(const PanelState& state, unsigned sections = kAllSections);

// The service's messages, each one line ending in "\n".
std::string SnapshotMessage(std::int64_t seq, const PanelState& state);
std::string ChangeMessage(std::int64_t seq, const PanelState& state, unsigned sections);
std::string HeartbeatMessage(std::int64_t seq);
std::string ResultMessage(std::int64_t id, std::string_view result);
std::string RefusedMessage(std::string_view why);
// Reads one line from the service. A snapshot or change is checked whole before it writes its
// sections into state; on error (said in error) nothing is written.
bool ParseServerMessage(std::string_view line, PanelState& state, ServerMessage& message,
                        std::string& error);

// A page of the journal for request id, as the page it answers (newer or older) was read: cut to
// max_bytes (and every field to kMaxHistoryFieldBytes), keeping the rows next to where the window
// looks from, and then saying there is more. At least one row goes whatever its size.
std::string HistoryPageMessage(std::int64_t id, bool newer, JournalPage page,
                               std::size_t max_bytes);
std::string HistoryErrorMessage(std::int64_t id, std::string_view why);
std::string JournalMessage(std::int64_t sequence);

// A window's request for a page of the journal, one line ending in "\n".
std::string HistoryRequestMessage(const HistoryRequest& request);
// Reads one line from a window as a request for a page. False with an empty error when the line
// is something else (an action); false with why when it is a request out of its bounds.
bool ParseHistoryRequest(std::string_view line, HistoryRequest& request, std::string& error);

// A window's action, one line ending in "\n".
std::string ActionMessage(const ActionRequest& action);
// Reads one line from a window: an action with every field in its range, or false and why.
bool ParseActionMessage(std::string_view line, ActionRequest& action, std::string& error);

// Splits a byte stream into lines, holding at most max_line bytes of one line.
class LineReader {
 public:
  explicit LineReader(std::size_t max_line) : max_line_(max_line) {}

  // False once a line has grown over the bound: the peer is to be dropped.
  bool Append(std::string_view bytes);
  // The next whole line, without its "\n"; false when none is complete.
  bool Next(std::string& line);

 private:
  std::string buffer_;
  std::size_t start_ = 0;
  std::size_t max_line_;
};

}  // namespace orv
