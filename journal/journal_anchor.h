#pragma once

// The journal's head kept where the operators cannot rewrite it. Anyone in the operators' group
// can delete records from the shared file, or replace it with a chain recomputed from scratch:
// the chain alone shows neither. The head (the newest sequence number and its chain value) sent
// to the system journal, which root owns, shows both.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

struct JournalCheck;

struct JournalAnchor {
  std::int64_t sequence = 0;
  std::string chain;  // 32 bytes

  bool operator==(const JournalAnchor&) const = default;
};

// "SEQ:HEX", as --journal-anchor takes it and the system journal's message shows it.
std::string FormatJournalAnchor(const JournalAnchor& anchor);
// False unless text is a positive sequence number, a colon and 64 hex digits.
bool ParseJournalAnchor(std::string_view text, JournalAnchor& anchor);

// Why a file whose chain verified does not match the anchor, in one sentence; empty when it
// does. check comes from VerifyJournalFile() asked for the chain value at anchor.sequence.
std::string JournalAnchorProblem(const JournalCheck& check, const JournalAnchor& anchor);

// Where anchors go and come back from; name is the file's JournalAnchorName().
class JournalAnchorSink {
 public:
  virtual ~JournalAnchorSink() = default;
  // Never waits: a sink that cannot take the anchor at once fails, with the reason in problem.
  virtual bool Send(const std::string& name, const JournalAnchor& anchor, std::string& problem) = 0;
  // The newest anchor sent for the file, if any can be read.
  virtual std::optional<JournalAnchor> Newest(const std::string& name) = 0;
  // Why the last Newest() may have missed anchors that are there (the store would not open, or
  // this user may not read it), so that its "none" proves nothing; empty when it read them all.
  virtual std::string unreadable() const { return {}; }
};

// The system journal: sent as one datagram in journald's native protocol on a non-blocking
// socket, read back through sd-journal; unreadable() when this user may not read the system's
// journal files, where a site's service keeps its anchors.
std::shared_ptr<JournalAnchorSink> SystemJournalAnchors();

// Why this user cannot read the system's journal file (system.journal) in one of folders; empty
// when it can, or when none is there (no system journal keeps anchors here, so none is the truth).
std::string SystemJournalUnreadable(const std::vector<std::filesystem::path>& folders);

// The fields of an anchor as the system journal takes them, KEY=value lines (journald's native
// protocol; a value with a line feed in it goes as a length-prefixed binary field).
std::string JournalAnchorDatagram(const std::string& name, const JournalAnchor& anchor);

// The name under which anchors of file are kept: its absolute path, links in the folders above it
// resolved, so that the writer and --journal-verify name one file alike.
std::string JournalAnchorName(const std::filesystem::path& file);

// The MESSAGE_ID of every anchor: journalctl MESSAGE_ID=... lists them.
inline constexpr std::string_view kJournalAnchorMessageId = "cad1cb261d56493a8807a0aca5755241";

}  // namespace orv
