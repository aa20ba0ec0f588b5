#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "link/trigger_states.h"
#include "platform/file_system.h"
#include "platform/profile.h"
#include "platform/text_encoding.h"
#include "tests/profile_reference.h"
#include "tests/temp_folder.h"

#include "tests/odd_files.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;
using test::ReadBytes;
using test::WriteBytes;

// The log file tests reach the common paths; these are the edges.
TEST(FileSystemTest, EdgesOfEachOperation) {
  test::TempFolder folder;
  const auto path = [&](const char* name) { return folder.path() / name; };
  fs::create_symlink(path("nowhere"), path("dangling"));
  EXPECT_TRUE(EntryExists(path("dangling")));
  EXPECT_TRUE(CreateFolder(path("dir")));
  EXPECT_FALSE(CreateFolder(path("dir")));  // true only when created now
  EXPECT_FALSE(CreateFolder(path("a") / "b"));
  EXPECT_FALSE(AppendToFile(path("a") / "log", "x"));
  EXPECT_TRUE(AppendToFile(path("log"), "x"));
  EXPECT_FALSE(DeleteFile(path("dir")));  // files only
  EXPECT_TRUE(DeleteFile(path("log")));
  EXPECT_FALSE(DeleteFile(path("log")));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), {}), 2);  // dangling, dir
}

TEST(TextEncodingTest, Cp1252BothWaysAndQuestionMarksForWhatItCannotHold) {
  for (int b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(byte)), byte) << "byte " << b;
  }
  EXPECT_EQ(Cp1252ToUtf8("A\x80\x81\x8A\x8D\x99\x9D\x9F\xA0\xFF"),
            "A\u20AC\u0081\u0160\u008D\u2122\u009D\u0178\u00A0\u00FF");
  // CJK, a C1 control that cp1252 uses otherwise, a lead byte before ASCII. (Which UTF-8 is
  // malformed is the validator's test.)
  EXPECT_EQ(Utf8ToCp1252("\u65E5|\u0085|\xC3!"), "?|?|?!");
}

TEST(TextEncodingTest, Utf8LengthCountsCharactersAndUtf8OffsetSkipsWholeOnes) {
  // Text, its length in characters, then the byte offset after 0, 1, 2 and 3 characters.
  const std::tuple<std::string, std::size_t, std::array<std::size_t, 4>> cases[] = {
      {"", 0, {0, 0, 0, 0}},
      {"abc", 3, {0, 1, 2, 3}},
      {"\u00FFx\u20AC", 3, {0, 2, 3, 6}},  // two, one and three bytes
      {"\u20AC\u20AC", 2, {0, 3, 6, 6}},   // nothing left after the second
      {"\U0001F600a", 2, {0, 4, 5, 5}},    // four bytes
      {"\x82\x82"
       "a\xE2\x82",
       2,
       {0, 3, 5, 5}},  // stray continuations go with what they follow
  };
  for (const auto& [text, length, offsets] : cases) {
    EXPECT_EQ(Utf8Length(text), length) << text;
    for (std::size_t n = 0; n < offsets.size(); ++n)
      EXPECT_EQ(Utf8Offset(text, n), offsets[n]) << text << " after " << n;
  }
}

class ProfileTest : public ::testing::Test {
 protected:
  fs::path File() const { return folder_.path() / "test.ini"; }
  test::TempFolder folder_;
};

TEST_F(ProfileTest, WriteChangesOnlyWhatItMust) {
  const std::vector<std::array<std::string, 5>> cases = {
      {"", "S\nT", "k\r1", "a\r\nb\nc\rd Z\u00FCrich \u20AC \u65E5-\xFF",
       "[S T]\r\nk 1=a  b c d Z\xFCrich \x80 ?-?\r\n"},
      {"; c\r\n\r\n[A]\r\nx = 1 \r\nk = old  \r\n\r\n[B]\r\nk=b\r\n", "A", "k", "new",
       "; c\r\n\r\n[A]\r\nx = 1 \r\nk =new\r\n\r\n[B]\r\nk=b\r\n"},
      {"[a]\r\nKEY  =old", "A", "key", "n", "[a]\r\nKEY  =n"},
      {"[A]\nx=1\n\n[B]\ny=2\n", "A", "k", "v", "[A]\nx=1\nk=v\n\n[B]\ny=2\n"},
      {"[A]\r\n[B]\r\n", "a", "k", "v", "[A]\r\nk=v\r\n[B]\r\n"},
      {"[A]\rk=1", "A", "m", "2", "[A]\rk=1\rm=2\r"},
      {"[A]\r\nk=1\r\n", "B", "k", "2", "[A]\r\nk=1\r\n[B]\r\nk=2\r\n"},
      {"[A]\nk=1", "B", "x", "2", "[A]\nk=1\n[B]\nx=2\n"},
      {"k=0\n[A]\nk=1\n[A]\nk=2\n", "A", "k", "3", "k=0\n[A]\nk=3\n[A]\nk=2\n"},
      // Lone CR style, but the section's line ends in LF: the new line must not swallow the
      // blank line after it (found by fuzzing).
      {"\r[A]\n\n", "A", "k", "v", "\r[A]\nk=v\n\n"},
  };
  for (const auto& [before, section, key, value, after] : cases) {
    SCOPED_TRACE(before + " <- " + section + "/" + key);
    fs::remove(File());
    if (!before.empty()) WriteBytes(File(), before);
    EXPECT_TRUE(WriteProfileString(section, key, value, File()));
    EXPECT_EQ(ReadBytes(File()), after);
  }
}

TEST_F(ProfileTest, WriteFailsWithoutHarm) {
  EXPECT_FALSE(WriteProfileString("S", "k", "v", folder_.path() / "missing" / "test.ini"));
  // Names that could not be read back are refused.
  for (const auto& [section, key] : {std::pair{"", "k"}, {"S", " "}, {"a]b", "k"}, {"S", "a=b"}})
    EXPECT_FALSE(WriteProfileString(section, key, "v", File()));
  EXPECT_TRUE(fs::is_empty(folder_.path())) << "nothing created, no temporary file left";
}

// Every program key of hand-picked texts reads from one snapshot of the file as the per-key reader
// reads it. (Random texts are the config fuzz target's; what Configuration makes of
// the values is its own test.)
TEST_F(ProfileTest, EveryProgramKeyOfTrickyFilesReadsAsPerKeyReads) {
  // Where a reader could slip: line breaks of every kind, blanks and case around names, duplicate
  // sections and keys, text beside the brackets, empty names, NUL and 8-bit bytes.
  std::vector<std::string> texts = {
      "",
      "  [ \t rs232configure  ]\n \t COMPORT \t= \t 4  5 \t\n",
      "[RS232Configure]\r\nComPort=\r\nBaudRate=  \t\r\n",
      "ComPort=2\n[RS232Configure]\nother=v\n[T]\nComPort=3\n",
      "[RS232Configure]\nComPort\nComPort=6\n",
      "[RS232Configure]\n[T\nComPort=7\n",
      "[RS232Configure]\nCOMPORT=1\nComPort=2\n[rs232configure]\nComPort=3\nBaudRate=4800\n",
      "[ETrgName]\nETRG 1=a=b\nETRG  1=x\n ETRG 2 =y\n",
      "[ETrgName]\rETRG 1=cr only\rETRG 2=z",
      "[ETrgName]\n\rETRG 1=lf cr\r\n\r\nETRG 2=\xE9\x80\x81\xFF",
      "[ETrgName] ; comment\nETRG 1=after comment\n[[BTrgName]]\nBTRG 1=double\n",
      "[ETrgName]x\nETRG 1=text after bracket\n[BGMName\nBGM 1=no close\n",
      "[]\n=empty key\n[ETrgName]\n=\nETRG 3=\0nul\n"s,
      "[ETrgName]\nETRG 4=" + std::string(300, 'n') +
          "\n[VTrgName]\nVTRG 120=" + std::string(127, '\xE9') + "x\n",
      "[ETrgName]\nETRG 5=first\n[BTrgName]\n[ETrgName]\nETRG 5=second\nETRG 6=second\n",
      "[SerialPorts]\r\ncom1 = /dev/ttyUSB0 \r\nCOM10=/dev/pts/7\r\nCOM1=/dev/later\r\n",
      "\xEF\xBB\xBF[FileConfigure]\r\nFilePath=C:\\panel\r\n[FileConfigure]\r\nFileName=x\r\n",
      "[FileConfigure]\nFileType\t=\t3\t\n\t[\tBTrgName\t]\t\nBTRG 60=\tsixty\t\n",
  };
  // Many repeats of a few keys, in many sections of the same name: only the first section and the
  // first of each key count, however the reader orders them to look them up.
  std::string& repeats = texts.emplace_back();
  for (int section = 0; section < 40; ++section) {
    repeats += section % 2 == 0 ? "[ETrgName]\n" : "[etrgname]\r\n";
    for (int i = 0; i < 100; ++i) {
      repeats += (i % 3 == 0 ? "etrg " : "ETRG ") + std::to_string((i * 7 + section) % 13 + 1) +
                 "=s" + std::to_string(section) + "i" + std::to_string(i) + "\n";
    }
  }
  // Every key the program reads (section, key, default, capacity): start-up's six groups and the
  // port map read at connect.
  std::vector<std::tuple<std::string, std::string, std::string, std::size_t>> keys = {
      {"RS232Configure", "ComPort", "1", 8},     {"RS232Configure", "BaudRate", "9600", 8},
      {"RS232Configure", "CheckBit", "None", 8}, {"RS232Configure", "BitLength", "8", 8},
      {"RS232Configure", "StopBit", "1", 8},     {"FileConfigure", "FilePath", "/opt/orv", 128},
      {"FileConfigure", "FileName", "", 128},    {"FileConfigure", "FileType", "2", 128},
  };
  for (const TriggerPage& page : kTriggerPages) {
    for (int n = 1; n <= page.size; ++n) {
      keys.emplace_back(page.ini_section, page.ini_key_prefix + std::to_string(n),
                        page.default_name_prefix + std::to_string(n), 128);
    }
  }
  for (int n = 1; n <= 10; ++n)
    keys.emplace_back("SerialPorts", "COM" + std::to_string(n), "", 1024);
  for (const std::string& text : texts) {
    SCOPED_TRACE(testing::PrintToString(text.substr(0, 80)));
    WriteBytes(File(), text);
    const test::ReferenceProfile reference(text);
    const ProfileSnapshot snapshot(File());
    EXPECT_EQ(snapshot.state(), ProfileFileState::kRead);
    for (const auto& [section, key, default_value, capacity] : keys) {
      SCOPED_TRACE("[" + section + "] " + key);
      const std::string expected = reference.Read(section, key, default_value, capacity);
      EXPECT_EQ(snapshot.Read(section, key, default_value, capacity), expected);
    }
  }
  // Letter case is ASCII's only; defaults are cut as values are, to whole characters.
  const ProfileSnapshot snapshot = ProfileSnapshot::FromText("[\xC9]\nk=upper\n[\xE9]\nk=lower\n");
  EXPECT_EQ(snapshot.Read("\u00E9", "K", "d", 9), "lower");
  EXPECT_EQ(snapshot.Read("\u00E9", "k", "d", 0), "");
  EXPECT_EQ(snapshot.Read("S", "k", "d\u00E9fault", 3), "d\u00E9");
}

// The line of the key line a read answers from: the first of a repeated section and key, counted
// over CRLF, LF and lone CR breaks alike; none for what reads as the default.
TEST(ProfileLineTest, IsTheLineOfTheEntryReadAnswersFrom) {
  const ProfileSnapshot snapshot = ProfileSnapshot::FromText(
      "k=before\r\n[S]\r\n\r\nk=first\n[T]\rk=t\n[s]\nk=second\n K = late \nnokey\n");
  const struct {
    const char* section;
    const char* key;
    std::optional<std::size_t> line;
  } cases[] = {{"S", "k", 4},
               {"T", "K", 6},
               {"s", "k ", 4},
               {"S", "x", std::nullopt},
               {"none", "k", std::nullopt}};
  for (const auto& c : cases) {
    EXPECT_EQ(snapshot.LineOf(c.section, c.key), c.line) << c.section << " " << c.key;
    EXPECT_EQ(snapshot.Read(c.section, c.key, "-", 64) == "-", !c.line.has_value());
  }
  // Every key line, the ones no read finds too, in the file's order.
  std::string lines;
  for (const ProfileSnapshot::KeyLine& line : snapshot.KeyLines())
    lines +=
        std::to_string(line.line) + " " + line.section + "|" + line.key + "|" + line.value + "\n";
  EXPECT_EQ(lines, "4 S|k|first\n6 T|k|t\n8 s|k|second\n9 s|K|late\n");
}

// A text of exactly size bytes whose last line is the value: only a whole reading finds it.
std::string TextOfSize(std::size_t size, const std::string& last_lines) {
  return ";" + std::string(size - 2 - last_lines.size(), '-') + "\n" + last_lines;
}

TEST_F(ProfileTest, FilesUpToTheBoundAreReadAndWrittenLargerOnesNotAtAll) {
  const std::string at_bound = TextOfSize(kMaxProfileFileBytes, "[S]\nk=end");
  const std::string above_bound = TextOfSize(kMaxProfileFileBytes + 1, "[S]\nk=end");
  WriteBytes(File(), at_bound);
  EXPECT_EQ(ProfileSnapshot(File()).Read("S", "k", "none", 128), "end");
  // At the bound, a value of the same length still fits; one character more would not.
  EXPECT_TRUE(WriteProfileString("S", "k", "abc", File()));
  const std::string rewritten = at_bound.substr(0, at_bound.size() - 3) + "abc";
  EXPECT_EQ(ReadBytes(File()), rewritten);
  EXPECT_FALSE(WriteProfileString("S", "k", "abcd", File()));
  EXPECT_FALSE(WriteProfileString("S", "other", "", File()));
  // Above it, the file is not read at all, not even for a write that would make it smaller.
  WriteBytes(File(), above_bound);
  const ProfileSnapshot refused(File());
  EXPECT_EQ(refused.state(), ProfileFileState::kTooLarge);
  EXPECT_EQ(refused.Read("S", "k", "none", 128), "none");
  EXPECT_EQ(refused.Problem(), "is larger than 4 MiB");
  EXPECT_EQ(ProfileSnapshot::FromText(above_bound).state(), ProfileFileState::kTooLarge);
  EXPECT_FALSE(WriteProfileString("S", "k", "", File()));
  for (const auto& entry : fs::directory_iterator(folder_.path()))
    EXPECT_THAT(entry.path().filename().string(), ::testing::AnyOf("test.ini", "test.ini.lock"));
}

TEST(OddProfileEntryTest, ReadsAsMissingSaysWhyAndIsNeverRewritten) {
  const std::tuple<const char*, std::function<void(const fs::path&)>, const char*> entries[] = {
      {"FIFO", test::MakeFifo, "is not a regular file"},
      {"link to /dev/zero", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); },
       "is a symbolic link"},
      {"folder", [](const fs::path& p) { fs::create_directory(p); }, "is not a regular file"},
      {"link to nowhere", [](const fs::path& p) { fs::create_symlink(p.string() + ".gone", p); },
       "is a symbolic link"},
  };
  for (const auto& [name, make, problem] : entries) {
    SCOPED_TRACE(name);
    test::TempFolder folder;
    const fs::path file = folder.path() / "MainForm.INI";
    make(file);
    std::string said;
    test::FinishOrStop(
        [&] {
          const ProfileSnapshot snapshot(file);
          said = std::to_string(snapshot.state() == ProfileFileState::kNotRegular) + " " +
                 snapshot.Problem() + ", " +
                 snapshot.Read("ETrgName", "ETRG 1", "EMG Trigger 1", 128) + ", written " +
                 std::to_string(WriteProfileString("ETrgName", "ETRG 1", "Hall", file));
        },
        std::string("reading and writing a ") + name, [&] { test::ReleaseFifoReader(file); });
    EXPECT_EQ(said, "1 " + std::string(problem) + ", EMG Trigger 1, written 0");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), {}), 1) << "no file beside it";
  }
}

}  // namespace
}  // namespace orv
