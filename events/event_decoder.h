#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "events/event_record.h"
#include "link/trigger_states.h"
#include "platform/clock.h"
#include "platform/signal.h"

namespace orv {

// "1" or "0" for bits width-1 .. 0 of value; at most 16 characters, none for width <= 0.
std::string FormatBits(std::int32_t value, int width);

// The report whose 16 bits are the faults, bit for bit as in the panel status word.
inline constexpr std::uint8_t kFaultEventCode = 0x21;
// The controller's reset of its emergency state: every alarm report before it is over.
inline constexpr std::uint8_t kEmgResetEventCode = 0x13;
// The events log's word for a fixed report ("EMG", "ALERT", "Fault Ack"); empty for the others.
std::string_view EventWord(std::uint8_t code);

// Trigger and BGM reports name their unit in the code; every other code is kNone.
enum class UnitKind { kNone, kTrigger, kBgm };
struct UnitEvent {
  UnitKind kind = UnitKind::kNone;
  int unit = 0;
};
UnitEvent SplitUnitCode(std::uint8_t code);

// Turns the controller's event reports into dated records, writes the trigger and BGM activity
// they carry into the state tables, and hands each record to every subscriber (the events log,
// EventLog.txt, ...) in the order they subscribed.
class EventDecoder {
 public:
  static constexpr int kUnitsInTables = 10;  // units 0..9 own entries 1..60

  EventDecoder(TriggerStates& states, ClockFn clock);

  EventRecord DecodeEventReport(std::uint8_t code, std::int32_t value);

  Signal<const EventRecord&>& decoded() { return decoded_; }

 private:
  std::string LineHead(const LocalDateTime& now) const;
  void ApplyTriggerReport(int unit, std::int32_t value, EventRecord& record);
  void ApplyBgmReport(int unit, std::int32_t value, EventRecord& record);

  TriggerStates& states_;
  ClockFn clock_;
  Signal<const EventRecord&> decoded_;
};

}  // namespace orv
