#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/program_folder.h"
#include "tests/support/built_programs.h"
#include "tests/support/child_process.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

TEST(ProgramFolderTest, WhatTheLinkSaysDecidesAndOnlyAnAbsoluteNameIsAnAnswer) {
  struct Case {
    std::string target;
    std::errc error;  // std::errc{} when the link reads
    std::string folder, problem;
  };
  const Case cases[] = {
      {"/opt/orvandel/orvandel", {}, "/opt/orvandel", ""},
      {"/opt/caf\xE9-\xFF\xFE/orvandel", {}, "/opt/caf\xE9-\xFF\xFE", ""},  // not UTF-8
      {"/orvandel", {}, "/", ""},
      {"/opt/orv/orvandel (deleted)", {}, "/opt/orv", ""},  // replaced while running
      {"", std::errc::no_such_file_or_directory, "",
       "/proc/self/exe cannot be read (No such file or directory)"},
      {"", {}, "", "/proc/self/exe names no absolute file (\"\")"},
      {"bin/orvandel", {}, "", "/proc/self/exe names no absolute file (\"bin/orvandel\")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target + " " + c.problem);
    const ProgramFolderLookup found =
        FindProgramFolder([&](const std::string&, std::error_code& error) {
          if (c.error != std::errc{}) error = std::make_error_code(c.error);
          return c.target;
        });
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
  }
  std::error_code error;
  EXPECT_EQ(ReadSymbolicLink((temp.path() / "none").string(), error), "");
  EXPECT_EQ(error, std::errc::no_such_file_or_directory);
}

TEST(ProgramFolderTest, AnExecutableInAFolderWhoseNameIsNotUtf8FindsThatFolder) {
  test::TempFolder temp;
  // Latin-1, a lone continuation byte, an invalid lead byte, a blank and a line break.
  const fs::path folder = temp.path() / "caf\xE9 \x80\xFF\nbin";
  fs::create_directory(folder);
  const fs::path probe = folder / "orvandel";
  fs::copy_file(test::kProgramFolderProbe, probe);
  // Started by its own name (no shell: the name holds any byte), and through a link from
  // elsewhere: it finds its own folder both times.
  const fs::path link = temp.path() / "start-here";
  fs::create_symlink(probe, link);
  for (const fs::path& start : {probe, link}) {
    test::ChildProcess run(start.string(), {});
    EXPECT_EQ(run.WaitForExit(), 0) << start;
    EXPECT_EQ(run.output(), folder.native()) << start;
  }
}

}  // namespace
}  // namespace orv
