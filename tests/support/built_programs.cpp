#include "tests/support/built_programs.h"

namespace orv::test {

const char* const kProgram = ORV_PROGRAM;
const char* const kSimulator = ORV_SIMULATOR;
const char* const kJournalChild = ORV_JOURNAL_CHILD;
const char* const kProgramFolderProbe = ORV_PROGRAM_FOLDER_PROBE;
const char* const kTestModule = ORV_TEST_MODULE;
const char* const kExtrasModule = ORV_EXTRAS_MODULE;
const char* const kCtlProgram = ORV_CTL_PROGRAM;

}  // namespace orv::test
