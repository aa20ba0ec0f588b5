#include "app/journal_commands.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "journal/journal.h"
#include "journal/journal_query.h"

namespace orv {

// Whether this user may read the journal: a folder on its way or the file itself that it may not
// read is said as such, never taken for a journal that is not there. Opened as the journal is
// (no link followed, never blocking) and closed at once; what else fails is the reader's to say.
bool JournalDenied(const std::filesystem::path& file, std::ostream& err) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return false;
  }
  if (errno != EACCES && errno != EPERM) return false;
  err << "orvandel: permission denied: run as root (" << file.string()
      << " cannot be read by this user)\n";
  return true;
}

namespace {

int Export(const std::filesystem::path& file, const JournalFilter& filter, std::ostream& out,
           std::ostream& err) {
  JournalReader reader;
  sqlite::Result result = reader.Open(file);
  std::int64_t rows = 0;
  if (result.ok()) result = WriteJournalCsv(reader, filter, out, rows);
  out.flush();
  if (result.ok() && !out) result = {10 /* SQLITE_IOERR */, "standard output cannot be written"};
  if (!result.ok()) {
    err << "orvandel: " << file.string() << " cannot be exported: " << result.message << '\n';
    return 1;
  }
  return 0;
}

constexpr int kAnchorsUnread = 3;
constexpr char kAnchorsUnreadText[] =
    "the anchors in the system journal cannot be read by this user: run as root or a member of "
    "systemd-journal";

int Verify(const std::filesystem::path& file, std::optional<JournalAnchor> anchor,
           JournalAnchorSink& anchors, std::ostream& out, std::ostream& err) {
  // Anchors this user may not read would pass a deleted end or a recomputed chain as "no anchor":
  // the chain is still checked, but it never passes alone.
  std::string unread;
  std::vector<JournalAnchor> all;
  if (anchor) {
    all = {*anchor};
  } else {
    all = anchors.All(JournalAnchorName(file));
    if (!all.empty()) anchor = all.back();
    if (!anchor) unread = anchors.unreadable();
  }
  // A fresh installation has no journal yet; a journal that was anchored and is gone is damage.
  std::error_code error;
  if (!std::filesystem::exists(std::filesystem::symlink_status(file, error))) {
    if (!unread.empty()) {
      err << "orvandel: no journal at " << file.string() << ", and " << kAnchorsUnreadText << " ("
          << unread << ")\n";
      return kAnchorsUnread;
    }
    if (!anchor) {
      out << "no journal yet at " << file.string() << '\n';
      return 0;
    }
    out << file.string() << ": the journal is missing but was anchored at " << anchor->sequence
        << '\n';
    return 1;
  }
  std::set<std::int64_t> anchored;
  for (const JournalAnchor& sent : all)
    anchored.insert(sent.sequence);
  const JournalCheck check = VerifyJournalFile(file, anchor ? anchor->sequence : 0, anchored);
  if (!check.error.empty()) {
    err << "orvandel: " << file.string() << " cannot be verified: " << check.error
        << (anchor ? "; it was anchored at " + std::to_string(anchor->sequence) : "") << '\n';
    return 1;
  }
  if (!check.ok) {
    out << file.string() << ": record " << check.first_bad
        << " fails the chain (changed, deleted or inserted); " << check.good_rows
        << " record(s) before it verify\n";
    return 1;
  }
  if (!unread.empty()) {
    err << "orvandel: " << file.string() << ": " << check.good_rows
        << " record(s), the chain verifies, but " << kAnchorsUnreadText << " (" << unread << ")\n";
    return kAnchorsUnread;
  }
  std::vector<std::string> problems;
  if (anchor) {
    if (std::string problem = JournalAnchorProblem(check, *anchor); !problem.empty())
      problems.push_back(std::move(problem));
  }
  std::vector<std::string> intact;
  for (std::string& problem : JournalAnchorFindings(check, all, file.parent_path(), intact))
    problems.push_back(std::move(problem));
  for (const std::string& problem : problems)
    out << file.string() << ": " << problem << '\n';
  if (!problems.empty()) return 1;
  out << file.string() << ": " << check.good_rows << " record(s), the chain verifies"
      << (check.pruned_upto != 0
              ? " from the cut after record " + std::to_string(check.pruned_upto) + " (record " +
                    std::to_string(check.pruned_by) + " says what was pruned)"
              : "")
      << (anchor ? " and matches the anchor at " + std::to_string(anchor->sequence)
                 : "; no anchor was found, so deleted last records or a recomputed chain "
                   "would not show");
  for (const std::string& name : intact)
    out << "; " << name << ", moved aside by the program, is as it was";
  out << '\n';
  return 0;
}

}  // namespace

int RunJournalCommand(const ProgramOptions& options, const std::filesystem::path& program_folder,
                      const std::string& folder_problem, std::ostream& out, std::ostream& err,
                      const std::shared_ptr<JournalAnchorSink>& anchors) {
  if (program_folder.empty()) {
    err << "orvandel: the program folder cannot be found: " << folder_problem << '\n';
    return 1;
  }
  const std::filesystem::path file = program_folder / "DATA" / Journal::kFileName;
  if (JournalDenied(file, err)) return 1;
  switch (options.journal_command) {
    case JournalCommand::kExport:
      return Export(file, options.journal_filter, out, err);
    case JournalCommand::kVerify:
      return Verify(file, options.journal_anchor, *anchors, out, err);
    case JournalCommand::kNone:
      break;
  }
  err << "orvandel: no journal command given\n";
  return 2;
}

}  // namespace orv
