// The real program with --headless, in a program folder of its own, against the simulator on a
// pseudo-terminal: events reach standard output, EventLog.txt and the journal; a port missing at
// start or lost is taken when it comes; SIGTERM ends it cleanly; a second copy cannot share the
// port.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "journal/journal.h"
#include "tests/program_folder_fixture.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class HeadlessProgram : public test::ProgramFolderTest {
 protected:
  std::unique_ptr<test::SimProcess> StartProgram() {
    return ProgramFolderTest::StartProgram({"--headless"});
  }
};

TEST_F(HeadlessProgram, ConnectsPollsPrintsEventsAndStopsCleanlyOnSigterm) {
  auto sim = StartSim();
  auto program = StartProgram();
  ASSERT_TRUE(program->WaitForOutput(" link Connected: COM1 (" + link_.string() + ") 9600,N,8,1"))
      << program->output();
  // The supervision pair of the connect, then the polls.
  EXPECT_TRUE(sim->WaitForOutput("RX 02 01 10 0A 13 03  supervision time 10 s")) << sim->output();
  EXPECT_TRUE(sim->WaitForOutput("poll fault image")) << sim->output();
  EXPECT_TRUE(sim->WaitForOutput("poll EMG trigger states")) << sim->output();
  sim->Type("event 0x12 0");
  ASSERT_TRUE(program->WaitForOutput(" event ")) << program->output();
  EXPECT_NE(program->output().find("Event = EMG Ack (Emergency acknowledged)\n"), std::string::npos)
      << program->output();

  program->Signal(SIGTERM);
  EXPECT_EQ(program->WaitForExit(), 0) << program->output();
  // The journal was closed: its write-ahead log was folded in and removed.
  EXPECT_FALSE(fs::exists(folder_.path() / "DATA" / "Journal.sqlite-wal"));
  EXPECT_NE(program->output().find(" program Program stopped: "), std::string::npos);
  EXPECT_NE(test::ReadBytes(folder_.path() / "DATA" / "EventLog.txt").find("Event = EMG Ack"),
            std::string::npos);
  const std::vector<JournalRow> rows = Rows();
  ASSERT_GE(rows.size(), 4U);
  EXPECT_EQ(rows.back().entry.text.rfind("Program stopped: ", 0), 0U);
  EXPECT_EQ(rows[rows.size() - 2].entry.text.rfind("Disconnected: COM1", 0), 0U);
  bool event = false;
  for (const JournalRow& row : rows)
    event =
        event || (row.entry.kind == JournalKind::kEvent && row.entry.raw_hex == "0203A01200004703");
  EXPECT_TRUE(event);
  EXPECT_TRUE(VerifyJournalFile(folder_.path() / "DATA" / Journal::kFileName).ok);
}

TEST_F(HeadlessProgram, APortMissingAtStartOrLostIsTakenWhenItComes) {
  auto program = StartProgram();
  ASSERT_TRUE(program->WaitForOutput("Com Port Fail!: COM1")) << program->output();
  ASSERT_TRUE(program->WaitForOutput("Trying again in 5 s")) << program->output();
  auto sim = StartSim();
  // The first retry is 5 s after the failure.
  ASSERT_TRUE(program->WaitForOutput(" link Connected: ", 7000ms)) << program->output();
  EXPECT_EQ(program->output().find("Com Port Fail!", program->output().find("Com Port Fail!") + 1),
            std::string::npos)
      << "one failure, said once";

  sim->Signal(SIGKILL);
  ASSERT_TRUE(program->WaitForOutput(" link Port failure: COM1")) << program->output();
  sim = StartSim();
  ASSERT_TRUE(program->WaitForOutput(" link Disconnected: ")) << program->output();
  // Connected again: the second such line, within the first wait of 5 s.
  const std::string again =
      program->output().substr(0, program->output().find(" link Disconnected: "));
  ASSERT_NE(again.find(" link Connected: "), std::string::npos);
  const auto deadline = std::chrono::steady_clock::now() + 7s;
  while (program->output().find(" link Connected: ", again.size()) == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
    program->Drain();
  }
  EXPECT_NE(program->output().find(" link Connected: ", again.size()), std::string::npos)
      << program->output();
  program->Signal(SIGINT);
  EXPECT_EQ(program->WaitForExit(), 0);
}

TEST_F(HeadlessProgram, ASecondCopyIsRefusedThePortInUse) {
  auto sim = StartSim();
  auto first = StartProgram();
  ASSERT_TRUE(first->WaitForOutput(" link Connected: ")) << first->output();
  // A second copy from another program folder, on the same device.
  test::TempFolder other;
  fs::copy_file(ORV_PROGRAM, other.path() / "orvandel");
  fs::create_directories(other.path() / "SYSINI");
  test::WriteBytes(other.path() / "SYSINI" / "MainForm.INI",
                   "[SerialPorts]\r\nCOM1=" + link_.string() + "\r\n");
  test::SimProcess second({"--headless"}, (other.path() / "orvandel").string());
  ASSERT_TRUE(second.WaitForOutput("Com Port Fail!: COM1")) << second.output();
  EXPECT_NE(second.output().find("device in use"), std::string::npos) << second.output();
  EXPECT_EQ(second.output().find(" link Connected: "), std::string::npos);
  second.Signal(SIGTERM);
  EXPECT_EQ(second.WaitForExit(), 0);
  first->Signal(SIGTERM);
  EXPECT_EQ(first->WaitForExit(), 0);
}

}  // namespace
}  // namespace orv
