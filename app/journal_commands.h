#pragma once

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

#include "app/command_line.h"
#include "journal/journal_anchor.h"

namespace orv {

// The journal commands of the command line, run against DATA/Journal.sqlite of the program
// folder without any window: --journal-export writes CSV to out, --journal-verify a one-line
// verdict (the chain, and its end against the newest anchor: --journal-anchor's or anchors').
// Failures to read go to err as one line. Returns the exit status: 0 done (or the chain is intact
// and matches the anchor), 1 the journal cannot be read (or the chain fails, or the anchor shows
// records deleted or the file replaced), 3 the chain verifies but anchors cannot be read by this
// user, so a deleted end or a recomputed chain would not show.
// True, and said on err, when this user may not read the journal file (or a folder on its way).
bool JournalDenied(const std::filesystem::path& file, std::ostream& err);

int RunJournalCommand(const ProgramOptions& options, const std::filesystem::path& program_folder,
                      const std::string& folder_problem, std::ostream& out, std::ostream& err,
                      const std::shared_ptr<JournalAnchorSink>& anchors = SystemJournalAnchors());

}  // namespace orv
