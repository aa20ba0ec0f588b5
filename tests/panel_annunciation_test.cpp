// The panel's annunciator: in the window, which inputs sound, the ACK keys' silences, the
// journal's records and the lamp test on the 24 lamps (which report sounds which tone is the
// annunciator's test); on clocks of its own, what sounds keeps the time it began to sound.
#include "panel/annunciation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/form_fixture.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::FormTest;

TEST(PanelAnnunciation, WhatSoundsKeepsItsTimeThroughALampTestAfterTheWallClockWasSet) {
  JournalTime wall{1765112602000, 3600};
  std::int64_t tick = 0;
  ControlArray<Shape> lamps("Shape1", 24);
  PanelAnnunciation annunciation(lamps, {.record = {},
                                         .notice = {},
                                         .wall_clock = [&wall] { return wall; },
                                         .tick_clock = [&tick] { return tick; },
                                         .login = {}});
  annunciation.OnReport(Annunciator::kFaultReport);
  const AnnunciationView began = annunciation.view();
  ASSERT_EQ(began.since, wall);
  // A second on both clocks, and the wall clock set an hour on (as time synchronisation may).
  tick += 1000;
  wall.utc_ms += 1000 + 3600 * 1000;
  annunciation.LampTest();
  ASSERT_TRUE(annunciation.lamp_test_active());
  EXPECT_EQ(annunciation.view().since.utc_ms, began.since.utc_ms);
  tick += Annunciator::kLampTestMs;
  wall.utc_ms += Annunciator::kLampTestMs;
  annunciation.Tick(false, false);
  ASSERT_FALSE(annunciation.lamp_test_active());
  EXPECT_EQ(annunciation.view().state, began.state);
  EXPECT_EQ(annunciation.view().since.utc_ms, began.since.utc_ms);
}

TEST_F(FormTest, EachInputSoundsTheAckKeysSilenceItAndTheLampTestLightsAll24For5Seconds) {
  struct Step {
    const char* what;
    std::function<void()> act;
    Tone tone;
    const char* said;
  };
  const std::vector<Step> steps = {
      {"ALARM report", [this] { Report("15 00 00"); }, Tone::kAlarm, "sounds: ALARM report"},
      {"Mains lamp lit", [this] { Image("40 00"); }, Tone::kAlarm, "sounds: Fault lamp Mains lit"},
      {"EMG ACK", [this] { form().EMGAck_CB.PerformClick(); }, Tone::kFault,
       "silenced by ann from EMG ACK"},
      {"Fault ACK", [this] { form().FaultAck_CB.PerformClick(); }, Tone::kNone,
       "silenced by ann from Fault ACK"},
      {"port lost", [this] { port_.LoseDevice(); }, Tone::kFault, "sounds: Port lost"},
      {"Esc", [this] { form().annunciation().Silence(kSilenceFromEsc); }, Tone::kNone,
       "silenced by ann from Esc"},
      {"EventLog.txt cannot be written",
       [this] {
         fs::remove(LogPath());
         fs::create_directories(LogPath());  // a folder in its place
         Report("12 00 00");
       },
       Tone::kFault, "sounds: Recording failed"},
      {"Fault ACK", [this] { form().FaultAck_CB.PerformClick(); }, Tone::kNone,
       "silenced by ann from Fault ACK"},
      {"the controller falls silent", [this] { Ticks(60); }, Tone::kFault,
       "sounds: Controller does not answer"},
  };
  journal_options_.login = "ann";
  MainForm& f = Load();
  std::string said;  // the annunciator's records since the last step, without the prefix
  const Connection records = f.recorded().Connect([&said](const JournalEntry& entry) {
    if (entry.text.starts_with(kAnnunciationRecordPrefix))
      said += (said.empty() ? "" : "; ") + entry.text.substr(kAnnunciationRecordPrefix.size());
  });
  ConnectAndClear();
  for (const Step& step : steps) {
    said.clear();
    step.act();
    Ticks(1);
    EXPECT_EQ(f.annunciation().view().state.tone, step.tone) << step.what;
    EXPECT_EQ(said, step.said) << step.what;
  }
  // The lamp test lights all 24, then shows what came meanwhile.
  f.Shape1[13].SetFillStyle(Shape::kSolid);  // a zone lamp, as a controller might have left it
  ASSERT_EQ(Lamps(), "000000100000010000000000");  // Mains
  f.annunciation().Silence(kSilenceFromWindow);
  said.clear();
  f.annunciation().LampTest();
  EXPECT_EQ(Lamps(), std::string(24, '1'));
  Image("02 00");  // Network instead of Mains, during the test
  Ticks(49);
  EXPECT_EQ(Lamps(), std::string(24, '1'));
  Ticks(1);
  EXPECT_EQ(Lamps(), "010000000000010000000000");
  EXPECT_EQ(said, "lamp test; lamp test ended; sounds: Fault lamp Network lit");
}
}  // namespace
}  // namespace orv
