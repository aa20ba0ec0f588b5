// kill -9 in the middle of a report storm: the journal is a sound database afterwards, its chain
// verifies, and every record whose commit had returned before the kill is in it.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "journal/journal.h"
#include "platform/sqlite.h"
#include "tests/support/built_programs.h"
#include "tests/support/child_process.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

using namespace std::chrono_literals;

// The largest "committed N" the child printed so far; 0 before the first.
std::int64_t LastCommitted(const std::string& output) {
  const std::string tag = "committed ";
  const std::size_t at = output.rfind(tag);
  if (at == std::string::npos) return 0;
  return std::stoll(output.substr(at + tag.size()));
}

TEST(JournalCrash, KillNineDuringAStormLosesNoCommittedRecord) {
  test::TempFolder folder;
  const std::filesystem::path link = folder.path() / "controller";
  // At 115200 baud a storm fills every tick: up to 144 reports in each commit.
  test::ChildProcess sim(test::kSimulator, {"--link", link.string(), "--settings", "115200,N,8,1",
                                            "--report-interval", "0", "--seed", "5"});
  ASSERT_TRUE(sim.started());
  for (int i = 0; i < 500 && !std::filesystem::exists(link); ++i)
    std::this_thread::sleep_for(10ms);
  ASSERT_TRUE(std::filesystem::exists(link));
  std::filesystem::create_directories(folder.path() / "SYSINI");
  test::WriteBytes(
      folder.path() / "SYSINI" / "MainForm.INI",
      "[RS232Configure]\r\nBaudRate=115200\r\n[SerialPorts]\r\nCOM1=" + link.string() + "\r\n");

  // Two rounds: the second kills a program that started on the journal the first left behind.
  std::int64_t committed_before = 0;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round + 1));
    test::ChildProcess program(test::kJournalChild, {folder.path().string()});
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.WaitForOutput("connected\n")) << program.output();
    // Storms until a few hundred event records are committed, then the kill, mid-storm.
    const std::int64_t target = committed_before + 600;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (LastCommitted(program.output()) < target &&
           std::chrono::steady_clock::now() < deadline) {
      sim.Type("burst 100");
      std::this_thread::sleep_for(30ms);
      program.Drain();
    }
    sim.Type("burst 100");
    std::this_thread::sleep_for(20ms);
    program.Drain();
    const std::int64_t committed = LastCommitted(program.output());
    sim.Drain();
    ASSERT_GE(committed, target) << "the storm did not reach the journal\n"
                                 << sim.output().substr(sim.output().size() > 3000
                                                            ? sim.output().size() - 3000
                                                            : 0);
    program.Signal(SIGKILL);
    ASSERT_EQ(program.WaitForExit(), 128 + SIGKILL);

    const std::filesystem::path file = folder.path() / "DATA" / Journal::kFileName;
    sqlite::Database db;
    ASSERT_TRUE(db.Open(file, sqlite::kReadOnly).ok());
    std::string integrity;
    ASSERT_TRUE(db.QueryText("PRAGMA integrity_check", integrity).ok());
    EXPECT_EQ(integrity, "ok");
    db.Close();
    const JournalCheck check = VerifyJournalFile(file);
    EXPECT_TRUE(check.ok) << "first bad row " << check.first_bad << " " << check.error;
    EXPECT_GE(check.good_rows, committed);
    committed_before = check.good_rows;
  }
}

}  // namespace
}  // namespace orv
