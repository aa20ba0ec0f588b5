#include <gtest/gtest.h>

#include <vector>

#include "link/frame.h"
#include "link/link.h"
#include "platform/fake_serial_port.h"

namespace orv {
namespace {

// Drives the link as connection management does: open the port, set PortConnected and step 1.
class PollTest : public ::testing::Test {
 protected:
  PollTest() : link_(port_, shared_) {}

  void Connect() {
    port_.Open();
    link_.receiver().ResetRing();
    shared_.PortConnected = true;
    link_.scheduler().set_poll_step(PollScheduler::kFaultImageStep);
  }
  void Disconnect() {
    link_.scheduler().set_poll_step(PollScheduler::kIdle);
    port_.Close();
    shared_.PortConnected = false;
  }
  void ChangePage(std::int16_t page) {
    shared_.TriggerBankPage = page;
    link_.scheduler().set_poll_step(static_cast<std::int16_t>(page + 2));
  }
  // Ticks until `count` more frames were written; returns their command bytes and checks that
  // every frame came exactly 11 ticks after the previous one.
  std::vector<int> NextCommands(int count) {
    std::vector<int> commands;
    int ticks_since = 0;
    while (static_cast<int>(commands.size()) < count) {
      const std::size_t before = port_.writes().size();
      link_.Tick();
      ++ticks_since;
      EXPECT_LE(port_.writes().size(), before + 1) << "more than one frame in a tick";
      if (port_.writes().size() > before) {
        if (first_seen_) {
          EXPECT_EQ(ticks_since, 11);
        }
        first_seen_ = true;
        ticks_since = 0;
        commands.push_back(port_.writes().back()[2]);
      }
      if (ticks_since > 50) {
        ADD_FAILURE() << "no frame for 50 ticks";
        break;
      }
    }
    return commands;
  }

  FakeSerialPort port_;
  SharedState shared_;
  Link link_;
  bool first_seen_ = false;
};

TEST_F(PollTest, ShownPageZeroSequenceFromFreshConnection) {
  Connect();
  link_.Tick();
  ASSERT_EQ(port_.writes().size(), 1u) << "command 6 must go out on the first tick";
  EXPECT_EQ(port_.writes()[0][2], 6);
  first_seen_ = true;
  const std::vector<int> rest = NextCommands(22);
  const std::vector<int> expected = {8, 9, 6, 8, 7, 6, 8,  10, 6, 8, 8,
                                     9, 6, 8, 7, 6, 8, 10, 6,  8, 8, 9};
  EXPECT_EQ(rest, expected);
}

TEST_F(PollTest, ShownPageTwoSequenceFromFreshConnection) {
  ChangePage(2);
  Connect();
  EXPECT_EQ(NextCommands(13), (std::vector<int>{6, 7, 9, 6, 7, 7, 10, 6, 7, 8, 6, 7, 9}));
}

TEST_F(PollTest, PageChangesMakeTheNextSlotAskForTheNewPage) {
  Connect();
  EXPECT_EQ(NextCommands(2), (std::vector<int>{6, 8}));  // rotation now 1
  ChangePage(1);  // its request, then the rotation's next page (2: command 7), then 6
  EXPECT_EQ(NextCommands(5), (std::vector<int>{9, 7, 6, 9, 10}));
  ChangePage(0);  // the rotation (3) moves on to 0, the new page: its request twice in a row
  EXPECT_EQ(NextCommands(4), (std::vector<int>{8, 8, 9, 6}));
}

TEST_F(PollTest, NothingIsSentOrChangedWhileDisconnected) {
  for (int i = 0; i < 40; ++i)
    link_.Tick();
  EXPECT_TRUE(port_.writes().empty());
  EXPECT_EQ(port_.rejected_writes(), 0);
  EXPECT_EQ(link_.scheduler().poll_step(), 0);
  EXPECT_EQ(link_.scheduler().poll_delay(), 0);
  EXPECT_EQ(link_.scheduler().poll_rotation(), 0);
}

TEST_F(PollTest, DisconnectFreezesCountersAndReconnectKeepsRotation) {
  Connect();
  EXPECT_EQ(NextCommands(3), (std::vector<int>{6, 8, 9}));
  for (int i = 0; i < 4; ++i)
    link_.Tick();  // part way to the next slot
  const auto delay = link_.scheduler().poll_delay();
  const auto rotation = link_.scheduler().poll_rotation();
  Disconnect();
  const std::size_t written = port_.writes().size();
  for (int i = 0; i < 100; ++i)
    link_.Tick();
  EXPECT_EQ(port_.writes().size(), written);
  EXPECT_EQ(port_.rejected_writes(), 0);
  EXPECT_EQ(link_.scheduler().poll_delay(), delay);
  EXPECT_EQ(link_.scheduler().poll_rotation(), rotation);
  EXPECT_EQ(link_.scheduler().poll_step(), 0);

  Connect();
  first_seen_ = false;
  // The cycle restarts at 6 but the rotation continues: 8 then 7 (not 9 again).
  EXPECT_EQ(NextCommands(3), (std::vector<int>{6, 8, 7}));
}

TEST_F(PollTest, RepliesAreDispatchedBeforeTheSlotSendsAndAlsoWhileDisconnected) {
  std::vector<std::size_t> writes_at_dispatch;
  DispatchHandlers h;
  h.fault_image = [&](std::uint8_t, std::uint8_t) {
    writes_at_dispatch.push_back(port_.writes().size());
  };
  link_.SetDispatchHandlers(h);
  port_.Open();
  port_.Deliver(EncodeFrame(6, Bytes{0x01, 0x00}));
  link_.Tick();
  Connect();
  port_.Deliver(EncodeFrame(6, Bytes{0x01, 0x00}));
  link_.Tick();
  EXPECT_EQ(writes_at_dispatch, (std::vector<std::size_t>{0, 0}));
  EXPECT_EQ(port_.writes().size(), 1u);
}

TEST_F(PollTest, RedrawRunsAtMostOncePerTickAndOnlyWhenAsked) {
  int redraws = 0;
  bool poll_done_before_redraw = false;
  link_.SetRefreshHandler([&] {
    ++redraws;
    poll_done_before_redraw = !port_.writes().empty();
  });
  DispatchHandlers h;
  h.trigger_status_reply = [&](std::uint8_t) { shared_.RefreshTriggers = true; };
  link_.SetDispatchHandlers(h);
  Connect();
  link_.Tick();
  EXPECT_EQ(redraws, 0);
  port_.Deliver(EncodeFrame(8, Bytes(10, 0)));
  port_.Deliver(EncodeFrame(8, Bytes(10, 0)));
  port_.Deliver(EncodeFrame(8, Bytes(10, 0)));
  link_.Tick();
  EXPECT_EQ(redraws, 1);
  EXPECT_FALSE(shared_.RefreshTriggers);
  link_.Tick();
  EXPECT_EQ(redraws, 1);

  // On a slot tick the poll goes out before the redraw.
  for (int i = 0; i < 8; ++i)
    link_.Tick();
  port_.Deliver(EncodeFrame(8, Bytes(10, 0)));
  const std::size_t before = port_.writes().size();
  link_.Tick();
  ASSERT_EQ(port_.writes().size(), before + 1);
  EXPECT_EQ(redraws, 2);
  EXPECT_TRUE(poll_done_before_redraw);
}

}  // namespace
}  // namespace orv
