#pragma once

// The real program in a program folder of its own (it keeps SYSINI and DATA beside its
// executable), with COM1 mapped to the simulator's pseudo-terminal, for tests that run both as
// processes.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "journal/journal.h"
#include "tests/support/built_programs.h"
#include "tests/support/child_process.h"
#include "tests/support/journal_fixture.h"
#include "tests/temp_folder.h"

namespace orv::test {

using SimProcess = ChildProcess;

class ProgramFolderTest : public ::testing::Test {
 protected:
  // A copy of the program, its COM1 on link_; its module where a program outside the installed
  // folder looks for it, as the build lays them out (folder/../lib/orvandel).
  void SetUp() override {
    const std::filesystem::path& folder = folder_.path();
    std::filesystem::create_directories(folder / "SYSINI");
    std::filesystem::copy_file(test::kProgram, folder / "orvandel");
    const std::filesystem::path modules = folder.parent_path() / "lib" / "orvandel";
    std::filesystem::create_directories(modules);
    std::filesystem::copy_file(test::kExtrasModule, modules / "orvandel-extras.so");
    WriteBytes(folder / "SYSINI" / "MainForm.INI",
               "[SerialPorts]\r\nCOM1=" + link_.string() + "\r\n");
  }
  // The simulator on COM1's link, once the link is there.
  std::unique_ptr<ChildProcess> StartSim() {
    auto sim = std::make_unique<ChildProcess>(
        test::kSimulator,
        std::vector<std::string>{"--link", link_.string(), "--report-interval", "0"});
    for (int i = 0; i < 500 && !std::filesystem::exists(link_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(std::filesystem::exists(link_));
    return sim;
  }
  std::unique_ptr<ChildProcess> StartProgram(std::vector<std::string> options,
                                             ChildOptions child = {}) {
    return std::make_unique<ChildProcess>((folder_.path() / "orvandel").string(),
                                          std::move(options), std::move(child));
  }
  std::vector<JournalRow> Rows() const {
    return JournalRows(folder_.path() / "DATA" / Journal::kFileName);
  }

  // The program's folder, app/ inside a folder of the test's own beside the module's lib/.
  struct ProgramFolder {
    TempFolder root;
    std::filesystem::path app = root.path() / "app";
    const std::filesystem::path& path() const { return app; }
  };
  ProgramFolder folder_;
  std::filesystem::path link_ = folder_.path() / "controller";
};

}  // namespace orv::test
