#pragma once

// The real program in a program folder of its own (it keeps SYSINI and DATA beside its
// executable), with COM1 mapped to the simulator's pseudo-terminal, for tests that run both as
// processes. The test target defines ORV_PROGRAM and ORV_SIM_EXECUTABLE.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "journal/journal.h"
#include "tests/sim_process.h"
#include "tests/temp_folder.h"

namespace orv::test {

class ProgramFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy_file(ORV_PROGRAM, folder_.path() / "orvandel");
    std::filesystem::create_directories(folder_.path() / "SYSINI");
    WriteBytes(folder_.path() / "SYSINI" / "MainForm.INI",
               "[SerialPorts]\r\nCOM1=" + link_.string() + "\r\n");
  }
  // The simulator on COM1's link, once the link is there.
  std::unique_ptr<SimProcess> StartSim() {
    auto sim = std::make_unique<SimProcess>(
        std::vector<std::string>{"--link", link_.string(), "--report-interval", "0"});
    for (int i = 0; i < 500 && !std::filesystem::exists(link_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(std::filesystem::exists(link_));
    return sim;
  }
  // The program of the folder with these options.
  std::unique_ptr<SimProcess> StartProgram(std::vector<std::string> options) {
    return std::make_unique<SimProcess>(std::move(options), (folder_.path() / "orvandel").string());
  }
  // Every record of the folder's journal, in order.
  std::vector<JournalRow> Rows() const {
    std::vector<JournalRow> rows;
    EXPECT_TRUE(
        ReadJournalFile(folder_.path() / "DATA" / Journal::kFileName, 1, 100000, rows).ok());
    return rows;
  }

  TempFolder folder_;
  std::filesystem::path link_ = folder_.path() / "controller";
};

}  // namespace orv::test
