// SYSINI and DATA as every operator of the group may write them: whatever another operator put
// where the program's files belong (a link to the victim's file, a second name of it, a FIFO) is
// refused with its name, never followed, written through, truncated, re-moded, read into the
// folder or waited on. Rewrites of MainForm.INI by programs running at once lose no key, and
// every file the program makes keeps the folder's group and stays writable for it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "config/configuration.h"
#include "events/event_log_file.h"
#include "platform/file_system.h"
#include "platform/profile.h"
#include "platform/safe_file.h"
#include "tests/odd_files.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::WriteBytes;

constexpr const char* kSecret = "victim's private text\n";
constexpr const char* kOldIni = "[ETrgName]\r\nETRG 1=Old\r\n";

struct stat Lstat(const fs::path& p) {
  struct stat info {};
  ::lstat(p.c_str(), &info);
  return info;
}

// Everything a write, a truncation or a chmod through a link would change (the bytes of a regular
// file only: the test itself must not wait on a FIFO).
std::string Look(const fs::path& p) {
  const struct stat info = Lstat(p);
  return std::to_string(info.st_mode) + "|" + std::to_string(info.st_size) + "|" +
         std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec) + "|" +
         (S_ISREG(info.st_mode) ? ReadBytes(p) : std::string());
}

// A program folder with SYSINI and DATA, and a home folder of the victim beside it.
class SharedFolder : public ::testing::Test {
 protected:
  SharedFolder() {
    fs::create_directories(Program() / "SYSINI");
    fs::create_directories(Program() / "DATA");
    fs::create_directories(Home());
    WriteBytes(Victim(), kSecret);
    fs::permissions(Victim(), fs::perms::owner_read | fs::perms::owner_write);
  }
  fs::path Program() const { return temp_.path() / "orvandel"; }
  fs::path Home() const { return temp_.path() / "home"; }
  fs::path Victim() const { return Home() / ".bashrc"; }
  fs::path Ini() const { return Program() / "SYSINI" / "MainForm.INI"; }

  test::TempFolder temp_;
};

enum class Plant { kLink, kHardLink, kFifo };

// What the program does with the folder: whether it went well, and what it said (a notice or a
// write's reason).
using Operation = bool (*)(const fs::path& program, std::string& said);

bool LoadSettings(const fs::path& program, std::string& said) {
  Configuration config(program);
  config.set_notice([&](const Notice& n) { said += n.text; });
  config.LoadConfigGroups({"MainForm", "RS232Config", "ETrgName"});
  return said.empty();
}

bool SaveName(const fs::path& program, std::string& said) {
  return WriteProfileString("ETrgName", "ETRG 1", "Hall", program / "SYSINI" / "MainForm.INI",
                            &said);
}

bool LogEvent(const fs::path& program, std::string& said) {
  EventLogFile file(program);
  EventLogRecorder recorder(file, [&](const Notice& n) { said += n.text; });
  recorder.Record(EventRecord{{}, 0x21, 1, "12/04 05:21 Event = Fault 1", {}});
  return recorder.waiting() == 0;
}

bool CheckData(const fs::path& program, std::string& said) {
  EventLogFile file(program);
  const bool ok = file.CheckDataFolderWritable();
  said = file.last_error();
  return ok;
}

struct Attack {
  const char* name;
  const char* entry;  // under the program folder
  Plant plant;
  Operation operation;
  bool ok;
  const char* said;  // follows the entry's full name in what the program said; "" for nothing
};

class PlantedEntry : public SharedFolder, public ::testing::WithParamInterface<Attack> {};

TEST_P(PlantedEntry, IsRefusedByNameAndTheVictimsFileIsNeverTouched) {
  const Attack& attack = GetParam();
  WriteBytes(Ini(), kOldIni);
  const fs::path entry = Program() / attack.entry;
  fs::remove(entry);
  if (attack.plant == Plant::kFifo) test::MakeFifo(entry);
  if (attack.plant == Plant::kLink) fs::create_symlink(Victim(), entry);
  if (attack.plant == Plant::kHardLink) fs::create_hard_link(Victim(), entry);
  const std::string victim_before = Look(Victim());
  bool ok = false;
  std::string said;
  test::FinishOrStop([&] { ok = attack.operation(Program(), said); }, attack.name,
                     [&] { test::ReleaseFifoReader(entry); });
  EXPECT_EQ(ok, attack.ok) << said;
  const std::string expected = *attack.said == '\0' ? "" : entry.string() + " " + attack.said;
  EXPECT_NE(said.find(expected), std::string::npos)
      << "said: " << said << "\nexpected: " << expected;
  EXPECT_EQ(Look(Victim()), victim_before) << "the victim's file changed";
  // Nothing read into the folder: no file of its own there holds the victim's text.
  for (const auto& e : fs::recursive_directory_iterator(Program())) {
    const struct stat info = Lstat(e.path());
    if (!S_ISREG(info.st_mode) || info.st_ino == Lstat(Victim()).st_ino) continue;
    EXPECT_EQ(ReadBytes(e.path()).find(kSecret), std::string::npos) << e.path();
  }
  for (const auto& e : fs::directory_iterator(Program() / "SYSINI")) {
    const std::string name = e.path().filename().string();
    EXPECT_TRUE(name == "MainForm.INI" || name == "MainForm.INI.lock" || e.path() == entry) << name;
  }
}

// Each path the program opens a shared file by, with a link planted; each refusal of the one
// opening function (a second name, a FIFO) once. (A link or a FIFO in the INI's place is the
// profile's own test; a fixed temporary name, EachRewriteUsesAFreshTemporaryName.)
const Attack kAttacks[] = {
    {"IniHardLinkRead", "SYSINI/MainForm.INI", Plant::kHardLink, LoadSettings, false,
     "has other hard links: its settings were not read."},
    {"LockLink", "SYSINI/MainForm.INI.lock", Plant::kLink, SaveName, false, "is a symbolic link"},
    {"LockFifo", "SYSINI/MainForm.INI.lock", Plant::kFifo, SaveName, false,
     "is not a regular file"},
    {"EventLogLink", "DATA/EventLog.txt", Plant::kLink, LogEvent, false,
     "cannot be written (is a symbolic link)"},
    // The check removes whatever stands there and makes its own file.
    {"TestFileLink", "DATA/TestFile.txt", Plant::kLink, CheckData, true, ""},
    {"TestFileFifo", "DATA/TestFile.txt", Plant::kFifo, CheckData, true, ""},
};

INSTANTIATE_TEST_SUITE_P(Attacks, PlantedEntry, ::testing::ValuesIn(kAttacks),
                         [](const auto& info) { return std::string(info.param.name); });

// What a check that deletes TestFile.txt and makes it again meets when another operator plants a
// link in between: the exclusive creation fails, and nothing is written through the link.
TEST_F(SharedFolder, AnExclusiveCreationNeverOpensWhatWasPlantedMeanwhile) {
  const fs::path test_file = Program() / "DATA" / "TestFile.txt";
  for (const fs::path& target : {Victim(), Home() / "not-there-yet"}) {
    fs::remove(test_file);
    fs::create_symlink(target, test_file);
    const std::string victim_before = Look(Victim());
    std::error_code error;
    EXPECT_FALSE(CreateFileWith(test_file, "test\n", &error)) << target;
    EXPECT_EQ(error, std::errc::file_exists);
    EXPECT_EQ(Look(Victim()), victim_before);
    EXPECT_FALSE(fs::exists(Home() / "not-there-yet"));
  }
}

// Another program saving renames a new file over the name all the time: every open of the name
// gets a whole file, never a refusal because the file it opened had just lost its name.
TEST_F(SharedFolder, AFileReplacedWhileBeingOpenedIsOpenedAgain) {
  WriteBytes(Ini(), "[A]\r\nB=0\r\n");
  const pid_t replacer = fork();
  ASSERT_GE(replacer, 0);
  if (replacer == 0) {
    const std::string next = Ini().string() + ".next";
    // A save every 100 us: far more often than any program saves, but each one a whole save.
    for (int i = 0; i < 3000; ++i) {
      WriteBytes(next, "[A]\r\nB=" + std::to_string(i) + "\r\n");
      if (std::rename(next.c_str(), Ini().c_str()) != 0) _exit(1);
      usleep(100);
    }
    _exit(0);
  }
  int refused = 0;
  int opened = 0;
  for (int status = 0; waitpid(replacer, &status, WNOHANG) == 0;) {
    std::error_code error;
    const FileDescriptor file = OpenSharedFile(Ini(), O_RDONLY, 0, error);
    ++(file.valid() ? opened : refused);
    if (!file.valid()) ADD_FAILURE() << error.message();
    if (refused > 3) break;
  }
  kill(replacer, SIGKILL);
  waitpid(replacer, nullptr, 0);
  EXPECT_GT(opened, 100);
}

// Each rewrite makes a temporary file of a new name, "MainForm.INI." and six letters, and none
// stays: a planted guess of the next name is never used.
TEST_F(SharedFolder, EachRewriteUsesAFreshTemporaryNameAndLeavesNone) {
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, (Program() / "SYSINI").c_str(), IN_CREATE), 0);
  for (int i = 0; i < 20; ++i)
    ASSERT_TRUE(WriteProfileString("S", "k" + std::to_string(i), "v", Ini()));
  std::vector<std::string> created;
  alignas(inotify_event) char buffer[64 * 1024];
  for (ssize_t n; (n = read(watch, buffer, sizeof buffer)) > 0;) {
    for (char* p = buffer; p < buffer + n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(p);
      if (event->len > 0) created.emplace_back(event->name);
      p += sizeof(inotify_event) + event->len;
    }
  }
  close(watch);
  ASSERT_EQ(created.size(), 21u) << "the lock file and one temporary file per write";
  EXPECT_EQ(created.front(), "MainForm.INI.lock");
  const std::vector<std::string> temporary(created.begin() + 1, created.end());
  for (const std::string& name : temporary)
    EXPECT_TRUE(name.size() == 19 && name.starts_with("MainForm.INI.")) << name;
  EXPECT_EQ(std::set<std::string>(temporary.begin(), temporary.end()).size(), 20u);
  EXPECT_EQ(std::distance(fs::directory_iterator(Program() / "SYSINI"), {}), 2)
      << "the INI, its lock";
}

TEST_F(SharedFolder, TwoWritersAtOnceLoseNoKey) {
  constexpr int kKeys = 200;
  const auto key = [](int i) { return std::to_string(i); };
  WriteBytes(Ini(), kOldIni);
  std::vector<pid_t> writers;
  for (const char* prefix : {"A", "B"}) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failed = 0;
      for (int i = 0; i < kKeys; ++i)
        failed += WriteProfileString("Keys", prefix + key(i), key(i), Ini()) ? 0 : 1;
      _exit(std::min(failed, 100));
    }
    writers.push_back(pid);
  }
  for (const pid_t pid : writers) {
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "failed writes: " << status;
  }
  const ProfileSnapshot file(Ini());
  int missing = 0;
  for (const char* prefix : {"A", "B"}) {
    for (int i = 0; i < kKeys; ++i)
      missing += file.Read("Keys", prefix + key(i), "?", 16) == key(i) ? 0 : 1;
  }
  EXPECT_EQ(missing, 0);
}

TEST_F(SharedFolder, ALockHeldByAnotherProgramMakesTheWriteFailNotHang) {
  WriteBytes(Ini(), kOldIni);
  const int lock = open((Ini().string() + ".lock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
  ASSERT_GE(lock, 0);
  // flock locks belong to the open file: a second one of the same process waits like another's.
  ASSERT_EQ(::flock(lock, LOCK_EX), 0);
  std::string problem;
  bool written = true;
  test::FinishOrStop([&] { written = WriteProfileString("S", "k", "v", Ini(), &problem); },
                     "writing under a held lock");
  close(lock);
  EXPECT_FALSE(written);
  EXPECT_EQ(problem, Ini().string() + ".lock stayed locked by another program for 2 s");
  EXPECT_TRUE(WriteProfileString("S", "k", "v", Ini()));
}

TEST_F(SharedFolder, ANewFileGetsTheUmasksModeAndARewriteKeepsTheOldModeWithoutExecOrSetId) {
  const mode_t saved = umask(0);
  for (const mode_t mask : {mode_t{002}, mode_t{022}, mode_t{077}}) {
    SCOPED_TRACE(testing::Message() << "umask " << std::oct << mask);
    umask(mask);
    fs::remove(Ini());
    fs::remove(Program() / "DATA" / "EventLog.txt");
    EXPECT_TRUE(WriteProfileString("S", "k", "1", Ini()));
    EXPECT_EQ(Lstat(Ini()).st_mode & 07777, 0666 & ~mask);
    EXPECT_TRUE(AppendToFile(Program() / "DATA" / "EventLog.txt", "line\n\r\n"));
    EXPECT_EQ(Lstat(Program() / "DATA" / "EventLog.txt").st_mode & 07777, 0666 & ~mask);
  }
  umask(002);
  // Old mode, mode after the rewrite.
  const std::pair<mode_t, mode_t> cases[] = {{0660, 0660}, {0640, 0640},  {0600, 0600},
                                             {0664, 0664}, {04775, 0664}, {02670, 0660}};
  for (const auto& [before, after] : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << std::oct << before);
    WriteBytes(Ini(), kOldIni);
    EXPECT_EQ(chmod(Ini().c_str(), before), 0);
    EXPECT_TRUE(WriteProfileString("ETrgName", "ETRG 1", "Hall", Ini()));
    EXPECT_EQ(Lstat(Ini()).st_mode & 07777, after);
  }
  umask(saved);
}

// Installed, the folders belong to root:dialout with mode 2775. Whoever writes, every file stays
// in the folder's group and writable for it; a rewrite keeps the owner where it may (root).
TEST_F(SharedFolder, FilesKeepTheSetGroupIdFoldersGroupAndStayGroupWritable) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a folder to another group needs root";
  const group* shared = getgrnam("dialout");
  if (shared == nullptr) shared = getgrnam("users");
  if (shared == nullptr) GTEST_SKIP() << "neither dialout nor users exists";
  const gid_t gid = shared->gr_gid;
  ASSERT_NE(gid, getegid()) << "the test needs a group other than the writer's own";
  for (const char* sub : {"SYSINI", "DATA"}) {
    ASSERT_EQ(chown((Program() / sub).c_str(), 0, gid), 0);
    ASSERT_EQ(chmod((Program() / sub).c_str(), 02775), 0);
  }
  const mode_t saved = umask(002);  // as the program sets it
  // An INI another operator wrote (owned by someone else, mode 0660), rewritten by this one.
  WriteBytes(Ini(), kOldIni);
  ASSERT_EQ(chown(Ini().c_str(), 12345, gid), 0);
  ASSERT_EQ(chmod(Ini().c_str(), 0660), 0);
  EXPECT_TRUE(WriteProfileString("ETrgName", "ETRG 1", "Hall", Ini()));
  EXPECT_TRUE(AppendToFile(Program() / "DATA" / "EventLog.txt", "line\n\r\n"));
  EXPECT_TRUE(EventLogFile(Program()).CheckDataFolderWritable());
  umask(saved);
  // Old mode, or the umask's for a new file.
  const std::tuple<fs::path, mode_t, uid_t> files[] = {
      {Ini(), 0660, 12345},
      {Ini().string() + ".lock", 0664, geteuid()},
      {Program() / "DATA" / "EventLog.txt", 0664, geteuid()},
      {Program() / "DATA" / "TestFile.txt", 0664, geteuid()},
  };
  for (const auto& [file, mode, owner] : files) {
    SCOPED_TRACE(file);
    const struct stat info = Lstat(file);
    EXPECT_EQ(info.st_gid, gid);
    EXPECT_EQ(info.st_uid, owner);
    EXPECT_EQ(info.st_mode & 07777, mode);  // each a group-writable mode
  }
}

}  // namespace
}  // namespace orv
