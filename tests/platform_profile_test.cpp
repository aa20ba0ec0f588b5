#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/profile.h"
#include "platform/text_encoding.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

using namespace std::string_literals;
using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

class ProfileTest : public ::testing::Test {
 protected:
  std::filesystem::path File() const { return folder_.path() / "test.ini"; }
  std::string Read(const std::string& section, const std::string& key, std::size_t capacity = 128) {
    return ReadProfileString(section, key, "<default>", capacity, File());
  }

  TempFolder folder_;
};

struct ReadCase {
  const char* name;
  std::string content;
  const char* section;
  const char* key;
  std::size_t capacity;
  std::string expected;
};

TEST_F(ProfileTest, ReadsValuesAsTheFileHoldsThem) {
  const std::string long_value(200, 'x');
  const std::vector<ReadCase> cases = {
      {"plain", "[S]\r\nk=v\r\n", "S", "k", 128, "v"},
      {"blanks and tabs around value", "[S]\r\nk= \t value with  inner \t \r\n", "S", "k", 128,
       "value with  inner"},
      {"blanks around key", "[S]\r\n \t k \t=v\r\n", "S", "k", 128, "v"},
      {"blanks around section name", "[ \t S  ]\r\nk=v\r\n", "S", "k", 128, "v"},
      {"indented section line", "   [S]\r\nk=v\r\n", "S", "k", 128, "v"},
      {"empty value is not the default", "[S]\r\nk=\r\n", "S", "k", 128, ""},
      {"blank value is empty", "[S]\r\nk=   \r\n", "S", "k", 128, ""},
      {"missing key", "[S]\r\nother=v\r\n", "S", "k", 128, "<default>"},
      {"missing section", "[T]\r\nk=v\r\n", "S", "k", 128, "<default>"},
      {"key without equals is no key", "[S]\r\nk\r\n", "S", "k", 128, "<default>"},
      {"key before any section", "k=v\r\n[S]\r\n", "S", "k", 128, "<default>"},
      {"key of the next section", "[S]\r\n[T]\r\nk=v\r\n", "S", "k", 128, "<default>"},
      {"letter case of section and key", "[rs232CONFIGURE]\r\ncomPORT=3\r\n", "RS232Configure",
       "ComPort", 128, "3"},
      {"first matching section wins", "[S]\r\nk=1\r\n[s]\r\nk=2\r\n", "S", "k", 128, "1"},
      {"later duplicate section is not read", "[S]\r\na=1\r\n[s]\r\nk=2\r\n", "S", "k", 128,
       "<default>"},
      {"first matching key wins", "[S]\r\nK=1\r\nk=2\r\n", "S", "k", 128, "1"},
      {"equals inside value", "[S]\r\nk=a=b\r\n", "S", "k", 128, "a=b"},
      {"LF line breaks", "[S]\nk=v\n", "S", "k", 128, "v"},
      {"CR line breaks", "[S]\rk=v\r", "S", "k", 128, "v"},
      {"last line without line break", "[S]\r\nk=v", "S", "k", 128, "v"},
      {"baud rate read whole", "[S]\r\nk=115200\r\n", "S", "k", 8, "115200"},
      {"cut to capacity - 1", "[S]\r\nk=12345678\r\n", "S", "k", 8, "1234567"},
      {"200 characters cut to 127", "[S]\r\nk=" + long_value + "\r\n", "S", "k", 128,
       long_value.substr(0, 127)},
      {"cut counts file characters", "[S]\r\nk=\xE9\xE9\xE9\r\n", "S", "k", 3, "\u00E9\u00E9"},
      {"capacity 1 reads empty", "[S]\r\nk=v\r\n", "S", "k", 1, ""},
      {"cp1252 converted", "[S]\r\nk=Z\xFCrich \x80\r\n", "S", "k", 128, "Z\u00FCrich \u20AC"},
      {"NUL is an ordinary character", "[S]\r\nk=a\0b\r\n"s, "S", "k", 128, "a\0b"s},
      {"bracket line without closing bracket is no section", "[S]\r\n[T\r\nk=v\r\n", "S", "k", 128,
       "v"},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(File(), c.content);
    EXPECT_EQ(Read(c.section, c.key, c.capacity), c.expected);
  }
}

TEST_F(ProfileTest, DefaultWhenFileIsMissingOrNotAFile) {
  EXPECT_EQ(Read("S", "k"), "<default>");
  std::filesystem::create_directory(File());
  EXPECT_EQ(Read("S", "k"), "<default>");
  EXPECT_EQ(ReadProfileString("S", "k", "abcdef", 4, File()), "abc");
  EXPECT_EQ(ReadProfileString("S", "k", "\u00E9\u00E9\u00E9", 3, File()), "\u00E9\u00E9");
}

struct WriteCase {
  const char* name;
  std::string before;
  const char* section;
  const char* key;
  std::string value;
  std::string after;
};

TEST_F(ProfileTest, WriteChangesOnlyWhatItMust) {
  const std::vector<WriteCase> cases = {
      {"new file uses CRLF", "", "S", "k", "v", "[S]\r\nk=v\r\n"},
      {"replace in place keeps every other line",
       "; comment\r\n\r\n[A]\r\nx = 1 \r\nk = old  \r\n\r\n[B]\r\nk=b\r\n", "A", "k", "new",
       "; comment\r\n\r\n[A]\r\nx = 1 \r\nk =new\r\n\r\n[B]\r\nk=b\r\n"},
      {"replace keeps the key's spelling", "[a]\nKEY  =old\n", "A", "key", "n", "[a]\nKEY  =n\n"},
      {"replace the last line without line break", "[A]\r\nk=1", "A", "k", "2", "[A]\r\nk=2"},
      {"new key after the section's last line, before blank lines", "[A]\nx=1\n\n[B]\ny=2\n", "A",
       "k", "v", "[A]\nx=1\nk=v\n\n[B]\ny=2\n"},
      {"new key in a section with only its header", "[A]\r\n[B]\r\n", "a", "k", "v",
       "[A]\r\nk=v\r\n[B]\r\n"},
      {"new key in last section without final line break", "[A]\nk=1", "A", "m", "2",
       "[A]\nk=1\nm=2\n"},
      {"new section at the end", "[A]\r\nk=1\r\n", "B", "k", "2", "[A]\r\nk=1\r\n[B]\r\nk=2\r\n"},
      {"new section after a last line without line break", "[A]\nk=1", "B", "x", "2",
       "[A]\nk=1\n[B]\nx=2\n"},
      {"CR line breaks kept", "[A]\rk=1\r", "A", "m", "2", "[A]\rk=1\rm=2\r"},
      {"first of duplicate sections written", "[A]\nk=1\n[A]\nk=2\n", "A", "k", "3",
       "[A]\nk=3\n[A]\nk=2\n"},
      {"lines before the first section kept", "k=0\n[A]\n", "A", "k", "1", "k=0\n[A]\nk=1\n"},
      {"CR and LF in the value become blanks", "", "S", "k", "a\r\nb\nc\rd",
       "[S]\r\nk=a  b c d\r\n"},
      {"CR and LF in names become blanks", "", "S\nT", "k\r1", "v", "[S T]\r\nk 1=v\r\n"},
      {"cp1252 on disk", "", "S", "k", "Z\u00FCrich \u20AC", "[S]\r\nk=Z\xFCrich \x80\r\n"},
      {"outside cp1252 and invalid UTF-8 written as ?", "", "S", "k", "\u65E5\u672C-\xFF",
       "[S]\r\nk=?"
       "?-?\r\n"},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(File());
    if (!c.before.empty()) WriteBytes(File(), c.before);
    EXPECT_TRUE(WriteProfileString(c.section, c.key, c.value, File()));
    EXPECT_EQ(ReadBytes(File()), c.after);
  }
}

TEST_F(ProfileTest, WrittenValuesReadBack) {
  const std::vector<std::string> values = {"Z\u00FCrich \u20AC", "  padded  ", "", "a=b",
                                           "\u0081\u008D\u008F\u0090\u009D"};
  for (const std::string& value : values) {
    SCOPED_TRACE(value);
    ASSERT_TRUE(WriteProfileString("Names", "Key 1", value, File()));
    const std::string expected = value == "  padded  " ? "padded" : value;
    EXPECT_EQ(ReadProfileString("names", "KEY 1", "<default>", 128, File()), expected);
  }
  EXPECT_TRUE(WriteProfileString("Names", "Key 1", "line\r\nbreak", File()));
  EXPECT_EQ(ReadProfileString("Names", "Key 1", "", 128, File()), "line  break");
}

TEST_F(ProfileTest, WriteFailsWithoutHarm) {
  // A missing folder is not created.
  const auto missing = folder_.path() / "missing" / "test.ini";
  EXPECT_FALSE(WriteProfileString("S", "k", "v", missing));
  EXPECT_FALSE(std::filesystem::exists(missing.parent_path()));

  // A folder where the file must be stays a folder (permission bits would not stop root).
  std::filesystem::create_directory(File());
  EXPECT_FALSE(WriteProfileString("S", "k", "v", File()));
  EXPECT_TRUE(std::filesystem::is_directory(File()));

  // Names that could not be read back are refused.
  const auto other = folder_.path() / "other.ini";
  EXPECT_FALSE(WriteProfileString("", "k", "v", other));
  EXPECT_FALSE(WriteProfileString("S", " ", "v", other));
  EXPECT_FALSE(WriteProfileString("a]b", "k", "v", other));
  EXPECT_FALSE(WriteProfileString("S", "a=b", "v", other));
  EXPECT_FALSE(std::filesystem::exists(other));

  // Nothing is left behind: no temporary file beside the one folder.
  std::vector<std::filesystem::path> entries;
  for (const auto& entry : std::filesystem::directory_iterator(folder_.path()))
    entries.push_back(entry.path());
  EXPECT_EQ(entries, std::vector<std::filesystem::path>{File()});
}

TEST_F(ProfileTest, WriteNeverFollowsAStaleTemporaryEntry) {
  // Left from an interrupted write, or planted: a link in the temporary file's place must be
  // replaced, not written through.
  const auto elsewhere = folder_.path() / "elsewhere.txt";
  WriteBytes(elsewhere, "untouched");
  std::filesystem::create_symlink(elsewhere, folder_.path() / "test.ini.tmp");
  WriteBytes(File(), "[S]\nk=1\n");
  EXPECT_TRUE(WriteProfileString("S", "k", "2", File()));
  EXPECT_EQ(ReadBytes(File()), "[S]\nk=2\n");
  EXPECT_EQ(ReadBytes(elsewhere), "untouched");
  EXPECT_FALSE(
      std::filesystem::exists(std::filesystem::symlink_status(folder_.path() / "test.ini.tmp")));
}

TEST_F(ProfileTest, GarbageReadsDefaultsAndSurvivesAWrite) {
  std::string garbage;
  for (int i = 0; i < 256; ++i)
    garbage.push_back(static_cast<char>(i));
  garbage += "\0\0\0k=v\0[S\0]"s;
  garbage += std::string(3'000'000, 'g');  // one very long line, no line break at all
  // Scrambled bytes with line breaks, "=" and "]" among them, but no "[" to open a section.
  for (int i = 0; i < 100'000; ++i) {
    const int b = (i * 7919) % 256;
    garbage.push_back(b == '[' ? '\0' : static_cast<char>(b));
  }
  WriteBytes(File(), garbage);

  EXPECT_EQ(Read("S", "k"), "<default>");
  EXPECT_EQ(Read("", ""), "<default>");
  ASSERT_TRUE(WriteProfileString("S", "k", "v", File()));
  const std::string after = ReadBytes(File());
  ASSERT_GT(after.size(), garbage.size());
  EXPECT_EQ(after.substr(0, garbage.size()), garbage);
  EXPECT_EQ(Read("S", "k"), "v");
}

TEST(TextEncodingTest, EveryByteSurvivesARoundTrip) {
  for (int b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(byte)), byte) << "byte " << b;
  }
}

TEST(TextEncodingTest, KnownCharacters) {
  struct Case {
    std::string cp1252;
    std::string utf8;
  };
  const std::vector<Case> cases = {
      {"A", "A"},         {"\x80", "\u20AC"}, {"\x81", "\u0081"},
      {"\x8A", "\u0160"}, {"\x9F", "\u0178"}, {"\xA0", "\u00A0"},
      {"\xFF", "\u00FF"}, {"\x99", "\u2122"}, {"\x8D\x9D", "\u008D\u009D"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Cp1252ToUtf8(c.cp1252), c.utf8);
    EXPECT_EQ(Utf8ToCp1252(c.utf8), c.cp1252);
  }
}

TEST(TextEncodingTest, WhatCp1252CannotHoldBecomesQuestionMarks) {
  struct Case {
    const char* name;
    std::string utf8;
    std::string cp1252;
  };
  const std::vector<Case> cases = {
      {"CJK", "\u65E5\u672C", "??"},
      {"emoji", "a\U0001F600b", "a?b"},
      {"C1 control that cp1252 uses otherwise", "\u0080\u0085", "??"},
      {"stray continuation byte", "a\x80z", "a?z"},
      {"overlong slash", "\xC0\xAF", "??"},
      {"surrogate", "\xED\xA0\x80", "???"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", "????"},
      {"truncated at end", "x\xE2\x82", "x??"},
      {"lead byte followed by ASCII",
       "\xC3"
       "A",
       "?A"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8ToCp1252(c.utf8), c.cp1252) << c.name;
  }
}

}  // namespace
}  // namespace orv
