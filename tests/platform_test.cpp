#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/line_settings.h"
#include "platform/port_lock.h"
#include "platform/text_encoding.h"
#include "platform/users.h"
#include "tests/temp_folder.h"

#include <sys/wait.h>
#include <unistd.h>

namespace orv {
namespace {

namespace fs = std::filesystem;

TEST(ParseLineSettings, GoodTextsGiveEveryFieldAndAnythingElseNothing) {
  using P = Parity;
  using S = StopBits;
  const std::pair<const char*, LineSettings> good[] = {
      {"9600,N,8,1", {9600, P::kNone, 8, S::kOne}},
      {"115200,e,7,2", {115200, P::kEven, 7, S::kTwo}},
      {"1200,O,8,1.5", {1200, P::kOdd, 8, S::kOneAndHalf}},
      {"19200,m,6,1", {19200, P::kMark, 6, S::kOne}},
      {"300,S,5,2", {300, P::kSpace, 5, S::kTwo}},
      {"38400,E,7,1.5", {38400, P::kEven, 7, S::kOneAndHalf}},
      {"57600,o,8,2", {57600, P::kOdd, 8, S::kTwo}},
      {"2400,M,8,1", {2400, P::kMark, 8, S::kOne}},
      {"14400,n,8,1", {14400, P::kNone, 8, S::kOne}},
      {" 4800 , s , 8 , 1 ", {4800, P::kSpace, 8, S::kOne}}};
  for (const auto& row : good)
    EXPECT_EQ(ParseLineSettings(row.first), row.second) << row.first;
  // Wrong shape, then a field out of its range.
  for (const char* text : {"", "abc", "9600", "9600,N", "9600,N,8", ",,,", "9600,,8,1", "9600,N,8,",
                           "9600,N,8,1,", "9600,N,8,1,1", "9600;N;8;1"}) {
    EXPECT_EQ(ParseLineSettings(text), std::nullopt) << '"' << text << '"';
  }
  for (const char* text :
       {"0,N,8,1", "-5,N,8,1", "+9600,N,8,1", "96 00,N,8,1", "9600x,N,8,1", "99999999999,N,8,1",
        "9600,X,8,1", "9600,NO,8,1", "9600,N,4,1", "9600,N,9,1", "9600,N,08x,1", "9600,N,8,0",
        "9600,N,8,3", "9600,N,8,1.0"})
    EXPECT_EQ(ParseLineSettings(text), std::nullopt) << '"' << text << '"';
}

// The program's one UTF-8 validator, which every reader of outside text uses (the broker's topic,
// what goes to the broker, the INI's text through Windows-1252).
constexpr const char* kFffd = "\xEF\xBF\xBD";

TEST(Utf8, OneValidatorForWellFormedText) {
  const struct {
    std::string text;
    bool valid;
    int replaced;  // bytes that become U+FFFD
  } cases[] = {
      {"plain", true, 0},
      {"Z\xC3\xBCrich \xE2\x82\xAC \xF0\x9F\x94\x94", true, 0},
      {"\xEF\xBF\xBF\xF4\x8F\xBF\xBF", true, 0},  // U+FFFF and U+10FFFF, the last of each length
      {std::string("nul\0end", 7), true, 0},
      {"caf\xE9!", false, 1},          // a Windows-1252 byte never converted
      {"\x80", false, 1},              // a stray continuation byte
      {"\xC3", false, 1},              // cut short
      {"\xF0\x9F\x94", false, 3},      // cut short, longer
      {"\xC0\xAF", false, 2},          // overlong "/"
      {"\xE0\x80\xAF", false, 3},      // overlong, three bytes
      {"\xF0\x80\x80\xAF", false, 4},  // overlong, four bytes
      {"\xED\xA0\x80", false, 3},      // a surrogate
      {"\xF4\x90\x80\x80", false, 4},  // past U+10FFFF
      {"\xF5", false, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsValidUtf8(c.text), c.valid) << c.text;
    const std::string cleaned = ValidUtf8(c.text);
    EXPECT_TRUE(IsValidUtf8(cleaned)) << c.text;
    int replaced = 0;
    for (std::size_t at = cleaned.find(kFffd); at != std::string::npos;
         at = cleaned.find(kFffd, at + 3))
      ++replaced;
    EXPECT_EQ(replaced, c.replaced) << c.text;
  }
}

TEST(PortLock, FileNameAsQSerialPortFormsIt) {
  const std::pair<const char*, const char*> cases[] = {
      {"/dev/ttyUSB0", "LCK..ttyUSB0"},
      {"/dev/serial/by-id/usb-FTDI_X-if00", "LCK..serial_by-id_usb-FTDI_X-if00"},
      {"/tmp/controller", "LCK.._tmp_controller"},  // outside /dev the whole path
      {"/devices/x", "LCK.._devices_x"},            // "/dev" alone is no folder
      {"ttyS0", "LCK..ttyS0"},
  };
  for (const auto& [device, name] : cases)
    EXPECT_EQ(PortLockFileName(device), name) << device;
}

std::string OwnName() {
  std::ifstream in("/proc/self/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

TEST(PortLock, RunningEndedAndEmptyHoldersEachReadAsWhatTheyAre) {
  test::TempFolder first;
  test::TempFolder second;
  const fs::path lock = second.path() / "LCK..ttyUSB7", in_first = first.path() / "LCK..ttyUSB7";
  const std::string me = UserName(EffectiveUserId()), owner = " (owned by " + me + ")";
  std::optional<PortLockHolder> holder;
  const auto lock_with = [&](const fs::path& file, const std::string& text) {
    test::WriteBytes(file, text);
    holder = FindPortLock("/dev/ttyUSB7", {first.path(), second.path()});
    return holder.has_value();
  };
  EXPECT_FALSE(FindPortLock("/dev/ttyUSB7", {first.path(), second.path()}));
  const pid_t self = getpid();
  ASSERT_TRUE(lock_with(lock, "     " + std::to_string(self) + "\nsomeapp\nhost\n"));
  EXPECT_EQ(DescribePortLock(*holder),
            "in use by process " + std::to_string(self) + " (" + OwnName() + ", user " + me + ")");
  EXPECT_EQ(DescribeLockAndProcess(*holder), "the lock " + lock.string() + " of process " +
                                                 std::to_string(self) + " (" + OwnName() +
                                                 ", user " + me + ")");
  // Ended: which file to remove, and whose it is.
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  waitpid(ended, nullptr, 0);  // reaped: the id names no process now
  ASSERT_TRUE(lock_with(lock, std::to_string(ended) + "\n"));
  EXPECT_EQ(DescribePortLock(*holder), "locked by process " + std::to_string(ended) +
                                           ", which no longer runs: the lock is stale, remove " +
                                           lock.string() + owner);
  EXPECT_EQ(DescribeLockAndProcess(*holder), "the lock " + lock.string() + " of process " +
                                                 std::to_string(ended) +
                                                 ", which no longer runs (user " + me + ")");
  // Removed only while it is still the file that was judged.
  const fs::path aside = second.path() / "aside";
  fs::rename(lock, aside);
  test::WriteBytes(lock, "1\n");
  std::string why;
  EXPECT_FALSE(RemovePortLock(*holder, why));
  EXPECT_EQ(why, "another file stands there now");
  fs::rename(aside, lock);
  EXPECT_TRUE(RemovePortLock(*holder, why)) << why;
  EXPECT_FALSE(fs::exists(lock));
  // No process at all: neither garbage, nor a number with more after it, nor zero.
  const std::string no_process =
      "locked by " + lock.string() + ", which names no process: remove " + lock.string() + owner;
  for (const char* text : {"", "hello\n", "12ab\n", "0\n", "-5\n", "\n1234\n"}) {
    ASSERT_TRUE(lock_with(lock, text));
    EXPECT_EQ(DescribePortLock(*holder), no_process) << text;
  }
  EXPECT_EQ(DescribeLockAndProcess(*holder),
            "the lock " + lock.string() + " naming no process (user " + me + ")");
  // The first folder wins; a link there is not followed, and the search goes on.
  fs::create_symlink(lock, in_first);
  ASSERT_TRUE(lock_with(lock, std::to_string(self) + "\n"));
  EXPECT_EQ(holder->lock_file, lock);
  fs::remove(in_first);
  ASSERT_TRUE(lock_with(in_first, std::to_string(ended) + "\n"));
  EXPECT_TRUE(holder->lock_file == in_first && !holder->running);
}

TEST(PortLock, ASquatIsARunningProcessWithoutTheDeviceOpenAndAnyDoubtMakesAHolder) {
  test::TempFolder folder;
  const fs::path device = folder.path() / "ttyS0", by_id = folder.path() / "by-id";
  test::WriteBytes(device, "");
  fs::create_symlink(device, by_id);
  using Files = std::optional<std::vector<std::string>>;
  const Files others = std::vector<std::string>{"/dev/null", "socket:[42]", device.string() + "x"};
  const struct {
    const char* what;
    long pid;
    bool running;
    fs::path named;  // the device as the lock's owner was asked about it
    Files open;      // what the look into the process finds
    PortLockVerdict verdict;
  } cases[] = {
      {"running, other files only", 77, true, device, others, PortLockVerdict::kSquat},
      {"running, nothing open", 77, true, device, std::vector<std::string>{},
       PortLockVerdict::kSquat},
      {"has the device open", 77, true, device,
       std::vector<std::string>{"/dev/null", device.string()}, PortLockVerdict::kHolder},
      {"has what the link leads to open", 77, true, by_id,
       std::vector<std::string>{device.string()}, PortLockVerdict::kHolder},
      {"may not be looked into", 77, true, device, std::nullopt, PortLockVerdict::kCannotTell},
      {"ended: stale", 77, false, device, others, PortLockVerdict::kStale},
  };
  for (const auto& c : cases) {
    PortLockHolder holder;
    holder.pid = c.pid;
    holder.running = c.running;
    long asked = 0;
    const auto look = [&](long pid) {
      asked = pid;
      return c.open;
    };
    EXPECT_EQ(JudgePortLock(holder, c.named.string(), look), c.verdict) << c.what;
    if (c.running) {
      EXPECT_EQ(asked, c.pid) << c.what;
    }
  }
}

}  // namespace
}  // namespace orv
