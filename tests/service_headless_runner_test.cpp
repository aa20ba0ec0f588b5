// The headless mode's logic over a fake port: its retry schedule, what it says (once per change),
// and how it takes a lost device back.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "link/frame.h"
#include "service/headless_runner.h"
#include "tests/form_fixture.h"

namespace orv {
namespace {

class HeadlessRunnerTest : public test::FormTest {
 protected:
  HeadlessRunnerTest() {
    journal_options_.clock = [] { return JournalTime{1796601600000, 3600}; };
  }
  // Loads the window, runs what is given, then starts the runner.
  void StartRunner(const std::function<void()>& before_start = {}) {
    form_ = std::make_unique<MainForm>(MainFormEnvironment{
        port_, program_folder_,
        [this](const std::string& text, const std::string&, MessageIcon icon) {
          messages_.push_back({text, "", icon});
        },
        [this] { return now_; }, [this](const Notice& n) { notices_.push_back(n); }, true,
        journal_options_});
    runner_ = std::make_unique<HeadlessRunner>(
        *form_, port_, [this](const std::string& line) { lines_.push_back(line); });
    form_->Form_Load();
    if (before_start) before_start();
    runner_->Start();
  }
  // Ticks until the port is opened once more; how many ticks that took (-1: not within limit).
  int TicksToNextOpen(int limit = 1000) {
    const int opens = port_.open_count();
    for (int t = 1; t <= limit; ++t) {
      runner_->Tick();
      if (port_.open_count() != opens) return t;
    }
    return -1;
  }
  long LinesWith(const std::string& text) const {
    return std::count_if(lines_.begin(), lines_.end(),
                         [&](const std::string& line) { return line.find(text) != line.npos; });
  }

  std::unique_ptr<HeadlessRunner> runner_;
  std::vector<std::string> lines_;
};

TEST_F(HeadlessRunnerTest, AMissingPortIsTriedAfter5ThenDoublingTo60SecondsAndSaidOnce) {
  port_.set_refuse_open(true, PortErrorKind::kNotFound);
  StartRunner();
  EXPECT_FALSE(runner_->connected());
  std::vector<int> waits;
  for (int i = 0; i < 7; ++i)
    waits.push_back(TicksToNextOpen());
  EXPECT_EQ(waits, (std::vector<int>{50, 100, 200, 400, 600, 600, 600}));
  EXPECT_EQ(LinesWith("Com Port Fail!: COM1 (fake1) 9600,N,8,1: device not found"), 1);
  EXPECT_EQ(LinesWith("Trying again in 5 s"), 1);

  // Another reason is another change, said once more.
  port_.set_refuse_open(true, PortErrorKind::kBusy);
  ASSERT_EQ(TicksToNextOpen(), 600);
  ASSERT_EQ(TicksToNextOpen(), 600);
  EXPECT_EQ(LinesWith("device in use"), 1);

  port_.set_refuse_open(false);
  ASSERT_EQ(TicksToNextOpen(), 600);
  EXPECT_TRUE(runner_->connected());
  EXPECT_EQ(LinesWith("link Connected: COM1 (fake1) 9600,N,8,1"), 1);
  // Connected, it polls and does not open again.
  EXPECT_EQ(TicksToNextOpen(200), -1);
  EXPECT_FALSE(port_.writes().empty());
}

// What a port says on its own (a server held back, a lock taken over) is no failure: a notice and
// a record, and the line stays as it is. A lost device is.
TEST_F(HeadlessRunnerTest, WhatThePortSaysLeavesTheLineALostDeviceIsOpenedAgainFromTheFirstWait) {
  StartRunner();
  ASSERT_TRUE(runner_->connected());
  port_.Say("held back");
  runner_->Tick();
  EXPECT_TRUE(runner_->connected());
  EXPECT_EQ(LinesWith("link Port: COM1 (fake1) 9600,N,8,1: held back"), 1);
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(std::tuple(notices_[0].level, notices_[0].text),
            std::tuple(NoticeLevel::kWarning, "COM1: held back"));
  EXPECT_EQ(LinesWith("Trying again"), 0);

  port_.LoseDevice();
  // The window says it once and stays connected until the runner (or the operator) disconnects.
  EXPECT_TRUE(form_->link().port_connected() && messages_.empty());
  ASSERT_EQ(notices_.size(), 2u);
  EXPECT_EQ(notices_[1].text.rfind("COM1: device lost (", 0), 0u) << notices_[1].text;
  port_.set_refuse_open(true, PortErrorKind::kNotFound);
  runner_->Tick();
  EXPECT_FALSE(runner_->connected());
  EXPECT_FALSE(port_.IsOpen());
  EXPECT_EQ(LinesWith("link Port failure: COM1"), 1);
  EXPECT_EQ(LinesWith("Trying again in 5 s"), 1);
  EXPECT_EQ(TicksToNextOpen(), 50);
  port_.set_refuse_open(false);
  EXPECT_EQ(TicksToNextOpen(), 100);
  EXPECT_TRUE(runner_->connected());
  EXPECT_EQ(LinesWith("link Connected:"), 2);
}

TEST_F(HeadlessRunnerTest, PrintsEventsLinkChangesAndStartAndStopButNotTheSupervisionPair) {
  StartRunner();
  port_.Deliver(EncodeFrame(0xA0, Bytes{0x12, 0x00, 0x00}));
  runner_->Tick();
  runner_->Stop();
  EXPECT_FALSE(port_.IsOpen());
  const std::string at = "2026-12-07T01:00:00+01:00 ";
  const std::string who = kWindowCaption + std::string(", user ") +
                          form_->journal()->Make(JournalKind::kProgram, "").login;
  EXPECT_EQ(lines_, (std::vector<std::string>{
                        at + "program Program started: " + who,
                        at + "link Connected: COM1 (fake1) 9600,N,8,1",
                        at + "event 12/04 05:21 Event = EMG Ack (Emergency acknowledged)",
                        at + "link Disconnected: COM1 (fake1) 9600,N,8,1",
                        at + "program Program stopped: " + who,
                    }));
}

// --port: the port of this run is used and never saved; a correction of start-up still is.
TEST_F(HeadlessRunnerTest, APortForThisRunIsUsedButNeverSaved) {
  std::filesystem::create_directories(program_folder_ / "SYSINI");
  test::WriteBytes(IniPath(), "[RS232Configure]\r\nComPort=2\r\nBaudRate=14400\r\n");
  StartRunner([this] { form_->UsePortForThisRun(7); });
  EXPECT_EQ(port_.comm_port(), 7);
  EXPECT_EQ(LinesWith("link Connected: COM7 (fake7) 9600,N,8,1"), 1);
  runner_->Stop();
  EXPECT_NE(test::ReadBytes(IniPath()).find("ComPort=2\r\nBaudRate=9600\r\n"), std::string::npos);
}

}  // namespace
}  // namespace orv
