#pragma once

#include <cstdint>
#include <string>

#include "events/event_log_file.h"
#include "link/shared_state.h"
#include "platform/clock.h"
#include "platform/controls.h"

namespace orv {

// "1" or "0" for bits width-1 .. 0 of value; at most 16 characters, none for width <= 0.
std::string FormatBits(std::int32_t value, int width);

struct EventDecoderControls {
  TextBox& EventsLogTextBox;
  CheckBox& NoDisplayCheck;
  ControlArray<CheckBox>& Trigger_CheckBox;
};

// Turns the controller's event reports into dated lines at the top of the events log and in
// EventLog.txt, and records trigger and BGM activity in the state tables.
class EventDecoder {
 public:
  static constexpr int kLogBoxMaxLength = 1000;
  static constexpr int kUnitsInTables = 10;  // units 0..9 own entries 1..60

  EventDecoder(SharedState& shared, EventDecoderControls controls, EventLogFile& log_file,
               ClockFn clock);

  void DecodeEventReport(std::uint8_t code, std::int32_t value);

  // Set the twelve check boxes of the bank from one table, without them counting as clicks.
  void ShowEmgTriggerStates() { ShowTriggerStates(shared_.EmgTriggerState); }
  void ShowBusTriggerStates() { ShowTriggerStates(shared_.BusTriggerState); }
  void ShowBgmStates() { ShowTriggerStates(shared_.BgmState); }

 private:
  std::string LineHead() const;
  void ApplyTriggerReport(int unit, std::int32_t value);
  void ApplyBgmReport(int unit, std::int32_t value);
  void ShowTriggerStates(const TriggerStateTable& table);
  void ShowLine(const std::string& line);

  SharedState& shared_;
  EventDecoderControls controls_;
  EventLogFile& log_file_;
  ClockFn clock_;
};

}  // namespace orv
