#include <gtest/gtest.h>

#include <vector>

#include "link/frame.h"
#include "link/link.h"
#include "tests/support/fake_serial_port.h"

namespace orv {
namespace {

using Commands = std::vector<int>;

// Drives the link as connection management does.
class PollTest : public ::testing::Test {
 protected:
  PollTest() : link_(port_) {
    link_.SetShownPageSource([this] { return shown_page_; });
  }
  void Connect() {
    port_.Open();
    link_.SetPortConnected(true);
    link_.scheduler().set_poll_step(PollScheduler::kFaultImageStep);
  }
  void ChangePage(std::int16_t page) {
    shown_page_ = page;
    link_.scheduler().set_poll_step(static_cast<std::int16_t>(page + 2));
  }
  // Ticks until `count` more frames went out (giving up after 50 quiet ticks) and returns their
  // command bytes; checks that at most one goes out a tick, each `gap_` ticks after the last.
  Commands NextCommands(int count) {
    Commands commands;
    for (int ticks = 1; static_cast<int>(commands.size()) < count && ticks <= 50; ++ticks) {
      const std::size_t before = port_.writes().size();
      link_.Tick();
      if (port_.writes().size() == before) continue;
      EXPECT_EQ(port_.writes().size(), before + 1);
      EXPECT_EQ(ticks, gap_) << "frame " << commands.size();
      commands.push_back(port_.writes().back()[2]);
      gap_ = 11;
      ticks = 0;
    }
    return commands;
  }

  FakeSerialPort port_;
  Link link_;
  std::int16_t shown_page_ = 0;
  int gap_ = 1;  // a fresh connection polls on its first tick
};

TEST_F(PollTest, ShownPageZeroSequenceFromAFreshConnection) {
  Connect();
  EXPECT_EQ(NextCommands(23),
            (Commands{6, 8, 9, 6, 8, 7, 6, 8, 10, 6, 8, 8, 9, 6, 8, 7, 6, 8, 10, 6, 8, 8, 9}));
}

TEST_F(PollTest, ShownPageTwoSequenceFromAFreshConnection) {
  ChangePage(2);
  Connect();
  EXPECT_EQ(NextCommands(13), (Commands{6, 7, 9, 6, 7, 7, 10, 6, 7, 8, 6, 7, 9}));
}

TEST_F(PollTest, PageChangesMakeTheNextSlotAskForTheNewPage) {
  Connect();
  EXPECT_EQ(NextCommands(2), (Commands{6, 8}));  // rotation now 1
  ChangePage(1);  // its request, then the rotation's next page (2: command 7), then 6
  EXPECT_EQ(NextCommands(5), (Commands{9, 7, 6, 9, 10}));
  ChangePage(0);  // the rotation (3) moves on to 0, the new page: its request twice in a row
  EXPECT_EQ(NextCommands(4), (Commands{8, 8, 9, 6}));
}

TEST_F(PollTest, NothingGoesOutWhileDisconnectedAndReconnectKeepsDelayAndRotation) {
  Connect();
  EXPECT_EQ(NextCommands(3), (Commands{6, 8, 9}));
  for (int i = 0; i < 4; ++i)
    link_.Tick();  // part way to the next slot
  link_.scheduler().set_poll_step(PollScheduler::kIdle);
  port_.Close();
  link_.SetPortConnected(false);
  for (int i = 0; i < 100; ++i)
    link_.Tick();
  EXPECT_EQ(port_.writes().size(), 3u);
  EXPECT_EQ(port_.rejected_writes(), 0);
  EXPECT_EQ(link_.scheduler().poll_step(), 0);
  Connect();
  gap_ = 7;  // the frozen delay: what was left of the 11 ticks
  EXPECT_EQ(NextCommands(3), (Commands{6, 8, 7})) << "restarts at 6, the rotation goes on";
}

// Replies are dispatched before the slot sends, also while disconnected; every status reply says
// which page it wrote.
TEST_F(PollTest, RepliesAreDispatchedBeforeThePollAndStatusRepliesNameTheirPage) {
  std::vector<std::size_t> writes_at_dispatch;
  std::vector<int> pages;
  const Connection lamps = link_.fault_lamps_changed().Connect(
      [&](FaultLamps) { writes_at_dispatch.push_back(port_.writes().size()); });
  const Connection states =
      link_.trigger_states_updated().Connect([&](int page) { pages.push_back(page); });
  port_.Open();
  port_.Deliver(EncodeFrame(6, Bytes{0x01, 0x00}));
  link_.Tick();
  Connect();
  for (int tick = 1; tick <= 12; ++tick) {  // polls on ticks 1 and 12
    if (tick == 1) port_.Deliver(EncodeFrame(6, Bytes{0x01, 0x00}));
    if (tick == 2) {
      for (const std::uint8_t command : {8, 9, 7, 10, 11})
        port_.Deliver(EncodeFrame(command, Bytes(15, 0)));
    }
    link_.Tick();
  }
  EXPECT_EQ(writes_at_dispatch, (std::vector<std::size_t>{0, 0}));
  EXPECT_EQ(pages, (std::vector<int>{0, 1, 2, 3})) << "command 11 is no page's reply";
}

}  // namespace
}  // namespace orv
