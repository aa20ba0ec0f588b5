// Arbitrary bytes as MainForm.INI: every key the bytes name reads from one snapshot as a plain
// per-key reader reads it; the program loads the file, writes back a trigger name and the serial
// settings, and every line it did not write must still be there, byte for byte.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "config/configuration.h"
#include "platform/profile.h"
#include "platform/text_encoding.h"
#include "tests/profile_reference.h"
#include "tests/temp_folder.h"

namespace {

// Names the broken invariant before stopping, so a crash report says what went wrong.
void CheckAt(bool condition, const char* what, int line) {
  if (condition) return;
  std::fprintf(stderr, "invariant broken at line %d: %s\n", line, what);
  std::abort();
}
#define Check(condition) CheckAt((condition), #condition, __LINE__)

// The lines of a text, each without its line break (CR LF, LF or a lone CR).
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string current;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.push_back(current);
      current.clear();
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      current += text[i];
    }
  }
  if (!current.empty()) lines.push_back(current);
  return lines;
}

std::string Upper(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool WrittenByUs(const std::string& line) {
  const std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos) return false;
  const std::string upper = Upper(line.substr(start));
  for (const char* key : {"COMPORT", "BAUDRATE", "CHECKBIT", "BITLENGTH", "STOPBIT", "ETRG 7"}) {
    if (upper.starts_with(key)) return true;
  }
  return false;
}

// The section and key names that the bytes themselves hold, in the spelling of the file and in
// capitals, so that matches are tried without regard to case; from the first lines only, to keep
// each run short.
std::vector<std::pair<std::string, std::string>> NamedKeys(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> keys;
  std::string section;
  const std::vector<std::string> lines = Lines(text);
  for (std::size_t i = 0; i < lines.size() && i < 64; ++i) {
    const std::string& line = lines[i];
    const std::size_t open = line.find('[');
    const std::size_t close = line.find(']');
    if (open != std::string::npos && close != std::string::npos && open < close) {
      section = line.substr(open + 1, close - open - 1);
    } else if (const std::size_t equals = line.find('='); equals != std::string::npos) {
      const std::string key = line.substr(0, equals);
      keys.emplace_back(orv::Cp1252ToUtf8(section), orv::Cp1252ToUtf8(key));
      keys.emplace_back(orv::Cp1252ToUtf8(Upper(section)), orv::Cp1252ToUtf8(Upper(key)));
    }
  }
  return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A folder of this process's own, removed when the process ends: two fuzzing processes must
  // never share the file.
  static const orv::test::TempFolder folder;
  std::filesystem::create_directories(folder.path() / "SYSINI");
  orv::Configuration config(folder.path());
  const std::string original(reinterpret_cast<const char*>(data), size);
  orv::test::WriteBytes(config.ConfigFile(), original);
  // One snapshot answers as the per-key reader for every key the bytes name (a key they do not
  // name reads as its default from both), and for the serial keys in any case.
  const orv::ProfileSnapshot snapshot = orv::ProfileSnapshot::FromText(original);
  const orv::test::ReferenceProfile reference(original);
  for (const char* key : {"ComPort", "BaudRate", "CheckBit", "BitLength", "StopBit"})
    Check(snapshot.Read("RS232Configure", key, "d", 8) ==
          reference.Read("RS232Configure", key, "d", 8));
  for (const auto& [section, key] : NamedKeys(original)) {
    for (const std::size_t capacity : {std::size_t{2}, std::size_t{128}})
      Check(snapshot.Read(section, key, "d", capacity) ==
            reference.Read(section, key, "d", capacity));
  }

  // Start-up's load of all six groups, from one reading of the file.
  config.LoadConfigGroups(
      {"MainForm", "RS232Config", "ETrgName", "BTrgName", "VTrgName", "BGMName"});
  Check(config.SerialComPort >= 1 && config.SerialComPort <= 10);
  Check(config.SerialBaudRate.size() <= 7);
  Check(config.EmgTriggerNames[6].size() <= 127 * 3);

  config.EmgTriggerNames[6] = "Lobby \xE2\x82\xAC";
  config.SaveName(0, 7);
  config.SaveConfigGroup("RS232Config");

  // Every line of the original that we did not write is still there, in order.
  const std::vector<std::string> before = Lines(original);
  const std::vector<std::string> after = Lines(orv::test::ReadBytes(config.ConfigFile()));
  std::size_t j = 0;
  for (const std::string& line : before) {
    if (WrittenByUs(line)) continue;
    while (j < after.size() && after[j] != line)
      ++j;
    Check(j < after.size());
    ++j;
  }
  Check(orv::ReadProfileString("RS232Configure", "ComPort", "", 8, config.ConfigFile()) ==
        std::to_string(config.SerialComPort));
  Check(orv::ReadProfileString("ETrgName", "ETRG 7", "", 128, config.ConfigFile()) ==
        "Lobby \xE2\x82\xAC");
  return 0;
}
