// The event decoder that feeds most of the program's subscribers, and the words beside an event:
// the lamp named by each bit of a fault report, the page, number and site name of each trigger or
// channel a report sets, a sentence for every other code.
#include "events/event_decoder.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "events/event_detail.h"
#include "tests/test_util.h"

namespace orv {
namespace {

// Every kind of report: its line after the date and the state table entries it writes, by the
// decoder alone; then each said in words. Trigger units hold EMG in bits 0..5 and business
// in 6..11, six entries a unit, and only ever set them; BGM units write all six of theirs; units
// from 10 on reach no table.
TEST(EventDecoder, EachReportHasItsLineWritesOnlyItsEntriesAndIsSaidInWords) {
  // Each row: the report (code, data high, data low) | its line | the entries it writes, as
  // page:number=state in order.
  const std::string rows[] = {"11 00 00|EMG|",
                              "12 00 00|EMG Ack|",
                              "13 00 00|EMG Reset|",
                              "14 00 00|ALERT|",
                              "15 00 00|ALARM|",
                              "16 00 00|EMG PTT|",
                              "21 01 05|Fault 0000000100000101|",
                              "21 F0 00|Fault 1111000000000000|",
                              "22 00 00|Fault Ack|",
                              "23 00 00|Fault Reset|",
                              "18 00 00||",
                              "2F 0A 5A||",
                              "30 F0 00|TRG M0 000000000000|",
                              "60 00 3F|TRG M0 000000111111|0:1=1 0:2=1 0:3=1 0:4=1 0:5=1 0:6=1",
                              "31 00 41|TRG R1 000001000001|0:7=1 1:7=1",
                              "31 00 40|TRG R1 000001000000|1:7=1",
                              "39 00 20|TRG R9 000000100000|0:60=1",
                              "3A 0F FF|TRG R10 111111111111|",
                              "3F 0A 5A|TRG R15 101001011010|",
                              "7F 0F FF|TRG R31 111111111111|",
                              "40 00 03|BGM M0 000011|3:1=1 3:2=1 3:3=0 3:4=0 3:5=0 3:6=0",
                              "80 0A 5A|BGM M0 011010|3:1=0 3:2=1 3:3=0 3:4=1 3:5=1 3:6=0",
                              "42 00 05|BGM R2 000101|3:13=1 3:14=0 3:15=1 3:16=0 3:17=0 3:18=0",
                              "49 FF C0|BGM R9 000000|3:55=0 3:56=0 3:57=0 3:58=0 3:59=0 3:60=0",
                              "4F 0A 5A|BGM R15 011010|",
                              "9F 00 01|BGM R31 000001|",
                              "50 0A 5A||",
                              "51 0A 5A||",
                              "5F 0A 5A||",
                              "A0 0A 5A||"};
  TriggerStates states, written;
  EventDecoder decoder(states, [] { return LocalDateTime{12, 4, 5, 21}; });
  for (const std::string& row : rows) {
    const std::size_t line = row.find('|') + 1, writes_at = row.rfind('|') + 1;
    const Bytes r = test::Hex(row.substr(0, line - 1));
    const EventRecord record = decoder.DecodeEventReport(r[0], (r[1] << 8) | r[2]);
    EXPECT_EQ(record.text, "12/04 05:21 Event = " + row.substr(line, writes_at - line - 1)) << row;
    std::string writes;
    for (const TriggerUpdate& u : record.trigger_updates) {
      writes += (writes.empty() ? "" : " ") + std::to_string(u.page) + ":" +
                std::to_string(u.number) + "=" + std::to_string(u.state);
      written.States(u.page).Set(u.number, u.state);
    }
    EXPECT_EQ(writes, row.substr(writes_at)) << row;
  }
  // The tables hold what the records say they wrote, and nothing else.
  for (int page = 0; page < kPageCount; ++page) {
    for (int n = 1; n <= kTriggerPages[static_cast<std::size_t>(page)].size; ++n)
      EXPECT_EQ(states.States(page).Get(n), written.States(page).Get(n)) << page << ":" << n;
  }
  EXPECT_EQ(FormatBits(0x1FFFF, 20), "1111111111111111") << "held to sixteen bits";

  const std::map<std::pair<int, int>, std::string> names{
      {{0, 13}, "Lobby"}, {{1, 13}, "Stairs"}, {{0, 14}, "EMG Trigger 14"}, {{3, 1}, "Jazz"}};
  const auto name = [&](int page, int number) {
    const auto it = names.find({page, number});
    return it == names.end() ? std::string() : it->second;
  };
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
    EXPECT_EQ(EventDetail(decoder.DecodeEventReport(c.code, c.value), name), c.detail)
        << std::hex << int(c.code) << " " << c.value;
}

}  // namespace
}  // namespace orv
