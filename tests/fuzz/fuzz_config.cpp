// Arbitrary bytes as MainForm.INI: the program loads it, writes back a trigger name and the
// serial settings, and every line it did not write must still be there, byte for byte.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "platform/profile.h"

namespace {

// Names the broken invariant before stopping, so a crash report says what went wrong.
void CheckAt(bool condition, const char* what, int line) {
  if (condition) return;
  std::fprintf(stderr, "invariant broken at line %d: %s\n", line, what);
  std::abort();
}
#define Check(condition) CheckAt((condition), #condition, __LINE__)

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

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

bool WrittenByUs(const std::string& line) {
  for (const char* key : {"ComPort", "BaudRate", "CheckBit", "BitLength", "StopBit", "ETRG 7"}) {
    const std::string k(key);
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    if (line.size() >= start + k.size()) {
      bool same = true;
      for (std::size_t i = 0; i < k.size(); ++i) {
        same = same && std::tolower(static_cast<unsigned char>(line[start + i])) ==
                           std::tolower(static_cast<unsigned char>(k[i]));
      }
      if (same) return true;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A folder of this process's own: two fuzzing processes must never share the file.
  static const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("orvandel-fuzz-config-" + std::to_string(std::random_device{}()));
  // Made on the first run, removed when the process ends.
  static const struct Scratch {
    explicit Scratch(const std::filesystem::path& p) : path(p) {
      std::filesystem::create_directories(path / "SYSINI");
    }
    ~Scratch() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path path;
  } scratch(folder);
  orv::Configuration config(folder);
  const std::string original(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream out(config.ConfigFile(), std::ios::binary | std::ios::trunc);
    out << original;
  }
  // The serial and file groups as start-up loads them. A names group is 60 to 120 reads of the
  // same kind as the one name read below; leaving them out keeps each run short enough for
  // millions of runs.
  for (const char* group : {"MainForm", "RS232Config"})
    config.LoadConfigGroup(group);
  Check(config.SerialComPort >= 1 && config.SerialComPort <= 10);
  Check(config.SerialBaudRate.size() <= 7);
  Check(orv::ReadProfileString("ETrgName", "ETRG 7", "", 128, config.ConfigFile()).size() <=
        127 * 3);

  config.EmgTriggerNames[6] = "Lobby \xE2\x82\xAC";
  config.SaveName(0, 7);
  config.SaveConfigGroup("RS232Config");

  // Every line of the original that we did not write is still there, in order.
  const std::vector<std::string> before = Lines(original);
  const std::vector<std::string> after = Lines(ReadAll(config.ConfigFile()));
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
