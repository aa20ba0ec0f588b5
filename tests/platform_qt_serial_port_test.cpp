#include "platform/qt/qt_serial_port.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QLockFile>

#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/port_lock.h"
#include "tests/pty_pair.h"
#include "tests/temp_folder.h"
#include "tests/test_util.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using std::chrono::milliseconds;
using test::Hex;
using test::PtyPair;
using test::WaitFor;

using test::LoopStaysIdle;

// What a pty keeps of the line settings: the rate and whether there are two stop bits. Its
// driver forces 8 data bits without parity, so it refuses even parity and 7 data bits.
using LineState = std::pair<speed_t, bool>;
LineState StateOf(const PtyPair& pty) {
  termios tio{};
  tcgetattr(pty.slave_fd(), &tio);
  return {cfgetospeed(&tio), (tio.c_cflag & CSTOPB) != 0};
}

class QtSerialPortTest : public ::testing::Test {
 protected:
  QtSerialPortTest() {
    connections_.push_back(port_.received().Connect(
        [this](const Bytes& b) { received_.insert(received_.end(), b.begin(), b.end()); }));
    connections_.push_back(
        port_.failed().Connect([this](const PortError& e) { failures_.push_back(e.kind); }));
  }
  // The program's connect sequence, to port 1 mapped to the given device.
  bool Connect(const std::string& device, const std::string& settings = "9600,N,8,1") {
    mapping_[1] = device;
    port_.SetCommPort(1);
    port_.SetHandshakingNone();
    port_.SetSettings(settings);
    port_.Open();
    return port_.IsOpen();
  }
  Bytes RoundTrip(PtyPair& pty, const Bytes& bytes = Hex("02 01 06 00 2B 03")) {
    port_.Output(bytes);
    return pty.ReadMaster(bytes.size());
  }

  std::map<int, std::string> mapping_;
  std::vector<int> asked_;
  Bytes received_;
  std::vector<PortErrorKind> failures_;
  QtSerialPort port_{[this](int n) {
    asked_.push_back(n);
    return mapping_[n];
  }};
  PtyPair pty_;
  Connections connections_;
};

const passwd* const kNobody = getpwnam("nobody");
// Runs `body` with the effective user "nobody" (the tests run as root, who may open anything),
// the device `lent` to nobody meanwhile, then becomes root again.
template <typename F>
void AsNobody(F body, const std::string& lent = "") {
  ASSERT_NE(kNobody, nullptr);
  ASSERT_TRUE(lent.empty() || chown(lent.c_str(), kNobody->pw_uid, -1) == 0);
  ASSERT_EQ(seteuid(kNobody->pw_uid), 0);
  body();
  ASSERT_EQ(seteuid(0), 0);
  ASSERT_TRUE(lent.empty() || chown(lent.c_str(), 0, -1) == 0);
}

using test::AtScopeEnd;

TEST_F(QtSerialPortTest, LooksUpTheDeviceAtEachOpenAndCarriesRawBytesBothWays) {
  // A name of this test's own: the port takes a lock on the name before it opens, and another
  // test of the same run may be trying a missing device at the same moment.
  const std::string missing = "/nonexistent/orvandel-port-" + std::to_string(getpid());
  port_.SetCommPort(3);
  mapping_[3] = missing;
  port_.Open();
  EXPECT_EQ(port_.device(), missing);
  EXPECT_EQ(port_.last_error().kind, PortErrorKind::kNotFound);
  EXPECT_NE(port_.last_error().text.find(missing), std::string::npos) << port_.last_error().text;
  mapping_[3] = pty_.slave_path();
  port_.Open();
  ASSERT_TRUE(port_.IsOpen());
  // Bytes a line discipline or flow control would eat or change: CR, LF, NUL, XON, XOFF, DEL.
  const Bytes awkward = Hex("02 0D 0A 00 11 13 FF 03 04 7F 1A 8D 03");
  EXPECT_EQ(RoundTrip(pty_, awkward), awkward);
  ASSERT_TRUE(pty_.WriteMaster(awkward));
  EXPECT_TRUE(WaitFor([&] { return received_ == awkward; }));
  port_.Open();  // while open: the device stays, the lookup is not asked
  port_.Close();
  mapping_.erase(3);
  port_.Open();
  EXPECT_EQ(port_.device(), "/dev/ttyS2");  // the system's third port
  port_.Close();
  EXPECT_EQ(asked_, std::vector<int>({3, 3, 3}));
}

TEST_F(QtSerialPortTest, SettingsApplyAtOpenOrAtOnceAndRefusedOnesKeepThePrevious) {
  const std::pair<const char*, LineState> accepted[] = {{"115200,N,8,2", {B115200, true}},
                                                        {"1200,n,8,1", {B1200, false}}};
  for (const auto& [text, state] : accepted) {
    port_.Close();
    port_.SetSettings(text);
    ASSERT_TRUE(Connect(pty_.slave_path(), "garbage"));  // ignored: the earlier text applies
    EXPECT_EQ(StateOf(pty_), state) << text;
    EXPECT_EQ(ParseLineSettings(text), port_.line_settings()) << text;
    port_.SetSettings("4800,N,8,2");
  }
  // Texts that do not parse, and ones the pty refuses; these ask for another rate and stop bits
  // too, which must not be left half applied.
  for (const char* refused : {"", "9600,N,9,1", "38400,E,8,1", "38400,N,7,1", "38400,E,7,1"}) {
    port_.SetSettings(refused);
    EXPECT_EQ(StateOf(pty_), LineState(B4800, true)) << refused;
    EXPECT_EQ(ParseLineSettings("4800,N,8,2"), port_.line_settings()) << refused;
  }
  // Refused at the open: the open stands, with the settings in force before.
  port_.Close();
  ASSERT_TRUE(Connect(pty_.slave_path(), "38400,E,8,1"));
  EXPECT_EQ(StateOf(pty_), LineState(B4800, true));
  EXPECT_EQ(RoundTrip(pty_), Hex("02 01 06 00 2B 03"));
}

// A line busy at 115200 baud (12 bytes every millisecond) wakes the program once per receive
// interval, not once per few bytes, and every byte still arrives, in order; a lone reply after a
// quiet spell is handed on at once.
TEST_F(QtSerialPortTest, ABusyLineIsReadInBatchesWithEveryByteInOrder) {
  int events = 0;
  const Connection count = port_.received().Connect([&](const Bytes&) { ++events; });
  ASSERT_TRUE(Connect(pty_.slave_path()));
  Bytes sent;
  QElapsedTimer clock;
  clock.start();
  QTimer writer;  // what the line has brought by now, every millisecond for half a second
  writer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&writer, &QTimer::timeout, [&] {
    Bytes piece;
    for (auto i = sent.size(); i < static_cast<std::size_t>(clock.elapsed()) * 12; ++i)
      piece.push_back(static_cast<std::uint8_t>(i % 251));
    if (pty_.WriteMaster(piece)) sent.insert(sent.end(), piece.begin(), piece.end());
  });
  writer.start(1);
  (void)WaitFor([] { return false; }, milliseconds(500));
  writer.stop();
  ASSERT_TRUE(WaitFor([&] { return received_.size() >= sent.size(); }));
  EXPECT_EQ(received_, sent);
  EXPECT_GT(sent.size(), 4000u) << "the writer kept the line busy";
  EXPECT_LE(events, 500 / 25 + 5) << "at most one receive event per interval";
  EXPECT_TRUE(LoopStaysIdle()) << "quiet again afterwards";

  (void)WaitFor([] { return false; }, milliseconds(60));
  received_.clear();
  events = 0;
  ASSERT_TRUE(pty_.WriteMaster(Hex("02 02 06 12 34 00 03")));
  EXPECT_TRUE(WaitFor([&] { return received_ == Hex("02 02 06 12 34 00 03"); }, milliseconds(20)));
  EXPECT_EQ(events, 1);
}

TEST_F(QtSerialPortTest, LostDeviceStaysOpenWithoutSpinningUntilClosedThenComesBack) {
  ASSERT_TRUE(Connect(pty_.slave_path()));
  // The device vanishes with bytes on their way both ways, and more writes follow, each after the
  // event loop has run, once it is gone.
  ASSERT_TRUE(pty_.WriteMaster(Hex("02 03 A0 50 00")));
  pty_.CloseMaster();
  for (int i = 0; i < 50; ++i) {
    port_.Output(Hex("02 01 06 00 2B 03"));
    QCoreApplication::processEvents();
  }
  ASSERT_TRUE(WaitFor([&] { return port_.device_lost(); })) << "loss never noticed";
  port_.Output(Hex("02 01 06 00 2B 03"));
  EXPECT_EQ(failures_, std::vector<PortErrorKind>{PortErrorKind::kLost}) << "said once";
  port_.SetSettings("19200,N,8,1");
  EXPECT_TRUE(LoopStaysIdle());
  EXPECT_TRUE(port_.IsOpen()) << "the program's disconnect needs the port to report open";

  port_.Close();

  // Plugged in again, mapped as the operator would: the same port object works.
  PtyPair fresh;
  ASSERT_TRUE(Connect(fresh.slave_path(), "garbage"));
  EXPECT_EQ(RoundTrip(fresh), Hex("02 01 06 00 2B 03"));
  ASSERT_TRUE(fresh.WriteMaster(Hex("02 02 06 12 34 00 03")));
  EXPECT_TRUE(WaitFor([&] { return received_ == Hex("02 02 06 12 34 00 03"); }));
  EXPECT_EQ(StateOf(fresh).first, B19200) << "settings given while lost apply at this open";
}

TEST_F(QtSerialPortTest, OnlyAFailedReadOrWriteOnTheOpenDeviceMarksItLost) {
  ASSERT_TRUE(Connect(pty_.slave_path()));
  for (const auto error :
       {QSerialPort::UnsupportedOperationError, QSerialPort::TimeoutError,
        QSerialPort::UnknownError, QSerialPort::NotOpenError, QSerialPort::PermissionError,
        QSerialPort::OpenError, QSerialPort::DeviceNotFoundError}) {
    emit port_.qt_port().errorOccurred(error);
    EXPECT_FALSE(port_.device_lost()) << error;
  }
  for (const auto fatal :
       {QSerialPort::ResourceError, QSerialPort::ReadError, QSerialPort::WriteError}) {
    emit port_.qt_port().errorOccurred(fatal);
    EXPECT_TRUE(port_.device_lost()) << fatal;
    port_.Close();
    emit port_.qt_port().errorOccurred(fatal);  // no news while closed
    EXPECT_FALSE(port_.device_lost()) << fatal;
    ASSERT_TRUE(Connect(pty_.slave_path()));
  }
}

TEST_F(QtSerialPortTest, OnlyATerminalOfRootOrThisUserIsOpenedAnythingElseSaysWhy) {
  ASSERT_TRUE(pty_.ok());
  const test::TempFolder folder;
  const std::string plain = (folder.path() / "plain").string();
  const std::string fifo = (folder.path() / "fifo").string();
  const std::string link = (folder.path() / "by-id-link").string();
  test::WriteBytes(plain, "not a line");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(symlink(pty_.slave_path().c_str(), link.c_str()), 0);
  const std::pair<std::string, std::string> refused[] = {
      {plain, "a regular file, not a serial device"},
      {folder.path().string(), "a folder, not a serial device"},
      {fifo, "a FIFO, not a serial device"},
      {"/dev/null", "not a terminal"},  // a character device of root, but no terminal
  };
  for (const auto& [device, reason] : refused) {
    EXPECT_FALSE(Connect(device)) << device;
    EXPECT_EQ(port_.last_error().kind, PortErrorKind::kNotATerminal) << device;
    EXPECT_EQ(port_.last_error().text, device + ": " + reason);
  }
  EXPECT_EQ(test::ReadBytes(plain), "not a line");
  // A link to a terminal of this user is judged by what it leads to, and taken.
  ASSERT_TRUE(Connect(link)) << port_.last_error().text;
  port_.Close();

  if (geteuid() != 0) GTEST_SKIP() << "needs root to take another user's part";
  // A device this user may not open (a pty slave is the owner's alone, mode 0620).
  ASSERT_EQ(chmod(pty_.slave_path().c_str(), 0600), 0);
  AsNobody([this] { EXPECT_FALSE(Connect(pty_.slave_path())); });
  EXPECT_EQ(port_.last_error().kind, PortErrorKind::kPermission) << port_.last_error().text;
  // Another user's pty, by name or by a link: that user plays the far end.
  ASSERT_EQ(chown(pty_.slave_path().c_str(), kNobody->pw_uid, -1), 0);
  const AtScopeEnd give_back(
      nullptr, [this](void*) { EXPECT_EQ(chown(pty_.slave_path().c_str(), 0, -1), 0); });
  for (const std::string& device : {pty_.slave_path(), link}) {
    EXPECT_FALSE(Connect(device)) << device;
    EXPECT_EQ(port_.last_error().kind, PortErrorKind::kUntrustedDevice) << device;
    EXPECT_EQ(port_.last_error().text, device + ": belongs to user nobody");
  }
  // The same pty is that user's own when the program runs as that user; a good open clears the
  // reason, and failed opens are no failures of an open port.
  AsNobody([this] { EXPECT_TRUE(Connect(pty_.slave_path())) << port_.last_error().text; });
  EXPECT_FALSE(port_.last_error());
  EXPECT_TRUE(failures_.empty());
  port_.Close();
}

// Another operator's cat on the same line takes each byte before this program can.
TEST_F(QtSerialPortTest, AnotherReaderOfTheLineIsSaidAsSuchNotAsALostDevice) {
  ASSERT_TRUE(Connect(pty_.slave_path()));
  // The pair's own slave descriptor plays the other program, waiting in read() as cat does.
  std::atomic<bool> stop{false}, ended{false};
  std::thread reader([&] {
    char buffer[256];
    while (!stop && read(pty_.slave_fd(), buffer, sizeof buffer) >= 0) {
    }
    ended = true;
  });
  const bool said = WaitFor(
      [&] {
        pty_.WriteMaster(Hex("02 02 06 12 34 00 03"));
        return !failures_.empty();
      },
      5000ms);
  stop = true;
  while (!ended) {  // wakes the reader
    pty_.WriteMaster(Hex("00"));
    std::this_thread::sleep_for(5ms);
  }
  reader.join();
  ASSERT_TRUE(said) << "the other reader never took bytes first";
  EXPECT_EQ(failures_, std::vector<PortErrorKind>{PortErrorKind::kBusy});
  EXPECT_NE(port_.last_error().text.find("another program is reading COM1"), std::string::npos)
      << port_.last_error().text;
}

// A lock file in the shared lock folder naming a live process that does not have the device open
// (a squat): the program that owns the line takes it over, a window only names it. A stale lock
// another user may not remove: the window names the file to remove, the owner hands it on.
TEST_F(QtSerialPortTest, ASquatIsTakenOverByTheLinesOwnerOnlyAndAHolderIsNamedAsEver) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to write the lock folder and play two users";
  ASSERT_TRUE(pty_.ok());  // keeps the slave open: this process has the device open
  const std::string device = pty_.slave_path();
  const fs::path lock = "/run/lock/" + PortLockFileName(device);
  ASSERT_FALSE(fs::exists(lock));
  const pid_t sleeper = fork();
  if (sleeper == 0) {
    // Nothing of this process's carried over: the pty's descriptors would make it a holder.
    for (int fd = 3; fd < 1024; ++fd)
      close(fd);
    execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(sleeper, 0);
  const AtScopeEnd end(nullptr, [&](void*) {
    kill(sleeper, SIGKILL);
    waitpid(sleeper, nullptr, 0);
    std::error_code ec;
    fs::remove(lock, ec);
  });
  for (int i = 0;
       i < 200 && test::ReadBytes("/proc/" + std::to_string(sleeper) + "/comm") != "sleep\n"; ++i)
    usleep(10'000);
  const auto lock_pid = [&lock] {
    const std::string text = test::ReadBytes(lock);
    return text.substr(0, text.find('\n'));
  };

  std::vector<std::string> said, beyond_reach;
  QtSerialPort window([&](int) { return device; });
  QtSerialPort service([&](int) { return device; });
  const auto reach = [&](const PortLockHolder& lock, const std::string& why) {
    beyond_reach.push_back(std::to_string(lock.pid) + ": " + why);
  };
  service.TakeOverSquattedLocks(reach, "what root did");
  const Connection say =
      service.said().Connect([&](const std::string& text) { said.push_back(text); });
  const std::string by_sleep = "process " + std::to_string(sleeper) + " (sleep, user root)";

  // The window names the squatter as it names any holder. (Written as QLockFile writes one, so
  // that Qt itself does not take it for stale.)
  test::WriteBytes(lock, std::to_string(sleeper) + "\nsleep\nelsewhere\n");
  window.Open();
  EXPECT_EQ(window.last_error().kind, PortErrorKind::kBusy);
  EXPECT_EQ(window.last_error().text, device + ": in use by " + by_sleep);

  // Looked into as another user, root's sleep may hold anything: named, not taken, and handed on
  // to whoever may look.
  AsNobody([&] { service.Open(); }, device);
  EXPECT_EQ(service.last_error().kind, PortErrorKind::kBusy);
  EXPECT_EQ(said, std::vector<std::string>{"what root did"});  // at the first open only
  EXPECT_EQ(beyond_reach, std::vector<std::string>{std::to_string(sleeper) +
                                                   ": this user may not look into process " +
                                                   std::to_string(sleeper)});

  // The service takes it over: said, opened, and the lock is now its own.
  service.Open();
  ASSERT_TRUE(service.IsOpen()) << service.last_error().text;
  ASSERT_EQ(said.size(), 2u);
  EXPECT_EQ(said[1], "the lock " + lock.string() + " of " + by_sleep +
                         ", which did not have the device open, was taken over");
  EXPECT_EQ(beyond_reach.size(), 1u);
  EXPECT_EQ(lock_pid(), std::to_string(getpid()));

  // A real holder (the service, which has the device open) is named, not taken.
  QtSerialPort second([&](int) { return device; });
  second.TakeOverSquattedLocks(reach);
  const Connection second_says =
      second.said().Connect([&](const std::string& text) { said.push_back(text); });
  second.Open();
  EXPECT_EQ(second.last_error().kind, PortErrorKind::kBusy);
  EXPECT_EQ(said.size(), 2u);
  EXPECT_EQ(beyond_reach.size(), 1u);
  service.Close();
  EXPECT_FALSE(fs::exists(lock));

  // Root's stale lock in the sticky lock folder, which nobody may not remove: the window names
  // the file to remove, the service hands it on; root may remove it, and QSerialPort does.
  const pid_t ended = fork();  // takes the lock as QSerialPort would and ends without removing it
  if (ended == 0) _exit(QLockFile(QString::fromStdString(lock.string())).tryLock(0) ? 0 : 1);
  int status = -1;
  ASSERT_EQ(waitpid(ended, &status, 0), ended);
  ASSERT_TRUE(status == 0 && fs::exists(lock));
  AsNobody([&] { window.Open(); }, device);
  EXPECT_EQ(window.last_error().kind, PortErrorKind::kStaleLock);
  EXPECT_NE(window.last_error().text.find("remove " + lock.string()), std::string::npos);
  AsNobody([&] { service.Open(); }, device);
  EXPECT_EQ(beyond_reach.back(), std::to_string(ended) + ": Operation not permitted");
  ASSERT_TRUE(fs::exists(lock));
  window.Open();
  EXPECT_TRUE(window.IsOpen()) << window.last_error().text;
  window.Close();
}

}  // namespace
}  // namespace orv
