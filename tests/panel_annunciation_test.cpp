// The annunciator in the panel: which of the panel's inputs sound and what the journal is told,
// the ACK keys' silences and the lamp test on the panel's 24 lamps. (That the keys still send
// their frames is the window's key test; which report sounds which tone, the annunciator's.)
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "link/frame.h"
#include "tests/form_fixture.h"
#include "tests/test_util.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::Hex;

class AnnunciationTest : public test::FormTest {
 protected:
  void SetUp() override {
    FormTest::SetUp();
    journal_options_.login = "ann";
  }
  MainForm& LoadAndListen() {
    MainForm& f = Load();
    records_ = f.recorded().Connect([this](const JournalEntry& entry) {
      if (entry.text.starts_with(kAnnunciationRecordPrefix)) {
        said_ += (said_.empty() ? "" : "; ") + entry.text.substr(kAnnunciationRecordPrefix.size());
      }
    });
    return f;
  }
  void Report(const char* payload) { port_.Deliver(EncodeFrame(cmd::kReport, Hex(payload))); }
  void Image(const char* payload) { port_.Deliver(EncodeFrame(cmd::kFaultImage, Hex(payload))); }

  Connection records_;
  std::string said_;  // the annunciator's records since the last step, without the prefix
};

TEST_F(AnnunciationTest, EachInputSoundsTheAckKeysSilenceItAndTheLampTestLightsAll24For5Seconds) {
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
  MainForm& f = LoadAndListen();
  ConnectAndClear();
  for (const Step& step : steps) {
    said_.clear();
    step.act();
    Ticks(1);
    EXPECT_EQ(f.annunciation().view().state.tone, step.tone) << step.what;
    EXPECT_EQ(said_, step.said) << step.what;
  }
  // The lamp test lights all 24, then shows what came meanwhile.
  f.Shape1[13].SetFillStyle(Shape::kSolid);  // a zone lamp, as a controller might have left it
  ASSERT_EQ(Lamps(), "000000100000010000000000");  // Mains
  f.annunciation().Silence(kSilenceFromWindow);
  said_.clear();
  f.annunciation().LampTest();
  EXPECT_EQ(Lamps(), std::string(24, '1'));
  Image("02 00");  // Network instead of Mains, during the test
  Ticks(49);
  EXPECT_EQ(Lamps(), std::string(24, '1'));
  Ticks(1);
  EXPECT_EQ(Lamps(), "010000000000010000000000");
  EXPECT_EQ(said_, "lamp test; lamp test ended; sounds: Fault lamp Network lit");
}

}  // namespace
}  // namespace orv
