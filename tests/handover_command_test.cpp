// --handover-report on the command line: what it refuses, in process, and the real program once
// per output: text on standard output, a PDF that pdftotext reads with every section's heading,
// and an output it cannot write.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "handover/handover_render.h"
#include "journal/journal.h"
#include "tests/program_folder_fixture.h"

namespace orv {
namespace {

bool Utc(std::int64_t local, std::int64_t& utc) {
  utc = local;
  return true;
}

struct Refusal {
  std::vector<std::string> args;
  std::string error;
};

TEST(HandoverOptions, WhatIsRefusedAndWhy) {
  const std::vector<Refusal> refused{
      {{"--handover-report", "--format", "html"}, "--format: \"html\" is not text, csv or pdf"},
      {{"--handover-report", "--since", "2026-13-01"}, "--since: "},
      {{"--handover-report", "--format", "pdf"}, "--format pdf needs --output FILE"},
      {{"--since", "2026-12-01"}, "--since, --format and --output go with --handover-report"},
      {{"--handover-report", "--headless"}, "--handover-report goes alone"},
      {{"--handover-report", "--output"}, "--output needs a file"},
  };
  for (const Refusal& r : refused) {
    const ParsedOptions parsed = ParseProgramOptions(r.args, Utc);
    EXPECT_TRUE(parsed.error.starts_with(r.error)) << r.args.back() << ": " << parsed.error;
  }
  const ParsedOptions parsed = ParseProgramOptions(
      {"--handover-report", "--since", "2026-12-07 06:00", "--format", "csv"}, Utc);
  EXPECT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.handover_since_ms, 1796601600000 + 6 * 3600'000);
  EXPECT_EQ(parsed.options.handover_format, "csv");
}

class HandoverCommandTest : public test::ProgramFolderTest {
 protected:
  void SetUp() override {
    ProgramFolderTest::SetUp();
    JournalOptions options;
    options.anchor = nullptr;
    Journal journal(folder_.path() / "DATA", nullptr, options);
    journal.Append(journal.Make(JournalKind::kEvent, "12/07 14:03 Event = ALARM"));
    ASSERT_TRUE(journal.Commit());
  }
  struct Outcome {
    int status;
    std::string out, err;
  };
  Outcome Run(const std::vector<std::string>& args) {
    const auto child =
        StartProgram(args, {.env = {"TZ=UTC", "PATH=/usr/bin:/bin"}, .capture_stderr = true});
    const int status = child->WaitForExit();
    return {status, child->output(), child->error_output()};
  }
};

TEST_F(HandoverCommandTest, TheProgramWritesTextAndPdfAndSaysWhatItCannotWrite) {
  const auto text = Run({"--handover-report"});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("ALARM"), std::string::npos) << text.out;

  const std::filesystem::path pdf = folder_.path() / "handover.pdf";
  const auto made = Run({"--handover-report", "--format", "pdf", "--output", pdf.string()});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(made.err, "");  // no word of Qt's own without --verbose
  const std::filesystem::path words = folder_.path() / "handover.txt";
  ASSERT_EQ(std::system(("pdftotext -layout " + pdf.string() + " " + words.string()).c_str()), 0);
  std::stringstream read;
  read << std::ifstream(words).rdbuf();
  // Headings may wrap at the page's edge: compared with their blanks taken out.
  std::string flat;
  for (char c : read.str())
    if (c != ' ' && c != '\n') flat += c;
  const auto without_blanks = [](std::string_view s) {
    std::string out;
    for (char c : s)
      if (c != ' ') out += c;
    return out;
  };
  EXPECT_NE(flat.find(without_blanks(kHandoverTitle)), std::string::npos) << read.str();
  for (const HandoverSection& section : HandoverSections(HandoverReport{}))
    EXPECT_NE(flat.find(without_blanks(section.heading)), std::string::npos) << section.heading;
  EXPECT_NE(flat.find("ALARM"), std::string::npos);

  const auto refused =
      Run({"--handover-report", "--output", (folder_.path() / "no" / "such.txt").string()});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("cannot be written"), std::string::npos) << refused.err;
}

}  // namespace
}  // namespace orv
