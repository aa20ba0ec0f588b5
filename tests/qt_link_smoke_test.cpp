#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "link/frame.h"
#include "link/link.h"
#include "platform/qt/qt_serial_port.h"
#include "tests/pty_pair.h"
#include "tests/qt_wait.h"
#include "tests/test_util.h"

namespace orv {
namespace {

using test::Hex;

// The link core on the real port binding, with a pty as the controller's end of the line.
TEST(QtLinkSmoke, PollGoesOutAndTheReplyIsDispatchedAtTheNextTick) {
  test::PtyPair pty;
  ASSERT_TRUE(pty.ok());
  QtSerialPort port([&](int n) { return n == 1 ? pty.slave_path() : std::string(); });
  SharedState shared;
  Link link(port, shared);

  std::vector<std::array<std::uint8_t, 2>> fault_images;
  DispatchHandlers handlers;
  handlers.fault_image = [&](std::uint8_t d0, std::uint8_t d1) {
    fault_images.push_back({d0, d1});
  };
  link.SetDispatchHandlers(std::move(handlers));

  port.SetCommPort(1);
  port.SetHandshakingNone();
  port.SetSettings("9600,N,8,1");
  port.Open();
  ASSERT_TRUE(port.IsOpen());
  link.receiver().ResetRing();
  shared.PortConnected = true;
  link.scheduler().set_poll_step(PollScheduler::kFaultImageStep);

  // A dozen ticks: the fault image request on the first, the next slot's request on the 12th.
  for (int tick = 0; tick < 12; ++tick) {
    link.Tick();
    QCoreApplication::processEvents();
  }
  const Bytes expected = test::Concat({Hex("02 01 06 00 2B 03"), EncodeFrame(cmd::kEmgStatus, {})});
  EXPECT_EQ(test::ReadMasterWhilePumping(pty, expected.size()), expected);

  const std::array<std::uint8_t, 2> image{0x12, 0x34};
  const Bytes reply = EncodeFrame(cmd::kFaultImage, image);
  ASSERT_TRUE(pty.WriteMaster(reply));
  ASSERT_TRUE(test::WaitFor(
      [&] { return link.receiver().rx_ring_write() == static_cast<std::int16_t>(reply.size()); }));
  EXPECT_TRUE(fault_images.empty()) << "parsed in the receive event instead of the tick";

  link.Tick();
  ASSERT_EQ(fault_images.size(), 1u);
  EXPECT_EQ(fault_images[0], image);

  // Noise and a damaged copy around a second reply: only the good frame counts.
  Bytes damaged = reply;
  damaged[4] ^= 0x01;
  const std::array<std::uint8_t, 2> second{0x00, 0x80};
  const Bytes burst = test::Concat({Hex("FF 00"), damaged, EncodeFrame(cmd::kFaultImage, second)});
  ASSERT_TRUE(pty.WriteMaster(burst));
  ASSERT_TRUE(test::WaitFor([&] {
    return link.receiver().rx_ring_write() ==
           static_cast<std::int16_t>(reply.size() + burst.size());
  }));
  link.Tick();
  ASSERT_EQ(fault_images.size(), 2u);
  EXPECT_EQ(fault_images[1], second);

  port.Close();
  EXPECT_FALSE(port.IsOpen());
}

}  // namespace
}  // namespace orv
