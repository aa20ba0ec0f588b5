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
#include <utility>
#include <vector>

namespace orv {

struct JournalCheck;

// A journal file the program moved out of the way (a damaged one, one put in its place): its name
// in the journal's folder and the SHA-256 of its bytes then, so that deleting or changing it shows.
struct JournalAside {
  std::string name;
  std::string sha256;  // 32 bytes

  bool operator==(const JournalAside&) const = default;
};

struct JournalAnchor {
  JournalAnchor() = default;
  JournalAnchor(std::int64_t sequence_, std::string chain_, std::int64_t broken_at_ = 0,
                std::vector<JournalAside> asides_ = {})
      : sequence(sequence_),
        chain(std::move(chain_)),
        broken_at(broken_at_),
        asides(std::move(asides_)) {}

  std::int64_t sequence = 0;
  std::string chain;  // 32 bytes
  // Not 0: the program found its chain changed after this point (the last one that held), first
  // at this record, and anchors nothing past it.
  std::int64_t broken_at = 0;
  std::vector<JournalAside> asides;  // the copies this run of the program moved aside

  bool operator==(const JournalAnchor&) const = default;
};

// "SEQ:HEX", as --journal-anchor takes it and the system journal's message shows it.
std::string FormatJournalAnchor(const JournalAnchor& anchor);
// False unless text is a positive sequence number, a colon and 64 hex digits.
bool ParseJournalAnchor(std::string_view text, JournalAnchor& anchor);
// "NAME:HEX NAME:HEX", as the system journal keeps the copies moved aside; the names are the
// program's own (no blank, no colon). False unless every item is a name, a colon and 64 hex digits.
std::string FormatJournalAsides(const std::vector<JournalAside>& asides);
bool ParseJournalAsides(std::string_view text, std::vector<JournalAside>& asides);

// Why a file whose chain verified does not match the anchor, in one sentence; empty when it
// does. check comes from VerifyJournalFile() asked for the chain value at anchor.sequence.
std::string JournalAnchorProblem(const JournalCheck& check, const JournalAnchor& anchor);

// What the anchors say beyond the newest head, one sentence per problem: the first older anchor
// within the file's records whose chain value differs (check.chains_at holds the file's), each
// change the program found while the file still holds the record it names (at or after
// check.first_sequence), and each copy moved aside that is missing from folder or whose bytes
// changed. The names of the
// copies found as they were go to intact.
std::vector<std::string> JournalAnchorFindings(const JournalCheck& check,
                                               const std::vector<JournalAnchor>& anchors,
                                               const std::filesystem::path& folder,
                                               std::vector<std::string>& intact);

// Where anchors go and come back from; name is the file's JournalAnchorName().
class JournalAnchorSink {
 public:
  virtual ~JournalAnchorSink() = default;
  // Never waits: a sink that cannot take the anchor at once fails, with the reason in problem.
  virtual bool Send(const std::string& name, const JournalAnchor& anchor, std::string& problem) = 0;
  // The newest anchor sent for the file, if any can be read.
  virtual std::optional<JournalAnchor> Newest(const std::string& name) = 0;
  // Every anchor sent for the file, oldest first: what the program found broken or moved aside
  // stays said after newer anchors (a restarted service cannot read its own).
  virtual std::vector<JournalAnchor> All(const std::string& name) {
    const std::optional<JournalAnchor> newest = Newest(name);
    return newest ? std::vector<JournalAnchor>{*newest} : std::vector<JournalAnchor>{};
  }
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

// The SHA-256 of a file's bytes (no link followed); empty with why in problem when it cannot be
// read. Reads the whole file: for a journal of any size, run it off the tick.
std::string JournalFileSha256(const std::filesystem::path& file, std::string& problem);

// The MESSAGE_ID of every anchor: journalctl MESSAGE_ID=... lists them.
inline constexpr std::string_view kJournalAnchorMessageId = "cad1cb261d56493a8807a0aca5755241";

}  // namespace orv
