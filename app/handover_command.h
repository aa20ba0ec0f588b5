#pragma once

#include <filesystem>
#include <ostream>
#include <string>

#include "app/command_line.h"
#include "journal/journal.h"

namespace orv {

// --handover-report: the report from DATA/Journal.sqlite of the program folder, read only, as
// text or CSV on out (or into --output), or as a PDF into --output. One line on err when the
// journal cannot be read or the output written. Returns the exit status: 0 done, 1 not.
int RunHandoverCommand(const ProgramOptions& options, const std::filesystem::path& program_folder,
                       const std::string& folder_problem, const JournalTime& now, std::ostream& out,
                       std::ostream& err);

}  // namespace orv
