#include <gtest/gtest.h>

#include <string>

#include "link/frame.h"
#include "tests/form_fixture.h"
#include "tests/test_util.h"

namespace orv {
namespace {

using test::FormTest;
using test::Hex;
using test::ReadBytes;

const std::string kHead = "12/04 05:21 Event = ";

// The log box's newest line.
std::string TopLine(const MainForm& f) {
  const std::string& text = f.EventsLogTextBox.text();
  return text.substr(0, text.find("\r\n"));
}

struct EventCase {
  std::uint8_t code;
  std::uint8_t high;
  std::uint8_t low;
  const char* ending;
};

class EventLines : public FormTest, public ::testing::WithParamInterface<EventCase> {};

TEST_P(EventLines, LineIsShownOnTopAndLoggedAsTheLastRecord) {
  MainForm& f = Load();
  port_.Open();
  port_.Deliver(EncodeFrame(0xA0, Bytes{GetParam().code, GetParam().high, GetParam().low}));
  Ticks(1);
  const std::string line = kHead + GetParam().ending;
  EXPECT_EQ(f.EventsLogTextBox.text(), line + "\r\n");
  EXPECT_EQ(ReadBytes(LogPath()), line + "\n\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Codes, EventLines,
    ::testing::Values(EventCase{0x11, 0, 0, "EMG"}, EventCase{0x12, 0, 0, "EMG Ack"},
                      EventCase{0x13, 0, 0, "EMG Reset"}, EventCase{0x14, 0, 0, "ALERT"},
                      EventCase{0x15, 0, 0, "ALARM"}, EventCase{0x16, 0, 0, "EMG PTT"},
                      EventCase{0x21, 0x01, 0x05, "Fault 0000000100000101"},
                      EventCase{0x21, 0xF0, 0x00, "Fault 1111000000000000"},
                      EventCase{0x22, 0, 0, "Fault Ack"}, EventCase{0x23, 0, 0, "Fault Reset"},
                      EventCase{0x32, 0x00, 0x41, "TRG R2 000001000001"},
                      EventCase{0x30, 0xF0, 0x00, "TRG M0 000000000000"},
                      EventCase{0x60, 0x00, 0x3F, "TRG M0 000000111111"},
                      EventCase{0x40, 0x00, 0x03, "BGM M0 000011"},
                      EventCase{0x49, 0xFF, 0xC0, "BGM R9 000000"},
                      EventCase{0x6A, 0x00, 0x01, "TRG R10 000000000001"},
                      EventCase{0x7F, 0x0F, 0xFF, "TRG R31 111111111111"},
                      EventCase{0x9F, 0x00, 0x01, "BGM R31 000001"}, EventCase{0x18, 0, 0, ""},
                      EventCase{0x00, 0, 0, ""}, EventCase{0xFF, 0x12, 0x34, ""}));

TEST_F(FormTest, OverviewRoadOfOneEventReport) {
  MainForm& f = Load();
  f.ConnectCB.PerformClick();
  port_.Deliver(Hex("02 03 A0 12 00 00 47 03"));
  Ticks(1);
  EXPECT_EQ(TopLine(f), "12/04 05:21 Event = EMG Ack");
  const std::string log = ReadBytes(LogPath());
  EXPECT_EQ(log.substr(log.size() - 30), "12/04 05:21 Event = EMG Ack\n\r\n");
}

TEST_F(FormTest, TriggerReportsOnlySetAndTouchOnlyTheirGroup) {
  MainForm& f = Load();
  port_.Open();
  port_.Deliver(EncodeFrame(0xA0, Bytes{0x32, 0x00, 0x41}));
  Ticks(1);
  EXPECT_EQ(f.shared().EmgTriggerState.Get(13), 1);
  EXPECT_EQ(f.shared().BusTriggerState.Get(13), 1);
  // Only bits 0..5: the business table stays as it is; already set entries stay set.
  port_.Deliver(EncodeFrame(0xA0, Bytes{0x32, 0x00, 0x3F}));
  port_.Deliver(EncodeFrame(0xA0, Bytes{0x32, 0x00, 0x00}));
  Ticks(1);
  for (int n = 13; n <= 18; ++n)
    EXPECT_EQ(f.shared().EmgTriggerState.Get(n), 1) << n;
  EXPECT_EQ(f.shared().BusTriggerState.Get(13), 1);
  EXPECT_EQ(f.shared().BusTriggerState.Get(14), 0);
  // Bits 12..15 reach no table.
  port_.Deliver(EncodeFrame(0xA0, Bytes{0x30, 0xF0, 0x00}));
  Ticks(1);
  for (int n = 1; n <= 6; ++n) {
    EXPECT_EQ(f.shared().EmgTriggerState.Get(n), 0);
    EXPECT_EQ(f.shared().BusTriggerState.Get(n), 0);
  }
}

TEST_F(FormTest, BgmReportRewritesItsUnit) {
  MainForm& f = Load();
  port_.Open();
  port_.Deliver(EncodeFrame(0xA0, Bytes{0x41, 0x00, 0x3F}));
  port_.Deliver(EncodeFrame(0xA0, Bytes{0x41, 0x00, 0x03}));
  Ticks(1);
  for (int n = 7; n <= 12; ++n)
    EXPECT_EQ(f.shared().BgmState.Get(n), n <= 8 ? 1 : 0) << n;
}

TEST_F(FormTest, UnitsBeyondTheTablesWriteNoEntryAndNoCheckBox) {
  MainForm& f = Load();
  ConnectAndClear();
  for (const std::uint8_t code : {0x3A, 0x6A, 0x7F, 0x4A, 0x9F}) {
    port_.Deliver(EncodeFrame(0xA0, Bytes{code, 0x0F, 0xFF}));
  }
  Ticks(1);
  for (int n = 1; n <= 60; ++n) {
    EXPECT_EQ(f.shared().EmgTriggerState.Get(n), 0);
    EXPECT_EQ(f.shared().BusTriggerState.Get(n), 0);
    EXPECT_EQ(f.shared().BgmState.Get(n), 0);
  }
  for (int r = 0; r < 12; ++r)
    EXPECT_EQ(f.Trigger_CheckBox[r].value(), 0);
  EXPECT_EQ(ReadBytes(LogPath()).find("TRG R10 111111111111"), 0u + kHead.size());
}

TEST_F(FormTest, ShownPageRefreshesAtOnceAndCancelsTheTicksRedraw) {
  MainForm& f = Load();
  ConnectAndClear();
  f.TriggerLabel[0].SetCaption("marker");
  // A status reply asks for a redraw, the later trigger report of the same tick cancels it.
  port_.Deliver(EncodeFrame(8, Bytes(10, 0)));
  port_.Deliver(EncodeFrame(0xA0, Bytes{0x30, 0x00, 0x02}));
  Ticks(1);
  EXPECT_EQ(f.Trigger_CheckBox[1].value(), 1);
  EXPECT_EQ(f.TriggerLabel[0].caption(), "marker");
  EXPECT_FALSE(f.shared().RefreshTriggers);
  EXPECT_EQ(port_.writes().size(), 1u) << "only the poll; the refresh sent nothing";
}

TEST_F(FormTest, ReportForAnotherPageLeavesTheBankAndTheRedrawRequestAlone) {
  MainForm& f = Load();
  ConnectAndClear();
  f.TriggerLabel[0].SetCaption("marker");
  port_.Deliver(EncodeFrame(8, Bytes(10, 0)));                // asks for a redraw
  port_.Deliver(EncodeFrame(0xA0, Bytes{0x40, 0x00, 0x3F}));  // BGM, page 0 shown
  Ticks(1);
  EXPECT_EQ(f.shared().BgmState.Get(1), 1);
  for (int r = 0; r < 12; ++r)
    EXPECT_EQ(f.Trigger_CheckBox[r].value(), 0);
  EXPECT_EQ(f.TriggerLabel[0].caption(), "EMG Trigger 1") << "the reply's redraw still ran";
}

TEST_F(FormTest, LogBoxHoldsAThousandCharactersNewestFirst) {
  MainForm& f = Load();
  port_.Open();
  for (int i = 0; i < 40; ++i)
    port_.Deliver(EncodeFrame(0xA0, Bytes{0x14, 0, 0}));
  port_.Deliver(EncodeFrame(0xA0, Bytes{0x15, 0, 0}));
  Ticks(1);
  const std::string& text = f.EventsLogTextBox.text();
  EXPECT_EQ(text.size(), 1000u);
  EXPECT_EQ(TopLine(f), kHead + "ALARM");
  EXPECT_EQ(f.EventsLogTextBox.sel_start(), 0);
  // 41 records in the file, in arrival order.
  const std::string log = ReadBytes(LogPath());
  std::size_t records = 0;
  for (std::size_t at = 0; (at = log.find("\n\r\n", at)) != std::string::npos; at += 3)
    ++records;
  EXPECT_EQ(records, 41u);
  EXPECT_EQ(log.rfind("ALARM\n\r\n"), log.size() - 8);
}

TEST_F(FormTest, WithoutDisplayTickedOrGrayedStillLogs) {
  MainForm& f = Load();
  port_.Open();
  for (const int value : {1, 2}) {
    f.NoDisplayCheck.SetValue(value);
    port_.Deliver(EncodeFrame(0xA0, Bytes{0x41, 0x00, 0x01}));
    Ticks(1);
  }
  EXPECT_EQ(f.EventsLogTextBox.text(), "");
  EXPECT_EQ(f.shared().BgmState.Get(7), 1);
  EXPECT_EQ(ReadBytes(LogPath()), kHead + "BGM R1 000001\n\r\n" + kHead + "BGM R1 000001\n\r\n");
}

TEST_F(FormTest, ReportThatCannotReachTheFileStillUpdatesTablesAndBox) {
  MainForm& f = Load();
  port_.Open();
  std::filesystem::create_directories(LogPath());  // a folder where the file must be
  port_.Deliver(EncodeFrame(0xA0, Bytes{0x30, 0x00, 0x01}));
  Ticks(1);
  EXPECT_EQ(f.shared().EmgTriggerState.Get(1), 1);
  EXPECT_EQ(TopLine(f), kHead + "TRG M0 000000000001");
  std::filesystem::remove(LogPath());
  port_.Deliver(EncodeFrame(0xA0, Bytes{0x12, 0x00, 0x00}));
  Ticks(1);
  EXPECT_EQ(ReadBytes(LogPath()), kHead + "EMG Ack\n\r\n") << "writing resumes by itself";
}

TEST(FormatBits, WidthIsHeldToSixteenAndNothingForNone) {
  EXPECT_EQ(FormatBits(0x1FFFF, 20), "1111111111111111");
  EXPECT_EQ(FormatBits(0x7, 0), "");
  EXPECT_EQ(FormatBits(0x7, -3), "");
}

}  // namespace
}  // namespace orv
