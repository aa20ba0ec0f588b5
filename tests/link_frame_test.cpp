#include <gtest/gtest.h>

#include <string>

#include "link/crc8.h"
#include "link/frame.h"
#include "link/transmitter.h"
#include "platform/fake_serial_port.h"
#include "tests/test_util.h"

namespace orv {
namespace {

using test::Hex;

std::uint8_t CrcOver(const std::string& text, std::uint8_t init) {
  std::uint8_t crc = init;
  for (const char c : text)
    crc = Crc8Step(crc, static_cast<std::uint8_t>(c));
  return crc;
}

TEST(Crc8, CheckValuesProveTableAndInitialValue) {
  EXPECT_EQ(CrcOver("123456789", 0x00), 0xA1);  // standard CRC-8/MAXIM
  EXPECT_EQ(CrcOver("123456789", kCrcInit), 0x0B);
  EXPECT_EQ(Crc8Table[0], 0x00);
  EXPECT_EQ(Crc8Table[1], 0x5E);
  EXPECT_EQ(Crc8Table[2], 0xBC);
  EXPECT_EQ(Crc8Table[3], 0xE2);
  EXPECT_EQ(Crc8Table[255], 0x35);
}

struct FrameCase {
  const char* name;
  std::uint8_t command;
  Bytes data;
  const char* wire;
};

class FrameVectors : public ::testing::TestWithParam<FrameCase> {};

TEST_P(FrameVectors, SendFrameWritesExactBytesInOneWrite) {
  const FrameCase& c = GetParam();
  FakeSerialPort port;
  port.Open();
  Transmitter tx(port);
  switch (c.data.size()) {
    case 0:
      tx.SendFrame(c.command, {});
      break;
    case 1:
      tx.SendFrame(c.command, {c.data[0]});
      break;
    default:
      tx.SendFrame(c.command, {c.data[0], c.data[1]});
      break;
  }
  ASSERT_EQ(port.writes().size(), 1u);
  EXPECT_EQ(port.writes()[0], Hex(c.wire));
  EXPECT_EQ(EncodeFrame(c.command, c.data), Hex(c.wire));
}

INSTANTIATE_TEST_SUITE_P(
    MessageTable, FrameVectors,
    ::testing::Values(FrameCase{"poll6", 6, {0x00}, "02 01 06 00 2B 03"},
                      FrameCase{"poll7", 7, {}, "02 00 07 B6 03"},
                      FrameCase{"poll8", 8, {}, "02 00 08 F7 03"},
                      FrameCase{"poll9", 9, {}, "02 00 09 A9 03"},
                      FrameCase{"poll10", 10, {}, "02 00 0A 4B 03"},
                      FrameCase{"impedance", 24, {}, "02 00 18 6A 03"},
                      FrameCase{"key1", 22, {0x01}, "02 01 16 01 99 03"},
                      FrameCase{"emgTrigger1On", 19, {0x01, 0x01}, "02 02 13 01 01 E6 03"},
                      FrameCase{"emgTrigger5On", 19, {0x05, 0x01}, "02 02 13 05 01 DD 03"},
                      FrameCase{"busTrigger13Off", 20, {0x0D, 0x00}, "02 02 14 0D 00 8F 03"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Transmitter, PollCommandsMatchExampleFrames) {
  FakeSerialPort port;
  port.Open();
  Transmitter tx(port);
  for (const std::uint8_t c : {6, 7, 8, 9, 10})
    tx.SendPollCommand(c);
  ASSERT_EQ(port.writes().size(), 5u);
  EXPECT_EQ(port.writes()[0], Hex("02 01 06 00 2B 03"));
  EXPECT_EQ(port.writes()[1], Hex("02 00 07 B6 03"));
  EXPECT_EQ(port.writes()[2], Hex("02 00 08 F7 03"));
  EXPECT_EQ(port.writes()[3], Hex("02 00 09 A9 03"));
  EXPECT_EQ(port.writes()[4], Hex("02 00 0A 4B 03"));
}

TEST(Transmitter, StxAndEtxValuesInDataAreNotEscaped) {
  FakeSerialPort port;
  port.Open();
  Transmitter tx(port);
  tx.SendFrame(19, {0x02, 0x03});
  ASSERT_EQ(port.writes().size(), 1u);
  const Bytes& f = port.writes()[0];
  ASSERT_EQ(f.size(), 7u);
  EXPECT_EQ(f[3], 0x02);
  EXPECT_EQ(f[4], 0x03);
  EXPECT_EQ(f[5], Crc8Step(Crc8Step(Crc8Step(kCrcInit, 19), 0x02), 0x03));
}

TEST(Transmitter, ZeroCountAndOversizeCountSendNothing) {
  FakeSerialPort port;
  port.Open();
  Transmitter tx(port);
  tx.SendTxBuffer(0);
  tx.SendTxBuffer(-1);
  tx.SendTxBuffer(1202);
  EXPECT_TRUE(port.writes().empty());
  EXPECT_EQ(port.rejected_writes(), 0);
}

TEST(Transmitter, LaterShorterFrameLeavesTailOfBufferAlone) {
  FakeSerialPort port;
  port.Open();
  Transmitter tx(port);
  tx.SendFrame(19, {0x05, 0x01});      // 7 bytes
  tx.SendPollCommand(8);               // 5 bytes
  EXPECT_EQ(tx.tx_buffer()[5], 0xDD);  // old CRC byte still in place
  EXPECT_EQ(tx.tx_buffer()[6], 0x03);
  EXPECT_EQ(port.writes().back(), Hex("02 00 08 F7 03"));
}

TEST(Transmitter, RefusedWriteIsDroppedSilently) {
  FakeSerialPort port;
  port.Open();
  port.set_refuse_writes(true);
  Transmitter tx(port);
  tx.SendPollCommand(6);
  EXPECT_TRUE(port.writes().empty());
  EXPECT_EQ(port.rejected_writes(), 1);
  port.set_refuse_writes(false);
  tx.SendPollCommand(6);
  EXPECT_EQ(port.writes().size(), 1u);
}

}  // namespace
}  // namespace orv
