// The link watch in the window: when the controller counts as lost, what the status bar, title and
// journal say, the counters, that the line never sees it, and the broker's link topic; and the
// status bar's spans of time.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "linkwatch/line_status_text.h"
#include "mqtt/mqtt_feed.h"
#include "tests/form_fixture.h"
#include "tests/support/journal_fixture.h"

namespace orv {
namespace {

using test::FormTest;

const Bytes kFaultImage = EncodeFrame(cmd::kFaultImage, Bytes{0x00, 0x00});

// A frame with its byte `from_end` places before the end XORed with mask (1: the ETX, 2: the CRC).
Bytes Spoiled(std::uint8_t command, const Bytes& data, std::size_t from_end, std::uint8_t mask) {
  Bytes frame = EncodeFrame(command, data);
  frame[frame.size() - from_end] ^= mask;
  return frame;
}

class LinkWatchTest : public FormTest {
 protected:
  MainForm& LoadWith(const std::string& value) {
    std::filesystem::create_directories(IniPath().parent_path());
    test::WriteBytes(IniPath(), "[LinkWatch]\r\nNoReplySeconds=" + value + "\r\n");
    form_.reset();  // one window, and one journal, at a time
    MainForm& f = Load();
    alerts_.clear();
    alert_connection_ =
        f.link_alert().Connect([this](const Notice& notice) { alerts_.push_back(notice); });
    return f;
  }
  const LineStatus& Status() { return form().line_status(); }

  std::vector<Notice> alerts_;
  Connection alert_connection_;
};

TEST_F(LinkWatchTest, SilentControllerIsLostAfterExactlyTheSetTimeAndOneValidFrameEndsIt) {
  MainForm& f = LoadWith("2");
  now_ = LocalDateTime{3, 9, 14, 3, 2};
  ConnectAndClear();
  EXPECT_EQ(Status().state, "Connected: no reply yet");
  EXPECT_FALSE(Status().alarm);

  // The polls go out and nothing valid comes back, only bytes (here a frame with a bad CRC): lost
  // on the 20th tick, not one earlier. (Which frames are valid is the receiver's test.)
  const Bytes junk = Spoiled(cmd::kFaultImage, Bytes{0x00, 0x00}, 2, 0x01);
  for (int tick = 0; tick < 19; ++tick) {
    port_.Deliver(junk);
    Ticks(1);
  }
  EXPECT_EQ(f.WindowTitle(), kWindowCaption);
  now_ = LocalDateTime{3, 9, 14, 3, 4};
  Ticks(1);
  ASSERT_TRUE(f.link().watch().lost());
  EXPECT_EQ(Status().state, "No reply from the controller since the connect at 14:03:02");
  EXPECT_TRUE(Status().alarm);
  EXPECT_EQ(f.WindowTitle(), std::string(kWindowCaption) + " - NO REPLY FROM CONTROLLER");
  // The window's designed caption never changes: only the shown title carries the loss.
  EXPECT_EQ(f.MainFormWindow.caption(), kWindowCaption);
  ASSERT_EQ(alerts_.size(), 1u);
  EXPECT_EQ(alerts_[0].level, NoticeLevel::kError);
  EXPECT_EQ(alerts_[0].text,
            "No reply from the controller since the connect at 14:03:02 (2.0 s without a valid "
            "frame)");
  Ticks(30);  // lost is said once, not once a tick (two alerts below)

  // One valid frame, of any command, brings it back at the tick that dispatches it.
  now_ = LocalDateTime{3, 9, 14, 3, 22};
  port_.Deliver(kFaultImage);
  Ticks(1);
  EXPECT_FALSE(f.link().watch().lost());
  EXPECT_EQ(f.WindowTitle(), kWindowCaption);
  EXPECT_EQ(Status().state, "Connected: last reply 0.0 s ago");
  EXPECT_FALSE(Status().alarm);
  ASSERT_EQ(alerts_.size(), 2u);
  EXPECT_EQ(alerts_[1].level, NoticeLevel::kInfo);
  EXPECT_EQ(alerts_[1].text,
            "The controller answers again at 14:03:22, after 5.1 s without a valid frame (shown "
            "lost for 3.1 s)");

  // Silent again: lost 20 ticks after that frame, and the time named is the frame's.
  now_ = LocalDateTime{3, 9, 14, 3, 30};
  int ticks = 0;
  for (; !f.link().watch().lost() && ticks < 100; ++ticks)
    Ticks(1);
  EXPECT_EQ(ticks, 20);
  EXPECT_EQ(Status().state, "No reply from the controller since 14:03:22");
  EXPECT_EQ(test::JournalTexts(JournalPath(), JournalKind::kLink),
            (std::vector<std::string>{"Connected: COM1 (fake1) 9600,N,8,1", alerts_[0].text,
                                      alerts_[1].text, alerts_[2].text}));
  EXPECT_EQ(alerts_[2].text,
            "No reply from the controller since 14:03:22 (2.0 s without a valid frame)");
  // A disconnect while lost clears it all, for good.
  f.ConnectCB.PerformClick();
  Ticks(100);
  EXPECT_EQ(Status().state, "Disconnected");
  EXPECT_FALSE(Status().alarm);
  EXPECT_EQ(f.WindowTitle(), kWindowCaption);
}

TEST_F(LinkWatchTest, CountersSinceTheConnectAfterAScriptedMixAndTheLastReplyEverySecond) {
  MainForm& f = LoadWith("5");
  port_.Deliver(kFaultImage);  // before the connect: the port is closed, nothing counts
  Ticks(1);
  f.ConnectCB.PerformClick();
  ASSERT_TRUE(f.link().port_connected());
  std::vector<std::string> shown;
  const Connection seen = f.line_status_changed().Connect(
      [&](const LineStatus& status) { shown.push_back(status.state); });

  const Bytes bad_crc = Spoiled(cmd::kEmgStatus, Bytes(10, 0), 2, 0x80);
  // 0x02 in the ETX place: the frame is dropped there, and the byte is not taken for a new STX.
  const Bytes bad_etx = Spoiled(cmd::kFaultImage, Bytes{0x00, 0x00}, 1, 0x01);
  port_.Deliver(test::Concat({kFaultImage,                  // valid 1
                              Bytes{0x55, 0x66, 0x77},      // 3 bytes outside any frame
                              bad_crc,                      // CRC failure; its ETX is a stray
                              bad_etx,                      // dropped
                              Bytes{kStx, 102},             // dropped at its LEN
                              EncodeFrame(0x42, Bytes{1}),  // valid 2: unknown command
                              Bytes{kStx, 0x03, cmd::kReport, 0x12}}));  // cut short
  Ticks(1);
  EXPECT_EQ(f.link().counters_since_connect(), (LinkCounters{port_.writes().size(), 2, 1, 2, 4}));

  // The line status is refreshed once a second, counted from the connect: at its 10th and 20th
  // tick, 0.9 s and 1.9 s after the reply of its first.
  Ticks(19);
  EXPECT_EQ(shown, (std::vector<std::string>{"Connected: last reply 0.9 s ago",
                                             "Connected: last reply 1.9 s ago"}));
  EXPECT_EQ(Status().port, "COM1 fake1 9600,N,8,1");
  // The cut frame is abandoned when the idle gap runs out (30 ticks after its last byte), and
  // counted then, once. (The gap's length is the receiver's test.)
  Ticks(11);
  port_.Deliver(kFaultImage);
  Ticks(1);
  EXPECT_EQ(f.link().counters_since_connect(), (LinkCounters{port_.writes().size(), 3, 1, 3, 4}));

  // The tool tip lists them.
  Ticks(10);
  EXPECT_EQ(Status().details, "Since the connect at 05:21:00 (4.0 s ago):\nFrames sent: " +
                                  std::to_string(port_.writes().size()) +
                                  "\nValid frames received: 3\nCRC failures: 1\nFrames dropped "
                                  "(bad ETX, LEN above 101, idle gap): 3\nBytes outside any frame: "
                                  "4\nLost after 5 s without a valid frame.");

  // A new connection counts afresh.
  f.ConnectCB.PerformClick();
  EXPECT_EQ(Status().state, "Disconnected");
  EXPECT_EQ(Status().details, "Not connected.");
  port_.ClearWrites();
  f.ConnectCB.PerformClick();
  EXPECT_EQ(f.link().counters_since_connect(), (LinkCounters{port_.writes().size(), 0, 0, 0, 0}));
}

TEST_F(LinkWatchTest, NoReplySecondsTakesTwoToOneHundredZeroTurnsItOffAnythingElseIsFive) {
  const std::pair<const char*, int> texts[] = {{"0", 0},     {"00", 0},   {"2", 2},  {"02", 2},
                                               {"100", 100}, {"099", 99}, {"1", 5},  {"101", 5},
                                               {"1000", 5},  {"", 5},     {"+7", 5}, {"7s", 5}};
  for (const auto& [text, seconds] : texts)
    EXPECT_EQ(ParseNoReplySeconds(text), seconds) << text;
  LoadWith("0");
  ConnectAndClear();
  EXPECT_EQ(Status().state, "Connected: no reply yet (link watch off)");
}

TEST_F(LinkWatchTest, TheWireBytesAreTheSameWithTheWatchOnAndOff) {
  auto session = [this](const char* seconds) {
    MainForm& f = LoadWith(seconds);
    port_.ClearWrites();
    f.ConnectCB.PerformClick();
    for (int tick = 0; tick < 400; ++tick) {
      // Replies for a while, then a long silence (lost when watched), then replies again.
      if (tick % 11 == 2 && (tick < 100 || tick > 250)) port_.Deliver(kFaultImage);
      if (tick == 150) f.EMGAck_CB.PerformClick();
      if (tick == 200) f.VirtualDevice_ComboBox.SetListIndex(1);
      f.TRTimer_Timer();
    }
    f.ConnectCB.PerformClick();
    return port_.writes();
  };
  const std::vector<Bytes> watched = session("2");
  ASSERT_EQ(alerts_.size(), 2u) << "the watched session was lost and came back";
  const std::vector<Bytes> unwatched = session("0");
  EXPECT_TRUE(alerts_.empty());
  EXPECT_GT(watched.size(), 30u);
  EXPECT_EQ(watched, unwatched);
}

// (Times of day are in the link watch's texts above.)
TEST(LineStatusText, TickSpans) {
  std::string spans;
  for (const std::int64_t ticks : {0, 4, 10, 599, 600, 1254, 36000, 36120, -5})
    spans += FormatTickSpan(ticks) + "|";
  EXPECT_EQ(spans,
            "0.0 s|0.4 s|1.0 s|59.9 s|1 min 0 s|2 min 5 s|1 h 0 min 0 s|1 h 0 min 12 s|0.0 s|");
}

TEST_F(LinkWatchTest, TheBrokersLinkAndConditionsTopicsFollowTheWatch) {
  LoadWith("2");
  MqttPublisher publisher("site");
  MqttFeed feed(form().state_store(), form().journal(), form().recorded(), publisher);
  std::vector<std::string> link;
  std::string conditions;
  const MqttPublisher::SendFn send = [&](const MqttMessage& m) -> std::optional<int> {
    if (m.topic == "site/link") link.push_back(m.payload);
    if (m.topic == "site/conditions") conditions = m.payload;
    return 1;
  };
  publisher.OnConnected();
  auto tick = [&](int n) {
    for (int i = 0; i < n; ++i) {
      form().TRTimer_Timer();
      feed.Tick();
      publisher.Pump(send);
    }
  };
  tick(1);
  ConnectAndClear();
  tick(20);  // lost at the 20th
  // The silent link is a condition on the broker too.
  EXPECT_NE(conditions.find(R"({"id":"link","kind":"link")"), std::string::npos) << conditions;
  Image("00 00");
  tick(1);
  form().ConnectCB.PerformClick();
  tick(1);
  EXPECT_EQ(link, (std::vector<std::string>{"disconnected", "answering", "no-reply", "answering",
                                            "disconnected"}));
}

}  // namespace
}  // namespace orv
