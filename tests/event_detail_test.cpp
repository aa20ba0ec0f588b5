// The words beside an event: the lamp named by each bit of a fault report, the page, number and
// site name of each trigger or channel a report sets, a sentence for every other code.
#include "events/event_detail.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

#include "events/event_decoder.h"

namespace orv {
namespace {

class EventDetailTest : public ::testing::Test {
 protected:
  std::string Detail(std::uint8_t code, std::int32_t value) {
    return EventDetail(decoder_.DecodeEventReport(code, value), [this](int page, int number) {
      const auto it = names_.find({page, number});
      return it == names_.end() ? std::string() : it->second;
    });
  }

  TriggerStates states_;
  EventDecoder decoder_{states_, [] { return LocalDateTime{12, 4, 5, 21}; }};
  std::map<std::pair<int, int>, std::string> names_{
      {{0, 13}, "Lobby"}, {{1, 13}, "Stairs"}, {{0, 14}, "EMG Trigger 14"}, {{3, 1}, "Jazz"}};
};

TEST_F(EventDetailTest, EachReportIsSaidInWords) {
  const struct {
    std::uint8_t code;
    std::int32_t value;
    const char* detail;
  } kCases[] = {
      // Bit n of a fault report, low byte first: the panel status word's layout.
      {0x21, 0xFFFF,
       "Battery, Mains, Call/EMG, Music/Spare, Ground Short, bit 5 (no lamp), bit 6 (no lamp), "
       "bit 7 (no lamp), Message, EMG mic., RCP, Router, Network, Input, Processor reset, "
       "bit 15 (no lamp)"},
      {0x21, 0x4801, "Battery, Router, Processor reset"},
      {0x21, 0, "No fault"},
      {0x32, 0x0041, "EMG 13 Lobby, BUS 13 Stairs"},  // unit 2, bit 0 of each group
      {0x32, 0x0003, "EMG 13 Lobby, EMG 14"},         // a default name adds nothing
      {0x39, 0x0820, "EMG 60, BUS 60"},               // the last entries of unit 9
      {0x61, 0x0080, "BUS 8"},
      {0x31, 0x1000, "No trigger set"},  // bits 12..15 belong to no trigger
      {0x6A, 0x0001, "Unit 10 is beyond the panel's 60 triggers"},
      {0x40, 0x0003, "BGM 1 Jazz, BGM 2"},
      {0x80, 0x0000, "No BGM channel on"},
      {0x8B, 0x0001, "Unit 11 is beyond the panel's 60 BGM channels"},
      // Every other code is a sentence (which one is the table's own: here the look-up).
      {0x23, 0, "Faults reset"},
      {0xA5, 0, "Event code 0xA5 has no meaning known to the panel"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(Detail(c.code, c.value), c.detail) << std::hex << int(c.code) << " " << c.value;
}

}  // namespace
}  // namespace orv
