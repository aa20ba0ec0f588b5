#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <vector>

#include "sim/controller.h"
#include "sim/report_generator.h"
#include "tests/sim_test_util.h"

namespace orv::sim {
namespace {

using test::DecodeAll;
using test::DecodedFrame;
using test::ReportFrame;
using test::Wire;

// Ticks a controller every 100 ms for the given time and returns what it sent, each transmission
// paired with the time it was produced.
std::vector<std::pair<Millis, Transmission>> TickFor(Controller& controller, Millis length,
                                                     Millis from = Millis{0}) {
  std::vector<std::pair<Millis, Transmission>> sent;
  for (Millis now = from; now <= from + length; now += Millis{100}) {
    controller.Tick(now);
    for (Transmission& t : controller.TakeOutput())
      sent.emplace_back(now, std::move(t));
  }
  return sent;
}

Bytes RunBytes(std::uint32_t seed, Millis length) {
  ControllerOptions options;
  options.report_interval_s = 1.0;
  Controller controller(options, Random::Seeded(seed));
  Bytes wire;
  for (const auto& [when, t] : TickFor(controller, length))
    wire.insert(wire.end(), t.bytes.begin(), t.bytes.end());
  return wire;
}

TEST(ReportRunTest, SameSeedGivesTheSameRun) {
  const Bytes first = RunBytes(42, Millis{120000});
  EXPECT_GT(first.size(), 8u * 60);
  EXPECT_EQ(first, RunBytes(42, Millis{120000}));
}

TEST(ReportRunTest, DifferentSeedsGiveDifferentRuns) {
  EXPECT_NE(RunBytes(1, Millis{60000}), RunBytes(2, Millis{60000}));
}

TEST(ReportRunTest, EveryFrameOfALongRunIsAGoodThreeByteReport) {
  const Bytes wire = RunBytes(5, Millis{600000});
  const std::vector<DecodedFrame> frames = DecodeAll(wire);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(wire.size(), frames.size() * 8);  // nothing but whole 8-byte frames
  for (const DecodedFrame& frame : frames) {
    EXPECT_EQ(frame.command, 0xA0);
    EXPECT_EQ(frame.data.size(), 3u);
  }
}

TEST(ReportRunTest, ReportsComeBetweenHalfAndOneAndAHalfIntervals) {
  ControllerOptions options;
  options.report_interval_s = 2.0;
  Controller controller(options, Random::Seeded(9));
  std::vector<Millis> times;
  for (const auto& [when, t] : TickFor(controller, Millis{300000})) {
    if (times.empty() || times.back() != when) times.push_back(when);
  }
  ASSERT_GT(times.size(), 100u);
  EXPECT_LE(times.front(), Millis{3100});
  for (std::size_t i = 1; i < times.size(); ++i) {
    EXPECT_GE(times[i] - times[i - 1], Millis{1000});
    EXPECT_LE(times[i] - times[i - 1], Millis{3100});
  }
}

TEST(ReportRunTest, IntervalZeroSendsNothingOnItsOwn) {
  Controller controller(test::QuietOptions(), Random::Seeded(1));
  EXPECT_TRUE(TickFor(controller, Millis{600000}).empty());
  EXPECT_FALSE(controller.NextDue().has_value());
}

TEST(ReportRunTest, IntervalCanBeSwitchedOnAndOffWhileRunning) {
  Controller controller(test::QuietOptions(), Random::Seeded(1));
  controller.SetReportInterval(1.0, Millis{0});
  EXPECT_FALSE(TickFor(controller, Millis{10000}).empty());
  controller.SetReportInterval(0, Millis{10000});
  EXPECT_TRUE(TickFor(controller, Millis{10000}, Millis{10100}).empty());
}

TEST(ReportRunTest, BurstSendsAtLeastThatManyReportsAtOnce) {
  Controller controller(test::QuietOptions(), Random::Seeded(3));
  controller.Burst(50, Millis{0});
  const std::vector<DecodedFrame> frames = DecodeAll(Wire(controller.TakeOutput()));
  EXPECT_GE(frames.size(), 50u);
  EXPECT_LE(frames.size(), 100u);  // at most two frames per event (fault: 'P' and 0x21)
}

TEST(ReportRunTest, SilenceHoldsSpontaneousReportsBack) {
  ControllerOptions options;
  options.report_interval_s = 0.5;
  Controller controller(options, Random::Seeded(3));
  controller.Silence(Millis{20000}, Millis{0});
  for (const auto& [when, t] : TickFor(controller, Millis{30000}))
    EXPECT_GE(when, Millis{20000});
}

// Checks each report against the state the generator left behind.
class GeneratorTest : public ::testing::Test {
 protected:
  void CheckAgainstState(const std::vector<Report>& reports) {
    for (const Report& r : reports) {
      kinds_.insert(r.kind);
      if (r.kind == 0x50 || r.kind == 0x21) {
        EXPECT_EQ(r.value, state_.PanelStatusWord());
      } else if (r.kind >= 0x30 && r.kind <= 0x39) {
        EXPECT_EQ(r.value, state_.UnitTriggerValue(r.kind - 0x30));
      } else if (r.kind >= 0x60 && r.kind <= 0x69) {
        EXPECT_EQ(r.value, state_.UnitTriggerValue(r.kind - 0x60));
      } else if (r.kind >= 0x40 && r.kind <= 0x49) {
        EXPECT_EQ(r.value, state_.UnitBgmValue(r.kind - 0x40));
      } else if (r.kind >= 0x80 && r.kind <= 0x89) {
        EXPECT_EQ(r.value, state_.UnitBgmValue(r.kind - 0x80));
      } else {
        EXPECT_TRUE(r.kind == 0x14 || r.kind == 0x15) << int(r.kind);
        EXPECT_EQ(r.value, 0);
      }
    }
  }

  ControllerState state_;
  std::set<int> kinds_;
};

TEST_F(GeneratorTest, ReportsAgreeWithTheStateAndCoverEveryKind) {
  Random random = Random::Seeded(11);
  ReportGenerator generator(random);
  for (int i = 0; i < 2000; ++i) {
    CheckAgainstState(generator.Next(state_));
    EXPECT_LE(state_.FaultCount(), 3);
  }
  for (const int kind : {0x14, 0x15, 0x21, 0x50})
    EXPECT_EQ(kinds_.count(kind), 1u) << kind;
  for (int unit = 0; unit < kUnits; ++unit) {
    for (const int base : {0x30, 0x40, 0x60, 0x80})
      EXPECT_EQ(kinds_.count(base + unit), 1u) << base + unit;
  }
}

// Counts the triggers on in the pages a unit report speaks for.
int OnCount(const ControllerState& state) {
  int count = 0;
  for (const int page : {0, 1, 3}) {
    for (int n = 1; n <= 60; ++n)
      count += state.Trigger(page, n) ? 1 : 0;
  }
  return count;
}

TEST_F(GeneratorTest, EachUnitEventSwitchesExactlyOneTriggerOrChannel) {
  Random random = Random::Seeded(12);
  ReportGenerator generator(random);
  for (int i = 0; i < 500; ++i) {
    const int before = OnCount(state_);
    const std::vector<Report> reports = generator.Next(state_);
    const int kind = reports.front().kind;
    const bool unit_event = (kind >= 0x30 && kind <= 0x4F) || (kind >= 0x60 && kind <= 0x9F);
    EXPECT_EQ(std::abs(OnCount(state_) - before), unit_event ? 1 : 0) << "event " << i;
  }
}

// The generator takes its chances from the injected source, so a scripted source picks the event.
std::uint32_t Scripted(std::vector<std::uint32_t>& script) {
  const std::uint32_t next = script.front();
  script.erase(script.begin());
  return next;
}

TEST(GeneratorScriptTest, InjectedSourceDecidesTheEvent) {
  struct Case {
    std::vector<std::uint32_t> script;
    std::vector<Report> reports;
  };
  const std::vector<Case> cases{
      {{95}, {{0x15, 0}}},                          // alarm
      {{85}, {{0x14, 0}}},                          // alert
      {{10, 4}, {{0x50, 0x0010}, {0x21, 0x0010}}},  // fault lamp 4 "Ground Short" comes
      {{30, 2, 1, 3, 1}, {{0x32, 0x0200}}},         // unit 2, business, trigger 4, narrow code
      {{30, 2, 0, 3, 0}, {{0x62, 0x0008}}},         // unit 2, EMG, trigger 4, wide code
      {{60, 9, 5, 1}, {{0x49, 0x0020}}},            // BGM unit 9, channel 6
  };
  for (const Case& c : cases) {
    std::vector<std::uint32_t> script = c.script;
    Random random([&script] { return Scripted(script); });
    ControllerState state;
    ReportGenerator generator(random);
    EXPECT_EQ(generator.Next(state), c.reports) << c.script.front();
    EXPECT_TRUE(script.empty());
  }
}

}  // namespace
}  // namespace orv::sim
