// The annunciator on a fake clock: what sounds after each input and what the journal is told;
// the tones as WAV files; the driver over a fake output; ALSA without a sound card.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

#include "annunciator/annunciation_settings.h"
#include "annunciator/annunciator.h"
#include "annunciator/sound_output.h"
#include "annunciator/tones.h"
#ifdef ORV_HAVE_ALSA
#include "annunciator/alsa_sound_output.h"
#endif

namespace orv {
namespace {

constexpr std::int64_t kHour = 3'600'000;
constexpr unsigned kReset = 1u << 0, kNetwork = 1u << 1, kMains = 1u << 6, kBattery = 1u << 7;

// One input to the annunciator at a time.
using Do = std::function<void(Annunciator&, std::int64_t)>;
const Do Tick = [](Annunciator&, std::int64_t) {};
const Do PortLost = [](Annunciator& a, std::int64_t at) { a.PortLost(at); };
const Do Esc = [](Annunciator& a, std::int64_t at) { a.Silence("Ann", "Esc", at); };
const Do EmgAckKey = [](Annunciator& a, std::int64_t at) { a.SilenceAlarm("Ann", "EMG ACK", at); };
const Do FaultAckKey = [](Annunciator& a, std::int64_t at) {
  a.SilenceFault("Ann", "Fault ACK", at);
};
const Do LampTest = [](Annunciator& a, std::int64_t at) { a.LampTest(at); };
Do Report(std::uint8_t code) {
  return [code](Annunciator& a, std::int64_t at) { a.Report(code, at); };
}
Do Lamps(unsigned lit) {
  return [lit](Annunciator& a, std::int64_t at) { a.SetLamps(FaultLamps(lit), at); };
}
Do NoReply(bool on) {
  return [on](Annunciator& a, std::int64_t at) { a.SetNoReply(on, at); };
}
Do Shelve(unsigned lamps, bool no_reply) {
  return [lamps, no_reply](Annunciator& a, std::int64_t at) {
    a.SetShelved(FaultLamps(lamps), no_reply, at);
  };
}
Do Remind(const char* what) {
  return [what](Annunciator& a, std::int64_t at) { a.Remind(what, at); };
}
Do Recording(bool failed) {
  return [failed](Annunciator& a, std::int64_t at) { a.SetRecordingFailed(failed, at); };
}

struct Step {
  std::int64_t at;
  Do act;
  Tone tone;
  const char* records;              // what the journal is told, "; " between
  const char* condition = nullptr;  // the newest sounding condition, when given
  bool testing = false;             // the lamp test runs
  std::int64_t since = -1;          // when given
};

const char* const kEsc = "silenced by Ann from Esc";
const char* const kEmgAck = "silenced by Ann from EMG ACK";
const char* const kFaultAck = "silenced by Ann from Fault ACK";
constexpr Tone kNone = Tone::kNone, kFault = Tone::kFault, kAlarm = Tone::kAlarm;

// Each scenario: its name, the settings, the steps.
const std::vector<std::tuple<const char*, AnnunciatorSettings, std::vector<Step>>> kScenarios = {
    {"new conditions sound until silenced; a lamp only when it lights",
     {},
     {{0, Lamps(kMains), kFault, "sounds: Fault lamp Mains lit"},
      {1000, Report(0x15), kAlarm, "sounds: ALARM report", "ALARM report"},
      {1500, Report(0x13), kAlarm, ""},
      {2000, Esc, kNone, kEsc},
      {3000, Lamps(kMains | kBattery), kFault, "sounds: Fault lamp Battery lit"},
      {4000, Esc, kNone, kEsc},
      {5000, Lamps(kMains | kBattery), kNone, ""},
      {6000, Lamps(kBattery), kNone, ""},
      {7000, Lamps(kMains | kBattery), kFault, "sounds: Fault lamp Mains lit"},
      {8000, Esc, kNone, kEsc},
      {9000, Report(0x15), kAlarm, "sounds: ALARM report"},
      {9500, Esc, kNone, kEsc},
      // Lit and dark again before anyone silenced it: it goes on sounding.
      {10000, Lamps(kMains | kBattery | kNetwork), kFault, "sounds: Fault lamp Network lit"},
      {11000, Lamps(kMains | kBattery), kFault, "", "Fault lamp Network lit"}}},
    {"the ACK keys silence their own tone only",
     {},
     {{0, Report(0x21), kFault, "sounds: Fault report"},
      {0, Report(0x11), kAlarm, "sounds: EMG report"},
      {1, EmgAckKey, kFault, kEmgAck, "Fault report"},
      {2, Report(0x16), kAlarm, "sounds: EMG PTT report"},
      {3, FaultAckKey, kAlarm, kFaultAck},
      {4, Report(0x14), kAlarm, "sounds: ALERT report", "ALERT report"},
      {5, EmgAckKey, kNone, kEmgAck},
      {6, FaultAckKey, kNone, ""}}},
    {"a silenced fault still present is reminded; a momentary one is not",
     {},
     {{0, NoReply(true), kFault, "sounds: Controller does not answer"},
      {0, PortLost, kFault, "sounds: Port lost", "Port lost"},
      {1000, Esc, kNone, kEsc},
      {1000 + 24 * kHour - 1, Tick, kNone, ""},
      {1000 + 24 * kHour, Tick, kFault, "sounds: Controller does not answer"},
      {1001 + 24 * kHour, Esc, kNone, kEsc},
      {1002 + 24 * kHour, NoReply(false), kNone, ""},
      {1000 + 72 * kHour, Tick, kNone, ""},
      {1001 + 72 * kHour, NoReply(true), kFault, "sounds: Controller does not answer"}}},
    {"ReminderHours=0 never reminds",
     {.reminder_hours = 0},
     {{0, Recording(true), kFault, "sounds: Recording failed"},
      {1, Esc, kNone, kEsc},
      {1000 * kHour, Tick, kNone, ""}}},
    {"the lamp test sounds 5 s, holds lamp changes and restores the sound exactly",
     {},
     {{0, Lamps(kReset), kFault, "sounds: Fault lamp Processor reset lit"},
      {1000, Esc, kNone, kEsc},
      {10000, LampTest, kFault, "lamp test", "Lamp test", true},
      {12000, Lamps(kReset | kNetwork), kFault, "", nullptr, true},
      {14999, Tick, kFault, "", nullptr, true},
      {15000, Tick, kFault, "lamp test ended; sounds: Fault lamp Network lit",
       "Fault lamp Network lit"},
      {16000, Esc, kNone, kEsc},
      {17000, Lamps(kReset), kNone, ""},
      {20000, LampTest, kFault, "lamp test", nullptr, true},
      {25000, Tick, kNone, "lamp test ended"},
      {30000, Report(0x15), kAlarm, "sounds: ALARM report"},
      {31000, LampTest, kAlarm, "lamp test", "ALARM report", true},
      {36000, Tick, kAlarm, "lamp test ended", "ALARM report", false, 30000}}},
    {"a shelf quiets its lamp or the link, and what is still there sounds anew at its end",
     {},
     {{0, Lamps(kMains | kBattery), kFault,
       "sounds: Fault lamp Mains lit; sounds: Fault lamp "
       "Battery lit"},
      {1, Shelve(kBattery, false), kFault, "shelved: Fault lamp Battery lit",
       "Fault lamp Mains lit"},
      {2, Shelve(kBattery | kMains, true), kNone, "shelved: Fault lamp Mains lit"},
      {3, NoReply(true), kNone, ""},
      {4, Lamps(kMains), kNone, ""},
      {5, Shelve(kMains, false), kFault, "sounds: Controller does not answer"},
      {6, Esc, kNone, kEsc},
      {7, Shelve(kBattery, false), kFault, "sounds: Fault lamp Mains lit", "Fault lamp Mains lit",
       false, 7},
      {8, Shelve(kBattery, false), kFault, ""}}},
    {"a reminder is one fault tone of a second, under what sounds, silenced with the faults",
     {},
     {{0, Remind("Shelf ends"), kFault, "reminds: Shelf ends", "Shelf ends"},
      {999, Tick, kFault, ""},
      {1000, Tick, kNone, "reminder ended"},
      {2000, Report(0x15), kAlarm, "sounds: ALARM report"},
      {2000, Remind("Shelf ends"), kAlarm, "reminds: Shelf ends", "ALARM report"},
      {2500, Esc, kNone, kEsc},
      {3000, Tick, kNone, ""}}},
    {"Sound=0 tracks and records but plays nothing",
     {.sound = false},
     {{0, Lamps(kMains), kNone, "sounds: Fault lamp Mains lit", "Fault lamp Mains lit"},
      {1, LampTest, kNone, "lamp test", nullptr, true},
      {2, Esc, kNone, kEsc, nullptr, true},
      {5001, Tick, kNone, "lamp test ended"}}},
};

TEST(AnnunciatorTest, WhatSoundsAfterEachStep) {
  for (const auto& [name, settings, steps] : kScenarios) {
    Annunciator a(settings);
    std::string records;  // "; " between
    Connection connection = a.changed().Connect([&](const Annunciator::Change& change) {
      records += (records.empty() ? "" : "; ") + RecordText(change);
      EXPECT_EQ(change.now, a.state());
    });
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const Step& step = steps[i];
      SCOPED_TRACE(std::string(name) + ", step " + std::to_string(i));
      records.clear();
      step.act(a, step.at);
      a.Tick(step.at);
      EXPECT_EQ(a.tone(), step.tone);
      EXPECT_EQ(records, step.records);
      if (step.condition != nullptr) {
        EXPECT_EQ(a.state().condition, step.condition);
      }
      if (step.since >= 0) {
        EXPECT_EQ(a.state().since_ms, step.since);
      }
      EXPECT_EQ(a.lamp_test_active(), step.testing);
    }
  }
}

TEST(AnnunciationSettingsTest, OnlySoundZeroSilencesAndReminderHoursOutOfRangeIsTheDefault) {
  // Sound= and ReminderHours= as written, then whether it sounds and after how many hours.
  using Row = std::tuple<const char*, const char*, bool, int>;
  for (const auto& [sound, hours, sound_on, reminder_hours] :
       {Row{"", "", true, 24}, Row{"0", "0", false, 0}, Row{"1", "8760", true, 8760},
        Row{"off", "8761", true, 24}, Row{"00", "1.5", true, 24}, Row{"no", "-1", true, 24},
        Row{"0", "99999999999", false, 24}}) {
    const AnnunciationSettings s =
        ReadAnnunciationSettings([sound = sound, hours = hours](std::string_view key) {
          if (key == "Sound") return std::string(sound);
          if (key == "ReminderHours") return std::string(hours);
          return std::string(key == "Device" ? "plughw:1" : "");
        });
    EXPECT_EQ(s.annunciator.sound, sound_on) << sound;
    EXPECT_EQ(s.annunciator.reminder_hours, reminder_hours) << hours;
    EXPECT_EQ(s.device, "plughw:1");
  }
}

// The most common distance between rising zero crossings, as a frequency.
double DominantHz(const std::vector<std::int16_t>& s, std::uint32_t rate) {
  std::vector<std::size_t> periods;
  std::size_t last = 0;
  for (std::size_t i = 1; i < s.size(); ++i) {
    if (s[i - 1] >= 0 || s[i] < 0) continue;
    if (last != 0) periods.push_back(i - last);
    last = i;
  }
  if (periods.empty()) return 0;
  std::nth_element(periods.begin(), periods.begin() + periods.size() / 2, periods.end());
  return static_cast<double>(rate) / static_cast<double>(periods[periods.size() / 2]);
}

TEST(TonesTest, TwoLoopableWavFilesOfDistinctPitch) {
  EXPECT_TRUE(ToneWav(Tone::kNone).empty());
  for (const auto& [tone, min_hz, max_hz] :
       std::vector<std::tuple<Tone, double, double>>{{kAlarm, 800, 1000}, {kFault, 430, 450}}) {
    SCOPED_TRACE(ToneName(tone));
    const std::vector<std::uint8_t> wav = ToneWav(tone);
    ASSERT_GE(wav.size(), 44u);
    const auto u16 = [&](std::size_t at) { return unsigned(wav[at] | wav[at + 1] << 8); };
    const auto le = [](std::size_t value, int bytes) {
      std::string text;
      for (int i = 0; i < bytes; ++i)
        text += char(value >> (8 * i) & 0xFF);
      return text;
    };
    // RIFF of PCM (1), mono (1), 16 bits a sample, at the file's own rate.
    const std::uint32_t rate = u16(24) | u16(26) << 16;
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 44),
              "RIFF" + le(wav.size() - 8, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) +
                  le(rate, 4) + le(rate * 2, 4) + le(2, 2) + le(16, 2) + "data" +
                  le(wav.size() - 44, 4));
    std::vector<std::int16_t> s;
    for (std::size_t at = 44; at + 1 < wav.size(); at += 2)
      s.push_back(std::int16_t(u16(at)));
    const double seconds = double(s.size()) / rate;
    EXPECT_TRUE(seconds >= 0.2 && seconds <= 1.0) << seconds;
    const double hz = DominantHz(s, rate);
    EXPECT_TRUE(hz >= min_hz && hz <= max_hz) << hz;
    // No step, the loop's wrap included, steeper than a clean sine of the highest pitch: the
    // parts join and the loop repeats without a click.
    int peak = 0, steepest = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
      peak = std::max(peak, std::abs(int(s[i])));
      steepest = std::max(steepest, std::abs(s[(i + 1) % s.size()] - s[i]));
    }
    EXPECT_LE(steepest, peak * 2 * std::numbers::pi * max_hz / rate + 2);
  }
}

class FakeOutput : public SoundOutput {
 public:
  bool Play(Tone tone) override {
    calls.push_back(std::string("play ") + ToneName(tone));
    return works;
  }
  void Stop() override { calls.push_back("stop"); }
  bool available() const override { return works; }
  std::string reason() const override { return works ? "" : "no card"; }

  bool works = true;
  std::vector<std::string> calls;
};

TEST(SoundDriverTest, PlaysEachChangeOnceAndReportsAnOutputThatCannot) {
  Annunciator a;
  FakeOutput out;
  SoundDriver driver(a, out);
  int unavailable = 0;
  Connection connection = a.changed().Connect([&](const Annunciator::Change& change) {
    if (RecordText(change) == "sounds: Sounder unavailable (no card)") ++unavailable;
  });
  a.SetLamps(FaultLamps(kMains), 0);
  driver.Tick(0);
  driver.Tick(100);
  a.Report(Annunciator::kAlarmReport, 200);
  driver.Tick(200);
  a.Silence("Ann", "Esc", 300);
  driver.Tick(300);
  EXPECT_EQ(out.calls, (std::vector<std::string>{"play fault", "play alarm", "stop"}));

  out.works = false;  // fails to start: tried once, not once per tick
  a.Report(Annunciator::kFaultReport, 400);
  driver.Tick(400);
  driver.Tick(500);
  EXPECT_EQ(out.calls.size(), 4u);
  EXPECT_EQ(a.state().condition, "Sounder unavailable (no card)");
  EXPECT_EQ(unavailable, 1);

  a.Silence("Ann", "Esc", 600);
  driver.Tick(600);
  out.works = true;  // plays again: the condition ends, and comes anew when it fails again
  a.Report(Annunciator::kAlarmReport, 700);
  driver.Tick(700);
  out.works = false;  // fails while playing
  driver.Tick(800);
  EXPECT_EQ(unavailable, 2);
  EXPECT_EQ(a.tone(), kAlarm);
}

#ifdef ORV_HAVE_ALSA
TEST(AlsaSoundOutputTest, WithoutADeviceItIsUnavailableAndSaysWhy) {
  for (const char* device : {"", "orv_no_such_device"}) {
    SCOPED_TRACE(device);
    AlsaSoundOutput out(device);
    EXPECT_FALSE(out.available());
    EXPECT_FALSE(out.Play(Tone::kAlarm));
    out.Pump();
    out.Stop();
    const std::string reason = out.reason();
    if (*device == '\0') {
      EXPECT_EQ(reason, "no sound device configured");
    } else {  // the device and ALSA's own words
      EXPECT_NE(reason.find(device), std::string::npos) << reason;
      EXPECT_GT(reason.size(), std::string(device).size() + 30) << reason;
    }
  }
}
#endif

}  // namespace
}  // namespace orv
