// The profile reader against a plain per-key reader of the same text: every key the program reads,
// for every file of the fuzzing corpus, for hand-picked tricky files and for random ones.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "link/trigger_states.h"
#include "platform/profile.h"
#include "tests/profile_reference.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;

struct Query {
  std::string section;
  std::string key;
  std::string default_value;
  std::size_t capacity;
};

// Every key the program reads, with its default and capacity: start-up's six groups and the
// port map read at connect.
std::vector<Query> ProgramKeys() {
  std::vector<Query> keys = {
      {"RS232Configure", "ComPort", "1", 8},     {"RS232Configure", "BaudRate", "9600", 8},
      {"RS232Configure", "CheckBit", "None", 8}, {"RS232Configure", "BitLength", "8", 8},
      {"RS232Configure", "StopBit", "1", 8},     {"FileConfigure", "FilePath", "/opt/orv", 128},
      {"FileConfigure", "FileName", "", 128},    {"FileConfigure", "FileType", "2", 128},
  };
  for (const TriggerPage& page : kTriggerPages) {
    for (int n = 1; n <= page.size; ++n) {
      keys.push_back({page.ini_section, page.ini_key_prefix + std::to_string(n),
                      page.default_name_prefix + std::to_string(n), 128});
    }
  }
  for (int n = 1; n <= 10; ++n)
    keys.push_back({"SerialPorts", "COM" + std::to_string(n), "", 1024});
  return keys;
}

// Hand-picked texts where a reader could slip: line breaks of every kind, blanks and case around
// names, duplicate sections and keys, text beside the brackets, empty names, NUL and 8-bit bytes.
const std::vector<std::string>& TrickyTexts() {
  static const std::vector<std::string> texts = {
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
  return texts;
}

// Many repeats of a few keys, in many sections of the same name: only the first section and the
// first of each key count, however the reader orders them to look them up.
std::string ManyRepeats() {
  std::string text;
  for (int section = 0; section < 40; ++section) {
    text += section % 2 == 0 ? "[ETrgName]\n" : "[etrgname]\r\n";
    for (int i = 0; i < 100; ++i) {
      text += (i % 3 == 0 ? "etrg " : "ETRG ") + std::to_string((i * 7 + section) % 13 + 1) + "=s" +
              std::to_string(section) + "i" + std::to_string(i) + "\n";
    }
  }
  return text;
}

std::vector<fs::path> CorpusFiles() {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(ORV_FUZZ_CONFIG_CORPUS)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  return files;
}

// Every program key read from the file agrees with the per-key reader of its text.
void ExpectProgramKeysAsPerKeyReads(const fs::path& file) {
  const std::string text = test::ReadBytes(file);
  const test::ReferenceProfile reference(text);
  for (const Query& q : ProgramKeys()) {
    EXPECT_EQ(ReadProfileString(q.section, q.key, q.default_value, q.capacity, file),
              reference.Read(q.section, q.key, q.default_value, q.capacity))
        << "[" << q.section << "] " << q.key;
  }
}

TEST(ProfileReaderTest, EveryProgramKeyOfTheFuzzCorpusReadsAsPerKeyReads) {
  const std::vector<fs::path> files = CorpusFiles();
  ASSERT_GE(files.size(), 7u) << "the corpus is missing";
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    ExpectProgramKeysAsPerKeyReads(file);
  }
}

TEST(ProfileReaderTest, EveryProgramKeyOfTrickyFilesReadsAsPerKeyReads) {
  test::TempFolder folder;
  const fs::path file = folder.path() / "MainForm.INI";
  std::vector<std::string> texts = TrickyTexts();
  texts.push_back(ManyRepeats());
  for (const std::string& text : texts) {
    SCOPED_TRACE(testing::PrintToString(text.substr(0, 80)));
    test::WriteBytes(file, text);
    ExpectProgramKeysAsPerKeyReads(file);
  }
}

// Random texts of header lines, key lines and noise, over a few names in varied spelling, so that
// sections and keys match often, with every kind of line break and stray blank, bracket or byte.
std::string RandomText(std::mt19937& rng) {
  static const std::vector<std::string> names = {"S", "s", "k", "K", "", "\xE9", "a b"};
  static const std::vector<std::string> noise = {"]", "[", "=", "\xE9", "v", ";", "\0"s};
  static const std::vector<std::string> breaks = {"\r\n", "\n", "\r", "\n\r", ""};
  const auto pick = [&rng](const std::vector<std::string>& from) {
    return from[rng() % from.size()];
  };
  // Mostly blanks around a name, now and then a stray character.
  const auto pad = [&] {
    const unsigned r = rng() % 10;
    return r < 4 ? ""s : r < 6 ? " "s : r < 8 ? "\t "s : pick(noise);
  };
  std::string text;
  const int lines = static_cast<int>(rng() % 12);
  for (int i = 0; i < lines; ++i) {
    switch (rng() % 4) {
      case 0:
        text += pad() + "[" + pad() + pick(names) + pad() + "]" + pad();
        break;
      case 1:
      case 2:
        text += pad() + pick(names) + pad() + "=" + pad() + pick(names) + pad();
        break;
      default:
        text += pad() + pad();
    }
    text += pick(breaks);
  }
  return text;
}

TEST(ProfileReaderTest, RandomFilesReadAsPerKeyReads) {
  test::TempFolder folder;
  const fs::path file = folder.path() / "random.ini";
  const std::vector<std::string> sections = {"S", "s", " S\t", "T", "", "\u00E9", "\u00C9", "[S"};
  const std::vector<std::string> keys = {"k", "K", "k ", "", "\u00E9", "a b", "S", "v"};
  constexpr int kRounds = 1500;
  std::mt19937 rng(2024);
  int found = 0;
  int reads = 0;
  for (int round = 0; round < kRounds; ++round) {
    const std::string text = RandomText(rng);
    test::WriteBytes(file, text);
    const test::ReferenceProfile reference(text);
    for (const std::string& section : sections) {
      for (const std::string& key : keys) {
        const std::size_t capacity = rng() % 5;
        const std::string expected = reference.Read(section, key, "<d\u00E9fault>", capacity);
        ASSERT_EQ(ReadProfileString(section, key, "<d\u00E9fault>", capacity, file), expected)
            << testing::PrintToString(text) << " [" << section << "] " << key << " capacity "
            << capacity;
        ++reads;
        if (reference.Read(section, key, "<", 99) != "<") ++found;
      }
    }
  }
  // The comparison means little unless keys were actually found: about two texts in three give
  // one.
  EXPECT_GT(found, kRounds / 2) << found << " of " << reads;
}

}  // namespace
}  // namespace orv
