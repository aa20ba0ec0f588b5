// The real program with --headless, in a program folder of its own, against the simulator on a
// pseudo-terminal. (The retry schedule, a held port and a device lost while connected are the
// runner's and the Qt port's tests.)
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "tests/program_folder_fixture.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using HeadlessProgram = test::ProgramFolderTest;

// The service's own timer drives the retries: a port missing at start is taken when it comes.
TEST_F(HeadlessProgram, TakesAPortThatComesLaterPollsPrintsEventsAndStopsCleanly) {
  auto program = StartProgram({"--headless"}, {.env = {}, .capture_stderr = true});
  ASSERT_TRUE(program->WaitForOutput("Com Port Fail!: COM1")) << program->output();
  ASSERT_TRUE(program->WaitForOutput("Trying again in 5 s")) << program->output();
  auto sim = StartSim();
  // The first retry is 5 s after the failure.
  ASSERT_TRUE(
      program->WaitForOutput(" link Connected: COM1 (" + link_.string() + ") 9600,N,8,1", 7000ms))
      << program->output();
  EXPECT_TRUE(sim->WaitForOutput("poll EMG trigger states")) << sim->output();
  sim->Type("event 0x12 0");
  ASSERT_TRUE(program->WaitForOutput(" event ")) << program->output();
  EXPECT_NE(program->output().find("Event = EMG Ack (Emergency acknowledged)\n"), std::string::npos)
      << program->output();

  program->Signal(SIGINT);
  EXPECT_EQ(program->WaitForExit(), 0) << program->output();
  // The reason, as a notice, on standard error.
  EXPECT_NE(program->error_output().find("COM1 cannot be opened: device not found ("),
            std::string::npos)
      << program->error_output();
  // The journal was closed: its write-ahead log was folded in and removed.
  EXPECT_FALSE(fs::exists(folder_.path() / "DATA" / "Journal.sqlite-wal"));
  EXPECT_NE(test::ReadBytes(folder_.path() / "DATA" / "EventLog.txt").find("Event = EMG Ack"),
            std::string::npos);
  const std::vector<JournalRow> rows = Rows();
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.back().entry.text.rfind("Program stopped: ", 0), 0U);
  EXPECT_TRUE(VerifyJournalFile(folder_.path() / "DATA" / Journal::kFileName).ok);
}

}  // namespace
}  // namespace orv
