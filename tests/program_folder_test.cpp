// The program folder from the system's record of the executable: any folder name, as bytes;
// when it cannot be found, an empty folder and the reason, never a relative name.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/program_folder.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

TEST(ProgramFolderTest, IsTheFolderOfTheRunningExecutable) {
  const ProgramFolderLookup found = FindProgramFolder();
  EXPECT_EQ(found.problem, "");
  EXPECT_EQ(found.folder, fs::read_symlink("/proc/self/exe").parent_path());
  EXPECT_TRUE(found.folder.is_absolute());
}

TEST(ProgramFolderTest, WhatTheLinkSaysDecidesAndOnlyAnAbsoluteNameIsAnAnswer) {
  struct Case {
    const char* name;
    std::string target;
    std::errc error;  // std::errc{} when the link reads
    std::string folder;
    std::string problem;
  };
  const std::vector<Case> cases = {
      {"plain", "/opt/orvandel/orvandel", {}, "/opt/orvandel", ""},
      {"not UTF-8", "/opt/caf\xE9-\xFF\xFE/orvandel", {}, "/opt/caf\xE9-\xFF\xFE", ""},
      {"at the root", "/orvandel", {}, "/", ""},
      {"replaced while running", "/opt/orv/orvandel (deleted)", {}, "/opt/orv", ""},
      {"unreadable", "", std::errc::no_such_file_or_directory, "",
       "/proc/self/exe cannot be read (No such file or directory)"},
      {"empty", "", {}, "", "/proc/self/exe names no absolute file (\"\")"},
      {"relative",
       "bin/orvandel",
       {},
       "",
       "/proc/self/exe names no absolute file (\"bin/orvandel\")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string asked;
    const ProgramFolderLookup found =
        FindProgramFolder([&](const std::string& link, std::error_code& error) {
          asked = link;
          if (c.error != std::errc{}) error = std::make_error_code(c.error);
          return c.target;
        });
    EXPECT_EQ(asked, "/proc/self/exe");
    EXPECT_EQ(found.folder.native(), c.folder);
    EXPECT_EQ(found.problem, c.problem);
  }
}

TEST(ProgramFolderTest, ReadsLinkTargetsOfAnyLength) {
  test::TempFolder temp;
  for (const std::size_t length : {1u, 255u, 256u, 257u, 511u, 512u, 4000u}) {
    SCOPED_TRACE(length);
    const std::string target = "/" + std::string(length - 1, 'x');
    const fs::path link = temp.path() / ("link" + std::to_string(length));
    fs::create_symlink(target, link);
    std::error_code error;
    EXPECT_EQ(ReadSymbolicLink(link.string(), error), target);
    EXPECT_FALSE(error);
  }
  std::error_code error;
  EXPECT_EQ(ReadSymbolicLink((temp.path() / "none").string(), error), "");
  EXPECT_EQ(error, std::errc::no_such_file_or_directory);
}

// Runs the probe at path (no shell: the name holds any byte) and returns what it printed.
std::string RunProbe(const fs::path& path, int& status) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return "pipe failed";
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};
    execv(path.c_str(), argv);
    _exit(127);
  }
  close(out[1]);
  std::string printed;
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
    printed.append(buffer, static_cast<std::size_t>(n));
  close(out[0]);
  waitpid(pid, &status, 0);
  return printed;
}

TEST(ProgramFolderTest, AnExecutableInAFolderWhoseNameIsNotUtf8FindsThatFolder) {
  test::TempFolder temp;
  // Latin-1, a lone continuation byte, an invalid lead byte, a blank and a line break.
  const fs::path folder = temp.path() / "caf\xE9 \x80\xFF\nbin";
  fs::create_directory(folder);
  const fs::path probe = folder / "orvandel";
  fs::copy_file(ORV_PROGRAM_FOLDER_PROBE, probe);
  int status = -1;
  EXPECT_EQ(RunProbe(probe, status), folder.native());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  // Started through a link from elsewhere, it still finds its own folder.
  const fs::path link = temp.path() / "start-here";
  fs::create_symlink(probe, link);
  EXPECT_EQ(RunProbe(link, status), folder.native());
}

}  // namespace
}  // namespace orv
