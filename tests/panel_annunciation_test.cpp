// The panel's annunciator on clocks of the test's own: what sounds keeps the wall-clock time it
// began to sound while the annunciator does other things.
#include <gtest/gtest.h>

#include <cstdint>

#include "panel/annunciation.h"

namespace orv {
namespace {

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

}  // namespace
}  // namespace orv
