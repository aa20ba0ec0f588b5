// The built simulator as a child process on a real pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "tests/sim_process.h"
#include "tests/test_util.h"

namespace orv {
namespace {

using test::Clock;
using test::Hex;
using test::RemainingMs;
using test::SimProcess;
constexpr std::chrono::seconds kDeadline{5};

// The panel's side of the line: the link opened raw, as the program opens its port.
class Port {
 public:
  explicit Port(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    termios tio{};
    if (fd_ >= 0 && tcgetattr(fd_, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(fd_, TCSANOW, &tio);
    }
  }
  ~Port() {
    if (fd_ >= 0) close(fd_);
  }
  bool is_open() const { return fd_ >= 0; }
  void Write(const Bytes& bytes) {
    ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Reads until count bytes have come or the deadline passes.
  Bytes Read(std::size_t count) {
    const Clock::time_point deadline = Clock::now() + kDeadline;
    Bytes got;
    while (got.size() < count) {
      pollfd fd{fd_, POLLIN, 0};
      if (poll(&fd, 1, RemainingMs(deadline)) <= 0) break;
      std::uint8_t buffer[256];
      const ssize_t n = read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
      if (n > 0) got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }

 private:
  int fd_;
};

class SimProcessTest : public ::testing::Test {
 protected:
  SimProcessTest() {
    char pattern[] = "/tmp/orv-sim-test-XXXXXX";
    if (mkdtemp(pattern) != nullptr) dir_ = pattern;
    link_ = dir_ + "/port";
  }
  ~SimProcessTest() override {
    unlink(link_.c_str());
    rmdir(dir_.c_str());
  }
  bool LinkExists() const {
    struct stat info {};
    return lstat(link_.c_str(), &info) == 0;
  }

  std::string dir_;
  std::string link_;
};

TEST_F(SimProcessTest, AnswersAPollOverThePtyAndRemovesItsLinkOnSigterm) {
  SimProcess sim({"--link", link_, "--report-interval", "0"});
  ASSERT_TRUE(sim.started());
  ASSERT_TRUE(sim.WaitForOutput("ready")) << sim.output();
  ASSERT_TRUE(LinkExists());
  {
    Port port(link_);
    ASSERT_TRUE(port.is_open());
    port.Write(Hex("02 01 06 00 2B 03"));
    EXPECT_EQ(port.Read(7), Hex("02 02 06 00 00 03 03"));
  }
  // The port closed and opened again, as the program does on disconnect and connect.
  Port again(link_);
  again.Write(Hex("02 01 16 01 99 03"));
  EXPECT_EQ(again.Read(8), Hex("02 03 A0 11 00 00 A3 03"));
  EXPECT_TRUE(sim.WaitForOutput("TX 02 03 A0 11 00 00 A3 03  report EMG")) << sim.output();
  EXPECT_NE(sim.output().find("RX 02 01 06 00 2B 03  poll fault image"), std::string::npos);
  EXPECT_NE(sim.output().find("TX 02 02 06 00 00 03 03  fault image: none"), std::string::npos);

  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.WaitForExit(), 0);
  EXPECT_FALSE(LinkExists());
}

TEST_F(SimProcessTest, ConsoleLinesReachTheLineAndQuitEndsTheRun) {
  SimProcess sim({"--link", link_, "--quiet-reports"});
  ASSERT_TRUE(sim.WaitForOutput("ready")) << sim.output();
  Port port(link_);
  ASSERT_TRUE(port.is_open());
  sim.Type("fault 1 on");
  EXPECT_EQ(port.Read(16), Hex("02 03 A0 50 10 00 D5 03 02 03 A0 21 10 00 91 03"));
  sim.Type("quit");
  EXPECT_EQ(sim.WaitForExit(), 0);
  EXPECT_FALSE(LinkExists());
}

TEST_F(SimProcessTest, StaleLinkIsReplacedAndSigintAlsoCleansUp) {
  ASSERT_EQ(symlink("/nonexistent/pts", link_.c_str()), 0);
  SimProcess sim({"--link", link_, "--report-interval", "0"});
  ASSERT_TRUE(sim.WaitForOutput("ready")) << sim.output();
  Port port(link_);
  EXPECT_TRUE(port.is_open());
  sim.Signal(SIGINT);
  EXPECT_EQ(sim.WaitForExit(), 0);
  EXPECT_FALSE(LinkExists());
}

TEST_F(SimProcessTest, PathHoldingAFileIsLeftAloneAndTheRunFails) {
  std::ofstream(link_) << "keep me";
  SimProcess sim({"--link", link_});
  EXPECT_EQ(sim.WaitForExit(), 1);
  std::ifstream kept(link_);
  std::string text;
  std::getline(kept, text);
  EXPECT_EQ(text, "keep me");
}

TEST_F(SimProcessTest, BadCommandLineExitsWithUsageError) {
  SimProcess sim({"--link", link_, "--settings", "9600,Q,8,1"});
  EXPECT_EQ(sim.WaitForExit(), 2);
  EXPECT_FALSE(LinkExists());
}

}  // namespace
}  // namespace orv
