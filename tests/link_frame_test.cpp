#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "link/crc8.h"
#include "link/fault_lamps.h"
#include "link/frame.h"
#include "link/transmitter.h"
#include "tests/support/fake_serial_port.h"
#include "tests/test_util.h"

namespace orv {
namespace {

using test::Hex;

TEST(Crc8, CheckValuesProveTheTableAndTheInitialValue) {
  auto crc_over = [](std::uint8_t crc) {
    for (const char c : std::string("123456789"))
      crc = Crc8Step(crc, static_cast<std::uint8_t>(c));
    return crc;
  };
  EXPECT_EQ(crc_over(0x00), 0xA1);  // the standard CRC-8/MAXIM check value
  EXPECT_EQ(crc_over(kCrcInit), 0x0B);
}

struct FrameCase {
  const char* name;
  std::uint8_t command;
  Bytes data;
  const char* wire;
};

class FrameVectors : public ::testing::TestWithParam<FrameCase> {};

// Every example frame, through the program's transmit path (one write each) and the shared
// encoder alike. The poll commands go through SendPollCommand, which adds command 6's data byte.
TEST_P(FrameVectors, WrittenExactlyInOneWrite) {
  const FrameCase& c = GetParam();
  FakeSerialPort port;
  port.Open();
  Transmitter tx(port);
  if (c.command <= 10) {
    tx.SendPollCommand(c.command);
  } else if (c.data.size() == 2) {
    tx.SendFrame(c.command, {c.data[0], c.data[1]});
  } else if (c.data.size() == 1) {
    tx.SendFrame(c.command, {c.data[0]});
  } else {
    tx.SendFrame(c.command, {});
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
                      // STX and ETX values inside the data go out as they are.
                      FrameCase{"noEscaping", 19, {0x02, 0x03}, "02 02 13 02 03 0F 03"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Transmitter, NothingForACountOutOfRange) {
  FakeSerialPort port;
  port.Open();
  Transmitter tx(port);
  tx.SendTxBuffer(0);
  tx.SendTxBuffer(-1);
  tx.SendTxBuffer(1202);
  EXPECT_TRUE(port.writes().empty());
  EXPECT_EQ(port.rejected_writes(), 0);
}

// The twelve system fault lamps in lamp order, written out here rather than taken from the code:
// the panel status word's bit that lights each alone; the fault image reply's twelve bits run in
// lamp order. (Their captions are the event detail's test.)
TEST(FaultLamps, EachBitAloneLightsOnlyItsOwnLamp) {
  const int status_bits[] = {0x4000, 0x1000, 0x0004, 0x0008, 0x0010, 0x2000,
                             0x0002, 0x0001, 0x0100, 0x0200, 0x0400, 0x0800};
  for (std::size_t lamp = 0; lamp < std::size(status_bits); ++lamp) {
    const FaultLamps alone = FaultLamps().set(lamp);
    const int image = 1 << lamp;
    EXPECT_EQ(FaultImageLamps(image & 0xFF, static_cast<std::uint8_t>(image >> 8)), alone) << lamp;
    EXPECT_EQ(PanelStatusLamps(status_bits[lamp]), alone) << lamp;
  }
  // The reply's upper four bits and the word's spare bits light nothing.
  EXPECT_EQ(FaultImageLamps(0x00, 0xF0), FaultLamps());
  EXPECT_EQ(PanelStatusLamps(0x80E0), FaultLamps());
}

}  // namespace
}  // namespace orv
